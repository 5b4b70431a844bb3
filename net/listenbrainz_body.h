// The JSON bodies of the ListenBrainz requests, byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nimbo {

struct ListenFields {
    std::wstring artist, title, album;
    int lengthSeconds = -1;  // -1 or 0: not known
};

struct Listen {
    ListenFields fields;
    int64_t listenedAt = 0;  // seconds since 1970 (UTC); not sent with playingNow
};

enum class ListenType { playingNow, single, import };

// The service refuses a listen without an artist or a title: each must hold something
// other than U+0000, blanks and controls.
bool submittable(const ListenFields& fields);

// Each of artist, title and album keeps at most this many units, so a listen stays within
// the service's 10,240 bytes even when every unit is escaped into six.
constexpr size_t kMaxListenFieldUnits = 512;
constexpr size_t kMaxListenBytes = 10240;

std::string listensBody(ListenType type, const std::vector<Listen>& listens);

// Clears what this client shows as playing now.
extern const char kClearPlayingNowBody[];

}  // namespace nimbo
