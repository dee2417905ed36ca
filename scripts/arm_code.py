"""Reads the machine code of an armel program for the release report: which
instructions an ARMv5TE core (the ARM926EJ-S) lacks, and what each register
may hold on every path through a function, as the device starts it.

Functions come from objdump's listing of the unstripped program (its mapping
symbols tell ARM code, Thumb code and data apart); the raw words are decoded
here, not objdump's mnemonics, which follow whatever architecture objdump
assumes.
"""
import re

import old_kernel

DEVICE_HWCAP = old_kernel.HWCAP
PC_AHEAD = 8                # an ARM instruction reads pc as its address + 8
MAX_VALUES = 16             # more possible values than this: unknown
CONDITIONS = ["eq", "ne", "cs", "cc", "mi", "pl", "vs", "vc", "hi", "ls", "ge", "lt", "gt", "le"]
ALIASES = {"sb": "r9", "sl": "r10", "fp": "r11", "ip": "r12", "sp": "r13", "lr": "r14", "pc": "r15"}
CALLER_SAVED = ("r0", "r1", "r2", "r3", "r12", "r14")
# The register's value at the entry of a function: an argument.
ARGUMENTS = ("r0", "r1", "r2", "r3")
HWCAP = "hwcap"             # the value of the C library's copy of AT_HWCAP


class Insn:
    def __init__(self, address, raw, mnemonic, operands, comment):
        self.address, self.raw, self.mnemonic, self.operands = address, raw, mnemonic, operands
        self.comment = comment
        self.thumb = " " in raw or len(raw) == 4
        self.data = mnemonic.startswith(".")
        self.word = int(raw.replace(" ", ""), 16) if raw else 0


def parse(listing):
    """Functions as {start address: (name, [Insn])}, from `objdump -d -z`."""
    functions, current = {}, None
    for line in listing.splitlines():
        head = re.match(r"^([0-9a-f]+) <(.+)>:$", line)
        if head:
            current = []
            functions[int(head.group(1), 16)] = (head.group(2), current)
            continue
        fields = line.split("\t")
        if current is None or len(fields) < 3 or not re.match(r"^\s*[0-9a-f]+:$", fields[0]):
            continue
        comment = fields[4] if len(fields) > 4 else ""
        current.append(Insn(int(fields[0].strip()[:-1], 16), fields[1].strip(), fields[2],
                            fields[3] if len(fields) > 3 else "", comment))
    return functions


def beyond_v5te(insn):
    """Why an ARM926 cannot run the instruction, or None."""
    if insn.thumb:
        return beyond_v5te_thumb(insn)
    w = insn.word
    cond, op = w >> 28, (w >> 25) & 7
    if cond == 0xF:
        if (w & 0xFE000000) == 0xFA000000 or (w & 0xFD70F000) == 0xF550F000:
            return None                                         # blx label, pld
        return "an unconditional instruction of ARMv6 or later, or NEON"
    if op == 0 and (w & 0x90) == 0x90:
        if (w & 0x60) == 0:                                     # multiplies and swap
            if (w & 0x0FC000F0) == 0x00000090 or (w & 0x0F8000F0) == 0x00800090:
                return None
            if (w & 0x0FB00FF0) == 0x01000090:
                return None
            return "ldrex, strex or a multiply of ARMv6 or later"
        if (w & 0x01200000) == 0x00200000:
            return "a load or store of ARMv6T2 (ldrht and the like)"
        if not (w & 0x00400000) and (w & 0xF00):
            return "an undefined load or store"
        return None
    if op == 0 and (w & 0x01900000) == 0x01000000:             # miscellaneous
        for mask, value in ((0x0FBF0FFF, 0x010F0000),          # mrs
                            (0x0FB0FFF0, 0x0120F000),          # msr
                            (0x0FFFFFD0, 0x012FFF10),          # bx, blx
                            (0x0FFF0FF0, 0x016F0F10),          # clz
                            (0x0F900FF0, 0x01000050),          # qadd, qsub, qdadd, qdsub
                            (0xFFF000F0, 0xE1200070),          # bkpt
                            (0x0F900090, 0x01000080)):         # smla<x><y> and the like
            if (w & mask) == value:
                return None
        return "an instruction of ARMv6 or later in the miscellaneous space"
    if op == 1 and (w & 0x01900000) == 0x01000000:
        if (w & 0x0FB00000) == 0x03200000 and (w & 0x000F0000):
            return None                                         # msr with an immediate
        return "movw, movt or a hint (wfi, wfe, sev, yield)"
    if op == 3 and (w & 0x10):
        if (w & 0x0FF000F0) == 0x07F000F0:
            return None                                         # permanently undefined: a trap
        return "a media instruction of ARMv6 or later (rev, uxt, sxt, sel, usat, pkh...)"
    if op in (6, 7) and not (op == 7 and (w & 0x01000000)):
        return "a coprocessor instruction (VFP, FPA, iWMMXt or cp15)"
    return None


def beyond_v5te_thumb(insn):
    halves = [int(h, 16) for h in insn.raw.split()]
    if len(halves) == 2:
        first, second = halves
        if first >> 11 == 0x1E and (second >> 11 in (0x1F, 0x1D)):
            return None                                         # bl, blx: a pair of halves
        return "a 32-bit Thumb instruction"
    h = halves[0]
    if h >> 12 == 0xB and not ((h >> 8) & 0xF in (0x0, 0x4, 0x5, 0xC, 0xD, 0xE)):
        return "a Thumb instruction of ARMv6 or later (cbz, it, rev, uxt, cps, setend...)"
    if h >> 11 in (0x1D, 0x1F) or (h >> 11 == 0x1E):
        return "half of a 32-bit Thumb instruction"
    return None


def registers(text):
    """The registers in an operand text, with their plain names."""
    names = []
    for a, b in re.findall(r"\b(r\d+|sb|sl|fp|ip|sp|lr|pc)\b(?:-(r\d+))?", text):
        a = ALIASES.get(a, a)
        if b:
            names += ["r%d" % n for n in range(int(a[1:]), int(b[1:]) + 1)]
        else:
            names.append(a)
    return names


def split(insn):
    """(mnemonic without its condition, the condition or None), the
    condition read from the word itself."""
    cond = 0xE if insn.thumb or insn.data else insn.word >> 28
    if cond >= 0xE:
        return insn.mnemonic, None
    name = CONDITIONS[cond]
    for suffix in (name, {"cs": "hs", "cc": "lo"}.get(name)):
        if suffix and insn.mnemonic.endswith(suffix):
            return insn.mnemonic[:-2], name
    return insn.mnemonic, name


def complement(cond):
    i = CONDITIONS.index(cond)
    return CONDITIONS[i ^ 1]


def branch_target(insn):
    m = re.match(r"([0-9a-f]+) <", insn.operands)
    return int(m.group(1), 16) if m else None


class Paths:
    """What each register may hold before each reachable instruction of one
    function, on every path from its entry, with the device's HWCAP. A value
    is a set of numbers, ("arg", register) for what the caller passed in an
    argument register, or HWCAP; None (or no entry) is unknown. Conditions
    known since the flags were last set keep paths apart, so that a
    movne/moveq pair and a test of HWCAP are followed."""

    def __init__(self, code, words, hwcap_address):
        self.code, self.words, self.hwcap_address = code, words, hwcap_address
        self.index = {insn.address: i for i, insn in enumerate(code)}
        self.states = {}        # index -> {facts: registers}
        self.svcs = []          # (Insn, values of r7)
        self.calls = []         # (target address, registers before the call or jump)
        self.formed = set()     # numbers formed in reachable code
        self.stores = set()     # the constant addresses it stores words to
        self.reached = set()    # indexes of reachable instructions
        self.lost = []          # (address, why) where control goes where this cannot follow
        work = [(0, frozenset(), freeze({r: frozenset([("arg", r)]) for r in ARGUMENTS}))]
        while work:
            i, facts, regs = work.pop()
            if i >= len(code):
                if code:        # falls through into the next function
                    self.calls.append((code[-1].address + 4, regs))
                continue
            known = self.states.setdefault(i, {})
            old = known.get(facts)
            merged = regs if old is None else join(old, regs)
            if merged == old:
                continue
            known[facts] = merged
            self.reached.add(i)
            work += self.step(i, facts, merged)

    def step(self, i, facts, regs):
        insn = self.code[i]
        if insn.data:
            # A trap, or the literal pool after a call that does not return:
            # the path ends.
            called = i > 0 and split(self.code[i - 1])[0] == "bl"
            if insn.word & 0x0FF000F0 != 0x07F000F0 and not called:
                self.lost.append((insn.address, "runs into data"))
            return []
        if insn.thumb:
            self.lost.append((insn.address, "Thumb code"))
            return []
        base, cond = split(insn)
        known = dict(facts)
        if cond in known:
            if not known[cond]:
                return [(i + 1, facts, regs)]
            cond = None
        after = []
        if cond:
            after.append((i + 1, with_fact(facts, cond, False), regs))
            facts = with_fact(facts, cond, True)
        return after + self.execute(i, insn, base, facts, dict(regs))

    def execute(self, i, insn, base, facts, regs):
        ops = insn.operands
        args = [a.strip() for a in re.split(r",(?![^{]*})(?![^\[]*\])", ops)] if ops else []
        dest = ALIASES.get(args[0], args[0]) if args else None
        writeback = "!" in ops or re.search(r"\], ", ops) is not None
        if base in ("b", "bl", "blx"):
            target = branch_target(insn)
            if base == "b" and target in self.index:
                return [(self.index[target], facts, freeze(regs))]
            if target is not None:
                self.calls.append((target, freeze(regs)))
            if base == "b":
                return []
            for r in CALLER_SAVED:
                regs.pop(r, None)
            return [(i + 1, frozenset(), freeze(regs))]
        if base == "bx":
            return []
        if base == "svc":
            self.svcs.append((insn, regs.get("r7")))
            regs.pop("r0", None)
            return [(i + 1, facts, freeze(regs))]
        if base in ("cmp", "cmn", "teq", "tst"):
            flags = frozenset()
            if base == "tst" and regs.get(dest) == frozenset([HWCAP]) and args[1].startswith("#"):
                flags = with_fact(frozenset(), "eq", (int(args[1][1:], 0) & DEVICE_HWCAP) == 0)
            return [(i + 1, flags, freeze(regs))]
        if base == "str" and not writeback:
            parts = [p.strip() for p in args[1].strip("[]").split(",")]
            address = self.operand(insn, parts[0], regs)
            for part in parts[1:]:
                address = combine(address, self.operand(insn, part, regs), lambda x, y: x + y)
            self.stores |= {a for a in address or () if isinstance(a, int)}
        if base in ("push", "pld", "nop") or base.startswith(("str", "stm")):
            if writeback:
                regs.pop(registers(ops[ops.index("["):] if "[" in ops else args[0])[0], None)
            return [(i + 1, facts, freeze(regs))]
        if base.startswith(("pop", "ldm")):
            listed = registers(ops[ops.index("{"):])
            for r in listed + (registers(args[0]) if writeback else []):
                regs.pop(r, None)
            return [] if "r15" in listed else [(i + 1, facts, freeze(regs))]
        op = base[:-1] if base.endswith("s") and base[:-1] in SETS_FLAGS else base
        if op != base or op.startswith("msr"):
            facts = frozenset()
        written = self.written(insn, op, args, regs, writeback)
        if "r15" in written:
            return self.jump(i, op, args, regs)
        for r, v in written.items():
            if v is None:
                regs.pop(r, None)
            else:
                regs[r] = v
                self.formed |= {x for x in v if isinstance(x, int)}
        return [(i + 1, facts, freeze(regs))]

    def written(self, insn, op, args, regs, writeback):
        """{register: value} for what the instruction writes."""
        dest = ALIASES.get(args[0], args[0]) if args else None
        value = lambda a: self.operand(insn, a, regs)
        if op == "adr":
            return {dest: frozenset([branch_target(Insn(0, "", "", args[1], ""))])}
        if op in ("mov", "mvn") and len(args) == 2:
            v = value(args[1])
            return {dest: numeric(v, lambda x: ~x) if op == "mvn" else v}
        if op in ARITHMETIC and len(args) == 3:
            return {dest: combine(value(args[1]), value(args[2]), ARITHMETIC[op])}
        if op == "ldr":
            out = {dest: self.load(insn, args[1:], regs, writeback)}
            if writeback:
                out[registers(args[1])[0]] = None
            return out
        named = registers(insn.operands)
        if op in ("umull", "smull", "umlal", "smlal", "ldrd"):
            return {r: None for r in named[:2] + (named[2:3] if writeback else [])}
        if op.startswith(("ldr", "swp")) or op in SETS_FLAGS or op in ("clz", "mrs") or \
                op.startswith(("q", "smla", "smul", "smlal")):
            return {r: None for r in [dest] + (named[1:2] if writeback else [])}
        return {r: None for r in named}     # anything else: every register it names

    def operand(self, insn, text, regs):
        if text.startswith("#"):
            return frozenset([int(text[1:], 0) & 0xFFFFFFFF])
        if not re.fullmatch(r"(r\d+|sb|sl|fp|ip|sp|lr|pc)", text):
            return None             # a shifted register
        name = ALIASES.get(text, text)
        return frozenset([insn.address + PC_AHEAD]) if name == "r15" else regs.get(name)

    def load(self, insn, args, regs, writeback):
        """The value an ldr loads: a word of a literal pool, or __hwcap's."""
        pool = re.match(r"@ ([0-9a-f]+)", insn.comment)
        if pool and args[0].startswith("[pc") and len(args) == 1:
            word = self.words.get(int(pool.group(1), 16))
            return None if word is None else frozenset([word])
        if writeback:
            return None
        parts = [p.strip() for p in args[0].strip("[]").split(",")]
        address = self.operand(insn, parts[0], regs)
        for part in parts[1:]:
            address = combine(address, self.operand(insn, part, regs), lambda x, y: x + y)
        return frozenset([HWCAP]) if address == frozenset([self.hwcap_address]) else None

    def jump(self, i, op, args, regs):
        """A write to pc: a return, a table of branches after an add to pc,
        or a jump this cannot follow."""
        if op == "mov" and args[1:] == ["lr"] or op == "ldr" and args[1:2] == ["[sp]"]:
            return []
        if op == "ldr" and args[1].startswith("[pc, r"):
            after, j = [], i + 2
            while j < len(self.code) and self.code[j].mnemonic == ".word":
                if self.code[j].word in self.index:
                    after.append((self.index[self.code[j].word], frozenset(), freeze(regs)))
                j += 1
            return after
        if op == "add" and args[1:2] == ["pc"]:
            after, j = [], i + 2
            while j < len(self.code) and split(self.code[j])[0] == "b":
                after.append((j, frozenset(), freeze(regs)))
                j += 1
            return after
        self.lost.append((self.code[i].address, "a jump through %s" % ", ".join(args[1:])))
        return []


ARITHMETIC = {"add": lambda x, y: x + y, "sub": lambda x, y: x - y, "rsb": lambda x, y: y - x,
              "orr": lambda x, y: x | y, "eor": lambda x, y: x ^ y, "and": lambda x, y: x & y,
              "bic": lambda x, y: x & ~y}
SETS_FLAGS = {"mov", "mvn", "add", "sub", "rsb", "rsc", "adc", "sbc", "and", "orr", "eor", "bic",
              "mul", "mla", "lsl", "lsr", "asr", "ror", "umull", "smull", "umlal", "smlal"}


def freeze(regs):
    return frozenset(regs.items())


def join(a, b):
    """Both states' values, unknown where either does not know."""
    da, db = dict(a), dict(b)
    out = {}
    for r in set(da) & set(db):
        both = da[r] | db[r]
        if len(both) <= MAX_VALUES:
            out[r] = both
    return freeze(out)


def with_fact(facts, cond, true):
    known = dict(facts)
    known[cond], known[complement(cond)] = true, not true
    return frozenset(known.items())


def numeric(values, f):
    if values is None or any(not isinstance(v, int) for v in values):
        return None
    return frozenset(f(v) & 0xFFFFFFFF for v in values)


def combine(a, b, f):
    if a is None or b is None or any(not isinstance(v, int) for v in a | b):
        return None
    out = frozenset(f(x, y) & 0xFFFFFFFF for x in a for y in b)
    return out if len(out) <= MAX_VALUES else None
