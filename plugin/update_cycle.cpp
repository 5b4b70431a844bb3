#include "plugin/update_cycle.h"

#include <mmsystem.h>

#include <atomic>
#include <new>
#include <optional>

#include "common/platform.h"
#include "core/activity_log.h"
#include "core/private_tracks.h"
#include "core/publish_schedule.h"
#include "core/settings.h"
#include "core/state.h"
#include "plugin/play_counter.h"
#include "plugin/target.h"
#include "plugin/target_worker.h"
#include "probe/composer.h"
#include "probe/probe.h"

namespace nimbo {

namespace {

// How long quit waits for a tick in progress, how often it looks, and how often it
// closes the tick's message boxes meanwhile.
const DWORD kQuitWaitMs = 6000;
const DWORD kQuitPollMs = 10;
const DWORD kCloseBoxesEveryMs = 200;

// The timer's period, and its user value (the callback ignores it).
const UINT kTickMs = 1000;
const DWORD_PTR kTimerUserValue = 100;

// Ticks in progress and the thread they run on; quit waits for the count to drop.
volatile LONG gActiveTicks = 0;
volatile DWORD gTickThread = 0;
std::atomic<unsigned> gTicksRun{0};

// Set on Winamp's thread by publishingSwitched, taken by the next tick (or by quit).
std::atomic<bool> gSwitchedOn{false};
std::atomic<bool> gSwitchedOff{false};

// How long quit's clears may take together, whatever the servers do.
const DWORD kQuitClearsMs = 6000;

// The targets, served in their table's order, with their place in it.
template <typename Serve>
void forEachTarget(Serve&& serve) {
    size_t count = 0;
    Target* const* targets = publishTargets(count);
    if (count > kMaxTargets) count = kMaxTargets;
    for (size_t i = 0; i < count; ++i) serve(*targets[i], i);
}

// The targets whose worker has no job: their state is the tick's.
template <typename Serve>
void forEachIdle(Serve&& serve) {
    forEachTarget([&](Target& t, size_t i) {
        if (workerIdle(i)) serve(t);
    });
}

// A tick's choice of targets, one bit each in the table's order.
template <typename Pick>
unsigned pickTargets(Pick&& pick, unsigned among = ~0u) {
    unsigned bits = 0;
    forEachTarget([&](Target& t, size_t i) {
        if ((among >> i & 1) && pick(t, i)) bits |= 1u << i;
    });
    return bits;
}

// The picked targets, claimed for a job; a claim after quit began fails.
unsigned claimTargets(unsigned bits) {
    return pickTargets([](Target&, size_t i) { return claimWorker(i); }, bits);
}

void handPicked(unsigned bits, const TargetJob& job) {
    forEachTarget([&](Target&, size_t i) {
        if (bits >> i & 1) handJob(i, TargetJob(job));
    });
}

// What the tick owes a target whose worker had a job when it came, settled once the
// worker is idle again. The tick's alone (and init's, before the timer starts).
struct Owed {
    bool reset = false;   // init found it in a job of an earlier run
    bool off = false;     // switched off: what it shows is cleared
    bool atOnce = false;  // switched on: the current track goes at once
    bool change = false;  // a change went by; what played before it:
    std::wstring path, streamTitle;
    std::string state;
};
Owed gOwed[kMaxTargets];

void settleOwed() {
    forEachTarget([](Target& t, size_t i) {
        Owed& owed = gOwed[i];
        if (!(owed.reset || owed.off || owed.atOnce) || !workerIdle(i)) return;
        if (owed.reset) t.reset();
        if (owed.atOnce) t.schedule().publishAtOnce();
        owed.reset = owed.atOnce = false;
        if (!owed.off) return;
        owed.off = false;
        t.schedule().drop();
        if (claimWorker(i))
            handJob(i, TargetJob{TargetJob::Kind::switchedOff, Wanted(), currentSettings(), 0});
    });
}

int minIntervalNow() {
    int minInterval = kDefaultMinInterval;
    readSettings([&minInterval](const Settings& s) { minInterval = s.MinInterval; });
    return minInterval;
}

// A change that went by while the target's worker was busy goes as that change would
// have, unless what plays is back to what played before it: no request without a change.
bool owedChange(Target& t, size_t i, uint64_t now) {
    Owed& owed = gOwed[i];
    if (!owed.change) return false;
    owed.change = false;
    if (owed.path == lastTrackFile && owed.streamTitle == lastStreamTitle &&
        owed.state == lastPlayState)
        return false;
    return t.schedule().change(now, minIntervalNow());
}

// What the current track and state ask the profile to show. For a listen of `listen`,
// the options' clears at pause and stop do not apply: only a private track is cleared.
Wanted wantedNow(const Settings& settings, bool withFields, const PlayingEntry* listen = nullptr) {
    Wanted wanted;
    const PrivateTracks privacy(settings.PrivateWords);
    const std::wstring& path = listen ? listen->path : lastTrackFile;
    const std::wstring& streamTitle = listen ? listen->streamTitle : lastStreamTitle;
    // The path needs no tag read and no request, so it is asked first.
    if (privacy.matches(path)) {
        wanted.clear = true;
        wanted.reason = L"private track";
        return wanted;
    }
    // The state words are the user's; the one for playing is tried first, so two
    // states sharing a word never clear a playing track.
    const bool playing = lastPlayState == localWord(L"$playing", "playing");
    if (!listen && (settings.OnPause == 1 || settings.OnStop == 1)) {
        if (!playing && settings.OnPause == 1 && lastPlayState == localWord(L"$paused", "paused")) {
            wanted.clear = true;
            wanted.reason = L"paused";
            return wanted;
        }
        if (!playing && settings.OnStop == 1 &&
            lastPlayState == localWord(L"$stopped", "stopped")) {
            wanted.clear = true;
            wanted.reason = L"stopped";
            return wanted;
        }
    }
    wanted.playing = playing;
    TrackNames names;
    wanted.status =
        composeCurrentStatus(path, streamTitle, &names, withFields ? &wanted.fields : nullptr);
    if (withFields) wanted.lengthSeconds = lengthSeconds();
    if (privacy.matches(names.artist) || privacy.matches(names.title)) {
        wanted = Wanted();
        wanted.clear = true;
        wanted.reason = L"private track";
    }
    return wanted;
}

// Hands what plays now to each target whose turn it is, composed once for all.
void publishCurrent(uint64_t now, unsigned due) {
    const unsigned claimed = claimTargets(due);
    if (!claimed) return;
    TargetJob job{TargetJob::Kind::send, Wanted(), currentSettings(), now};
    bool withFields = false;
    // A target without what it needs sends nothing, and nothing of it waits.
    const unsigned ready = pickTargets(
        [&](Target& t, size_t i) {
            if (!t.ready(job.settings)) {
                t.schedule().drop();
                releaseWorker(i);
                return false;
            }
            withFields |= t.takesFields();
            return true;
        },
        claimed);
    if (!ready) return;
    job.wanted = wantedNow(job.settings, withFields);
    handPicked(ready, job);
}

// The targets that count listens this tick.
unsigned countingTargets() {
    unsigned counting = 0;
    readSettings([&](const Settings& s) {
        counting = pickTargets([&](Target& t, size_t) { return t.countsListens(s); });
    });
    return counting;
}

// Plays are counted once for every target that keeps listens; the fields of a listen
// are composed once and frozen, and each such target gets the same.
PlayCounter gCounter;

void observeListens(const PlayingEntry& entry, uint64_t now, unsigned counting) {
    if (!counting || !gCounter.observe(entry.path, entry.streamTitle, lastPlayCode(), now)) return;
    const Wanted wanted = wantedNow(currentSettings(), true, &entry);
    // A private track leaves no trace, not even a line in the log.
    if (wanted.clear) return;
    const QueuedListen listen{gCounter.listenedAt(),      wanted.lengthSeconds,
                              wanted.fields.artist,       wanted.fields.title,
                              wanted.fields.album,        wanted.fields.ids,
                              wanted.fields.playerVersion};
    // On this thread, whatever the target's worker does: the line is on the disk before
    // anything is sent (the lane keeps its turns and this apart).
    if (quitRequested()) return;
    forEachTarget([&](Target& t, size_t i) {
        if (counting >> i & 1) t.listened(listen);
    });
}

// Work kept beside what plays now (listens that wait) goes on idle ticks; only a
// target that counts listens has any.
void sendBacklogs(uint64_t now, unsigned counting) {
    if (!counting) return;
    unsigned due = 0;
    readSettings([&](const Settings& s) {
        due = pickTargets(
            [&](Target& t, size_t i) { return workerIdle(i) && t.backlogDue(s, now); }, counting);
    });
    if (!due) return;
    const unsigned claimed = claimTargets(due);
    if (claimed) handPicked(claimed, {TargetJob::Kind::backlog, Wanted(), currentSettings(), now});
}

// Switched off since the last tick: what the targets show is cleared (settleOwed hands
// the clears, to each worker once it is idle).
void takeSwitchOff() {
    // A plain read first: the idle tick stays free of locked instructions.
    if (!gSwitchedOff.load() || !gSwitchedOff.exchange(false)) return;
    gSwitchedOn = false;
    forEachTarget([](Target&, size_t i) {
        gOwed[i].atOnce = gOwed[i].change = false;
        gOwed[i].off = true;
    });
}

// A change seen now: each idle target's schedule says whether it goes now or waits; a
// busy one is owed it, with what played before.
unsigned scheduleChange(uint64_t now, bool switchedOn) {
    const int minInterval = minIntervalNow();
    return pickTargets([&](Target& t, size_t i) {
        Owed& owed = gOwed[i];
        if (!workerIdle(i)) {
            if (!owed.change) {
                owed.change = true;
                owed.path = lastTrackFile;
                owed.streamTitle = lastStreamTitle;
                owed.state = lastPlayState;
            }
            return false;
        }
        owed.change = false;
        return t.schedule().change(now, minInterval) || switchedOn;
    });
}

// What plays, remembered when it changed, and sent where its turn has come.
void publishWhatPlays(const PlayingEntry& entry, const std::string& state, uint64_t now,
                      unsigned counting, bool switchedOn) {
    const bool changed = entry.path != lastTrackFile || entry.streamTitle != lastStreamTitle ||
                         state != lastPlayState;
    if (!changed) {
        // Idle: nothing held back, no try again due, no work kept beside it.
        const unsigned due = pickTargets([now](Target& t, size_t i) {
            return workerIdle(i) && (owedChange(t, i, now) || t.schedule().due(now));
        });
        if (due) publishCurrent(now, due);
        sendBacklogs(now, counting);
        return;
    }
    const unsigned goes = scheduleChange(now, switchedOn);
    // Remembered before any request: a later try sends what is current then.
    lastTrackFile = entry.path;
    lastStreamTitle = entry.streamTitle;
    lastPlayState = state;
    if (goes) publishCurrent(now, goes);
}

void runTick() {
    takeSwitchOff();
    settleOwed();
    if (!publishingEnabled()) {
        // Nothing waits while publishing is off; switching on publishes afresh.
        forEachIdle([](Target& t) {
            if (t.schedule().waiting()) t.schedule().drop();
        });
        return;
    }
    // The settings window may be where the user fixes what failed: nothing goes out and
    // no more tries behind it. (The security-code window holds only the site, whose
    // worker waits in it.) Plays go on counting as listens meanwhile.
    const bool held = settingsDialogOpen;
    if (held) {
        forEachIdle([](Target& t) {
            if (t.schedule().failedTries() > 0) t.schedule().endTries();
        });
    }
    const unsigned counting = countingTargets();
    // Without listens to count, a held tick asks Winamp nothing.
    if (held && !counting) return;
    // Switched on: the current track goes out now, whatever MinInterval says.
    const bool switchedOn = !held && gSwitchedOn.load() && gSwitchedOn.exchange(false);
    if (switchedOn) {
        forEachTarget([](Target& t, size_t i) {
            gOwed[i].off = false;
            if (workerIdle(i))
                t.schedule().publishAtOnce();
            else
                gOwed[i].atOnce = true;
        });
    }

    // The whole wide path: the same name in two folders, or two names the code page
    // spells alike, are different tracks. A stream's song is its playlist title.
    queryRanOut();  // forget one of the last composing, which the change test does not need
    PlayingEntry entry = currentEntry(lastTrackFile, lastStreamTitle);
    std::string state = playStateText();
    // A query that ran out is no answer: the next tick asks again.
    if (queryRanOut() || entry.waiting) return;
    const uint64_t now = cycleClockMs();
    observeListens(entry, now, counting);
    // A change seen while held is not remembered: it goes out once the window closes.
    if (!held) publishWhatPlays(entry, state, now, counting, switchedOn);
}

// quit's clear of one target on a thread of its own, beside the others.
struct QuitClear {
    Target* target;
    size_t index;
    Settings settings;
    bool anyReady;
    DWORD started;             // when quit's clears began
    HMODULE module = nullptr;  // keeps this code loaded should quit stop waiting
};

// Waits for the target's worker to end its job (quit has ended its exchanges and
// closes its boxes), then clears within what is left of quit's time. A target whose
// worker is still in its job then is its worker's: not cleared, not even asked. A
// target without credentials of its own sends nothing, unless none has any: then the
// plugin clears as it always did.
void clearOne(const QuitClear& job) {
    Target& t = *job.target;
    DWORD spent = 0;
    while (!workerIdle(job.index)) {
        spent = GetTickCount() - job.started;
        if (spent >= kQuitClearsMs) return;
        Sleep(kQuitPollMs);
    }
    if (!t.clearsAtQuit(job.settings) || (job.anyReady && !t.ready(job.settings))) return;
    ExchangeLimits limits = kQuitExchange;
    if (kQuitClearsMs - spent < limits.totalMs) limits.totalMs = kQuitClearsMs - spent;
    t.clearAtQuit(job.settings, limits);
}

DWORD WINAPI clearOnThread(void* context) {
    auto* job = static_cast<QuitClear*>(context);
    try {
        clearOne(*job);
    } catch (...) {
    }
    const HMODULE module = job->module;
    delete job;
    if (module) FreeLibraryAndExitThread(module, 0);
    return 0;
}

// quit's clear of `t` on a thread of its own; null when none could be made, and then
// it ran here.
HANDLE startClear(QuitClear job) {
    auto* own = new (std::nothrow) QuitClear(job);
    if (own) {
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(&clearOnThread), &own->module);
        if (HANDLE thread = CreateThread(nullptr, 0, clearOnThread, own, 0, nullptr)) return thread;
        if (own->module) FreeLibrary(own->module);
        delete own;
    }
    clearOne(job);
    return nullptr;
}

BOOL CALLBACK closeWindow(HWND window, LPARAM) {
    if (IsWindowVisible(window)) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// Waits until `done()`, at most until `ms` have passed since `started`, answering the
// messages sent to this thread, and closing every 200 ms the message boxes and windows
// the tick and the workers may wait in. False when the time ran out.
template <typename Done>
bool waitAnswering(DWORD started, DWORD ms, Done&& done) {
    DWORD lastClose = 0;
    while (!done()) {
        const DWORD now = GetTickCount();
        if (now - started >= ms) return false;
        if (now - lastClose >= kCloseBoxesEveryMs) {
            EnumThreadWindows(gTickThread, closeWindow, 0);
            closeWorkerWindows();
            lastClose = now;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kQuitPollMs, QS_SENDMESSAGE);
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    return true;
}

}  // namespace

void CALLBACK updateTick(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    InterlockedIncrement(&gActiveTicks);
    gTickThread = GetCurrentThreadId();
    if (!quitRequested()) {
        try {
            runTick();
        } catch (...) {
            // Nothing may escape into the timer thread (and so into Winamp).
        }
    }
    // Ticks never overlap, so this thread is the only writer: no locked add needed.
    gTicksRun.store(gTicksRun.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    InterlockedDecrement(&gActiveTicks);
}

uint64_t cycleClockMs() {
    // GetTickCount, carried past its 49-day wrap. The tick, quit's clears and a tick
    // still stuck past quit's wait may ask at once: one atomic step keeps the carry.
    static std::atomic<uint64_t> last{0};
    uint64_t seen = last.load();
    for (;;) {
        const DWORD tick = GetTickCount();
        uint64_t next = (seen & ~uint64_t(0xFFFFFFFFu)) | tick;
        if (tick < DWORD(seen)) next += uint64_t(1) << 32;
        if (last.compare_exchange_weak(seen, next)) return next;
    }
}

unsigned ticksRun() {
    return gTicksRun.load(std::memory_order_acquire);
}

UINT startUpdateTimer() {
    setQuitRequested(false);
    // A target still in a job of an earlier run (left past quit's wait) is reset once
    // that job ends.
    size_t count = 0;
    forEachTarget([&count](Target& t, size_t i) {
        gOwed[i] = Owed();
        ++count;
        if (workerIdle(i))
            t.reset();
        else
            gOwed[i].reset = true;
    });
    startWorkers(count);
    gCounter = PlayCounter();
    gSwitchedOn = false;
    gSwitchedOff = false;
    // TIME_KILL_SYNCHRONOUS makes timeKillEvent wait for a callback in flight; quit
    // only kills the timer once no tick can be waiting for Winamp's thread.
    return timeSetEvent(kTickMs, kTickMs, updateTick, kTimerUserValue,
                        TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
}

bool stopUpdateTimer(UINT timerId) {
    setQuitRequested(true);
    // Every wait of a tick ends on the quit signal or within its own bound; a tick
    // still running after that is stuck where nothing of ours can end it. The workers'
    // jobs end on the signal too; clearAtQuit waits for them.
    if (!waitAnswering(GetTickCount(), kQuitWaitMs, [] { return gActiveTicks == 0; })) return false;
    if (timerId != 0) timeKillEvent(timerId);
    return true;
}

void clearAtQuit() {
    const DWORD started = GetTickCount();
    // Switched off just before quit, before a tick could send that clear: it goes now.
    const bool switchedOff = gSwitchedOff.exchange(false);
    HANDLE threads[kMaxTargets];
    DWORD count = 0;
    if ((publishingEnabled() || switchedOff) && !settingsDialogOpen) {
        // Each target's clear waits for its own worker, beside the others; together
        // with those waits they take at most kQuitClearsMs. A worker's job counts as
        // credentials: it had them when it was handed.
        const Settings settings = currentSettings();
        const bool anyReady = pickTargets([&](Target& t, size_t i) {
                                  return !workerIdle(i) || t.ready(settings);
                              }) != 0;
        forEachTarget([&](Target& t, size_t i) {
            if (HANDLE thread = startClear({&t, i, settings, anyReady, started}))
                threads[count++] = thread;
        });
    }
    // The boxes still up close meanwhile; then the workers end (one still in its job
    // after it, holding the module).
    waitAnswering(started, kQuitClearsMs, [&] {
        return workersIdle() &&
               (count == 0 || WaitForMultipleObjects(count, threads, TRUE, 0) == WAIT_OBJECT_0);
    });
    for (DWORD i = 0; i < count; ++i) CloseHandle(threads[i]);
    const DWORD spent = GetTickCount() - started;
    stopWorkers(spent < kQuitClearsMs ? kQuitClearsMs - spent : 0);
}

void publishingSwitched(bool enabled) {
    (enabled ? gSwitchedOn : gSwitchedOff) = true;
    (enabled ? gSwitchedOff : gSwitchedOn) = false;
}

}  // namespace nimbo
