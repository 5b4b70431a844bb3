#include "core/track_ids.h"

#include "common/text.h"

namespace nimbo {

const TrackIdNames kTrackIdNames[kTrackIdCount] = {
    {"recording_mbid", L"MUSICBRAINZ_TRACKID"},
    {"release_mbid", L"MUSICBRAINZ_ALBUMID"},
    {"artist_mbids", L"MUSICBRAINZ_ARTISTID"},
    {"release_group_mbid", L"MUSICBRAINZ_RELEASEGROUPID"},
    {"track_mbid", L"MUSICBRAINZ_RELEASETRACKID"},
    {"work_mbids", L"MUSICBRAINZ_WORKID"},
    {"isrc", L"ISRC"},
    {"tracknumber", L"track"},
    {"discnumber", L"disc"},
    {nullptr, L"albumartist"},
};

namespace {

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

std::wstring trimmed(const std::wstring& text) {
    return trimEnds(text, isBlank);
}

// The IDs among the items of a list, each once, joined by ",".
std::wstring idList(const std::wstring& text) {
    std::wstring ids, item;
    for (size_t i = 0; i <= text.size(); ++i) {
        const wchar_t c = i < text.size() ? text[i] : L'/';
        if (c != L'/' && c != L';' && c != L',') {
            if (!isBlank(c)) item += c;
            continue;
        }
        if (isMbid(item) && (L"," + ids + L",").find(L"," + item + L",") == std::wstring::npos)
            ids += (ids.empty() ? L"" : L",") + item;
        item.clear();
    }
    return ids;
}

// The digits of the number before any "/", when it lies in 1..9999.
std::wstring numberText(const std::wstring& text) {
    const std::wstring number = trimmed(text.substr(0, text.find(L'/')));
    size_t zeros = 0;
    while (zeros < number.size() && number[zeros] == L'0') ++zeros;
    const std::wstring digits = number.substr(zeros);
    if (digits.empty() || digits.size() > 4) return std::wstring();
    for (const wchar_t c : digits)
        if (c < L'0' || c > L'9') return std::wstring();
    return digits;
}

}  // namespace

void TrackIds::set(TrackId id, const std::wstring& raw) {
    std::wstring& text = texts[int(id)];
    switch (id) {
        case TrackId::artists:
        case TrackId::works:
            text = idList(raw);
            break;
        case TrackId::trackNumber:
        case TrackId::discNumber:
            text = numberText(raw);
            break;
        case TrackId::isrc:
        case TrackId::albumArtist:
            text = trimmed(raw);
            break;
        default:
            text = trimmed(raw);
            if (!isMbid(text)) text.clear();
    }
}

bool TrackIds::empty() const {
    for (const std::wstring& text : texts)
        if (!text.empty()) return false;
    return true;
}

bool isMbid(const std::wstring& text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        const bool hyphenPlace = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex =
            (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
        if (hyphenPlace ? c != L'-' : !hex) return false;
    }
    return true;
}

}  // namespace nimbo
