#include "tags/track_tags.h"

#include "common/platform.h"
#include "common/text.h"
#include "common/utf8.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"

namespace nimbo {

namespace {

// A status carries no zero character: a tag text ends at its first zero (old taggers
// leave the rest of an earlier text behind it), then loses its trailing blanks.
std::wstring statusValue(const std::wstring& field) {
    return trimEnds(
        field.substr(0, field.find(L'\0')), [](wchar_t) { return false; },
        [](wchar_t c) { return unsigned(c) <= 0x20; });
}

// Takes the ID3v2 text, else the ID3v1 one, naming where it came from.
void pick(std::wstring& out, const char*& source, const std::wstring& v2, const char* v2Source,
          const std::string& v1) {
    const std::wstring v1Text = statusValue(widen(v1));
    if (!v2.empty()) {
        out = v2;
        source = v2Source;
    } else if (!v1Text.empty()) {
        out = v1Text;
        source = "ID3v1";
    }
}

}  // namespace

TrackTags readTrackTags(const std::wstring& path, bool withAlbumAndYear, bool withIds) {
    TrackTags tags;
    withAlbumAndYear = withAlbumAndYear || withIds;
    try {
        ReadOnlyFile file(path);
        int64_t fileSize = 0;
        if (!file.isOpen() || !file.size(fileSize)) return tags;
        TID3v2 v2;
        TID3v1 v1;
        v2.load(file, fileSize,
                withIds            ? TID3v2::Fields::forListens
                : withAlbumAndYear ? TID3v2::Fields::withAlbumAndYear
                                   : TID3v2::Fields::artistAndTitle);
        tags.ids = v2.ids;
        for (std::wstring* field : {&v2.artist, &v2.title, &v2.album, &v2.year})
            *field = statusValue(*field);
        bool gap = v2.artist.empty() || v2.title.empty();
        if (withAlbumAndYear) gap = gap || v2.album.empty() || v2.year.empty();
        if (gap) v1.load(file, fileSize);
        const bool legacy = v2.version == 2;
        pick(tags.artist, tags.artistSource, v2.artist, legacy ? "ID3v2 TP1" : "ID3v2 TPE1",
             v1.artist);
        pick(tags.title, tags.titleSource, v2.title, legacy ? "ID3v2 TT2" : "ID3v2 TIT2", v1.title);
        if (!withAlbumAndYear) return tags;
        pick(tags.album, tags.albumSource, v2.album, legacy ? "ID3v2 TAL" : "ID3v2 TALB", v1.album);
        pick(tags.year, tags.yearSource, leadingUnits(v2.year, 4),
             legacy ? "ID3v2 TYE" : "ID3v2 TYER or TDRC", v1.year);
        tags.year = leadingUnits(tags.year, 4);
    } catch (...) {
        // Out of memory: no tag texts this time.
        tags = TrackTags();
    }
    return tags;
}

}  // namespace nimbo
