# gdb script, on qemu-user's gdb stub before the program's first
# instruction: starts the program as a 2.6.24 kernel would. The AT_RANDOM
# entry of the auxiliary vector becomes AT_IGNORE (the kernel passes it
# since 2.6.29). With OLD_KERNEL_ENOSYS naming a file of two lines (call
# numbers; addresses of the instructions that may make them), those calls
# fail with ENOSYS without reaching qemu, as on that kernel. Then the
# program runs with its own signals.
import os
import struct

import gdb

AT_NULL, AT_IGNORE, AT_RANDOM = 0, 1, 25
ENOSYS = 38
inferior = gdb.selected_inferior()


def word(address):
    return struct.unpack("<I", inferior.read_memory(address, 4).tobytes())[0]


# The initial stack: argc, argv..., 0, envp..., 0, then (type, value) pairs.
sp = int(gdb.parse_and_eval("$sp")) & 0xFFFFFFFF
entry = sp + 4 * (word(sp) + 2)
while word(entry):
    entry += 4
entry += 4
while word(entry) != AT_NULL:
    if word(entry) == AT_RANDOM:
        inferior.write_memory(entry, struct.pack("<I", AT_IGNORE))
    entry += 8


class Enosys(gdb.Breakpoint):
    """At a system call instruction: skips it with -ENOSYS in r0 when r7
    holds one of the numbers."""

    def __init__(self, address, numbers):
        super().__init__("*" + address, internal=True)
        self.numbers = numbers

    def stop(self):
        if int(gdb.parse_and_eval("$r7")) & 0xFFFFFFFF in self.numbers:
            gdb.execute("set $r0 = %d" % -ENOSYS)
            gdb.execute("set $pc = $pc + 4")
        return False


sites = os.environ.get("OLD_KERNEL_ENOSYS")
if sites:
    lines = open(sites).read().splitlines()
    numbers = set(int(n) for n in lines[0].split())
    for address in lines[1].split():
        Enosys(address, numbers)

gdb.execute("handle all nostop noprint pass")
gdb.execute("continue")
