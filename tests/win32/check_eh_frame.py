#!/usr/bin/env python3
"""check_eh_frame.py OBJDUMP (LINKED REWRITTEN)...: each rewritten unwind table reads as the linked one.

Read through objdump, not through cmake/compact_eh_frame.py's own parser: at every call
(the only places the unwinder looks a frame up) the table the runtime registers must
give the same CIE text, LSDA address and row (CFA and saved registers), or no FDE in
both; the code must hand the runtime the table's new start; the rewritten table must
use no 5-byte steps and have dropped epilogue rows.
"""
import bisect
import re
import subprocess
import sys

OBJDUMP = "i686-w64-mingw32-objdump"


def dump(path, what):
    return subprocess.run([OBJDUMP, "--dwarf=" + what, path], check=True,
                          capture_output=True, text=True).stdout


def eh_frame_address(path):
    out = subprocess.run([OBJDUMP, "-h", path], check=True, capture_output=True,
                         text=True).stdout
    m = re.search(r"\.eh_frame\s+([0-9a-f]+)\s+([0-9a-f]+)", out)
    return int(m.group(2), 16)


def records(text):
    """offset -> (kind, header line, body) for the records up to the zero terminator."""
    out = {}
    for block in re.split(r"\n(?=[0-9a-f]{8} (?:[0-9a-f]{8} [0-9a-f]{8} (?:CIE|FDE)|ZERO))", text):
        m = re.match(r"([0-9a-f]{8}) (?:[0-9a-f]{8} [0-9a-f]{8} (CIE|FDE)|ZERO)", block)
        if not m:
            continue
        if not m.group(2):
            break
        head, _, body = block.partition("\n")
        out[int(m.group(1), 16)] = (m.group(2), head, body.strip())
    return out


def pcrel(base, field, hex_bytes):
    value = int.from_bytes(bytes.fromhex(hex_bytes.replace(" ", "")), "little", signed=True)
    return base + field + value if value else 0


def table_start(path):
    """Where the table the runtime registers begins (crtbegin's part)."""
    out = subprocess.run([OBJDUMP.replace("objdump", "nm"), path], check=True,
                         capture_output=True, text=True).stdout
    return int(re.search(r"^([0-9a-f]+) d ___EH_FRAME_BEGIN__$", out, re.M).group(1), 16)


def reading(path, sites, start):
    """What the unwinder reads at each call of the registered table's FDEs: (CIE text with
    the personality's address, LSDA address, row), by the call's last byte; and the
    starts of FDEs with an LSDA but no call."""
    base = eh_frame_address(path)
    interp, raw = records(dump(path, "frames-interp")), records(dump(path, "frames"))
    out, blind = {}, []
    for off, (kind, head, body) in sorted(interp.items()):
        if kind != "FDE" or base + off < start:
            continue
        cie = int(re.search(r"cie=([0-9a-f]+)", head).group(1), 16)
        cie_body = raw[cie][2]
        cie_text = re.sub(r"Augmentation data:.*|  DW_CFA_nop\n?", "", cie_body)
        # "zPLR" with one-byte alignment factors and return column: the personality
        # pointer follows the augmentation's length and its encoding byte.
        personality = re.search(r"Augmentation data:\s+9b ((?:[0-9a-f]{2} ){4})", cie_body)
        if personality:
            aug = re.search(r'Augmentation:\s+"(\w*)"', cie_body).group(1)
            field = cie + 8 + 1 + len(aug) + 1 + 3 + 1 + 1
            cie_text += " personality %x" % pcrel(base, field, personality.group(1))
        lsda = None
        aug = re.search(r"Augmentation data:\s+((?:[0-9a-f]{2} ?){4})\n", raw[off][2])
        if aug:  # after the length, CIE pointer, start, size and augmentation length
            lsda = pcrel(base, off + 17, aug.group(1))
        if not lsda:
            # Nothing to catch or clean up: the personality would only say "continue
            # unwinding", as the unwinder does for a frame without one.
            lsda = None
            cie_text = re.sub(r" personality \w+$", "", cie_text)
            cie_text = re.sub(r'Augmentation:(\s+)"(\w*)"',
                              lambda m: 'Augmentation:%s"%s"' % (m.group(1),
                                                                  re.sub("[PL]", "", m.group(2))),
                              cie_text)
        # A start of zero is a function the link dropped (the runtime skips it); objdump
        # shows it as the field's own address.
        begin, end = (int(x, 16) for x in re.search(r"pc=(\w+)\.\.(\w+)", head).groups())
        if begin == base + off + 8:
            continue
        rows = at_calls(body, begin, end, sites)
        if lsda and not rows:
            blind.append("%x" % begin)
        for pc, row in rows:
            if pc in out:
                raise SystemExit("%s: two FDEs cover 0x%x" % (path, pc))
            out[pc] = (cie_text, lsda, row)
    return out, blind


def call_ends(path):
    """The address after each call instruction, counted from the bytes objdump shows."""
    text = subprocess.run([OBJDUMP, "-d", path], check=True, capture_output=True,
                          text=True).stdout
    ends = []
    for m in re.finditer(r"^ *([0-9a-f]+):\t((?:[0-9a-f]{2} )+)\s*\tcall", text, re.M):
        ends.append(int(m.group(1), 16) + len(m.group(2).split()))
    return sorted(ends)


def at_calls(body, begin, end, sites):
    """The row (non-undefined rules by column) in force at each call's last byte."""
    lines = body.splitlines() or [""]  # objdump shows no table for a program of nops
    columns = lines[0].split()
    rows = []
    for line in lines[1:]:
        cells = line.split()
        rows.append((int(cells[0], 16), {c: v for c, v in zip(columns[1:], cells[1:])
                                         if v != "u"}))
    out = []
    for site in sites[bisect.bisect_right(sites, begin):bisect.bisect_right(sites, end)]:
        pc = site - 1
        row = [r for loc, r in rows if loc <= pc]
        out.append((pc, sorted(row[-1].items()) if row else None))
    return out


def moved_start(linked, rewritten, start, base):
    """Whether each instruction that took the linked table's start now takes the section's."""
    def users(path, address):
        text = subprocess.run([OBJDUMP, "-d", path], check=True, capture_output=True,
                              text=True).stdout
        return {m.group(1) for m in re.finditer(r"^ *([0-9a-f]+):.*\$0x%x\b" % address, text,
                                                re.M)}
    old = users(linked, start)
    return bool(old) and old == users(rewritten, base)


def check(linked, rewritten):
    sites = call_ends(linked)
    start, base = table_start(linked), eh_frame_address(rewritten)
    (before, blind), (after, _) = reading(linked, sites, start), reading(rewritten, sites, base)
    fail = 0
    if not moved_start(linked, rewritten, start, base):
        print("the code does not hand the runtime the rewritten table's start")
        fail = 1
    if not sites or blind:
        print("no calls found in %d functions with handlers, as %s" % (len(blind), blind[:3]))
        fail = 1
    if not before or before != after:
        changed = sorted(pc for pc in set(before) | set(after) if before.get(pc) != after.get(pc))
        print("%d calls read differently, as at %s" % (len(changed), [hex(pc) for pc in changed[:5]]))
        fail = 1
    raw, linked_raw = dump(rewritten, "frames"), dump(linked, "frames")
    steps = raw.count("DW_CFA_advance_loc4")
    if steps:
        print("%d 5-byte steps left" % steps)
        fail = 1
    if raw.count("DW_CFA_restore:") >= linked_raw.count("DW_CFA_restore:"):
        print("no epilogue rows dropped")
        fail = 1
    if not fail:
        print("%s: %d calls read the same; FDEs %d, linked %d"
              % (rewritten, len(after), raw.count(" FDE "), linked_raw.count(" FDE ")))
    return fail


def main():
    global OBJDUMP
    OBJDUMP, pairs = sys.argv[1], sys.argv[2:]
    sys.exit(max(check(pairs[k], pairs[k + 1]) for k in range(0, len(pairs), 2)))


if __name__ == "__main__":
    main()
