// The ID3v2 tag at the start of an audio file (major versions 2, 3 and 4): twenty-one
// kinds of frame turned into twelve texts (UTF-16, see id3v2_text.h), a track number and
// what identifies the recording.
#pragma once

#include <cstdint>
#include <string>

#include "core/track_ids.h"

namespace nimbo {

class ReadOnlyFile;

class TID3v2 {
  public:
    TID3v2() { clear(); }

    bool found;
    uint8_t version;
    int32_t tagSize;  // header + frames (+ footer); 0 when it would pass the file's end
    std::wstring title;
    std::wstring artist;
    std::wstring album;
    uint16_t track;
    std::wstring trackText;
    std::wstring year;
    std::wstring genre;
    std::wstring comment;
    std::wstring composer;
    std::wstring encoder;
    std::wstring copyright;
    std::wstring language;
    std::wstring url;
    // MusicBrainz's UFID and TXXX frames, TSRC, TPE2, and the numbers of TRCK and TPOS.
    TrackIds ids;

    void clear();
    // True when the first 10 bytes were read, tag or not (see `found`); false when the
    // file cannot be opened or is shorter. Never throws.
    bool load(const std::wstring& fileName);
    bool load(const std::string& fileName);  // 8-bit path, system code page
    // The same on a file the caller opened (standing at its start) and its size, so
    // that one opening serves both tag versions.
    bool loadAll(ReadOnlyFile& file, int64_t fileSize);
    // What the plugin reads: with Fields::artistAndTitle only those two (the other
    // fields stay empty), what the status needs; with Fields::withAlbumAndYear also
    // album and year, for a mask that shows them; with Fields::forListens also `ids`,
    // for a listening service.
    enum class Fields { artistAndTitle, withAlbumAndYear, forListens };
    bool load(ReadOnlyFile& file, int64_t fileSize, Fields fields);
};

}  // namespace nimbo
