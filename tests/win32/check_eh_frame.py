#!/usr/bin/env python3
"""check_eh_frame.py (LINKED REWRITTEN)...: each rewritten unwind table reads as the linked one.

Read through objdump, not through cmake/compact_eh_frame.py's own parser: every FDE
from the table's start to its terminator must cover the same code with the same rows
(CFA and saved registers at each address), the same CIE text and the same LSDA
address, and the rewritten table must use no 5-byte steps.
"""
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


def fdes(path):
    """Each FDE as (pc range, CIE text with the personality's address, rows, LSDA address)."""
    base = eh_frame_address(path)
    interp, raw = records(dump(path, "frames-interp")), records(dump(path, "frames"))
    out = []
    for off, (kind, head, body) in sorted(interp.items()):
        if kind != "FDE":
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
        # A start of zero is a function the link dropped (the runtime skips it); objdump
        # shows it as the field's own address.
        begin, end = (int(x, 16) for x in re.search(r"pc=(\w+)\.\.(\w+)", head).groups())
        pc = "dropped" if begin == base + off + 8 else "%x" % begin
        rows = re.sub(r"^[0-9a-f]{8}\b", lambda m: "+%x" % (int(m.group(0), 16) - begin), body,
                      flags=re.M)
        out.append((pc, end - begin, cie_text, rows, lsda))
    return out


def check(linked, rewritten):
    before, after = fdes(linked), fdes(rewritten)
    fail = 0
    if not before or before != after:
        changed = [b[0] for b, a in zip(before, after) if b != a]
        print("FDEs differ: %d linked, %d rewritten; first changed %s"
              % (len(before), len(after), changed[:5]))
        fail = 1
    steps = dump(rewritten, "frames").count("DW_CFA_advance_loc4")
    if steps:
        print("%d 5-byte steps left" % steps)
        fail = 1
    if not fail:
        print("%s: %d FDEs read the same" % (rewritten, len(after)))
    return fail


def main():
    pairs = sys.argv[1:]
    sys.exit(max(check(pairs[k], pairs[k + 1]) for k in range(0, len(pairs), 2)))


if __name__ == "__main__":
    main()
