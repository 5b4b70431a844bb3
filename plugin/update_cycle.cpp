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

// The targets, served in their table's order.
template <typename Serve>
void forEachTarget(Serve&& serve) {
    size_t count = 0;
    Target* const* targets = publishTargets(count);
    for (size_t i = 0; i < count; ++i) serve(*targets[i]);
}

// A tick's choice of targets, one bit each in the table's order.
template <typename Pick>
unsigned pickTargets(Pick&& pick, unsigned among = ~0u) {
    unsigned bits = 0, bit = 1;
    forEachTarget([&](Target& t) {
        if ((among & bit) && pick(t)) bits |= bit;
        bit <<= 1;
    });
    return bits;
}

// The target a tick is serving: quit clears every other one, never that one, whose
// fields the tick may still be writing.
std::atomic<Target*> gServing{nullptr};

// Serves `t` unless quit has begun. The mark goes up before the look, so either quit
// sees the mark or the tick sees quit.
template <typename Serve>
void serve(Target& t, Serve&& work) {
    gServing.store(&t);
    if (!quitRequested()) work(t);
    gServing.store(nullptr);
}

template <typename Serve>
void forPicked(unsigned bits, Serve&& work) {
    unsigned bit = 1;
    forEachTarget([&](Target& t) {
        if (bits & bit) serve(t, work);
        bit <<= 1;
    });
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

// Sends what plays now to each target whose turn it is, composing once for all.
void publishCurrent(uint64_t now, unsigned due) {
    const Settings settings = currentSettings();
    bool withFields = false;
    forEachTarget([&](Target& t) { withFields |= t.ready(settings) && t.takesFields(); });
    std::optional<Wanted> wanted;
    forPicked(due, [&](Target& t) {
        // A target without what it needs sends nothing, and nothing of it waits.
        if (!t.ready(settings) || quitRequested()) return t.schedule().drop();
        if (!wanted) wanted = wantedNow(settings, withFields);
        if (!t.send(*wanted, settings, now)) t.schedule().drop();
    });
}

// The targets that count listens this tick.
unsigned countingTargets() {
    unsigned counting = 0;
    readSettings([&](const Settings& s) {
        counting = pickTargets([&](Target& t) { return t.countsListens(s); });
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
    forPicked(counting, [&](Target& t) { t.listened(listen); });
}

// Work kept beside what plays now (listens that wait) goes on idle ticks; only a
// target that counts listens has any.
void sendBacklogs(uint64_t now, unsigned counting) {
    if (!counting) return;
    unsigned due = 0;
    readSettings([&](const Settings& s) {
        due = pickTargets([&](Target& t) { return t.backlogDue(s, now); }, counting);
    });
    if (!due || quitRequested()) return;
    const Settings settings = currentSettings();
    forPicked(due, [&](Target& t) { t.sendBacklog(settings, now); });
}

// Switched off since the last tick: what the targets show is cleared.
void takeSwitchOff() {
    // A plain read first: the idle tick stays free of locked instructions.
    if (!gSwitchedOff.load() || !gSwitchedOff.exchange(false)) return;
    gSwitchedOn = false;
    const Settings settings = currentSettings();
    forEachTarget([&](Target& t) {
        t.schedule().drop();
        serve(t, [&](Target& s) { s.switchedOff(settings); });
    });
}

// What plays, remembered when it changed, and sent where its turn has come.
void publishWhatPlays(const PlayingEntry& entry, const std::string& state, uint64_t now,
                      unsigned counting, bool switchedOn) {
    const bool changed = entry.path != lastTrackFile || entry.streamTitle != lastStreamTitle ||
                         state != lastPlayState;
    if (!changed) {
        // Idle: nothing held back, no try again due, no work kept beside it.
        const unsigned due = pickTargets([now](Target& t) { return t.schedule().due(now); });
        if (due) publishCurrent(now, due);
        sendBacklogs(now, counting);
        return;
    }
    // Remembered before any request: a later try sends what is current then.
    lastTrackFile = entry.path;
    lastStreamTitle = entry.streamTitle;
    lastPlayState = state;
    int minInterval = kDefaultMinInterval;
    readSettings([&minInterval](const Settings& s) { minInterval = s.MinInterval; });
    // Each target's own schedule says whether the change goes out now or waits.
    const unsigned goes =
        pickTargets([&](Target& t) { return t.schedule().change(now, minInterval) || switchedOn; });
    if (goes) publishCurrent(now, goes);
}

void runTick() {
    takeSwitchOff();
    if (!publishingEnabled()) {
        // Nothing waits while publishing is off; switching on publishes afresh.
        forEachTarget([](Target& t) {
            if (t.schedule().waiting()) t.schedule().drop();
        });
        return;
    }
    // The window may be where the user fixes what failed: nothing goes out and no more
    // tries behind it. Plays go on counting as listens meanwhile.
    const bool held = settingsDialogOpen || securityCodePending;
    if (held) {
        forEachTarget([](Target& t) {
            if (t.schedule().failedTries() > 0) t.schedule().endTries();
        });
    }
    const unsigned counting = countingTargets();
    // Without listens to count, a held tick asks Winamp nothing.
    if (held && !counting) return;
    // Switched on: the current track goes out now, whatever MinInterval says.
    const bool switchedOn = !held && gSwitchedOn.load() && gSwitchedOn.exchange(false);
    if (switchedOn) forEachTarget([](Target& t) { t.schedule().publishAtOnce(); });

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
    Settings settings;
    HMODULE module = nullptr;  // keeps this code loaded should quit stop waiting
};

DWORD WINAPI clearOnWorker(void* context) {
    auto* job = static_cast<QuitClear*>(context);
    try {
        job->target->clearAtQuit(job->settings, kQuitExchange);
    } catch (...) {
    }
    const HMODULE module = job->module;
    delete job;
    if (module) FreeLibraryAndExitThread(module, 0);
    return 0;
}

BOOL CALLBACK closeWindow(HWND window, LPARAM) {
    if (IsWindowVisible(window)) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
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
    forEachTarget([](Target& t) { t.reset(); });
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
    const DWORD started = GetTickCount();
    DWORD lastClose = 0;
    while (gActiveTicks > 0) {
        // Every wait of a tick ends on the quit signal or within its own bound; a
        // tick still running after that is stuck where nothing of ours can end it.
        if (GetTickCount() - started >= kQuitWaitMs) return false;
        // A tick may wait for an answer from this thread's windows, or for the
        // user in a message box: answer the one, close the other.
        DWORD now = GetTickCount();
        if (now - lastClose >= kCloseBoxesEveryMs) {
            EnumThreadWindows(gTickThread, closeWindow, 0);
            lastClose = now;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kQuitPollMs, QS_SENDMESSAGE);
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    if (timerId != 0) timeKillEvent(timerId);
    return true;
}

void clearAtQuit() {
    // Switched off just before quit, before a tick could send that clear: it goes now.
    const bool switchedOff = gSwitchedOff.exchange(false);
    if (!(publishingEnabled() || switchedOff) || settingsDialogOpen) return;
    const Settings settings = currentSettings();
    // The first target clears on this thread, as it always has; any other on a thread
    // of its own beside it, so together they take at most kQuitClearsMs.
    const DWORD started = GetTickCount();
    Target* onThisThread = nullptr;
    HANDLE workers[8];
    DWORD workerCount = 0;
    // A tick stuck past quit's wait may still be writing its target's fields. A target
    // without credentials of its own sends nothing, unless none has any: then the
    // plugin clears as it always did.
    const Target* busy = gServing.load();
    const bool anyReady = pickTargets([&](Target& t) { return t.ready(settings); }) != 0;
    forEachTarget([&](Target& t) {
        if (&t == busy || !t.clearsAtQuit(settings) || (anyReady && !t.ready(settings))) return;
        if (!onThisThread) {
            onThisThread = &t;
            return;
        }
        if (workerCount == sizeof workers / sizeof workers[0]) return;
        auto* job = new (std::nothrow) QuitClear{&t, settings};
        if (!job) return;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(&clearOnWorker), &job->module);
        HANDLE worker = CreateThread(nullptr, 0, clearOnWorker, job, 0, nullptr);
        if (worker) {
            workers[workerCount++] = worker;
        } else {
            if (job->module) FreeLibrary(job->module);
            delete job;
        }
    });
    if (onThisThread) onThisThread->clearAtQuit(settings, kQuitExchange);
    if (workerCount == 0) return;
    const DWORD spent = GetTickCount() - started;
    WaitForMultipleObjects(workerCount, workers, TRUE,
                           spent < kQuitClearsMs ? kQuitClearsMs - spent : 0);
    for (DWORD i = 0; i < workerCount; ++i) CloseHandle(workers[i]);
}

void publishingSwitched(bool enabled) {
    (enabled ? gSwitchedOn : gSwitchedOff) = true;
    (enabled ? gSwitchedOff : gSwitchedOn) = false;
}

}  // namespace nimbo
