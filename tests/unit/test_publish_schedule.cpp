// When the update cycle publishes: MinInterval's gate and the tries after a failure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/publish_schedule.h"

using namespace nimbo;

namespace {

// One step of a scripted run: at `at` ms, either a change is seen (and the expected
// answer of change()), or a due publish is attempted with `result`.
struct Step {
    uint64_t at;
    char what;        // 'c': change, 'a': attempt a due publish, 'q': check due() is false
    bool publishNow;  // for 'c'
    AttemptResult result;
};

// Runs the script like the cycle does: a change that may go out now is attempted
// with `result` at once; 'a' first asserts the publish is due.
std::string run(const std::vector<Step>& steps, int minInterval) {
    PublishSchedule schedule;
    std::string trace;
    for (const Step& s : steps) {
        if (s.what == 'c') {
            const bool now = schedule.change(s.at, minInterval);
            trace += now ? "P" : "w";
            if (now) schedule.attempted(s.at, s.result);
        } else if (s.what == 'a') {
            trace += schedule.due(s.at) ? "D" : "-";
            if (schedule.due(s.at)) schedule.attempted(s.at, s.result);
        } else {
            trace += schedule.due(s.at) ? "!" : ".";
        }
    }
    return trace;
}

const AttemptResult ok = AttemptResult::done;
const AttemptResult down = AttemptResult::unreachable;
const AttemptResult user = AttemptResult::needsUser;

}  // namespace

TEST(PublishSchedule, ScriptedRuns) {
    const struct {
        const char* name;
        int minInterval;
        std::vector<Step> steps;
        const char* trace;
    } cases[] = {
        {"a burst of four skips sends the first and, once the interval is over, the last",
         5,
         {{0, 'c', true, ok},
          {500, 'c', false, ok},
          {1000, 'c', false, ok},
          {1500, 'c', false, ok},
          {4999, 'q', false, ok},
          {5000, 'a', false, ok},
          {9000, 'q', false, ok}},
         "Pwww.D."},
        {"a change after a quiet interval goes out at once",
         5,
         {{0, 'c', true, ok}, {5000, 'c', true, ok}, {20000, 'c', true, ok}},
         "PPP"},
        {"MinInterval 0 publishes every change at once",
         0,
         {{0, 'c', true, ok}, {1, 'c', true, ok}, {2, 'c', true, ok}},
         "PPP"},
        {"a site out of reach is tried after 15, 30, 60, 120 s, then every 5 min",
         5,
         {{0, 'c', true, down},
          {14999, 'q', false, ok},
          {15000, 'a', false, down},
          {44999, 'q', false, ok},
          {45000, 'a', false, down},
          {104999, 'q', false, ok},
          {105000, 'a', false, down},
          {224999, 'q', false, ok},
          {225000, 'a', false, down},
          {524999, 'q', false, ok},
          {525000, 'a', false, down},
          {824999, 'q', false, ok},
          {825000, 'a', false, ok},
          {2000000, 'q', false, ok}},
         "P.D.D.D.D.D.D."},
        {"a change replaces the pending try and restarts the count",
         5,
         {{0, 'c', true, down},
          {15000, 'a', false, down},
          {20000, 'c', true, down},
          {34999, 'q', false, ok},
          {35000, 'a', false, ok}},
         "PDP.D"},
        {"a failure that needs the user is never tried again",
         5,
         {{0, 'c', true, user}, {15000, 'q', false, ok}, {400000, 'q', false, ok}},
         "P.."},
        {"a change within the interval of a failed try waits for the interval only",
         5,
         {{0, 'c', true, down},
          {2000, 'c', false, ok},
          {4999, 'q', false, ok},
          {5000, 'a', false, ok},
          {20000, 'q', false, ok}},
         "Pw.D."},
        {"a long MinInterval also spaces the tries",
         100,
         {{0, 'c', true, down},
          {15000, 'q', false, ok},
          {99999, 'q', false, ok},
          {100000, 'a', false, ok}},
         "P..D"},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.steps, c.minInterval), c.trace) << c.name;
}

TEST(PublishSchedule, EndingTriesKeepsAHeldBackChangeButDropsATry) {
    PublishSchedule tries;
    tries.change(0, 5);
    tries.attempted(0, AttemptResult::unreachable);
    ASSERT_TRUE(tries.waiting());
    tries.endTries();
    EXPECT_FALSE(tries.due(1000000));
    EXPECT_EQ(tries.failedTries(), 0);

    PublishSchedule heldBack;
    heldBack.change(0, 5);
    heldBack.attempted(0, AttemptResult::done);
    EXPECT_FALSE(heldBack.change(1000, 5));
    heldBack.endTries();
    EXPECT_TRUE(heldBack.due(5000));
    heldBack.drop();
    EXPECT_FALSE(heldBack.due(5000));
}

TEST(PublishSchedule, PublishAtOnceIgnoresTheInterval) {
    PublishSchedule schedule;
    schedule.change(0, 3600);
    schedule.attempted(0, AttemptResult::done);
    EXPECT_FALSE(schedule.due(1));
    schedule.publishAtOnce();
    EXPECT_TRUE(schedule.due(1));
    schedule.attempted(1, AttemptResult::done);
    EXPECT_FALSE(schedule.due(2));
    EXPECT_FALSE(schedule.change(2, 3600));
}
