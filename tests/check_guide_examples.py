#!/usr/bin/env python3
"""Runs every status-mask example of docs/USER-GUIDE.md through nimbo-preview (the
plugin's own composer and tag readers) and fails on any example whose status differs.

    check_guide_examples.py PREVIEW_PROGRAM [GUIDE]

The guide's track table says how to make each track (file name, tags, player
values); the example table gives mask, track and the status the guide promises.
"""
import os
import pathlib
import struct
import subprocess
import sys
import tempfile

NONE = "—"


def table_after(lines, heading_start):
    """The rows (lists of cell texts) of the first table whose header row starts with
    `heading_start`."""
    for i, line in enumerate(lines):
        if line.startswith("| " + heading_start):
            rows = []
            for row in lines[i + 2:]:
                if not row.startswith("|"):
                    break
                rows.append([c.strip() for c in row.strip().strip("|").split("|")])
            return rows
    raise SystemExit("guide: no table starting with %r" % heading_start)


def code(cell):
    return cell[1:-1] if cell.startswith("`") and cell.endswith("`") else cell


def id3v2(artist, title):
    frames = b""
    for frame_id, text in (("TPE1", artist), ("TIT2", title)):
        data = b"\x00" + text.encode("latin-1")
        frames += frame_id.encode() + struct.pack(">I", len(data)) + b"\x00\x00" + data
    size = len(frames)
    syncsafe = bytes([(size >> 21) & 0x7F, (size >> 14) & 0x7F, (size >> 7) & 0x7F, size & 0x7F])
    return b"ID3\x03\x00\x00" + syncsafe + frames


def id3v1(artist, title):
    def field(text, size):
        return text.encode("latin-1")[:size].ljust(size, b"\x00")
    return b"TAG" + field(title, 30) + field(artist, 30) + bytes(30 + 4 + 30) + b"\xff"


def make_track(folder, row):
    name, v2, v1 = code(row[1]), row[2], row[3]
    data = bytes(1024)  # stands in for the audio
    if v2 != NONE:
        data = id3v2(*[p.strip() for p in v2.split("/")]) + data
    if v1 != NONE:
        data = data + id3v1(*[p.strip() for p in v1.split("/")])
    path = folder / name
    path.write_bytes(data)
    options = []
    if row[4] != NONE:
        options += ["--title", row[4]]
    player = [p.strip() for p in row[5].split(",")]
    for flag, value in zip(("--state", "--length", "--bitrate", "--samplerate", "--channels"),
                           player):
        if value != NONE:
            options += [flag, value]
    return path, options


def main():
    preview = sys.argv[1]
    guide = pathlib.Path(sys.argv[2] if len(sys.argv) > 2 else
                         pathlib.Path(__file__).resolve().parent.parent / "docs" / "USER-GUIDE.md")
    lines = guide.read_text(encoding="utf-8").splitlines()
    tracks_rows = table_after(lines, "Track | File name")
    examples = table_after(lines, "Status mask | Track | Status")
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        tracks = {row[0]: make_track(pathlib.Path(tmp), row) for row in tracks_rows}
        for mask_cell, track, status_cell in examples:
            path, options = tracks[track]
            mask, want = code(mask_cell), code(status_cell)
            run = subprocess.run([preview, "--mask", mask, *options, str(path)],
                                 capture_output=True)
            got = run.stdout.decode("utf-8", "replace").rstrip("\n")
            if run.returncode != 0 or got != want:
                failures += 1
                print("FAIL mask %r, track %s: the guide says %r, the composer gives %r "
                      "(exit %d) %s" % (mask, track, want, got, run.returncode,
                                        run.stderr.decode("utf-8", "replace").strip()))
    print("%d guide examples, %d differ" % (len(examples), failures))
    return 1 if failures or not examples else 0


if __name__ == "__main__":
    sys.exit(main())
