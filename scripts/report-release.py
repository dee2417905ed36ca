#!/usr/bin/env python3
"""Checks the device binary before it ships, and prints what matters about it.

usage: report-release.py STRIPPED UNSTRIPPED
       report-release.py --calls LOG...
       report-release.py --kernel-calls LOG...

Fails (status 1, and removes STRIPPED so that the next build links it again)
when the binary could not start or run on the device's kernel (Linux 2.6.24,
ARM EABI): a program interpreter, any trace of glibc, anything but ARMv5TE
soft float, code for kernel user helpers newer than version 3, or a system
call that the kernel's table lacks, unless the C library falls back from it;
and when it is not stripped or not under 250 KiB.
Reads the files only: this binary must never be run on this machine. Writes
STRIPPED.enosys for the tests: the numbers of the calls with a fallback, then
the addresses of the instructions that may make them.

With --calls, checks every system call in qemu-user's strace logs of runs of
a program instead; with --kernel-calls, a call with a fallback must not
reach qemu either (the runs answered it with ENOSYS, as the kernel does).
"""
import os
import re
import subprocess
import sys

TOOLS = "arm-linux-gnueabi-"
LAST_CALL = 352            # fallocate ends the kernel's ARM table
ARM_PRIVATE = range(0xf0001, 0xf0006)   # breakpoint ... set_tls, all in 2.6.24
# Numbers inside the table that answer ENOSYS: never implemented there (335,
# 336, 346), old calls kept for the old ABI only, and slots that were never
# system calls on ARM.
MISSING = {335, 336, 346,
           13, 22, 25, 27, 30, 76, 82, 89, 90, 102, 113, 117,
           17, 31, 32, 35, 44, 53, 56, 58, 98, 101, 110, 112, 123, 127, 130, 137, 166, 167,
           188, 189}
# Calls past the table that musl tries first; on ENOSYS it uses the older
# call named, which the kernel has. Only those seen in our builds.
FALLBACKS = {
    397: "statx: fstat64 (197) or fstatat64 (327)",
    403: "clock_gettime64: clock_gettime (263)",
    407: "clock_nanosleep_time64: clock_nanosleep (265)",
    422: "futex_time64: futex (240)",
}
# Functions that take the call number as an argument: their callers are
# scanned instead.
DISPATCHERS = {"__syscall_cp_asm", "__syscall_cp_c", "__syscall_cp", "syscall"}
# Kernel user helpers, at the top of memory: 0xffff0fa0 and above are
# version 3 or older; below (0xffff0f60, cmpxchg64) needs version 5.
HELPERS_V3 = 0xffff0fa0
SIZE_LIMIT = 250 * 1024    # what we promise for the SD card


def tool(name, *args):
    return subprocess.run([TOOLS + name, *args], check=True, capture_output=True, text=True,
                          env=dict(os.environ, LC_ALL="C")).stdout


def parse(disassembly):
    """Functions as lists of (address, mnemonic, operands), and the words of
    the literal pools by address."""
    functions, words, current = {}, {}, None
    for line in disassembly.splitlines():
        head = re.match(r"^[0-9a-f]+ <(.+)>:$", line)
        if head:
            current = functions.setdefault(head.group(1), [])
            continue
        m = re.match(r"^\s+([0-9a-f]+):\s+(\S+)\s*([^@;]*)", line)
        if not m or current is None:
            continue
        address, mnemonic, operands = int(m.group(1), 16), m.group(2), m.group(3).strip()
        if mnemonic == ".word":
            words[address] = int(operands, 16)
        pool = re.search(r"@ ([0-9a-f]+) <", line)
        current.append((address, mnemonic, operands, int(pool.group(1), 16) if pool else None))
    return functions, words


def immediate(text):
    return int(text.lstrip("#"), 0) & 0xffffffff


def value(code, index, reg, words, depth=0):
    """The constant in reg just before code[index], following the code
    backwards; None when it is not a constant there."""
    returned = False
    for i in range(index - 1, -1, -1):
        _, mnemonic, operands, pool = code[i]
        args = [a.strip() for a in operands.split(",")]
        if mnemonic == "bx" and operands == "lr":
            # A return: its epilogue's pop does not lead to the code below.
            returned = True
            continue
        if mnemonic.startswith(("push", "stm", "str", "cmp", "cmn", "tst", "teq", "b", "svc")) \
                and not mnemonic.startswith(("bl", "bic")):
            continue
        if mnemonic.startswith("bl"):
            if reg in ("r0", "r1", "r2", "r3", "ip", "lr"):
                return None
            continue
        if mnemonic.startswith(("pop", "ldm")):
            # A pop into pc returns: the code after it is reached otherwise.
            if reg in operands and "pc" not in operands and not returned:
                return None
            returned = False
            continue
        if not args or args[0] != reg:
            continue
        if depth > 8:
            return None
        op = mnemonic[:3]
        if op == "mov" and args[1].startswith("#"):
            return immediate(args[1])
        if op == "mvn" and args[1].startswith("#"):
            return ~immediate(args[1]) & 0xffffffff
        if op == "mov" and len(args) == 2:
            return value(code, i, args[1], words, depth + 1)
        if op in ("add", "sub", "orr") and len(args) == 3 and args[2].startswith("#"):
            base = value(code, i, args[1], words, depth + 1)
            if base is None:
                return None
            n = immediate(args[2])
            return {"add": base + n, "sub": base - n, "orr": base | n}[op] & 0xffffffff
        if op == "ldr" and pool is not None and "[pc" in operands:
            return words.get(pool)
        return None
    return None


def system_calls(functions, words):
    """(number or None, function) for every place that makes a system call,
    and the addresses of the instructions that may make one of FALLBACKS."""
    calls, sites = [], []
    for name, code in functions.items():
        for i, (address, mnemonic, operands, _) in enumerate(code):
            if mnemonic.startswith("svc") and name in DISPATCHERS:
                sites.append(address)
            if mnemonic.startswith("svc") and name not in DISPATCHERS:
                calls.append((value(code, i, "r7", words), name))
                if calls[-1][0] in FALLBACKS:
                    sites.append(address)
            target = re.match(r"[0-9a-f]+ <(\w+)>", operands)
            if mnemonic in ("bl", "b") and target and target.group(1) in DISPATCHERS \
                    and name not in DISPATCHERS:
                calls.append((value(code, i, "r0", words), name))
    return calls, sites


def call_fault(number, where, strict=False):
    """Why the kernel cannot take call number, or None; strict: also when
    the C library would fall back from it."""
    if (number in FALLBACKS and not strict) or number in ARM_PRIVATE:
        return None
    if number > LAST_CALL or number in MISSING:
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
    functions, words = parse(tool("objdump", "-d", "--no-show-raw-insn", full))
    newer = sorted({w for w in words.values() if 0xffff0f00 <= w < HELPERS_V3})
    if newer:
        faults.append("kernel user helpers newer than version 3 at %s" % ", ".join(map(hex, newer)))

    calls, sites = system_calls(functions, words)
    used, unknown, fallback = {}, set(), set()
    for number, name in calls:
        if number is None:
            unknown.add(name)
        elif number in FALLBACKS:
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
    # For the tests: where the calls past the table are made, so that a
    # debugger can answer them with ENOSYS as the device's kernel does.
    with open(stripped + ".enosys", "w") as out:
        out.write(" ".join(map(str, sorted(FALLBACKS))) + "\n")
        out.write(" ".join(map(hex, sorted(sites))) + "\n")
    if faults:
        os.remove(stripped)
        print("release report: the binary is unfit for the device; removed %s" % stripped)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
