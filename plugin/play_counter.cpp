#include "plugin/play_counter.h"

#include "common/platform.h"

#include "probe/probe.h"

namespace nimbo {

namespace {

// While Winamp does not know an entry's length (a file it has not scanned yet, a
// stream), it is asked each tick for this many ticks, then every kLengthAskMs.
constexpr int kEagerLengthAsks = 10;
constexpr uint64_t kLengthAskMs = 30000;

}  // namespace

int PlayCounter::askedLength(const std::wstring& path, const std::wstring& streamTitle,
                             int playCode, uint64_t now) {
    if (path != path_ || streamTitle != title_) {
        path_ = path;
        title_ = streamTitle;
        lengthAsks_ = 0;
        lengthAskAt_ = 0;
        length_ = -1;
    }
    if (length_ <= 0 && playCode == 1 && now >= lengthAskAt_) {
        length_ = lengthSeconds();
        if (++lengthAsks_ >= kEagerLengthAsks) lengthAskAt_ = now + kLengthAskMs;
    }
    return length_;
}

bool PlayCounter::observe(const std::wstring& path, const std::wstring& streamTitle, int playCode,
                          uint64_t now) {
    PlayerSample sample;
    sample.lengthSeconds = askedLength(path, streamTitle, playCode, now);
    // The position tells a seek from play and a track played again from the start.
    if (playCode == 1 || playCode == 3) sample.positionMs = positionMs();
    sample.nowMs = now;
    sample.unixSeconds = unixSecondsNow();
    sample.state = playCode == 1   ? PlayState::playing
                   : playCode == 3 ? PlayState::paused
                                   : PlayState::stopped;
    return rule_.feed(path, streamTitle, sample);
}

}  // namespace nimbo
