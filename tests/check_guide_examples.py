#!/usr/bin/env python3
"""Runs every status-mask example of docs/USER-GUIDE.md through nimbo-preview (the
plugin's own composer and tag readers) and fails on any example whose status differs.

    check_guide_examples.py PREVIEW_PROGRAM [GUIDE]

The guide's track table says how to make each track (file name, tags, player
values); the example table gives mask, track and the status the guide promises.
"""
import pathlib
import subprocess
import sys
import tempfile

from harness.id3 import id3v1, id3v2

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


def make_track(folder, row):
    name, v2, v1 = code(row[1]), row[2], row[3]
    data = bytes(1024)  # stands in for the audio
    if v2 != NONE:
        artist, title = [p.strip() for p in v2.split("/")]
        data = id3v2([("TPE1", artist), ("TIT2", title)]) + data
    if v1 != NONE:
        artist, title = [p.strip() for p in v1.split("/")]
        data = data + id3v1(title=title, artist=artist)
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
