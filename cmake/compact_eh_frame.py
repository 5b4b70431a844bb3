#!/usr/bin/env python3
"""compact_eh_frame.py OBJDUMP IMAGE [COPY]: rewrite a linked 32-bit PE's .eh_frame smaller.

The whole-DLL pass writes the unwind tables itself (cmake/windows.cmake says why), and
not knowing instruction lengths it moves each row's address on with a 5-byte
DW_CFA_advance_loc4, at every push and pop of every prologue and epilogue. The
unwinder, though, looks a frame up only at a call (the return address less one), so
this keeps only what a call reads: each FDE's rows are written again as the changes
from one call to the next, made right after the earlier call; a function that calls
nothing loses its FDE; an FDE without an LSDA goes to a CIE without personality (that
would only answer "continue unwinding"), and two such on one CIE with no call and no
other FDE between them become one; steps take their shortest form and identical CIEs
are one. The calls come from OBJDUMP's disassembly. The rows in force at every
call stay exactly the same: the script re-reads the new table and compares them, and
stops the build on any difference or on anything it does not know (an encoding, an
opcode, a base relocation in the table). COPY, if given, keeps the image as linked,
for the test that compares both.

Every pointer in the table is relative to its own place (pcrel), so a record that
moves has its pointers adjusted; a zero pointer means none and stays zero. The
section keeps its address and virtual size (sections stay adjacent; the loader fills
the rest with zeros, which also ends the table); its raw data shrinks, and the
sections after it move down in the file. The table the runtime registers begins at
crtbegin's part: the records linked ahead of it and behind its terminator are never
read, so the table moves to the section's start and the code's two pointers to it.
"""
import bisect
import copy
import re
import shutil
import struct
import subprocess
import sys


class Bad(Exception):
    pass


def uleb(b, i):
    r = s = 0
    while True:
        c = b[i]
        i += 1
        r |= (c & 0x7F) << s
        s += 7
        if c < 0x80:
            return r, i


def sleb(b, i):
    r = s = 0
    while True:
        c = b[i]
        i += 1
        r |= (c & 0x7F) << s
        s += 7
        if c < 0x80:
            return (r - (1 << s) if c & 0x40 else r), i


def enc_uleb(v):
    out = bytearray()
    while True:
        c = v & 0x7F
        v >>= 7
        out.append(c | (0x80 if v else 0))
        if not v:
            return bytes(out)


# Operand kinds of the call frame opcodes (low 6 bits zero): u uleb, s sleb, b block.
OPERANDS = {0x00: "", 0x05: "uu", 0x06: "u", 0x07: "u", 0x08: "u", 0x09: "uu", 0x0A: "",
            0x0B: "", 0x0C: "uu", 0x0D: "u", 0x0E: "u", 0x0F: "b", 0x10: "ub", 0x11: "us",
            0x12: "us", 0x13: "s", 0x14: "uu", 0x15: "us", 0x16: "ub", 0x2E: "u",
            0x2F: "uu"}
ADVANCE_SIZE = {0x02: 1, 0x03: 2, 0x04: 4}


def split_ops(b):
    """The program as (code offset, bytes of one op) rows; advances and nops folded in."""
    rows, at, i = [], 0, 0
    while i < len(b):
        op = b[i]
        if op & 0xC0 == 0x40:
            at += op & 0x3F
            i += 1
            continue
        start = i
        i += 1
        if op & 0xC0 == 0x80:
            _, i = uleb(b, i)
        elif op & 0xC0 == 0xC0:
            pass
        elif op in ADVANCE_SIZE:
            n = ADVANCE_SIZE[op]
            at += int.from_bytes(b[i:i + n], "little")
            i += n
            continue
        elif op in OPERANDS:
            for kind in OPERANDS[op]:
                if kind == "s":
                    _, i = sleb(b, i)
                else:
                    v, i = uleb(b, i)
                    if kind == "b":
                        i += v
        else:
            raise Bad("call frame opcode 0x%02x" % op)
        if op:
            rows.append((at, bytes(b[start:i])))
    return rows


def encode_rows(rows):
    """The rows as a program, each step to the next row's offset in its shortest form."""
    out, at = bytearray(), 0
    for off, raw in rows:
        delta = off - at
        at = off
        if not delta:
            pass
        elif delta < 0x40:
            out.append(0x40 | delta)
        elif delta < 0x100:
            out += bytes([0x02, delta])
        elif delta < 0x10000:
            out += b"\x03" + struct.pack("<H", delta)
        else:
            out += b"\x04" + struct.pack("<I", delta)
        out += raw
    return bytes(out)


def run_rows(rows, state, initial):
    """Apply rows to a state (CFA, register rules, args size, remembered states)."""
    cfa, regs, args, stack = state
    regs = dict(regs)
    for _, raw in rows:
        op, hi = raw[0], raw[0] & 0xC0
        v = list(operands(raw))
        if hi == 0x80:
            regs[op & 0x3F] = ("at", v[0])
        elif hi == 0xC0 or op == 0x06:
            reg = op & 0x3F if hi else v[0]
            if reg in initial:
                regs[reg] = initial[reg]
            else:
                regs.pop(reg, None)
        elif op == 0x0C:
            cfa = (v[0], v[1])
        elif op == 0x0D:
            cfa = (v[0], cfa[1])
        elif op == 0x0E:
            cfa = (cfa[0], v[0])
        elif op in (0x05, 0x07, 0x08, 0x09):
            regs[v[0]] = (op, tuple(v[1:]))
        elif op == 0x2E:
            args = v[0]
        elif op == 0x0A:
            stack = stack + ((cfa, tuple(sorted(regs.items())), args),)
        elif op == 0x0B:
            cfa, saved, args = stack[-1]
            regs, stack = dict(saved), stack[:-1]
        else:
            raise Bad("no rule for call frame opcode 0x%02x" % op)
    return cfa, tuple(sorted(regs.items())), args, stack


def operands(raw):
    """The unsigned operands of a CFA op the interpreter knows."""
    i = 1
    while i < len(raw):
        v, i = uleb(raw, i)
        yield v


def states_at(cie, rows, sites):
    """What the unwinder reads at each looked-up code offset: the rows up to it applied,
    as (offset, (CFA, register rules, args size))."""
    start = run_rows(cie.rows, (None, (), 0, ()), {})
    initial = dict(start[1])
    out = []
    for pc in sites:
        cfa, regs, args, _ = run_rows([r for r in rows if r[0] <= pc], start, initial)
        out.append((pc, (cfa, regs, args)))
    return out


def transition(old, new, initial):
    """The ops that take the unwinder from state `old` to state `new`."""
    ops = bytearray()
    if new[0] != old[0]:
        if old[0] and new[0][0] == old[0][0]:
            ops += b"\x0e" + enc_uleb(new[0][1])
        elif old[0] and new[0][1] == old[0][1]:
            ops += b"\x0d" + enc_uleb(new[0][0])
        else:
            ops += b"\x0c" + enc_uleb(new[0][0]) + enc_uleb(new[0][1])
    if new[2] != old[2]:
        ops += b"\x2e" + enc_uleb(new[2])
    was, now = dict(old[1]), dict(new[1])
    for reg in sorted(set(was) | set(now)):
        rule = now.get(reg)
        if rule == was.get(reg):
            continue
        if rule == initial.get(reg):
            ops += bytes([0xC0 | reg]) if reg < 0x40 else b"\x06" + enc_uleb(reg)
        elif rule[0] == "at" and reg < 0x40:
            ops += bytes([0x80 | reg]) + enc_uleb(rule[1])
        elif rule[0] == "at":
            ops += b"\x05" + enc_uleb(reg) + enc_uleb(rule[1])
        else:
            ops += bytes([rule[0]]) + enc_uleb(reg) + b"".join(enc_uleb(v) for v in rule[1])
    return split_ops(bytes(ops))


def rows_for_calls(cie, calls):
    """Rows that give each call (offset, state) its state and say nothing elsewhere: each
    change made right after the call before it (the first at the function's start), none
    after the last call. Prologue steps fold into one place, and epilogues go."""
    start = run_rows(cie.rows, (None, (), 0, ()), {})
    initial = dict(start[1])
    out, prev, at = [], start[:3], 0
    for pc, state in calls:
        out += [(at, raw) for _, raw in transition(prev, state, initial)]
        prev, at = state, pc + 1
    return out


def call_sites(objdump, path):
    """Where the unwinder looks frames up, the last byte of each call instruction, and
    where instructions start. The disassembly runs straight through; a function whose
    start is not among the starts was read out of step and is left as it is."""
    text = subprocess.run([objdump, "-d", "--no-show-raw-insn", path], check=True,
                          capture_output=True, text=True).stdout
    sites, starts, jumps, after_call = [], set(), [], False
    for line in text.splitlines():
        m = re.match(r"\s*([0-9a-f]+):\s+(\S+)", line)
        if not m:
            continue
        at = int(m.group(1), 16)
        starts.add(at)
        if after_call:
            sites.append(at - 1)
        after_call = m.group(2).startswith("call")
        if m.group(2) == "jmp":
            jumps.append(at)
    return sorted(sites), starts, jumps


def pcrel_field(enc):
    """Whether a pointer of this encoding is a 4-byte pcrel value (else it must be absent)."""
    if enc == 0xFF:
        return False
    if enc & 0x7F == 0x1B:
        return True
    raise Bad("pointer encoding 0x%02x" % enc)


class Cie:
    def __init__(self, data, off, base):
        end = off + 4 + struct.unpack_from("<I", data, off)[0]
        i = off + 8
        self.version = data[i]
        i += 1
        aug_end = data.index(b"\x00", i)
        self.aug = bytes(data[i:aug_end])
        i = aug_end + 1
        if self.version not in (1, 3) or (self.aug and not self.aug.startswith(b"z")):
            raise Bad("CIE version %d augmentation %r" % (self.version, self.aug))
        head_start = i
        code_align, i = uleb(data, i)
        if code_align != 1:  # steps are then bytes, as the call addresses are
            raise Bad("code alignment factor %d" % code_align)
        _, i = sleb(data, i)
        if self.version == 1:
            i += 1
        else:
            _, i = uleb(data, i)
        self.head = bytes(data[head_start:i])
        self.fde_enc, self.lsda_enc, self.personality = 0x00, 0xFF, None
        self.aug_data = b""
        if self.aug:
            n, i = uleb(data, i)
            aug_end, j = i + n, i
            self.aug_data = bytes(data[i:aug_end])
            for c in self.aug[1:].decode():
                if c == "P":
                    enc = data[j]
                    if not pcrel_field(enc):
                        raise Bad("CIE without a personality pointer")
                    v = struct.unpack_from("<i", data, j + 1)[0]
                    self.personality = (enc, j + 1 - i, base + j + 1 + v if v else 0)
                    j += 5
                elif c in "LR":
                    if c == "L":
                        self.lsda_enc = data[j]
                    else:
                        self.fde_enc = data[j]
                    j += 1
                elif c != "S":
                    raise Bad("augmentation %r" % self.aug)
            i = aug_end
        if not pcrel_field(self.fde_enc):
            raise Bad("FDE pointers not pcrel")
        self.rows = split_ops(data[i:end])
        if any(off for off, _ in self.rows):
            raise Bad("CIE with an address step")
        self.key = self.identity()
        self.end = end
        self.plain = None

    def identity(self):
        """What makes two CIEs the same: everything, with the personality as an address."""
        return (self.version, self.aug, self.head, self.fde_enc, self.lsda_enc,
                self.personality and (self.personality[0], self.personality[2]),
                tuple(self.rows))

    def without_handler(self):
        """This CIE without personality and LSDA, for the FDEs whose LSDA is none. The
        personality asked about such a frame answers "continue unwinding", as the
        unwinder does for a frame without one; the FDE saves its 4-byte LSDA field."""
        if not self.plain:
            self.plain = copy.copy(self)
            self.plain.aug = bytes(c for c in self.aug if c not in b"PL")
            self.plain.aug_data = bytes([self.fde_enc]) if b"R" in self.aug else b""
            self.plain.personality, self.plain.lsda_enc = None, 0xFF
            self.plain.key = self.plain.identity()
        return self.plain

    def encode(self, at, base):
        """The record as it goes at table offset `at` (address base + at)."""
        body = bytearray(struct.pack("<I", 0) + bytes([self.version]) + self.aug + b"\x00")
        body += self.head
        if self.aug:
            body += enc_uleb(len(self.aug_data))
            aug = bytearray(self.aug_data)
            if self.personality:
                _, pos, target = self.personality
                field = base + at + 4 + len(body) + pos
                struct.pack_into("<i", aug, pos, target - field if target else 0)
            body += aug
        return pad(body + encode_rows(self.rows))


def pad(body):
    body = bytearray(body)
    while (len(body) + 4) % 4:
        body.append(0)
    return struct.pack("<I", len(body)) + bytes(body)


class Fde:
    def __init__(self, data, off, cie_of, base):
        end = off + 4 + struct.unpack_from("<I", data, off)[0]
        cie_off = off + 4 - struct.unpack_from("<I", data, off + 4)[0]
        if cie_off not in cie_of:
            raise Bad("FDE at 0x%x without a CIE read before it" % off)
        self.cie = cie_of[cie_off]
        i = off + 8
        v, self.pc_range = struct.unpack_from("<iI", data, i)
        self.pc_begin = base + i + v if v else 0
        i += 8
        self.lsda = None
        if self.cie.aug:
            n, i = uleb(data, i)
            if self.cie.lsda_enc != 0xFF:
                if n != 4 or not pcrel_field(self.cie.lsda_enc):
                    raise Bad("LSDA pointer of %d bytes" % n)
                v = struct.unpack_from("<i", data, i)[0]
                self.lsda = base + i + v if v else 0
            elif n:
                raise Bad("FDE augmentation without an LSDA")
            i += n
        self.rows = split_ops(data[i:end])
        self.end = end
        self.dropped = False

    def encode(self, at, base, cie_at):
        field = at + 8
        body = bytearray(struct.pack("<I", field - 4 - cie_at))
        body += struct.pack("<iI", self.pc_begin - (base + field) if self.pc_begin else 0,
                            self.pc_range)
        if self.cie.aug:
            if self.lsda is None:
                body += b"\x00"
            else:
                lsda_field = at + 4 + len(body) + 1
                body += b"\x04" + struct.pack(
                    "<i", self.lsda - (base + lsda_field) if self.lsda else 0)
        return pad(body + encode_rows(self.rows))


def parse(data, base):
    """The records of a table up to its zero terminator, and the terminator's end."""
    records, cie_of, off = [], {}, 0
    while True:
        length = struct.unpack_from("<I", data, off)[0]
        if length == 0:
            return records, off + 4
        if length == 0xFFFFFFFF:
            raise Bad("64-bit record")
        if struct.unpack_from("<I", data, off + 4)[0] == 0:
            rec = Cie(data, off, base)
            cie_of[off] = rec
        else:
            rec = Fde(data, off, cie_of, base)
        records.append(rec)
        off = rec.end


def rebuild(records, base):
    """The table: each FDE kept, each CIE once, ahead of the first FDE that uses it."""
    out, placed = bytearray(), {}
    for rec in records:
        if not isinstance(rec, Fde) or rec.dropped:
            continue
        if rec.cie.key not in placed:
            placed[rec.cie.key] = len(out)
            out += rec.cie.encode(len(out), base)
        out += rec.encode(len(out), base, placed[rec.cie.key])
    return bytes(out + b"\x00\x00\x00\x00")


def trim(records, code):
    """Each FDE cut to what its calls read (rows_for_calls), moved to a CIE without
    personality when it has no LSDA, and dropped whole when its function calls nothing
    or was dropped by the link (start zero, skipped by the runtime). An FDE whose start
    the disassembly did not reach in step stays as it is."""
    sites, starts, _ = code
    for r in records:
        if not isinstance(r, Fde):
            continue
        r.dropped = not r.pc_begin
        if r.pc_begin not in starts:
            continue
        local = [pc - r.pc_begin for pc in found_in(sites, r.pc_begin, r.pc_begin + r.pc_range)]
        if r.lsda == 0 and r.cie.personality:
            r.cie, r.lsda = r.cie.without_handler(), None
        if not local:
            if r.lsda:
                raise Bad("no call found in a function with handlers at 0x%x" % r.pc_begin)
            r.dropped = True
            continue
        try:
            r.calls = states_at(r.cie, r.rows, sorted(set(local)))
        except Bad:
            continue  # an op the interpreter does not know: the rows stay as they are
        r.rows = rows_for_calls(r.cie, r.calls)


def merge(records, sites):
    """FDEs made one where only their rows tell them apart: the same CIE, no LSDA, and
    between the two no call and no other FDE (a function there that calls nothing is
    never looked up either). The rows of the one give each call the state of its own
    function."""
    kept = [r for r in records if isinstance(r, Fde) and not r.dropped]
    starts = sorted(r.pc_begin for r in kept)
    first = None
    for r in sorted((r for r in kept if hasattr(r, "calls")), key=lambda r: r.pc_begin):
        end = first and first.pc_begin + first.pc_range
        if (first and not first.lsda and not r.lsda and first.cie.key == r.cie.key
                and end <= r.pc_begin and not found_in(sites, end, r.pc_begin)
                and not found_in(starts, end, r.pc_begin)):
            shift = r.pc_begin - first.pc_begin
            first.calls += [(shift + pc, state) for pc, state in r.calls]
            first.pc_range = shift + r.pc_range
            first.rows = rows_for_calls(first.cie, first.calls)
            r.dropped = True
        else:
            first = r


def reading(records, sites):
    """What the unwinder reads at each call: the LSDA, CIE and state the FDE that covers it
    gives (an FDE without LSDA as on a CIE without personality); and each FDE whose ops
    the interpreter does not know, whole."""
    out = {}
    for r in records:
        if not isinstance(r, Fde) or not r.pc_begin:
            continue
        local = [pc - r.pc_begin for pc in found_in(sites, r.pc_begin, r.pc_begin + r.pc_range)]
        if not local:
            continue
        cie, lsda = r.cie, r.lsda
        if not lsda and cie.personality:
            cie, lsda = cie.without_handler(), None
        try:
            for pc, state in states_at(cie, r.rows, sorted(set(local))):
                out[r.pc_begin + pc] = (lsda, cie.key, state)
        except Bad:
            out[("FDE", r.pc_begin)] = (r.pc_range, lsda, cie.key, tuple(r.rows))
    return out


def lsda_calls(img, secs, image_base, lsda):
    """The code ranges (from the function's start) of an LSDA's call-site records: the
    compiler's own list of the places in the function that call something."""
    at = file_offset(secs, lsda - image_base)
    if img[at] != 0xFF:
        raise Bad("LSDA with a landing pad base")
    at += 1
    ttype = img[at]
    at += 1
    if ttype != 0xFF:
        _, at = uleb(img, at)
    encoding = img[at]
    size, at = uleb(img, at + 1)
    end, out = at + size, []
    while at < end:
        if encoding == 0x01:
            start, at = uleb(img, at)
            length, at = uleb(img, at)
            _, at = uleb(img, at)
        elif encoding == 0x03:
            start, length = struct.unpack_from("<II", img, at)
            at += 12
        else:
            raise Bad("LSDA call-site encoding 0x%02x" % encoding)
        _, at = uleb(img, at)
        out.append((start, start + length))
    return out


def check_calls_seen(img, secs, image_base, records, code):
    """Each call-site record of every LSDA holds a call (or a tail call's jump) the
    disassembly found: else it read the code out of step, and the rows it would keep
    could miss a call."""
    sites, _, jumps = code
    for r in records:
        if not isinstance(r, Fde) or not r.lsda or not r.pc_begin:
            continue
        for start, end in lsda_calls(img, secs, image_base, r.lsda):
            start, end = r.pc_begin + start, r.pc_begin + end
            if not found_in(sites, start, end) and not found_in(jumps, start, end):
                raise Bad("no call found at 0x%x, where the LSDA says one is" % start)


def found_in(addresses, start, end):
    return addresses[bisect.bisect_left(addresses, start):bisect.bisect_left(addresses, end)]


def sections(img):
    pe = struct.unpack_from("<I", img, 0x3C)[0]
    if img[pe:pe + 4] != b"PE\x00\x00":
        raise Bad("not a PE image")
    count, = struct.unpack_from("<H", img, pe + 6)
    sym_ptr, sym_count = struct.unpack_from("<II", img, pe + 12)
    opt = pe + 24
    table = opt + struct.unpack_from("<H", img, pe + 20)[0]
    strings = sym_ptr + 18 * sym_count
    out = []
    for k in range(count):
        h = table + 40 * k
        name = img[h:h + 8].rstrip(b"\x00")
        if name.startswith(b"/") and sym_ptr:
            at = strings + int(name[1:])
            name = img[at:img.index(b"\x00", at)]
        vsize, rva, rsize, rptr = struct.unpack_from("<IIII", img, h + 8)
        out.append((h, name, vsize, rva, rsize, rptr))
    return pe, opt, out


def file_offset(secs, r):
    for _, _, vs, va, rs, rp in secs:
        if va <= r < va + max(vs, rs):
            return rp + r - va
    raise Bad("RVA 0x%x outside the sections" % r)


def base_relocations(img, opt, secs):
    """The places (file offsets) the loader patches, and the addresses they hold."""
    rva, size = struct.unpack_from("<II", img, opt + 96 + 5 * 8)
    out, at = [], file_offset(secs, rva)
    end = at + size
    while at < end:
        page, block = struct.unpack_from("<II", img, at)
        for k in range((block - 8) // 2):
            e = struct.unpack_from("<H", img, at + 8 + 2 * k)[0]
            if e >> 12 == 3:
                place = file_offset(secs, page + (e & 0xFFF))
                out.append((place, struct.unpack_from("<I", img, place)[0]))
            elif e >> 12:
                raise Bad("base relocation type %d" % (e >> 12))
        at += block
    return out


def checksum(img):
    """The optional header's CheckSum of an image whose CheckSum field holds zero."""
    s = 0
    data = img + (b"\x00" if len(img) % 2 else b"")
    for (w,) in struct.iter_unpack("<H", data):
        s += w
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return s + len(img)


def registered_start(img, opt, secs, image_base, eh):
    """Where the table the runtime registers begins, the one address into the section
    the code holds, and the places that hold it."""
    _, _, vsize, rva, rsize, rptr = eh
    lo, hi = image_base + rva, image_base + rva + max(vsize, rsize)
    starts, places = set(), []
    for place, value in base_relocations(img, opt, secs):
        if rptr <= place < rptr + rsize:
            raise Bad("base relocation inside .eh_frame")
        if lo <= value < hi:
            starts.add(value - lo)
            places.append(place)
    if len(starts) != 1:
        raise Bad("%d places in .eh_frame pointed at" % len(starts))
    return starts.pop(), places


def resize(img, pe, opt, secs, eh, table):
    """The image with the section's raw data replaced by a shorter table."""
    head, _, _, _, rsize, rptr = eh
    falign = struct.unpack_from("<I", img, opt + 36)[0]
    new_rsize = -(-len(table) // falign) * falign
    shrink = rsize - new_rsize
    img[rptr:rptr + rsize] = table + bytes(new_rsize - len(table))
    struct.pack_into("<I", img, head + 16, new_rsize)
    for h, _, _, _, _, p in secs:
        if p > rptr:
            struct.pack_into("<I", img, h + 20, p - shrink)
    sym_ptr = struct.unpack_from("<I", img, pe + 12)[0]
    if sym_ptr > rptr:
        struct.pack_into("<I", img, pe + 12, sym_ptr - shrink)
    init = struct.unpack_from("<I", img, opt + 8)[0]
    struct.pack_into("<I", img, opt + 8, init - shrink)
    struct.pack_into("<I", img, opt + 64, 0)
    struct.pack_into("<I", img, opt + 64, checksum(bytes(img)))


def compact(img, code):
    """The image with its .eh_frame compacted, and how many bytes the table lost."""
    img = bytearray(img)
    pe, opt, secs = sections(img)
    image_base = struct.unpack_from("<I", img, opt + 28)[0]
    eh = [s for s in secs if s[1] in (b".eh_frame", b".eh_fram")]
    if len(eh) != 1:
        raise Bad("no single .eh_frame section")
    eh = eh[0]
    _, _, vsize, rva, rsize, rptr = eh
    for entry, what in ((4, "certificate"), (6, "debug directory")):
        if struct.unpack_from("<I", img, opt + 96 + 8 * entry + 4)[0]:
            raise Bad("a %s, whose file offsets would move" % what)
    # The table starts where crtbegin's part does: the records linked ahead of it, and
    # those behind its terminator (crtend's own), are never read. The table moves to
    # the section's start, and the two places that hand it to the runtime with it.
    start, places = registered_start(img, opt, secs, image_base, eh)
    base = image_base + rva
    records, used = parse(bytes(img[rptr + start:rptr + min(vsize, rsize)]), base + start)
    check_calls_seen(img, secs, image_base, records, code)
    linked = reading(records, code[0])
    trim(records, code)
    merge(records, code[0])
    table = rebuild(records, base)
    again, _ = parse(table, base)
    if reading(again, code[0]) != linked:
        raise Bad("rewritten table reads differently")
    if len(table) >= start + used:
        return bytes(img), 0
    for place in places:
        struct.pack_into("<I", img, place, base)
    resize(img, pe, opt, secs, eh, table)
    return bytes(img), start + used - len(table)


def main():
    objdump, path = sys.argv[1], sys.argv[2]
    with open(path, "rb") as f:
        img = f.read()
    if len(sys.argv) > 3:
        shutil.copyfile(path, sys.argv[3])
    try:
        out, saved = compact(img, call_sites(objdump, path))
    except Bad as e:
        sys.exit("%s: .eh_frame not rewritten: %s" % (path, e))
    with open(path, "wb") as f:
        f.write(out)
    print("%s: .eh_frame %d bytes shorter, image %d bytes" % (path, saved, len(out)))


if __name__ == "__main__":
    main()
