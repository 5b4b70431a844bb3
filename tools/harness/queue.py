"""The listen queue files' lines (nimbo-listens.txt, nimbo-scrobbles.txt), as the plugin
writes them, for tests and runs that start with listens waiting."""

import os


def queue_line(listened_at, title, seconds=30, artist="Band"):
    """One listen, checksum (FNV-1a of what precedes it) included."""
    line = "v1\t%d\t%d\t%s\t%s\t" % (listened_at, seconds, artist, title)
    checksum = 2166136261
    for byte in line.encode("utf-8"):
        checksum = ((checksum ^ byte) * 16777619) & 0xFFFFFFFF
    return "%s\t%08x\n" % (line, checksum)


def queue_file(titles, first=1796716800):
    """A queue file's bytes: one listen a title, a minute apart."""
    return "".join(queue_line(first + 60 * n, t) for n, t in enumerate(titles)).encode("utf-8")


def queued(folder, name="nimbo-listens.txt"):
    """The lines of a queue file beside nimbo.log; none when it is not there."""
    try:
        with open(os.path.join(folder, name), "rb") as f:
            return f.read().decode("utf-8").splitlines()
    except FileNotFoundError:
        return []
