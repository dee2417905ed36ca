"""What the device's kernel (Linux 2.6.24, ARM EABI, on an ARM926EJ-S) gives
a program: the system calls of its table, and the auxiliary vector it
starts a program with. Shared by the release report and the start-up that
the tests give the release."""

LAST_CALL = 352            # fallocate ends the kernel's ARM table
ARM_PRIVATE = range(0xf0001, 0xf0006)   # breakpoint ... set_tls, all in 2.6.24
# Numbers inside the table that answer ENOSYS: never implemented there (335,
# 336, 346), old calls kept for the old ABI only, and slots that were never
# system calls on ARM.
MISSING = {335, 336, 346,
           13, 22, 25, 27, 30, 76, 82, 89, 90, 102, 113, 117,
           17, 31, 32, 35, 44, 53, 56, 58, 98, 101, 110, 112, 123, 127, 130, 137, 166, 167,
           188, 189}
# AT_HWCAP of an ARM926EJ-S: swp, half, thumb, fast-mult, edsp, java. No VFP
# (0x40), FPA (0x20), iWMMXt (0x200) nor TLS (0x8000).
HWCAP = 0x197
# The entries 2.6.24's ELF loader passes: AT_PHDR, AT_PHENT, AT_PHNUM,
# AT_PAGESZ, AT_BASE, AT_FLAGS, AT_ENTRY, AT_UID, AT_EUID, AT_GID, AT_EGID,
# AT_PLATFORM, AT_HWCAP, AT_CLKTCK, AT_SECURE. Not AT_RANDOM nor AT_EXECFN
# (2.6.29 and 2.6.27), nor AT_HWCAP2.
AUXV = {3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 23}
AT_HWCAP = 16


def has_call(number):
    """Whether the kernel's table answers the call number."""
    return number in ARM_PRIVATE or (number <= LAST_CALL and number not in MISSING)
