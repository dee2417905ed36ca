# Cross build for the handheld against musl, linked statically: the
# device's kernel (2.6.24) passes no AT_RANDOM, which glibc's static start-up
# needs. ARM926EJ-S, ARMv5TE, soft float, the EABI. The armel cross compiler
# is used with musl's headers and start files instead of glibc's;
# TAVRO_MUSL_SYSROOT is the folder scripts/device-sysroot prepares;
# TAVRO_MUSL_DYNAMIC makes the test build of the same sources and flags.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)

if(NOT TAVRO_MUSL_SYSROOT)
  set(TAVRO_MUSL_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build-device-sysroot")
endif()
get_filename_component(TAVRO_MUSL_SYSROOT "${TAVRO_MUSL_SYSROOT}" ABSOLUTE)
set(TAVRO_MUSL_SYSROOT "${TAVRO_MUSL_SYSROOT}" CACHE PATH "musl sysroot from scripts/device-sysroot")
set(musl_include "${TAVRO_MUSL_SYSROOT}/usr/include/arm-linux-musleabi")
set(musl_lib "${TAVRO_MUSL_SYSROOT}/usr/lib/arm-linux-musleabi")
if(NOT EXISTS "${musl_lib}/libc.a")
  message(FATAL_ERROR "no musl sysroot in ${TAVRO_MUSL_SYSROOT}: run scripts/device-sysroot")
endif()
set(CMAKE_SYSROOT "${TAVRO_MUSL_SYSROOT}")

execute_process(COMMAND arm-linux-gnueabi-gcc -print-file-name=include
                OUTPUT_VARIABLE gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND arm-linux-gnueabi-gcc -dumpversion
                OUTPUT_VARIABLE gcc_version OUTPUT_STRIP_TRAILING_WHITESPACE)
foreach(file crtbeginT.o crtend.o crtbeginS.o crtendS.o libgcc.a)
  execute_process(COMMAND arm-linux-gnueabi-gcc -print-file-name=${file}
                  OUTPUT_VARIABLE gcc_${file} OUTPUT_STRIP_TRAILING_WHITESPACE)
endforeach()
set(cxx_include "/usr/arm-linux-gnueabi/include/c++/${gcc_version}")

set(cpu "-march=armv5te -mtune=arm926ej-s -mfloat-abi=soft -ffunction-sections -fdata-sections")
set(CMAKE_C_FLAGS_INIT "${cpu} -nostdinc -isystem ${musl_include} -isystem ${gcc_include}")
# libstdc++'s headers ask about glibc; musl is none. The program uses no
# exceptions and no run-time types, so it needs no libstdc++ at run time.
set(CMAKE_CXX_FLAGS_INIT "${cpu} -nostdinc -isystem ${cxx_include} \
-isystem ${cxx_include}/arm-linux-gnueabi -isystem ${musl_include} -isystem ${gcc_include} \
'-D__GLIBC_PREREQ(a,b)=0' -fno-exceptions -fno-rtti")

if(TAVRO_MUSL_DYNAMIC)
  # The test build: dynamic, so that musl's own loader can preload the
  # emulated device's library; position-independent start files serve both
  # programs and libraries.
  set(start "${musl_lib}/crti.o ${gcc_crtbeginS.o}")
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-nostdlib -no-pie -Wl,--gc-sections \
-L${TAVRO_MUSL_SYSROOT}/lib/arm-linux-musleabi -L${musl_lib} \
-Wl,-dynamic-linker,/lib/ld-musl-arm.so.1 ${musl_lib}/Scrt1.o ${start}")
  set(CMAKE_SHARED_LINKER_FLAGS_INIT "-nostdlib -L${TAVRO_MUSL_SYSROOT}/lib/arm-linux-musleabi ${start}")
  set(end "${gcc_crtendS.o}")
  # Started with the auxiliary vector of the device's kernel, with musl's
  # loader from the sysroot; its calls all reach qemu (scripts/old-kernel-run).
  get_filename_component(old_kernel_run "${CMAKE_CURRENT_LIST_DIR}/../scripts/old-kernel-run" ABSOLUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${old_kernel_run}" --auxv-only -L "${TAVRO_MUSL_SYSROOT}")
else()
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -nostdlib -Wl,--gc-sections -L${musl_lib} \
${musl_lib}/crt1.o ${musl_lib}/crti.o ${gcc_crtbeginT.o}")
  set(end "${gcc_crtend.o}")
endif()
foreach(lang C CXX)
  set(CMAKE_${lang}_STANDARD_LIBRARIES_INIT
      "-Wl,--start-group -lc ${gcc_libgcc.a} -Wl,--end-group ${end} ${musl_lib}/crtn.o")
endforeach()

# zlib and libpng, built against musl.
set(ZLIB_INCLUDE_DIR "${TAVRO_MUSL_SYSROOT}/usr/include" CACHE PATH "")
set(ZLIB_LIBRARY "${TAVRO_MUSL_SYSROOT}/usr/lib/libz.a" CACHE FILEPATH "")
set(PNG_PNG_INCLUDE_DIR "${TAVRO_MUSL_SYSROOT}/usr/include" CACHE PATH "")
set(PNG_LIBRARY "${TAVRO_MUSL_SYSROOT}/usr/lib/libpng.a" CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
