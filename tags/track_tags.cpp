#include "tags/track_tags.h"

#include "common/platform.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"

namespace nimbo {

TrackTags readTrackTags(const std::wstring& path) {
    TrackTags tags;
    try {
        ReadOnlyFile file(path);
        int64_t fileSize = 0;
        if (!file.isOpen() || !file.size(fileSize)) return tags;
        TID3v2 v2;
        TID3v1 v1;
        v2.load(file, fileSize, TID3v2::Fields::artistAndTitle);
        if (v2.artist.empty() || v2.title.empty()) v1.load(file, fileSize);
        const bool legacy = v2.version == 2;
        if (!v2.artist.empty()) {
            tags.artist = v2.artist;
            tags.artistSource = legacy ? "ID3v2 TP1" : "ID3v2 TPE1";
        } else if (!v1.artist.empty()) {
            tags.artist = widen(v1.artist);
            tags.artistSource = "ID3v1";
        }
        if (!v2.title.empty()) {
            tags.title = v2.title;
            tags.titleSource = legacy ? "ID3v2 TT2" : "ID3v2 TIT2";
        } else if (!v1.title.empty()) {
            tags.title = widen(v1.title);
            tags.titleSource = "ID3v1";
        }
    } catch (...) {
        // Out of memory: no tag texts this time.
        tags = TrackTags();
    }
    return tags;
}

}  // namespace nimbo
