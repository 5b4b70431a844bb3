"""ID3 tags and the silent audio they sit around, for the files the tests, the demo
and the guide examples play.

    id3v2([("TPE1", "Band"), ("TIT2", 1, "Song")], version=4) + silent_mpeg_frames(3)

A frame is (id, text) in `encoding`, (id, encoding, text), or Raw(id, body) for a
frame whose body is given whole. Text may be bytes, written after the encoding byte
as they are.
"""

import collections
import struct

Raw = collections.namedtuple("Raw", "frame_id body")

# Text encodings 0-3: ISO-8859-1 (taggers often write the machine's code page instead,
# hence `ansi`), UTF-16 with byte-order mark, UTF-16BE, UTF-8.
_ENCODERS = {
    1: lambda text: b"\xff\xfe" + text.encode("utf-16-le"),
    2: lambda text: text.encode("utf-16-be"),
    3: lambda text: text.encode("utf-8"),
}


def syncsafe(n):
    """n in four 7-bit bytes, as the tag header (and ID3v2.4 frame sizes) hold it."""
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def text_body(encoding, text, ansi="latin-1"):
    if isinstance(text, bytes):
        return bytes([encoding]) + text
    data = text.encode(ansi) if encoding == 0 else _ENCODERS[encoding](text)
    return bytes([encoding]) + data


def frame(version, frame_id, body):
    """One frame: ID3v2.2 has 3-character ids and 3-byte sizes, 2.3 a 4-byte size,
    2.4 a syncsafe one; 2.3 and 2.4 add two flag bytes."""
    ident = frame_id.encode("ascii")
    if len(ident) != (3 if version == 2 else 4):
        raise ValueError("frame id %r does not fit ID3v2.%d" % (frame_id, version))
    if version == 2:
        return ident + struct.pack(">I", len(body))[1:] + body
    size = struct.pack(">I", len(body)) if version == 3 else syncsafe(len(body))
    return ident + size + b"\0\0" + body


def id3v2(frames, version=3, encoding=0, ansi="latin-1", padding=0):
    """A whole ID3v2.`version` tag (2, 3 or 4), no flags, `padding` zero bytes after
    the frames."""
    if version not in (2, 3, 4):
        raise ValueError("ID3v2.%d" % version)
    body = b""
    for item in frames:
        if isinstance(item, Raw):
            body += frame(version, item.frame_id, item.body)
            continue
        frame_id, enc, text = item if len(item) == 3 else (item[0], encoding, item[1])
        body += frame(version, frame_id, text_body(enc, text, ansi))
    body += bytes(padding)
    return b"ID3" + bytes([version, 0, 0]) + syncsafe(len(body)) + body


def id3v1(title="", artist="", album="", year="", comment="", genre=255, track=None,
          ansi="latin-1"):
    """The 128-byte tag at a file's end; with `track` the ID3v1.1 form (a zero byte
    and the track number in the comment's last two bytes)."""
    def field(text, size):
        data = text if isinstance(text, bytes) else text.encode(ansi)
        return data[:size].ljust(size, b"\0")
    if track is None:
        tail = field(comment, 30)
    else:
        tail = field(comment, 28) + bytes([0, track])
    return (b"TAG" + field(title, 30) + field(artist, 30) + field(album, 30) + field(year, 4)
            + tail + bytes([genre]))


def silent_mpeg_frames(seconds):
    """MPEG-1 Layer III frames, 128 kbit/s, 44.1 kHz, stereo, all side information and
    audio data zero: a decoder plays them as silence. 417 bytes per 1152 samples."""
    header = bytes([0xFF, 0xFB, 0x90, 0x00])
    one = header + bytes(417 - len(header))
    return one * (int(seconds * 44100 / 1152) + 1)
