// Each target's sending, on a thread of its own. The tick decides what goes and when;
// a target's worker does the going, so a message box, the security-code window or a
// slow server holds only that target, never the count or the other targets.
//
// One job at a time per target. While a worker has a job (from the tick's claim until
// the job's end) the target is its alone: the tick touches none of its state but
// countsListens and listened, and quit does not clear it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/settings.h"
#include "plugin/target.h"

namespace nimbo {

// What a worker is asked to do.
struct TargetJob {
    enum class Kind { send, backlog, switchedOff };
    Kind kind = Kind::send;
    Wanted wanted;  // send: what to show, composed on the tick
    Settings settings;
    uint64_t now = 0;
};

// The most targets a table may hold: four accounts of each listening service and the
// site. A target is one bit of the tick's `unsigned` masks.
const size_t kMaxTargets = 16;

// Starts a worker for each of the `count` targets (init). A target whose worker of an
// earlier run is still in a job keeps that job until it ends.
void startWorkers(size_t count);

// Whether target `index` has no job: its state is the tick's. A plain read, for the
// idle tick.
bool workerIdle(size_t index);

// Claims target `index` (idle) for a job. The mark goes up before the look at quit, so
// either quit sees the claim or the claim sees quit: false, and nothing is claimed.
bool claimWorker(size_t index);
// Gives a claimed target back without a job.
void releaseWorker(size_t index);
// Hands the claimed target its job; the worker gives the target back at the job's end.
// Without a worker (its thread could not be made) the job runs here.
void handJob(size_t index, TargetJob&& job);

// Quit: whether every worker is without a job; closes the message boxes and windows
// their jobs wait in; then tells the workers to end and waits for them at most `ms`.
// A worker left in its job ends once the job does (it keeps the module loaded).
bool workersIdle();
void closeWorkerWindows();
void stopWorkers(DWORD ms);

}  // namespace nimbo
