#include "core/publish_schedule.h"

namespace nimbo {

uint32_t retryDelayMs(int failedTries) {
    static const uint32_t kDelays[] = {15000, 30000, 60000, 120000};
    const int count = int(sizeof kDelays / sizeof kDelays[0]);
    if (failedTries < 1) failedTries = 1;
    return failedTries <= count ? kDelays[failedTries - 1] : 300000;
}

bool PublishSchedule::change(uint64_t now, int minIntervalSeconds) {
    failedTries_ = 0;
    minIntervalMs_ = minIntervalSeconds > 0 ? uint64_t(minIntervalSeconds) * 1000 : 0;
    if (!published_ || now >= lastPublishAt_ + minIntervalMs_) {
        waiting_ = false;
        return true;
    }
    waiting_ = true;
    dueAt_ = lastPublishAt_ + minIntervalMs_;
    return false;
}

void PublishSchedule::attempted(uint64_t now, AttemptResult result) {
    published_ = true;
    lastPublishAt_ = now;
    if (result != AttemptResult::unreachable) {
        failedTries_ = 0;
        waiting_ = false;
        return;
    }
    ++failedTries_;
    // A try is a publish too: it keeps MinInterval's distance from the last one.
    uint64_t wait = retryDelayMs(failedTries_);
    if (wait < minIntervalMs_) wait = minIntervalMs_;
    waiting_ = true;
    dueAt_ = now + wait;
}

void PublishSchedule::endTries() {
    if (failedTries_ == 0) return;
    failedTries_ = 0;
    waiting_ = false;
}

void PublishSchedule::drop() {
    failedTries_ = 0;
    waiting_ = false;
}

void PublishSchedule::waitUntil(uint64_t at) {
    if (!waiting_ || dueAt_ < at) dueAt_ = at;
    waiting_ = true;
}

void PublishSchedule::publishAtOnce() {
    failedTries_ = 0;
    waiting_ = true;
    dueAt_ = 0;
}

}  // namespace nimbo
