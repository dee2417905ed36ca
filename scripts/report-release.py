#!/usr/bin/env python3
"""Checks the device binary before it ships, and prints what matters about it.

usage: report-release.py STRIPPED UNSTRIPPED
       report-release.py --calls LOG...
       report-release.py --kernel-calls LOG...

Fails (status 1, and removes STRIPPED so that the next build links it again)
when the binary could not start or run on the device's kernel (Linux 2.6.24,
ARM EABI) and CPU (ARM926EJ-S): a program interpreter, any trace of glibc,
anything but EABI5 soft float, an instruction an ARMv5TE core lacks outside
the few routines the C library chooses at run time by HWCAP (and only those
the device's HWCAP does not choose), code for kernel user helpers newer than
version 3, or a system call that the kernel's table lacks, unless the C
library falls back from it; a call whose number it cannot follow fails too.
Also when it is not stripped or not under 250 KiB.
Reads the files only: this binary must never be run on this machine.

With --calls, checks every system call in qemu-user's strace logs of runs of
a program instead; with --kernel-calls, a call with a fallback must not
reach qemu either (the runs answered it with ENOSYS, as the kernel does).
"""
import os
import re
import struct
import subprocess
import sys

import arm_code
from old_kernel import ARM_PRIVATE, has_call

TOOLS = "arm-linux-gnueabi-"
# Calls past the table that musl tries first; on ENOSYS it uses the older
# call named, which the kernel has. Only those seen in our builds.
FALLBACKS = {
    397: "statx: fstat64 (197) or fstatat64 (327)",
    403: "clock_gettime64: clock_gettime (263)",
    407: "clock_nanosleep_time64: clock_nanosleep (265)",
    422: "futex_time64: futex (240)",
}
# musl's routines that hold instructions an ARM926 lacks, each chosen at
# run time by HWCAP: with the device's HWCAP their code beyond ARMv5TE must
# be unreachable, from their entry or as a whole.
SELECTED = {
    "setjmp": "saves FPA, VFP or iWMMXt registers only when HWCAP says the unit is there",
    "longjmp": "restores FPA, VFP or iWMMXt registers only when HWCAP says the unit is there",
    "__a_barrier_v6": "a cp15 barrier, installed by __set_thread_area only with HWCAP_TLS",
    "__a_barrier_v7": "dmb, installed by __set_thread_area only with HWCAP_TLS",
    "__a_cas_v6": "ldrex/strex, installed by __set_thread_area only with HWCAP_TLS",
    "__a_cas_v7": "ldrex/strex and dmb, installed by __set_thread_area only with HWCAP_TLS",
    "__a_gettp_cp15": "the cp15 thread register: the first choice, which __set_thread_area "
                      "replaces without HWCAP_TLS before any thread pointer is read",
}
# Kernel user helpers, at the top of memory: 0xffff0fa0 and above are
# version 3 or older; below (0xffff0f60, cmpxchg64) needs version 5.
HELPERS_V3 = 0xffff0fa0
SIZE_LIMIT = 250 * 1024    # what we promise for the SD card


def tool(name, *args):
    return subprocess.run([TOOLS + name, *args], check=True, capture_output=True, text=True,
                          env=dict(os.environ, LC_ALL="C")).stdout


def data_words(path):
    """{address: word} of the program's loaded data (pointers it may call through)."""
    raw = open(path, "rb").read()
    shoff, shentsize, shnum = struct.unpack_from("<I", raw, 32)[0], *struct.unpack_from("<HH", raw, 46)
    words = {}
    for n in range(shnum):
        _, kind, flags, address, offset, size = struct.unpack_from("<IIIIII", raw, shoff + n * shentsize)
        if kind != 8 and flags & 2 and not flags & 4:   # allocated, not code, not .bss
            for i, word in enumerate(struct.unpack_from("<%dI" % (size // 4), raw, offset)):
                words[address + 4 * i] = word
    return words


def analyse(full):
    """Every function's paths (arm_code.Paths), the names at each address,
    the numbers its code may use as code addresses, and its data."""
    names = {}
    for line in tool("nm", full).splitlines():
        address, _, name = line.split()
        names.setdefault(int(address, 16), set()).add(name)
    hwcap = next(a for a, n in names.items() if "__hwcap" in n)
    functions = arm_code.parse(tool("objdump", "-d", "-z", full))
    words = {i.address: i.word for _, code in functions.values() for i in code if i.mnemonic == ".word"}
    paths = {start: arm_code.Paths(code, words, hwcap) for start, (_, code) in functions.items()}
    formed = set(words.values())
    for p in paths.values():
        formed |= p.formed
    return functions, paths, names, formed, data_words(full)


def callers_of(paths):
    """{address: [(calling function, registers at the call)]}."""
    callers = {}
    for start, p in paths.items():
        for target, regs in p.calls:
            callers.setdefault(target, []).append((start, regs))
    return callers


def call_numbers(values, start, paths, callers, taken, seen=()):
    """The call numbers that values (of r7 at a call instruction in the
    function at start) stand for: an argument of a wrapper is followed to
    every call of the wrapper. None when some cannot be followed."""
    if values is None:
        return None
    numbers = set()
    for v in values:
        if isinstance(v, int):
            numbers.add(v)
            continue
        if v == arm_code.HWCAP or start in seen or start in taken:
            return None     # a wrapper called through a pointer, or recursion
        for caller, regs in callers.get(start, []):
            more = call_numbers(dict(regs).get(v[1]), caller, paths, callers, taken, seen + (start,))
            if more is None:
                return None
            numbers |= more
    return numbers


def system_calls(functions, paths, taken):
    """(numbers or None, function name) for every system call instruction."""
    callers = callers_of(paths)
    calls = []
    for start, p in paths.items():
        values = {}
        for insn, v in p.svcs:
            values[insn.address] = None if v is None or values.get(insn.address, ()) is None \
                else values.get(insn.address, frozenset()) | v
        for address, v in sorted(values.items()):
            calls.append((call_numbers(v, start, paths, callers, taken), functions[start][0]))
    for start, (name, code) in functions.items():
        for insn in code:
            if not insn.data and insn.thumb and insn.mnemonic.startswith("svc"):
                calls.append((None, name))
    return calls


def cpu_faults(functions, paths, names, formed, data):
    """Instructions an ARM926 lacks that the device may run. A routine of
    SELECTED is kept from running when, with the device's HWCAP, its code
    beyond ARMv5TE cannot be reached from its entry, or nothing reaches the
    routine at all: no call or jump, no address formed in code, and no
    pointer in data that __set_thread_area does not set otherwise."""
    callers = callers_of(paths)
    selector = next((s for s, n in names.items() if "__set_thread_area" in n), None)
    reset = paths[selector].stores if selector in paths else set()
    faults = []
    for start, (name, code) in functions.items():
        selected = set(names.get(start, ())) | {name}
        selected &= set(SELECTED)
        pointers = {a for a, w in data.items() if w == start} - reset
        runs = start in formed or start in callers or pointers
        for i, insn in enumerate(code):
            lacks = None if insn.data else arm_code.beyond_v5te(insn)
            if not lacks:
                continue
            if not selected:
                faults.append("%s at %x in %s: an ARM926 lacks it" % (lacks, insn.address, name))
            elif i in paths[start].reached and runs:
                faults.append("%s at %x in %s, which the device's HWCAP does not keep from running"
                              % (lacks, insn.address, name))
    for target in callers:
        start = max((s for s in functions if s <= target), default=None)
        if start is not None and start != target and names.get(start, set()) & set(SELECTED):
            faults.append("a jump into the middle of %s" % functions[start][0])
    return faults


def call_fault(number, where, strict=False):
    """Why the kernel cannot take call number, or None; strict: also when
    the C library would fall back from it."""
    if (number in FALLBACKS and not strict) or number in ARM_PRIVATE:
        return None
    if not has_call(number):
        return "system call %d (%s) is not in the kernel's table" % (number, where)
    return None


def check_logs(logs, strict):
    """Checks the calls of qemu's strace logs: 'PID name(args) = result' or
    'PID Unknown syscall N', names as the kernel's headers give them."""
    header = open("/usr/arm-linux-gnueabi/include/asm/unistd-eabi.h").read()
    numbers = {m.group(1): int(m.group(2))
               for m in re.finditer(r"#define __NR_(\w+) \(__NR_SYSCALL_BASE \+ (\d+)\)", header)}
    seen, faults = {}, []
    for log in logs:
        for line in open(log, errors="replace"):
            m = re.match(r"^\d+ (?:Unknown syscall (\d+)|(\w+)\()", line)
            if not m:
                continue
            if m.group(1):
                number = int(m.group(1))
            elif m.group(2) in numbers:
                number = numbers[m.group(2)]
            else:
                faults.append("a system call this check does not know: %s in %s" % (m.group(2), log))
                continue
            seen[number] = seen.get(number, 0) + 1
            fault = call_fault(number, log, strict)
            if fault:
                faults.append(fault)
    print("system calls in %d logs: %s" % (len(logs), " ".join(
        "%d%s" % (n, "(fallback)" if n in FALLBACKS else "") for n in sorted(seen))))
    for fault in dict.fromkeys(faults):
        print("  FAULT: %s" % fault)
    return 1 if faults or not seen else 0


def main():
    if sys.argv[1] == "--calls":
        return check_logs(sys.argv[2:], False)
    if sys.argv[1] == "--kernel-calls":
        return check_logs(sys.argv[2:], True)
    stripped, full = sys.argv[1], sys.argv[2]
    faults = []
    headers = tool("readelf", "-h", "-l", "-S", "-A", "-n", "-W", stripped)
    raw = open(stripped, "rb").read()
    if "INTERP" in headers:
        faults.append("a program interpreter (PT_INTERP): not a static program")
    if re.search(r"\bDYNAMIC\b", headers):
        faults.append("a dynamic section")
    for marker in (b"GLIBC_", b"glibc", b"GNU C Library", b"__libc_csu"):
        if marker in raw:
            faults.append("glibc's trace in the binary: %s" % marker.decode())
    if "NT_GNU_ABI_TAG" in headers:
        faults.append("glibc's ABI note (NT_GNU_ABI_TAG)")
    if "Version5 EABI" not in headers or "soft-float ABI" not in headers:
        faults.append("not the EABI version 5 with soft float")
    arch = re.search(r"Tag_CPU_arch: (\S+)", headers)
    if not arch or arch.group(1) not in ("v4T", "v5T", "v5TE"):
        faults.append("code for %s, not ARMv5TE" % (arch.group(1) if arch else "no stated CPU"))
    if re.search(r"Tag_(FP_arch|VFP_arch|Advanced_SIMD_arch)", headers):
        faults.append("floating point or SIMD hardware code")
    if ".symtab" in headers:
        faults.append("not stripped")
    if len(raw) >= SIZE_LIMIT:
        faults.append("%d bytes, not under %d" % (len(raw), SIZE_LIMIT))

    symbols = tool("nm", full)
    if re.search(r" (__check_for_sync8_kernelhelper|__sync_\w+_8|__atomic_\w+_8)$", symbols, re.M):
        faults.append("64-bit atomics: the kernel user helper cmpxchg64 (version 5)")
    functions, paths, names, formed, data = analyse(full)
    taken = formed | set(data.values())
    words = {i.word for _, code in functions.values() for i in code if i.mnemonic == ".word"}
    newer = sorted({w for w in words if 0xffff0f00 <= w < HELPERS_V3})
    if newer:
        faults.append("kernel user helpers newer than version 3 at %s" % ", ".join(map(hex, newer)))
    faults += cpu_faults(functions, paths, names, formed, data)
    for start, p in paths.items():
        for address, why in p.lost:
            faults.append("the code at %x in %s %s: the report cannot follow it"
                          % (address, functions[start][0], why))

    calls = system_calls(functions, paths, taken)
    used, unknown, fallback = {}, set(), set()
    for numbers, name in calls:
        if numbers is None:
            unknown.add(name)
            continue
        for number in numbers:
            if number in FALLBACKS:
                fallback.add(number)
            elif call_fault(number, "in " + name):
                faults.append(call_fault(number, "in " + name))
            else:
                used.setdefault(number, set()).add(name)

    size = len(raw)
    print("tavro for the device: %s" % stripped)
    print("  %d bytes, %s" % (size, arch.group(1) if arch else "?"))
    print("  system calls: %s" % " ".join(hex(n) if n in ARM_PRIVATE else str(n) for n in sorted(used)))
    print("  tried first, with a fallback: %s" % (", ".join(FALLBACKS[n] for n in sorted(fallback)) or "none"))
    if unknown:
        faults.append("a system call whose number is no constant, in %s" % ", ".join(sorted(unknown)))
    for fault in dict.fromkeys(faults):
        print("  FAULT: %s" % fault)
    if faults:
        os.remove(stripped)
        print("release report: the binary is unfit for the device; removed %s" % stripped)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
