// The JSON bodies of the ListenBrainz requests, byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/track_ids.h"

namespace nimbo {

struct ListenFields {
    std::wstring artist, title, album;
    int lengthSeconds = -1;  // -1 or 0: not known
    TrackIds ids;            // each sent only where known; the album artist never
    std::wstring playerVersion;
};

struct Listen {
    ListenFields fields;
    int64_t listenedAt = 0;  // seconds since 1970 (UTC); not sent with playingNow
};

enum class ListenType { playingNow, single, import };

// The service refuses a listen without an artist or a title: each must hold something
// other than U+0000, blanks and controls.
bool submittable(const ListenFields& fields);

// The service refuses a listen over this many bytes. It counts the listen as it writes it
// again, which may escape every character past ASCII (six bytes a unit) and put a blank
// after each separator; a listen within the bound so counted passes however it is written.
// Past it, the longest of artist, title and album are cut, at whole characters, to one
// length that fits.
constexpr size_t kMaxListenBytes = 10240;

// The most listens one import may carry. The service also refuses a request whose body
// is larger than its listens' count times kMaxListenBytes (and any past 10,240,000
// bytes): each listen is kept kListenEnvelopeBytes short of the bound, room for its
// separator and the request's envelope, so a body of bounded listens always passes.
constexpr size_t kMaxListensPerRequest = 1000;
constexpr size_t kListenEnvelopeBytes = 43;

std::string listensBody(ListenType type, const std::vector<Listen>& listens);

// Clears what this client shows as playing now.
extern const char kClearPlayingNowBody[];

}  // namespace nimbo
