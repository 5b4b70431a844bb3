// Plays that count as listens, counted once a tick for every target that keeps them,
// so Winamp is asked the same questions whether one target counts listens or several.
#pragma once

#include <cstdint>
#include <string>

#include "core/listen_rule.h"

namespace nimbo {

class PlayCounter {
  public:
    // The entry and Winamp's play state (1 playing, 3 paused, else stopped), once a
    // tick; true at the tick where a listen is reached.
    bool observe(const std::wstring& path, const std::wstring& streamTitle, int playCode,
                 uint64_t now);
    // When the play that gave the listen began (seconds since 1970, UTC).
    int64_t listenedAt() const { return rule_.listenedAt(); }

  private:
    int askedLength(const std::wstring& path, const std::wstring& streamTitle, int playCode,
                    uint64_t now);

    ListenRule rule_;
    std::wstring path_, title_;  // the entry length_ belongs to
    int length_ = -1;
    int lengthAsks_ = 0;        // asks while the length was not known yet
    uint64_t lengthAskAt_ = 0;  // and when the next may go
};

}  // namespace nimbo
