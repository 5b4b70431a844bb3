// The ID3v2 tag at the start of an audio file (major versions 2, 3 and 4): sixteen kinds
// of frame turned into twelve texts and a track number.
#pragma once

#include <cstdint>
#include <string>

namespace nimbo {

class TID3v2 {
  public:
    TID3v2() { clear(); }

    bool found;
    uint8_t version;
    int32_t tagSize;  // header + frames (+ footer); 0 when it would pass the file's end
    std::string title;
    std::string artist;
    std::string album;
    uint16_t track;
    std::string trackText;
    std::string year;
    std::string genre;
    std::string comment;
    std::string composer;
    std::string encoder;
    std::string copyright;
    std::string language;
    std::string url;

    void clear();
    // True when the first 10 bytes were read, tag or not (see `found`); false when the
    // file cannot be opened or is shorter. Never throws.
    bool load(const std::string& fileName);
};

}  // namespace nimbo
