# gdb script, on qemu-user's gdb stub before the program's first
# instruction: starts the program as a 2.6.24 kernel starts it on the
# device's ARM926. The auxiliary vector keeps only the entries that kernel
# passes (no AT_RANDOM, AT_EXECFN nor AT_HWCAP2) and says AT_HWCAP 0x197.
# Every system call outside the kernel's table fails with ENOSYS without
# reaching qemu: a breakpoint sits on each svc of the program's code and of
# its loader's (the C library's, for a dynamic program), until the program
# first forks. Then the program runs with its own signals. With
# OLD_KERNEL_ENOSYS=0, only the vector. (The debugger stays: once it has
# been attached, qemu would die of SIGPIPE reporting a signal to it.)
import os
import struct
import sys

import gdb

sys.path.insert(0, os.environ["OLD_KERNEL_SCRIPTS"])
import old_kernel  # noqa: E402

AT_NULL, AT_PHDR, AT_PHNUM, AT_BASE = 0, 3, 5, 7
PT_LOAD, PF_X = 1, 1
SVC = 0xEF000000
ENOSYS = 38
# fork, clone, vfork: qemu's stub lets go of a child, which would then trap
# on the breakpoints it inherits; the breakpoints go before the first one.
FORKS = {2, 120, 190}
forks = False
inferior = gdb.selected_inferior()


def word(address):
    return struct.unpack("<I", inferior.read_memory(address, 4).tobytes())[0]


# The initial stack: argc, argv..., 0, envp..., 0, then (type, value) pairs.
sp = int(gdb.parse_and_eval("$sp")) & 0xFFFFFFFF
start = sp + 4 * (word(sp) + 2)
while word(start):
    start += 4
start += 4
entries, end = [], start
while word(end) != AT_NULL:
    entries.append((word(end), word(end + 4)))
    end += 8
kept = [(t, old_kernel.HWCAP if t == old_kernel.AT_HWCAP else v)
        for t, v in entries if t in old_kernel.AUXV]
kept += [(AT_NULL, 0)] * (len(entries) + 1 - len(kept))
inferior.write_memory(start, b"".join(struct.pack("<II", t, v) for t, v in kept))
aux = dict(entries)


def code_segments(phdr, phnum, base):
    """(start, size) of the executable PT_LOAD segments."""
    for n in range(phnum):
        kind, _, vaddr, _, _, size, flags, _ = struct.unpack(
            "<8I", inferior.read_memory(phdr + 32 * n, 32).tobytes())
        if kind == PT_LOAD and flags & PF_X:
            yield base + vaddr, size


def register(number):
    """A register read straight from qemu's stub ('p' packet): gdb's own
    register commands analyse frames, and fail in code without symbols."""
    reply = gdb.execute("maint packet p%x" % number, to_string=True)
    return int.from_bytes(bytes.fromhex(reply.split('"')[-2]), "little")


def set_register(number, value):
    gdb.execute("maint packet P%x=%s" % (number, (value & 0xFFFFFFFF).to_bytes(4, "little").hex()),
                to_string=True)


class Enosys(gdb.Breakpoint):
    """At a system call instruction: skips it with -ENOSYS in r0 when the
    kernel's table lacks the number in r7."""

    def __init__(self, address):
        super().__init__("*%#x" % address, internal=True)
        self.address = address

    def stop(self):
        global forks
        number = register(7)
        if number in FORKS:
            forks = True
            return True
        if not old_kernel.has_call(number):
            set_register(0, -ENOSYS)
            set_register(15, self.address + 4)
            gdb.execute("maint flush register-cache")
        return False


segments = [] if os.environ.get("OLD_KERNEL_ENOSYS") == "0" else list(code_segments(aux[AT_PHDR], aux[AT_PHNUM], 0))
if segments and aux.get(AT_BASE):
    base = aux[AT_BASE]
    segments += code_segments(base + word(base + 28), word(base + 44) & 0xFFFF, base)
breakpoints = []
for address, size in segments:
    code = inferior.read_memory(address, size).tobytes()
    for offset in range(0, size - 3, 4):
        if struct.unpack_from("<I", code, offset)[0] == SVC:
            breakpoints.append(Enosys(address + offset))

# "all" leaves out SIGINT and SIGTRAP: the program gets SIGINT too.
gdb.execute("handle all nostop noprint pass")
gdb.execute("handle SIGINT nostop noprint pass")
gdb.execute("continue")
if forks:
    for breakpoint in breakpoints:
        breakpoint.enabled = False
    gdb.execute("continue")
