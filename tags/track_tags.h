// What the status needs of a file's tags: artist and title, and album and year for a
// mask that shows them. The ID3v2 tag first, the ID3v1 block for what it leaves empty.
#pragma once

#include <string>

#include "core/track_ids.h"

namespace nimbo {

struct TrackTags {
    std::wstring artist, title, album, year;  // empty where neither tag has one
    // Where each came from ("ID3v2 TPE1", "ID3v1", ...); empty with the text.
    const char* artistSource = "";
    const char* titleSource = "";
    const char* albumSource = "";
    const char* yearSource = "";
    TrackIds ids;  // the ID3v2 tag's, when asked for
};

// Opens the file once and reads its start in one go; the block at the end is read
// only when the tag at the start leaves a gap. Album and year (and their frames) are
// read only when `withAlbumAndYear`, the IDs only when `withIds` (which brings album
// and year too); a year is its first four characters. ID3v1 texts are code-page bytes,
// widened here. Never throws; an unreadable file gives empty texts.
TrackTags readTrackTags(const std::wstring& path, bool withAlbumAndYear = false,
                        bool withIds = false);

}  // namespace nimbo
