// What a Last.fm 2.0 reply says, read from its JSON (format=json) or its <lfm> XML. The
// project's JSON reader takes only top-level members; these replies nest, so this file
// has a small reader of its own for both forms: bounded in depth and in the text it
// keeps, without recursion, linear in the size of the body, throwing nothing but
// bad_alloc. Broken input gives what was read before the fault.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace nimbo {

constexpr size_t kMaxLastFmReplyText = 1024;     // units kept of a text (a message, a key)
constexpr size_t kMaxLastFmDepth = 32;           // levels of nesting taken; deeper is a fault
constexpr size_t kMaxLastFmScrobbleCodes = 100;  // ignoredMessage codes kept

struct LastFmReply {
    bool ok = false;       // a whole JSON object without "error", or a whole <lfm status="ok">
    int error = 0;         // the service's error code; 0 when it gave none
    std::wstring message;  // the error's words
    std::wstring token;
    std::wstring sessionKey, userName;
    int accepted = -1, ignored = -1;  // the scrobbles' counts; -1 when not given
    std::vector<int> ignoredCodes;    // each scrobble's ignoredMessage code, in order
    int nowPlayingIgnored = -1;       // the playing-now's ignoredMessage code, or -1
};

// JSON when the first byte that is not blank is "{", else XML.
LastFmReply readLastFmReply(const std::string& body);

}  // namespace nimbo
