# Cross build for the handheld: ARM926EJ-S, ARMv5TE, soft float, Debian armel.
# TAVRO_ARM_SYSROOT is the folder scripts/arm-sysroot prepares; without it
# the cross compiler would silently take this machine's own png.h.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)

if(NOT TAVRO_ARM_SYSROOT)
  set(TAVRO_ARM_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build-arm-sysroot")
endif()
get_filename_component(TAVRO_ARM_SYSROOT "${TAVRO_ARM_SYSROOT}" ABSOLUTE)
set(TAVRO_ARM_SYSROOT "${TAVRO_ARM_SYSROOT}" CACHE PATH "armel sysroot from scripts/arm-sysroot")
if(NOT EXISTS "${TAVRO_ARM_SYSROOT}/usr/include/png.h")
  message(FATAL_ERROR "no armel sysroot in ${TAVRO_ARM_SYSROOT}: run scripts/arm-sysroot")
endif()
set(CMAKE_SYSROOT "${TAVRO_ARM_SYSROOT}")

set(CMAKE_C_FLAGS_INIT "-march=armv5te -mtune=arm926ej-s -mfloat-abi=soft")
set(CMAKE_CXX_FLAGS_INIT "-march=armv5te -mtune=arm926ej-s -mfloat-abi=soft")

# The default qemu CPU accepts ARMv6 instructions that the device faults on.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -cpu arm926 -L "${TAVRO_ARM_SYSROOT}")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
