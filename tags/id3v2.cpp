#include "tags/id3v2.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/platform.h"
#include "common/utf8.h"
#include "tags/id3v2_text.h"

namespace nimbo {
namespace {

constexpr size_t kHeaderBytes = 10;
constexpr size_t kBufferBytes = 500;
constexpr size_t kZeroTail = 8;
// The first read covers the header and the text frames of nearly every tag.
constexpr size_t kWindowBytes = 4096;
constexpr int kSlotCount = 21;

struct FrameId {
    const char* modern;  // versions 3 and 4
    const char* legacy;  // version 2
};

// Slot order matters: the field derivation below refers to slots by position.
const FrameId kFrameIds[kSlotCount] = {
    {"TIT2", "TT2"}, {"TPE1", "TP1"}, {"TALB", "TAL"}, {"TRCK", "TRK"}, {"TYER", "TYE"},
    {"TCON", "TCO"}, {"COMM", "COM"}, {"TCOM", "TCM"}, {"TENC", "TEN"}, {"TCOP", "TCR"},
    {"TLAN", "TLA"}, {"WXXX", "WXX"}, {"TDRC", "TOR"}, {"TOPE", "TOA"}, {"TIT1", "TT1"},
    {"TOAL", "TOT"}, {"TPE2", "TP2"}, {"TPOS", "TPA"}, {"TSRC", "TRC"}, {"UFID", "UFI"},
    {"TXXX", "TXX"},
};

enum Slot {
    kTitle,
    kArtist,
    kAlbum,
    kTrack,
    kYear,
    kGenre,
    kComment,
    kComposer,
    kEncoder,
    kCopyright,
    kLanguage,
    kUrl,
    kRecordingTime,
    kOriginalArtist,
    kGroup,
    kOriginalAlbum,
    kAlbumArtist,
    kDisc,
    kIsrc,
    kRecordingId,  // a UFID frame of MusicBrainz's
    kUserText,     // TXXX frames go to the slot their description names, below
    kReleaseId = kSlotCount,
    kArtistIds,
    kReleaseGroupId,
    kTrackId,
    kWorkIds,
    kAllSlots
};

using Slots = std::array<std::string, kAllSlots>;

// The TXXX descriptions MusicBrainz's tagger writes, in slot order from kReleaseId (the
// order of TrackId from `release`).
const wchar_t* const kUserTextNames[] = {L"MusicBrainz Album Id", L"MusicBrainz Artist Id",
                                         L"MusicBrainz Release Group Id",
                                         L"MusicBrainz Release Track Id", L"MusicBrainz Work Id"};

const char kMusicBrainzOwner[] = "http://musicbrainz.org";

// The slot a kept frame's content goes to, or -1: a text frame by its id (only with a
// text encoding first), a UFID frame only when MusicBrainz owns it, a TXXX frame by
// its description.
int contentSlot(int slot, const std::string& content) {
    if (slot == kRecordingId)
        return content.compare(0, sizeof kMusicBrainzOwner, kMusicBrainzOwner,
                               sizeof kMusicBrainzOwner) == 0
                   ? slot
                   : -1;
    if (static_cast<unsigned char>(content[0]) > 3) return -1;
    if (slot != kUserText) return slot;
    const std::wstring description = id3v2::userTextDescription(content);
    for (int i = 0; i < kAllSlots - kReleaseId; ++i)
        if (description == kUserTextNames[i]) return kReleaseId + i;
    return -1;
}

uint32_t bigEndian(const unsigned char* b, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = (value << 8) | b[i];
    return value;
}

// ID3v2.4 writes frame sizes syncsafe (7 bits per byte). A size byte with its top bit set
// cannot be syncsafe, so such a size comes from a writer that used plain 32-bit numbers.
uint32_t version4Size(const unsigned char* b) {
    if ((b[0] | b[1] | b[2] | b[3]) & 0x80) return bigEndian(b, 4);
    return (uint32_t(b[0]) << 21) | (uint32_t(b[1]) << 14) | (uint32_t(b[2]) << 7) | b[3];
}

// The tag header, with the flags that change how the tag is read. (The 2.2 compression
// bit, for which no scheme was ever defined, and the experimental bit change nothing:
// the tag is read as stored.)
struct TagHeader {
    uint8_t version = 0;
    int32_t size = 0;                   // header + frames (+ footer); 0 past the file's end
    bool unsynchronisedBody = false;    // 2.2, 2.3: every FF 00 in the frame area is FF
    bool unsynchronisedFrames = false;  // 2.4: the same inside every frame's data
    bool extendedHeader = false;        // 2.3, 2.4
    bool footer = false;
};

TagHeader parseTagHeader(const unsigned char* header, int64_t fileSize) {
    TagHeader tag;
    tag.version = header[3];
    const unsigned char flags = header[5];
    switch (tag.version) {
        case 2:
            tag.unsynchronisedBody = flags & 0x80;
            break;
        case 3:
            tag.unsynchronisedBody = flags & 0x80;
            tag.extendedHeader = flags & 0x40;
            break;
        case 4:
            tag.unsynchronisedFrames = flags & 0x80;
            tag.extendedHeader = flags & 0x40;
            break;
    }
    // The size rule counts the footer bit whatever the version says, unknown ones too.
    tag.footer = flags & 0x10;
    // Each size byte is taken whole, as stored; the result stays far below 2^31.
    int64_t total = (int64_t(header[6]) << 21) + (int64_t(header[7]) << 14) +
                    (int64_t(header[8]) << 7) + header[9] + kHeaderBytes;
    if (tag.footer) total += 10;
    tag.size = total > fileSize ? 0 : int32_t(total);
    return tag;
}

// A frame header's size and the format flags a reader needs, read once for the tag's
// version (the id stays in the header's bytes, where the slot search compares it). The
// status flags say what an editor should do, which is no reader's concern.
struct FrameHeader {
    uint32_t size = 0;
    bool compressed = false;
    bool encrypted = false;
    bool grouped = false;              // a group id byte before the content
    bool unsynchronised = false;       // 2.4: this frame's data
    bool dataLengthIndicator = false;  // 2.4: four bytes before the content

    // Compressed or encrypted data cannot be read as text.
    bool storedAsText() const { return !compressed && !encrypted; }
    // Bytes the flags put in front of the content.
    size_t prefixBytes() const { return (grouped ? 1 : 0) + (dataLengthIndicator ? 4 : 0); }
};

// `bytes` holds the whole frame header: 6 bytes in version 2, 10 in versions 3 and 4.
FrameHeader parseFrameHeader(uint8_t version, const unsigned char* bytes) {
    FrameHeader frame;
    switch (version) {
        case 2:
            frame.size = bigEndian(bytes + 3, 3);
            break;
        case 3:
            frame.size = bigEndian(bytes + 4, 4);
            frame.compressed = bytes[9] & 0x80;
            frame.encrypted = bytes[9] & 0x40;
            frame.grouped = bytes[9] & 0x20;
            break;
        default:  // 4: frames are walked for versions 2 to 4 only
            frame.size = version4Size(bytes + 4);
            frame.grouped = bytes[9] & 0x40;
            frame.compressed = bytes[9] & 0x08;
            frame.encrypted = bytes[9] & 0x04;
            frame.unsynchronised = bytes[9] & 0x02;
            frame.dataLengthIndicator = bytes[9] & 0x01;
            break;
    }
    return frame;
}

// The slot among `wanted` that keeps frames of this id, or -1 when none does.
int slotOf(uint8_t version, const unsigned char* frameHeader, uint32_t wanted) {
    const size_t idBytes = version == 2 ? 3 : 4;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (!(wanted & (1u << slot))) continue;
        const char* wanted = version > 2 ? kFrameIds[slot].modern : kFrameIds[slot].legacy;
        if (frameHeader[0] == static_cast<unsigned char>(wanted[0]) &&
            std::memcmp(frameHeader + 1, wanted + 1, idBytes - 1) == 0)
            return slot;
    }
    return -1;
}

// The start of the file as one read brings it in: the header and the frames of a usual
// tag. A frame beyond it moves the window with one more read; large frames (pictures)
// are passed by position and never read.
class FileWindow {
  public:
    FileWindow(ReadOnlyFile& file, int64_t fileSize) : file_(file), fileSize_(fileSize) {}

    // Up to `count` bytes from `position`; how many arrived (fewer at the file's end).
    size_t read(int64_t position, void* out, size_t count) {
        unsigned char* bytes = static_cast<unsigned char*>(out);
        size_t done = 0;
        while (done < count) {
            const int64_t at = position + int64_t(done);
            if ((at < start_ || at >= start_ + int64_t(held_)) && !fill(at)) break;
            const size_t offset = size_t(at - start_);
            const size_t take = std::min(count - done, held_ - offset);
            std::memcpy(bytes + done, buffer_ + offset, take);
            done += take;
        }
        return done;
    }

  private:
    bool fill(int64_t at) {
        // A fresh file stands at its start, so the first read needs no seek.
        if (at >= fileSize_ || (at != filePosition_ && !file_.seek(at))) return false;
        // No more than the file holds, so one read call serves.
        held_ = file_.read(buffer_, size_t(std::min<int64_t>(sizeof buffer_, fileSize_ - at)));
        start_ = at;
        filePosition_ = at + int64_t(held_);
        return held_ > 0;
    }

    ReadOnlyFile& file_;
    int64_t fileSize_;
    unsigned char buffer_[kWindowBytes];
    int64_t start_ = 0;
    size_t held_ = 0;
    int64_t filePosition_ = 0;
};

// Where the first frame starts. An extended header is skipped by its own size; a size
// that would not fit the tag means the flag is wrong (some writers set it without writing
// the header), and the frames start right after the tag header.
int64_t firstFramePosition(FileWindow& window, const TagHeader& tag) {
    if (!tag.extendedHeader) return kHeaderBytes;
    unsigned char sizeBytes[4];
    if (window.read(kHeaderBytes, sizeBytes, 4) != 4) return kHeaderBytes;
    // ID3v2.3 counts the bytes after the size field; ID3v2.4 counts the whole header.
    const int64_t extended =
        tag.version == 3 ? int64_t(bigEndian(sizeBytes, 4)) + 4 : int64_t(version4Size(sizeBytes));
    const int64_t start = kHeaderBytes + extended;
    return extended >= 6 && start <= tag.size ? start : int64_t(kHeaderBytes);
}

// The frame area as the walk reads it: the stored bytes, or, for an ID3v2.2/2.3 tag whose
// whole body is unsynchronised, those bytes with every FF 00 turned back into FF. Then
// frame sizes count resynchronised bytes, so skipping means reading through (in small
// chunks, and never past the tag's end); stored bytes are skipped by position.
class FrameArea {
  public:
    FrameArea(FileWindow& window, int64_t start, bool unsynchronised)
        : window_(window), position_(start), nextChunk_(start), unsynchronised_(unsynchronised) {}

    int64_t position() const { return position_; }  // file position of the next byte

    bool read(void* out, size_t count) {
        if (!unsynchronised_) {
            if (window_.read(position_, out, count) != count) return false;
            position_ += int64_t(count);
            return true;
        }
        unsigned char* bytes = static_cast<unsigned char*>(out);
        for (size_t i = 0; i < count; ++i)
            if (!next(bytes[i])) return false;
        return true;
    }

    // Moves `count` bytes on; false when the move passes `limit` in resynchronised bytes.
    bool skip(uint64_t count, int64_t limit) {
        if (!unsynchronised_) {
            position_ += int64_t(count);
            return true;
        }
        while (count > 0) {
            if (position_ >= limit) return false;
            if (afterFF_ || used_ == held_) {
                // One byte the careful way: it may be a dropped zero, or need a refill.
                unsigned char ignored;
                if (!next(ignored)) return false;
                --count;
                continue;
            }
            // Up to the next FF nothing is dropped, so a whole run passes at once.
            const size_t room =
                std::min<uint64_t>({held_ - used_, count, uint64_t(limit - position_)});
            const void* ff = std::memchr(chunk_ + used_, 0xFF, room);
            const size_t run =
                ff ? size_t(static_cast<const unsigned char*>(ff) - (chunk_ + used_)) + 1 : room;
            used_ += run;
            position_ += int64_t(run);
            count -= run;
            afterFF_ = ff != nullptr;
        }
        return true;
    }

  private:
    bool next(unsigned char& byte) {
        for (;;) {
            if (used_ == held_) {
                held_ = window_.read(nextChunk_, chunk_, sizeof chunk_);
                nextChunk_ += int64_t(held_);
                used_ = 0;
                if (held_ == 0) return false;
            }
            byte = chunk_[used_++];
            ++position_;
            const bool dropped = afterFF_ && byte == 0;
            afterFF_ = !dropped && byte == 0xFF;
            if (!dropped) return true;
        }
    }

    FileWindow& window_;
    int64_t position_;
    int64_t nextChunk_;  // file position of the next chunk an unsynchronised walk reads
    bool unsynchronised_;
    bool afterFF_ = false;
    unsigned char chunk_[1024];
    size_t held_ = 0, used_ = 0;
};

// `wanted` has bit 1 << slot set for each slot whose frames are read.
void walkFrames(FileWindow& window, int64_t fileSize, const TagHeader& tag, uint32_t wanted,
                Slots& slots) {
    const size_t frameHeaderBytes = tag.version == 2 ? 6 : 10;
    const int32_t tagSize = tag.size;
    FrameArea area(window, firstFramePosition(window, tag), tag.unsynchronisedBody);
    std::string data;
    while (area.position() < tagSize && area.position() < fileSize) {
        unsigned char bytes[10];
        if (!area.read(bytes, frameHeaderBytes)) return;
        if (bytes[0] < 'A' || bytes[0] > 'Z') return;  // padding, footer, junk

        const FrameHeader frame = parseFrameHeader(tag.version, bytes);
        // No tag holds a frame this large (tag sizes stay below 2^28 + 20); the header is
        // damaged and nothing after it can be trusted.
        if (frame.size >= 0x80000000u) return;

        const int slot = slotOf(tag.version, bytes, wanted);
        // Frames no field wants (pictures among them) are passed by position, unread.
        const bool kept = slot >= 0 && frame.storedAsText();
        const size_t taken = kept ? std::min<size_t>(frame.size, kBufferBytes) : 0;
        if (kept) {
            data.assign(taken, '\0');
            if (!area.read(&data[0], taken)) return;
            if (tag.unsynchronisedFrames || frame.unsynchronised) data = id3v2::resynchronise(data);
            std::string stored = data.substr(std::min(frame.prefixBytes(), data.size()));
            // Zeros after the data stand for the rest of the fixed buffer the frame is
            // read into: they end a text, complete a last UTF-16 unit and terminate a
            // description just as a buffer full of them would.
            stored.resize(std::min(kBufferBytes, stored.size() + kZeroTail), '\0');
            const int target = contentSlot(slot, stored);
            if (target >= 0) slots[size_t(target)].swap(stored);
        }
        if (!area.skip(frame.size - taken, tagSize)) return;
    }
}

std::wstring firstNonEmpty(const Slots& slots, Slot primary, Slot fallback) {
    std::wstring text = id3v2::frameText(slots[primary]);
    return text.empty() ? id3v2::frameText(slots[fallback]) : text;
}

// What a listening service takes beyond the names.
TrackIds idsOf(const Slots& slots) {
    TrackIds ids;
    const std::string& ufid = slots[kRecordingId];
    if (!ufid.empty())  // the identifier after the owner's terminator, ASCII, zero-ended
        ids.set(TrackId::recording, widen(ufid.substr(sizeof kMusicBrainzOwner).c_str()));
    for (int i = 0; i < kAllSlots - kReleaseId; ++i)
        ids.set(TrackId(int(TrackId::release) + i),
                id3v2::userTextValues(slots[size_t(kReleaseId + i)]));
    const std::pair<TrackId, Slot> texts[] = {{TrackId::isrc, kIsrc},
                                              {TrackId::trackNumber, kTrack},
                                              {TrackId::discNumber, kDisc},
                                              {TrackId::albumArtist, kAlbumArtist}};
    for (const auto& [id, slot] : texts) ids.set(id, id3v2::frameText(slots[slot]));
    return ids;
}

}  // namespace

void TID3v2::clear() {
    found = false;
    version = 0;
    tagSize = 0;
    title.clear();
    artist.clear();
    album.clear();
    track = 0;
    trackText.clear();
    year.clear();
    genre.clear();
    comment.clear();
    composer.clear();
    encoder.clear();
    copyright.clear();
    language.clear();
    url.clear();
    ids = TrackIds();
}

bool TID3v2::load(const std::string& fileName) {
    return load(widen(fileName));
}

bool TID3v2::load(const std::wstring& fileName) {
    ReadOnlyFile file(fileName);
    int64_t size = 0;
    file.size(size);
    return loadAll(file, size);
}

namespace {

// The frames `wanted` names into `slots`, and the tag's header into `out`. False when the
// file's first 10 bytes cannot be read; a file without a tag of versions 2 to 4 leaves
// the slots empty.
bool readSlots(TID3v2& out, ReadOnlyFile& file, int64_t fileSize, uint32_t wanted, Slots& slots) {
    FileWindow window(file, fileSize);
    unsigned char header[kHeaderBytes];
    if (window.read(0, header, kHeaderBytes) != kHeaderBytes) return false;
    if (std::memcmp(header, "ID3", 3) != 0) return true;
    out.found = true;
    const TagHeader tag = parseTagHeader(header, fileSize);
    out.version = tag.version;
    out.tagSize = tag.size;
    if (tag.version >= 2 && tag.version <= 4 && tag.size > 0)
        walkFrames(window, fileSize, tag, wanted, slots);
    return true;
}

uint32_t wantedFor(TID3v2::Fields fields) {
    uint32_t wanted = (1u << kTitle) | (1u << kGroup) | (1u << kArtist) | (1u << kOriginalArtist);
    if (fields != TID3v2::Fields::artistAndTitle)
        wanted |= (1u << kAlbum) | (1u << kOriginalAlbum) | (1u << kYear) | (1u << kRecordingTime);
    if (fields == TID3v2::Fields::forListens)
        wanted |= (1u << kAlbumArtist) | (1u << kTrack) | (1u << kDisc) | (1u << kIsrc) |
                  (1u << kRecordingId) | (1u << kUserText);
    return wanted;
}

void takeFields(TID3v2& out, const Slots& slots, TID3v2::Fields fields) {
    out.title = firstNonEmpty(slots, kTitle, kGroup);
    out.artist = firstNonEmpty(slots, kArtist, kOriginalArtist);
    if (fields == TID3v2::Fields::artistAndTitle) return;
    out.album = firstNonEmpty(slots, kAlbum, kOriginalAlbum);
    out.year = id3v2::frameText(slots[kYear]);
    // A recording time's year, cut at whole characters: junk after three digits may be a
    // four-byte character, and half its pair is no text.
    if (out.year.empty()) out.year = leadingUnits(id3v2::frameText(slots[kRecordingTime]), 4);
    if (fields == TID3v2::Fields::forListens) out.ids = idsOf(slots);
}

// The fields beyond what the plugin sends (the tests' and the benchmark's).
void takeOtherFields(TID3v2& out, const Slots& slots) {
    out.trackText = id3v2::frameText(slots[kTrack]);
    int32_t number = 0;
    if (!id3v2::parseInt32(out.trackText.substr(0, out.trackText.find(L'/')), number)) number = 0;
    out.track = static_cast<uint16_t>(number & 0xFFFF);
    out.genre = id3v2::frameText(slots[kGenre]);
    const size_t close = out.genre.rfind(L')');
    if (close != std::wstring::npos) out.genre.erase(0, close + 1);  // "(17)Rock" -> "Rock"
    out.comment = id3v2::describedText(slots[kComment], true);
    out.composer = id3v2::frameText(slots[kComposer]);
    out.encoder = id3v2::frameText(slots[kEncoder]);
    out.copyright = id3v2::frameText(slots[kCopyright]);
    out.language = id3v2::frameText(slots[kLanguage]);
    out.url = id3v2::describedText(slots[kUrl], false);
}

}  // namespace

bool TID3v2::load(ReadOnlyFile& file, int64_t fileSize, Fields fields) {
    clear();
    if (!file.isOpen()) return false;
    try {
        Slots slots;
        if (!readSlots(*this, file, fileSize, wantedFor(fields), slots)) return false;
        takeFields(*this, slots, fields);
        return true;
    } catch (...) {
        clear();
        return false;
    }
}

bool TID3v2::loadAll(ReadOnlyFile& file, int64_t fileSize) {
    clear();
    if (!file.isOpen()) return false;
    try {
        Slots slots;
        if (!readSlots(*this, file, fileSize, ~0u, slots)) return false;
        takeFields(*this, slots, Fields::forListens);
        takeOtherFields(*this, slots);
        return true;
    } catch (...) {
        clear();
        return false;
    }
}

}  // namespace nimbo
