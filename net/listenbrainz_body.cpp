#include "net/listenbrainz_body.h"

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

// Dropped zeros first, so the bound counts only what is sent.
std::string fieldString(const std::wstring& text) {
    return jsonString(leadingUnits(withoutNul(text), kMaxListenFieldUnits));
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

std::string listensBody(ListenType type, const std::vector<Listen>& listens) {
    std::string out = "{\"listen_type\":\"";
    out += typeWord(type);
    out += "\",\"payload\":[";
    for (const Listen& listen : listens) {
        const ListenFields& f = listen.fields;
        out += out.back() == '[' ? "{" : ",{";
        if (type != ListenType::playingNow) {
            out += "\"listened_at\":";
            out += std::to_string(listen.listenedAt);
            out += ',';
        }
        out += "\"track_metadata\":{\"artist_name\":";
        out += fieldString(f.artist);
        out += ",\"track_name\":";
        out += fieldString(f.title);
        if (f.album.find_first_not_of(L'\0') != std::wstring::npos) {
            out += ",\"release_name\":";
            out += fieldString(f.album);
        }
        out +=
            ",\"additional_info\":{\"media_player\":\"Winamp\",\"submission_client\":\"Nimbo\","
            "\"submission_client_version\":\"" NIMBO_VERSION "\"";
        if (f.lengthSeconds > 0) {
            // Whole seconds, so the milliseconds are their digits and three zeros.
            out += ",\"duration_ms\":";
            out += std::to_string(f.lengthSeconds);
            out += "000";
        }
        out += "}}}";
    }
    out += "]}";
    return out;
}

}  // namespace nimbo
