// When a play counts as a listen: half the track or 4 minutes of playing, whichever
// is less. Pure: the update cycle feeds what Winamp says once a tick, with the times.
#pragma once

#include <cstdint>
#include <string>

namespace nimbo {

enum class PlayState { stopped, playing, paused };

// What the tick saw of Winamp.
struct PlayerSample {
    uint64_t nowMs = 0;       // a monotonic clock
    int64_t unixSeconds = 0;  // the wall clock (UTC): a play that begins now began then
    PlayState state = PlayState::stopped;
    int64_t positionMs = -1;  // where Winamp is in the entry; negative: not known
    int lengthSeconds = -1;   // the entry's length; 0 or negative: not known (a stream)
};

class ListenRule {
  public:
    // `path` and `streamTitle` name the entry (the title tells a stream's songs apart).
    // True at the one tick where this play reaches its threshold; each play gives at
    // most one listen, and listenedAt() then says when it began.
    bool feed(const std::wstring& path, const std::wstring& streamTitle, const PlayerSample& now);
    int64_t listenedAt() const { return begunAt_; }

  private:
    // `carriedMs` of play already belong to the new play (it began that long ago).
    void begin(const std::wstring& path, const std::wstring& streamTitle, const PlayerSample& now,
               uint64_t carriedMs = 0);
    bool playedAgain(const PlayerSample& now) const;
    void credit(const PlayerSample& last, const PlayerSample& now);

    bool active_ = false;  // a play of path_/title_ is under way
    bool spent_ = false;   // counted already
    std::wstring path_, title_;
    int64_t begunAt_ = 0;
    uint64_t playedMs_ = 0;   // the play Winamp's position (or the clock) shows
    uint64_t playingMs_ = 0;  // the clock's time while playing, since the play began
    PlayerSample last_;
    int64_t lastKnownMs_ = -1;  // the last position Winamp gave, however long ago
    uint64_t lastKnownAt_ = 0;  // and the clock then
};

}  // namespace nimbo
