#include "plugin/target_worker.h"

#include <atomic>
#include <cstdint>

#include "core/state.h"

namespace nimbo {

namespace {

// One target's worker. The wake event lives as long as the module, so a tick or a
// worker of an earlier run never signals a closed handle.
struct Slot {
    HANDLE wake = nullptr;            // auto-reset: a job was handed, or the worker is to end
    std::atomic<bool> busy{false};    // claimed by the tick, until the job's end
    std::atomic<bool> queued{false};  // the job is written and not yet taken
    TargetJob job;                    // written by the tick while queued is off
    HANDLE thread = nullptr;          // this run's worker; null: jobs run on the tick
    DWORD threadId = 0;
};

Slot gSlots[kMaxTargets];
size_t gCount = 0;
// Raised by each stop: a worker of an earlier run ends once its job does.
std::atomic<unsigned> gRun{0};

void runJob(size_t index, TargetJob& job) {
    size_t count = 0;
    Target& t = *publishTargets(count)[index];
    switch (job.kind) {
        case TargetJob::Kind::send:
            // A target that sent nothing keeps nothing waiting.
            if (!t.send(job.wanted, job.settings, job.now)) t.schedule().drop();
            break;
        case TargetJob::Kind::backlog:
            t.sendBacklog(job.settings, job.now);
            break;
        case TargetJob::Kind::switchedOff:
            t.switchedOff(job.settings);
            break;
    }
}

// Runs the queued job, catching everything: nothing may escape a worker.
void takeJob(size_t index) {
    Slot& slot = gSlots[index];
    if (!slot.queued.exchange(false)) return;
    try {
        runJob(index, slot.job);
    } catch (...) {
    }
    // The last touch of the target: the tick or quit may have it from here on.
    slot.busy.store(false, std::memory_order_release);
}

DWORD WINAPI workerMain(void* context) {
    const uintptr_t word = reinterpret_cast<uintptr_t>(context);
    const size_t index = word % kMaxTargets;
    const unsigned run = unsigned(word / kMaxTargets);
    Slot& slot = gSlots[index];
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&workerMain), &module);
    while (gRun.load() == run) {
        WaitForSingleObject(slot.wake, INFINITE);
        if (gRun.load() != run) {
            // A wake meant for the next run's worker, which waits on the same event,
            // passes on to it.
            SetEvent(slot.wake);
            break;
        }
        takeJob(index);
    }
    // The reference startWorkers took for this thread goes with it.
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

bool startWorker(size_t index, unsigned run) {
    Slot& slot = gSlots[index];
    if (!slot.wake) slot.wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!slot.wake) return false;
    // Held by the thread: a worker left in a job past quit never runs unloaded code.
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&workerMain), &module))
        return false;
    const uintptr_t word = uintptr_t(run) * kMaxTargets + index;
    slot.thread =
        CreateThread(nullptr, 0, workerMain, reinterpret_cast<void*>(word), 0, &slot.threadId);
    if (slot.thread) return true;
    FreeLibrary(module);
    return false;
}

BOOL CALLBACK closeWindow(HWND window, LPARAM) {
    if (IsWindowVisible(window)) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

}  // namespace

void startWorkers(size_t count) {
    gCount = count < kMaxTargets ? count : kMaxTargets;
    const unsigned run = gRun.load();
    for (size_t i = 0; i < gCount; ++i) {
        gSlots[i].thread = nullptr;
        gSlots[i].threadId = 0;
        startWorker(i, run);
    }
}

bool workerIdle(size_t index) {
    // An ordered load is a plain read on x86: the idle tick stays free of locked steps.
    return !gSlots[index].busy.load();
}

bool claimWorker(size_t index) {
    gSlots[index].busy.store(true);
    if (!quitRequested()) return true;
    gSlots[index].busy.store(false);
    return false;
}

void releaseWorker(size_t index) {
    gSlots[index].busy.store(false, std::memory_order_release);
}

void handJob(size_t index, TargetJob&& job) {
    Slot& slot = gSlots[index];
    slot.job = std::move(job);
    slot.queued.store(true);
    if (slot.thread) {
        SetEvent(slot.wake);
    } else {
        takeJob(index);
    }
}

bool workersIdle() {
    for (size_t i = 0; i < gCount; ++i)
        if (!workerIdle(i)) return false;
    return true;
}

void closeWorkerWindows() {
    for (size_t i = 0; i < gCount; ++i)
        if (gSlots[i].threadId) EnumThreadWindows(gSlots[i].threadId, closeWindow, 0);
}

void stopWorkers(DWORD ms) {
    gRun.fetch_add(1);
    HANDLE threads[kMaxTargets];
    DWORD count = 0;
    for (size_t i = 0; i < gCount; ++i) {
        Slot& slot = gSlots[i];
        if (!slot.thread) continue;
        SetEvent(slot.wake);
        threads[count++] = slot.thread;
        slot.thread = nullptr;
        slot.threadId = 0;
    }
    if (count) WaitForMultipleObjects(count, threads, TRUE, ms);
    for (DWORD i = 0; i < count; ++i) CloseHandle(threads[i]);
}

}  // namespace nimbo
