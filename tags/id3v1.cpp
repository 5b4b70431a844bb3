#include "tags/id3v1.h"

#include <cstring>

#include "common/platform.h"
#include "common/text.h"

namespace nimbo {
namespace {

constexpr int kTagBytes = 128;

// The field at full width with its trailing blanks and control bytes removed; bytes
// inside the text (zero bytes included) and at its start stay as stored.
std::string fieldText(const unsigned char* tag, size_t offset, size_t width) {
    return trimEnds(
        std::string(reinterpret_cast<const char*>(tag) + offset, width), [](char) { return false; },
        [](char c) { return static_cast<unsigned char>(c) <= 0x20; });
}

}  // namespace

void TID3v1::clear() {
    found = false;
    version = 1;
    title.clear();
    artist.clear();
    album.clear();
    year.clear();
    comment.clear();
    track = 0;
    genreByte = 255;
}

bool TID3v1::load(const std::string& fileName) {
    return load(widen(fileName));
}

bool TID3v1::load(const std::wstring& fileName) {
    ReadOnlyFile file(fileName);
    int64_t size = 0;
    file.size(size);
    return load(file, size);
}

bool TID3v1::load(ReadOnlyFile& file, int64_t fileSize) {
    clear();
    if (!file.isOpen()) return false;
    try {
        unsigned char tag[kTagBytes];
        if (fileSize < kTagBytes || !file.seek(fileSize - kTagBytes) ||
            !file.readExact(tag, kTagBytes))
            return false;
        if (std::memcmp(tag, "TAG", 3) != 0) return true;

        found = true;
        // ID3v1.1 keeps the track in the comment's last byte behind a zero (or, from
        // some writers, a space) in the byte before it.
        const bool v11 =
            (tag[125] == 0x00 && tag[126] != 0x00) || (tag[125] == 0x20 && tag[126] != 0x20);
        version = v11 ? 2 : 1;
        title = fieldText(tag, 3, 30);
        artist = fieldText(tag, 33, 30);
        album = fieldText(tag, 63, 30);
        year = fieldText(tag, 93, 4);
        comment = fieldText(tag, 97, v11 ? 28 : 30);
        if (v11) track = tag[126];
        genreByte = tag[127];
        return true;
    } catch (...) {
        clear();
        return false;
    }
}

}  // namespace nimbo
