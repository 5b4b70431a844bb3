// What a Last.fm 2.0 reply says, read from its JSON (format=json) or its <lfm> XML. The
// project's JSON reader takes only top-level members; these replies nest, so this file
// has a small reader of its own for both forms: bounded in depth and in the text it
// keeps, without recursion, linear in the size of the body, throwing nothing but
// bad_alloc. Broken input gives what was read before the fault.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/listen_lane.h"

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
    bool nowPlaying = false;          // a "nowplaying" member came
    int nowPlayingIgnored = -1;       // the playing-now's ignoredMessage code, or -1

    // The service's own account of a scrobble batch of `count`: whole, no error, and its
    // accepted and ignored counts add up to the batch. Another server's JSON ({}, a
    // gateway's message, a framework's error page) has no such counts.
    bool accountsFor(size_t count) const {
        return ok && accepted >= 0 && ignored >= 0 && size_t(accepted) + size_t(ignored) == count;
    }
    // The service's own answer to a playing-now: whole, no error, its "nowplaying" there.
    bool answersNowPlaying() const { return ok && nowPlaying; }
};

// JSON when the first byte that is not blank is "{", else XML.
LastFmReply readLastFmReply(const std::string& body);

// The daily scrobble limit's wait (ignoredMessage code 5).
constexpr uint64_t kDailyLimitWaitMs = 3600000;

// What became of a scrobble batch of `count` that came back with HTTP `status` (0: not
// reached) and `reply`: taken only on a 2xx that accounts for the batch, the oldest up to
// the first code 5 leaving (those ignored with codes 1-4 among them); held for error 29
// and the errors only the user can mend (9, 4, 10, 13, 26); anything else, error 6 too,
// failed: all stay.
BatchOutcome scrobbleOutcome(int status, const LastFmReply& reply, size_t count);

}  // namespace nimbo
