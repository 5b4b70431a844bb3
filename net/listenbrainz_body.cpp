#include "net/listenbrainz_body.h"

#include <algorithm>
#include <string>

#include "common/text.h"
#include "common/utf8.h"
#include "common/version.h"
#include "net/json.h"

namespace nimbo {

const char kClearPlayingNowBody[] = "{\"client\":\"Nimbo\"}";

namespace {

std::wstring withoutNul(const std::wstring& text) {
    std::wstring kept;
    for (wchar_t c : text)
        if (c != L'\0') kept.push_back(c);
    return kept;
}

// U+0000, blanks and other controls alone say nothing.
bool hasContent(const std::wstring& text) {
    return !trimEnds(text, [](wchar_t c) { return unsigned(c) <= 0x20; }).empty();
}

const char* typeWord(ListenType type) {
    switch (type) {
        case ListenType::playingNow:
            return "playing_now";
        case ListenType::single:
            return "single";
        case ListenType::import:
            break;
    }
    return "import";
}

}  // namespace

bool submittable(const ListenFields& fields) {
    return hasContent(fields.artist) && hasContent(fields.title);
}

namespace {

// A unit's bytes counted as the service may write it: escaped controls and past ASCII six
// (a pair twelve), `"` and `\` two.
size_t unitSize(wchar_t c) {
    if (c < 0x20 || c >= 0x80) return 6;
    return c == L'"' || c == L'\\' ? 2 : 1;
}

size_t textSize(const std::wstring& text) {
    size_t size = 0;
    for (wchar_t c : text) size += unitSize(c);
    return size;
}

// The JSON bytes as the service may count them (see kMaxListenBytes).
size_t countedSize(const std::string& json) {
    size_t size = 0;
    bool inString = false, escaped = false;
    for (const char byte : json) {
        const unsigned char c = static_cast<unsigned char>(byte);
        size += c < 0x80 ? 1 : c >= 0xF0 ? 12 : c >= 0xC0 ? 6 : 0;
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == ':' || c == ',') {
            ++size;
        }
    }
    return size;
}

// The leading whole characters of `text` that count `cap` bytes at most.
std::wstring cutTo(const std::wstring& text, size_t cap) {
    size_t size = 0, kept = 0;
    while (kept < text.size()) {
        const bool pair = kept + 1 < text.size() && isHighSurrogate(unsigned(text[kept])) &&
                          isLowSurrogate(unsigned(text[kept + 1]));
        const size_t units = pair ? 2 : 1;
        const size_t more = pair ? 12 : unitSize(text[kept]);
        if (size + more > cap) break;
        size += more;
        kept += units;
    }
    return text.substr(0, kept);
}

// What names the recording exactly, where the file says: a list as an array of
// strings, a number as a number (only digits: a queue file may have been edited).
void addIds(std::string& out, const TrackIds& ids) {
    for (int i = 0; i < kTrackIdCount; ++i) {
        const TrackId id = TrackId(i);
        const std::wstring& text = ids[id];
        const char* name = kTrackIdNames[i].listenBrainz;
        const bool number = id == TrackId::trackNumber || id == TrackId::discNumber;
        if (!name || text.empty() ||
            (number && text.find_first_not_of(L"0123456789") != std::wstring::npos))
            continue;
        out += ",\"";
        out += name;
        out += "\":";
        if (number) {
            out += encodeUtf8(text);
        } else if (id == TrackId::artists || id == TrackId::works) {
            char separator = '[';
            for (size_t at = 0; at <= text.size();) {
                const size_t comma = std::min(text.find(L',', at), text.size());
                out += separator + jsonString(text.substr(at, comma - at));
                separator = ',';
                at = comma + 1;
            }
            out += ']';
        } else {
            out += jsonString(text);
        }
    }
}

// One listen's object, its texts as given.
std::string listenObject(ListenType type, const Listen& listen) {
    const ListenFields& f = listen.fields;
    std::string out = "{";
    if (type != ListenType::playingNow) {
        out += "\"listened_at\":";
        out += std::to_string(listen.listenedAt);
        out += ',';
    }
    out += "\"track_metadata\":{\"artist_name\":";
    out += jsonString(f.artist);
    out += ",\"track_name\":";
    out += jsonString(f.title);
    if (!f.album.empty()) {
        out += ",\"release_name\":";
        out += jsonString(f.album);
    }
    out += ",\"additional_info\":{\"media_player\":\"Winamp\"";
    if (!f.playerVersion.empty()) out += ",\"media_player_version\":" + jsonString(f.playerVersion);
    out += ",\"submission_client\":\"Nimbo\",\"submission_client_version\":\"" NIMBO_VERSION "\"";
    if (f.lengthSeconds > 0) {
        // Whole seconds, so the milliseconds are their digits and three zeros.
        out += ",\"duration_ms\":";
        out += std::to_string(f.lengthSeconds);
        out += "000";
    }
    addIds(out, f.ids);
    return out + "}}}";
}

// The listen's object within its share of the request (see kListenEnvelopeBytes): the
// texts that count most are cut to one cap, the largest with which all three fit, so
// shorter texts stay whole.
std::string boundedListen(ListenType type, Listen listen) {
    ListenFields& f = listen.fields;
    std::wstring* texts[] = {&f.artist, &f.title, &f.album};
    size_t sizes[3], sum = 0;
    for (int i = 0; i < 3; ++i) {
        *texts[i] = withoutNul(*texts[i]);
        sum += sizes[i] = textSize(*texts[i]);
    }
    std::string json = listenObject(type, listen);
    const size_t counted = countedSize(json);
    const size_t bound = kMaxListenBytes - kListenEnvelopeBytes;
    if (counted <= bound) return json;
    const size_t fixed = counted - sum;
    size_t room = fixed < bound ? bound - fixed : 0;
    size_t sorted[3] = {sizes[0], sizes[1], sizes[2]};
    for (int i = 1; i < 3; ++i)  // three: an insertion sort
        for (int j = i; j > 0 && sorted[j] < sorted[j - 1]; --j)
            std::swap(sorted[j], sorted[j - 1]);
    size_t cap = 0;
    for (int i = 0; i < 3; ++i) {
        cap = room / size_t(3 - i);
        if (sorted[i] > cap) break;
        room -= sorted[i];
    }
    for (int i = 0; i < 3; ++i)
        if (sizes[i] > cap) *texts[i] = cutTo(*texts[i], cap);
    return listenObject(type, listen);
}

}  // namespace

std::string listensBody(ListenType type, const std::vector<Listen>& listens) {
    std::string out = "{\"listen_type\":\"";
    out += typeWord(type);
    out += "\",\"payload\":[";
    for (const Listen& listen : listens) {
        if (out.back() != '[') out += ',';
        out += boundedListen(type, listen);
    }
    out += "]}";
    return out;
}

}  // namespace nimbo
