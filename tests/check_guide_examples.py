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


def parts(cell):
    """"artist / title / album / year" with any trailing parts left out; "—" is none."""
    return [] if cell == NONE else [p.strip() for p in cell.split("/")]


def tag_v2(values):
    """An ID3v2.3 tag, or ID3v2.4 with TDRC when the year is a whole date."""
    year = values[3] if len(values) > 3 else NONE
    version = 4 if len(year) > 4 else 3
    ids = ("TPE1", "TIT2", "TALB", "TYER" if version == 3 else "TDRC")
    return id3v2([(i, text) for i, text in zip(ids, values) if text != NONE], version=version)


def tag_v1(values):
    fields = dict((k, v) for k, v in zip(("artist", "title", "album", "year"), values) if v != NONE)
    return id3v1(**fields)


def make_track(folder, row):
    name, v2, v1, winamp = code(row[1]), parts(row[2]), parts(row[3]), parts(row[4])
    options = []
    for field, value in zip(("artist", "title", "album", "year"), winamp):
        if value != NONE:
            options += ["--winamp", "%s=%s" % (field, value)]
    if row[5] != NONE:
        options += ["--title", row[5]]
    player = [p.strip() for p in row[6].split(",")]
    for flag, value in zip(("--state", "--length", "--bitrate", "--samplerate", "--channels"),
                           player):
        if value != NONE:
            options += [flag, value]
    if "://" in name:
        return name, options  # a stream: nothing to write
    data = bytes(1024)  # stands in for the audio
    if v2:
        data = tag_v2(v2) + data
    if v1:
        data = data + tag_v1(v1)
    path = folder / name
    path.write_bytes(data)
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
