#include "core/listen_rule.h"

#include <algorithm>

namespace nimbo {

namespace {

// Winamp's position may trail and catch up between ticks by about this much.
const uint64_t kPositionSlackMs = 500;
// Over a whole play the position may run ahead of the clock by no more than this:
// skimming forward through a track is no listening.
const uint64_t kPlaySlackMs = 1000;
// Without a position, a tick counts at most this much wall time: a long gap is a
// stalled timer thread or a sleeping machine, not play.
const uint64_t kMaxBlindStepMs = 10000;
// A listened track that goes back to here is played again (repeat of one entry); a
// first tick that comes late after the start over finds it further on by that much.
const int64_t kStartOverMs = 5000;
// Without a position, play this far past the length is the entry's next round.
const uint64_t kRepeatSlackMs = 5000;

const uint64_t kCapMs = 240000;
const int kShortestSeconds = 30;

bool reached(uint64_t playedMs, int lengthSeconds) {
    if (lengthSeconds <= 0) return playedMs >= kCapMs;
    if (lengthSeconds < kShortestSeconds) return false;
    const uint64_t half = uint64_t(lengthSeconds) * 500;
    return playedMs >= (half < kCapMs ? half : kCapMs);
}

}  // namespace

void ListenRule::begin(const std::wstring& path, const std::wstring& streamTitle,
                       const PlayerSample& now, uint64_t carriedMs) {
    active_ = true;
    spent_ = false;
    path_ = path;
    title_ = streamTitle;
    begunAt_ = now.unixSeconds - int64_t(carriedMs / 1000);
    playedMs_ = carriedMs;
    playingMs_ = carriedMs;
}

// Back near the start, against the last position given (so a tick without one at the
// start over hides nothing) and allowing for the time since it came. A jump back
// anywhere else is a rewind: the same play, which has counted already.
bool ListenRule::playedAgain(const PlayerSample& now) const {
    if (!spent_ || now.positionMs < 0 || lastKnownMs_ < 0) return false;
    const uint64_t sinceMs = now.nowMs > lastKnownAt_ ? now.nowMs - lastKnownAt_ : 0;
    const bool nearStart = uint64_t(now.positionMs) < uint64_t(kStartOverMs) + sinceMs;
    return nearStart && now.positionMs + int64_t(kPositionSlackMs) < lastKnownMs_;
}

void ListenRule::credit(const PlayerSample& last, const PlayerSample& now) {
    if (last.state != PlayState::playing && now.state != PlayState::playing) return;
    const uint64_t wallMs = now.nowMs > last.nowMs ? now.nowMs - last.nowMs : 0;
    playingMs_ += wallMs;
    if (now.positionMs >= 0 && last.positionMs >= 0) {
        // A seek moves the position without play: never more than the time passed.
        const int64_t advance = now.positionMs - last.positionMs;
        if (advance > 0) playedMs_ += std::min(uint64_t(advance), wallMs + kPositionSlackMs);
    } else if (last.state == PlayState::playing && now.state == PlayState::playing) {
        playedMs_ += std::min(wallMs, kMaxBlindStepMs);
    }
    playedMs_ = std::min(playedMs_, playingMs_ + kPlaySlackMs);
}

bool ListenRule::feed(const std::wstring& path, const std::wstring& streamTitle,
                      const PlayerSample& now) {
    const PlayerSample last = last_;
    last_ = now;
    if (now.state == PlayState::stopped) {
        active_ = false;
        return false;
    }
    const bool again = playedAgain(now);
    if (now.positionMs >= 0) {
        lastKnownMs_ = now.positionMs;
        lastKnownAt_ = now.nowMs;
    }
    if (!active_ || path != path_ || streamTitle != title_ || again) {
        begin(path, streamTitle, now);
    } else {
        credit(last, now);
        const uint64_t lengthMs = now.lengthSeconds > 0 ? uint64_t(now.lengthSeconds) * 1000 : 0;
        if (now.positionMs < 0 && lengthMs > 0 && playedMs_ > lengthMs + kRepeatSlackMs)
            begin(path, streamTitle, now, playedMs_ - lengthMs);
    }
    if (spent_ || !reached(playedMs_, now.lengthSeconds)) return false;
    spent_ = true;
    return true;
}

}  // namespace nimbo
