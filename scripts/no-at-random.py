# gdb script: on qemu-user's gdb stub, before the program's first
# instruction, turns the AT_RANDOM entry of the auxiliary vector into
# AT_IGNORE, as a kernel before 2.6.29 starts programs, then lets the program
# run with its own signals.
import struct

import gdb

AT_NULL, AT_IGNORE, AT_RANDOM = 0, 1, 25
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
gdb.execute("handle all nostop noprint pass")
gdb.execute("continue")
