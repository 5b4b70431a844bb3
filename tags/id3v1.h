// The ID3v1 / ID3v1.1 tag: the fixed 128-byte block at the very end of an audio file.
// Its texts are bytes of the system code page, as stored.
#pragma once

#include <cstdint>
#include <string>

namespace nimbo {

class ReadOnlyFile;

class TID3v1 {
  public:
    TID3v1() { clear(); }

    bool found;
    uint8_t version;  // 1 = ID3v1.0, 2 = ID3v1.1
    std::string title;
    std::string artist;
    std::string album;
    std::string year;
    std::string comment;
    uint8_t track;      // set for ID3v1.1 only
    uint8_t genreByte;  // stored as is, never translated

    void clear();
    // True when the last 128 bytes were read, tag or not (see `found`); false when the
    // file cannot be opened or read or is shorter than 128 bytes. Never throws.
    bool load(const std::wstring& fileName);
    bool load(const std::string& fileName);  // 8-bit path, system code page
    // The same on a file the caller opened and its size.
    bool load(ReadOnlyFile& file, int64_t fileSize);
};

}  // namespace nimbo
