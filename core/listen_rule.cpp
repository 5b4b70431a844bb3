#include "core/listen_rule.h"

namespace nimbo {

namespace {

// Winamp's position may trail and catch up between ticks by about this much.
const uint64_t kPositionSlackMs = 500;
// Without a position, a tick counts at most this much wall time: a long gap is a
// stalled timer thread or a sleeping machine, not play.
const uint64_t kMaxBlindStepMs = 10000;
// A listened track that starts over from here is played again (repeat of one entry).
const int64_t kStartOverMs = 5000;

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
                       const PlayerSample& now) {
    active_ = true;
    spent_ = false;
    path_ = path;
    title_ = streamTitle;
    begunAt_ = now.unixSeconds;
    playedMs_ = 0;
}

bool ListenRule::feed(const std::wstring& path, const std::wstring& streamTitle,
                      const PlayerSample& now) {
    const PlayerSample last = last_;
    last_ = now;
    if (now.state == PlayState::stopped) {
        active_ = false;
        return false;
    }
    if (!active_ || path != path_ || streamTitle != title_) {
        begin(path, streamTitle, now);
    } else if (spent_ && now.positionMs >= 0 && now.positionMs < kStartOverMs &&
               last.positionMs >= kStartOverMs) {
        begin(path, streamTitle, now);
    } else if (last.state == PlayState::playing || now.state == PlayState::playing) {
        const uint64_t wallMs = now.nowMs > last.nowMs ? now.nowMs - last.nowMs : 0;
        if (now.positionMs >= 0 && last.positionMs >= 0) {
            // A seek moves the position without play: never more than the time passed.
            const int64_t advance = now.positionMs - last.positionMs;
            if (advance > 0)
                playedMs_ += uint64_t(advance) < wallMs + kPositionSlackMs
                                 ? uint64_t(advance)
                                 : wallMs + kPositionSlackMs;
        } else if (last.state == PlayState::playing && now.state == PlayState::playing) {
            playedMs_ += wallMs < kMaxBlindStepMs ? wallMs : kMaxBlindStepMs;
        }
    }
    if (now.privateTrack) spent_ = true;
    if (spent_ || !reached(playedMs_, now.lengthSeconds)) return false;
    spent_ = true;
    return true;
}

}  // namespace nimbo
