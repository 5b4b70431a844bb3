#include "tags/id3v2.h"

#include <array>
#include <cstring>

#include "common/platform.h"
#include "tags/id3v2_text.h"

namespace nimbo {
namespace {

constexpr size_t kHeaderBytes = 10;
constexpr size_t kBufferBytes = 500;
constexpr int kSlotCount = 16;

struct FrameId {
    const char* modern;  // versions 3 and 4
    const char* legacy;  // version 2
};

// Slot order matters: the field derivation below refers to slots by position.
const FrameId kFrameIds[kSlotCount] = {
    {"TIT2", "TT2"}, {"TPE1", "TP1"}, {"TALB", "TAL"}, {"TRCK", "TRK"},
    {"TYER", "TYE"}, {"TCON", "TCO"}, {"COMM", "COM"}, {"TCOM", "TCM"},
    {"TENC", "TEN"}, {"TCOP", "TCR"}, {"TLAN", "TLA"}, {"WXXX", "WXX"},
    {"TDRC", "TOR"}, {"TOPE", "TOA"}, {"TIT1", "TT1"}, {"TOAL", "TOT"},
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
    kOriginalAlbum
};

using Slots = std::array<std::string, kSlotCount>;

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

int32_t computeTagSize(const unsigned char* header, int64_t fileSize) {
    // Each byte is taken whole, as stored; the result stays far below 2^31.
    int64_t total = (int64_t(header[6]) << 21) + (int64_t(header[7]) << 14) +
                    (int64_t(header[8]) << 7) + header[9] + kHeaderBytes;
    if (header[5] & 0x10) total += 10;  // footer
    return total > fileSize ? 0 : int32_t(total);
}

// Frames whose data cannot be read as text: ID3v2.3 compression (0x80) and encryption
// (0x40), ID3v2.4 compression (0x08) and encryption (0x04).
bool storedAsText(uint8_t version, unsigned char formatFlags) {
    if (version == 3) return (formatFlags & 0xC0) == 0;
    if (version == 4) return (formatFlags & 0x0C) == 0;
    return true;
}

void storeFrame(uint8_t version, const std::string& id, const std::string& content, Slots& slots) {
    if (content[0] != 0 && content[0] != 1) return;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const char* wanted = version > 2 ? kFrameIds[slot].modern : kFrameIds[slot].legacy;
        if (id == wanted) slots[slot] = content;
    }
}

// Where the first frame starts. An extended header (ID3v2.3/2.4 flag 0x40) is skipped by
// its own size; a size that would not fit the tag means the flag is wrong (some writers
// set it without writing the header), and the frames start right after the tag header.
int64_t firstFramePosition(ReadOnlyFile& file, const unsigned char* header, int32_t tagSize) {
    const uint8_t version = header[3];
    if (version < 3 || !(header[5] & 0x40)) return kHeaderBytes;
    unsigned char sizeBytes[4];
    if (!file.seek(kHeaderBytes) || !file.readExact(sizeBytes, 4)) return kHeaderBytes;
    // ID3v2.3 counts the bytes after the size field; ID3v2.4 counts the whole header.
    const int64_t extended =
        version == 3 ? int64_t(bigEndian(sizeBytes, 4)) + 4 : int64_t(version4Size(sizeBytes));
    const int64_t start = kHeaderBytes + extended;
    return extended >= 6 && start <= tagSize ? start : int64_t(kHeaderBytes);
}

void walkFrames(const std::string& fileName, const unsigned char* header, int32_t tagSize,
                Slots& slots) {
    ReadOnlyFile file(fileName);
    int64_t fileSize = 0;
    if (!file.isOpen() || !file.size(fileSize)) return;
    const uint8_t version = header[3];
    const size_t frameHeaderBytes = version == 2 ? 6 : 10;

    int64_t position = firstFramePosition(file, header, tagSize);
    if (!file.seek(position)) return;
    std::string buffer(kBufferBytes, '\0');
    while (position < tagSize && position < fileSize) {
        unsigned char frameHeader[10];
        if (!file.readExact(frameHeader, frameHeaderBytes)) return;
        if (frameHeader[0] < 'A' || frameHeader[0] > 'Z') return;  // padding, footer, junk

        uint32_t size;
        if (version == 2)
            size = bigEndian(frameHeader + 3, 3);
        else if (version == 3)
            size = bigEndian(frameHeader + 4, 4);
        else
            size = version4Size(frameHeader + 4);
        // No tag holds a frame this large (tag sizes stay below 2^28 + 20); the header is
        // damaged and nothing after it can be trusted.
        if (size >= 0x80000000u) return;

        const int64_t dataStart = position + int64_t(frameHeaderBytes);
        buffer.assign(kBufferBytes, '\0');
        const size_t wanted = size < kBufferBytes ? size : kBufferBytes;
        if (!file.readExact(&buffer[0], wanted)) return;
        if (version == 2 || storedAsText(version, frameHeader[9])) {
            const std::string id(reinterpret_cast<const char*>(frameHeader), version == 2 ? 3 : 4);
            storeFrame(version, id, buffer, slots);
        }
        position = dataStart + size;
        if (!file.seek(position)) return;
    }
}

std::string firstNonEmpty(const Slots& slots, Slot primary, Slot fallback) {
    std::string text = id3v2::frameText(slots[primary]);
    return text.empty() ? id3v2::frameText(slots[fallback]) : text;
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
}

bool TID3v2::load(const std::string& fileName) {
    clear();
    try {
        unsigned char header[kHeaderBytes];
        int64_t fileSize = 0;
        {
            ReadOnlyFile file(fileName);
            if (!file.isOpen() || file.read(header, kHeaderBytes) != kHeaderBytes ||
                !file.size(fileSize))
                return false;
        }
        if (std::memcmp(header, "ID3", 3) != 0) return true;

        found = true;
        version = header[3];
        tagSize = computeTagSize(header, fileSize);
        if (version < 2 || version > 4 || tagSize <= 0) return true;

        Slots slots;
        walkFrames(fileName, header, tagSize, slots);

        title = firstNonEmpty(slots, kTitle, kGroup);
        artist = firstNonEmpty(slots, kArtist, kOriginalArtist);
        album = firstNonEmpty(slots, kAlbum, kOriginalAlbum);
        trackText = id3v2::frameText(slots[kTrack]);
        int32_t number = 0;
        if (!id3v2::parseInt32(trackText.substr(0, trackText.find('/')), number)) number = 0;
        track = static_cast<uint16_t>(number & 0xFFFF);
        year = id3v2::frameText(slots[kYear]);
        if (year.empty()) year = id3v2::frameText(slots[kRecordingTime]).substr(0, 4);
        genre = id3v2::frameText(slots[kGenre]);
        const size_t close = genre.rfind(')');
        if (close != std::string::npos) genre.erase(0, close + 1);  // "(17)Rock" -> "Rock"
        comment = id3v2::describedText(slots[kComment], true);
        composer = id3v2::frameText(slots[kComposer]);
        encoder = id3v2::frameText(slots[kEncoder]);
        copyright = id3v2::frameText(slots[kCopyright]);
        language = id3v2::frameText(slots[kLanguage]);
        url = id3v2::describedText(slots[kUrl], false);
        return true;
    } catch (...) {
        clear();
        return false;
    }
}

}  // namespace nimbo
