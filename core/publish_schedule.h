// When the update cycle publishes: at most one status per MinInterval, and tries again
// after a failure that only came from not reaching the site. Pure: the caller passes
// the time (milliseconds of a monotonic clock) and the results, so it runs natively.
#pragma once

#include <cstdint>

namespace nimbo {

// The wait before the n-th try again (n from 1): 15 s, 30 s, 60 s, 120 s, then 5 min.
uint32_t retryDelayMs(int failedTries);

enum class AttemptResult {
    done,         // the site took it (or answered: nothing a later try could change)
    unreachable,  // no connection, a time-out, a reset, a reply cut short: try again
    needsUser,    // login rejected, logged out, security code: only the user can help
};

class PublishSchedule {
  public:
    // A change of track or state seen at `now`. True: publish now. False: it waits
    // until MinInterval has passed since the last publish, and due() says when. A
    // change replaces a pending try again.
    bool change(uint64_t now, int minIntervalSeconds);
    // A publish went out at `now` (for the current track and state) with `result`.
    void attempted(uint64_t now, AttemptResult result);
    // Whether a held-back change or a try again is due at `now`.
    bool due(uint64_t now) const { return waiting_ && now >= dueAt_; }
    bool waiting() const { return waiting_; }
    // How many tries in a row have failed to reach the site.
    int failedTries() const { return failedTries_; }
    // Quit, the settings window or Enabled off: no more tries (a held-back change
    // stays; the caller drops it with drop() where that is meant).
    void endTries();
    // Nothing is waiting any more.
    void drop();
    // Nothing goes out before `at` (a server asked to wait): what waits, or a try
    // again, is due no earlier than that.
    void waitUntil(uint64_t at);
    // The next due() is true at once, whatever MinInterval says (publishing switched on).
    void publishAtOnce();

  private:
    bool published_ = false;
    uint64_t lastPublishAt_ = 0;
    uint64_t minIntervalMs_ = 0;
    bool waiting_ = false;
    uint64_t dueAt_ = 0;
    int failedTries_ = 0;
};

}  // namespace nimbo
