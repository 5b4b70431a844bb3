#include "plugin/update_cycle.h"

#include <mmsystem.h>

#include <atomic>

#include "common/platform.h"
#include "core/activity_log.h"
#include "core/private_tracks.h"
#include "core/publish_schedule.h"
#include "core/settings.h"
#include "core/state.h"
#include "net/login.h"
#include "net/publisher.h"
#include "plugin/messages.h"
#include "probe/composer.h"
#include "probe/probe.h"
#include "ui/security_code_dialog.h"

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

// The rest is the timer thread's (and init's and quit's, while no tick can run).
PublishSchedule gSchedule;

// What the plugin last made the profile show. Unknown at start: a status of an
// earlier run may still stand, so the first clear is sent.
enum class Shown { unknown, status, cleared };
Shown gShown = Shown::unknown;

// The schedule's clock: GetTickCount, carried past its 49-day wrap.
uint64_t nowMs() {
    static DWORD last = 0;
    static uint64_t wraps = 0;
    const DWORD tick = GetTickCount();
    if (tick < last) wraps += uint64_t(1) << 32;
    last = tick;
    return wraps + tick;
}

AttemptResult attemptResult(const Outcome& outcome) {
    if (cutShort(outcome)) return AttemptResult::unreachable;
    if (outcome.ok()) return AttemptResult::done;
    if (outcome.kind == OutcomeKind::noConnection && outcome.stepEnd != StepEnd::abandoned)
        return AttemptResult::unreachable;
    return AttemptResult::needsUser;
}

// "try 2, " before the lines of a try again, so the log shows the run of tries.
std::wstring tryPrefix() {
    const int tries = gSchedule.failedTries();
    // std::to_string: the wide one would bring the C library's whole printf family along.
    return tries > 0 ? L"try " + widen(std::to_string(tries + 1)) + L", " : std::wstring();
}

// What the current track and state ask the profile to show.
struct Wanted {
    bool clear = false;
    std::wstring reason;  // why it is cleared: "private track", "paused", "stopped"
    std::wstring status;  // else the status text
};

Wanted wantedNow(const Settings& settings) {
    Wanted wanted;
    const PrivateTracks privacy(settings.PrivateWords);
    // The path needs no tag read and no request, so it is asked first.
    if (privacy.matches(lastTrackFile)) {
        wanted.clear = true;
        wanted.reason = L"private track";
        return wanted;
    }
    if (settings.OnPause == 1 || settings.OnStop == 1) {
        // The state words are the user's; the one for playing is tried first, so two
        // states sharing a word never clear a playing track.
        const bool playing = lastPlayState == localWord(L"$playing", "playing");
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
    TrackNames names;
    wanted.status = composeCurrentStatus(lastTrackFile, lastStreamTitle, &names);
    if (privacy.matches(names.artist) || privacy.matches(names.title)) {
        wanted.clear = true;
        wanted.reason = L"private track";
        wanted.status.clear();
    }
    return wanted;
}

// Logs a failed step and shows its message unless this is a try again (the first
// failure already followed the message rules). Returns how the schedule sees it.
AttemptResult failed(ReportedStep step, const Outcome& outcome, const std::wstring& head,
                     const std::wstring& lastHead, bool firstTry) {
    const Why why = whyFailed(outcome);
    logActivity(tryPrefix() + head + L": " + why.words, lastHead, why.brief);
    if (firstTry) report(step, outcome);
    return attemptResult(outcome);
}

// Makes sure activityHash is known; false (after logging) when it is not.
bool haveHash(const std::wstring& head, const std::wstring& lastHead, bool firstTry,
              AttemptResult& result) {
    if (!activityHash.empty()) return true;
    const Outcome fetched = fetchActivityHash();
    if (!fetched) {
        result = failed(ReportedStep::publish, fetched, head, lastHead, firstTry);
        return false;
    }
    if (activityHash.empty()) {
        // An empty value between the markers: no message, as ever, but a line.
        logActivity(tryPrefix() + head + L": the profile page holds an empty activity hash",
                    lastHead, L"no activity hash");
        result = AttemptResult::needsUser;
        return false;
    }
    return true;
}

// The clear request from the tick. Needs the cookie: a clear never logs in.
AttemptResult clearShownStatus(const std::wstring& reason, bool firstTry) {
    AttemptResult result = AttemptResult::done;
    if (!haveHash(L"status not cleared (" + reason + L")", L"not cleared", firstTry, result))
        return result;
    const Outcome cleared = clearActivity(kTickExchange);
    if (!cleared || cutShort(cleared))
        return failed(ReportedStep::publish, cleared, L"status not cleared (" + reason + L")",
                      L"not cleared", firstTry);
    gShown = Shown::cleared;
    logActivity(tryPrefix() + L"status cleared: " + reason, L"cleared", reason);
    return AttemptResult::done;
}

// The clear request goes out with the stored cookie in either mode, as at quit.
bool haveCookie(const Settings& settings) {
    return !settings.Cookie.empty();
}

bool canPublish(const Settings& settings) {
    return settings.NoLogin ? !settings.Cookie.empty()
                            : !settings.AuthLogin.empty() && !settings.AuthPass.empty();
}

// Publishes (or clears) for the track and state current now. Returns false when
// nothing went out at all (no credentials, nothing to clear).
bool publishCurrent(uint64_t now) {
    const bool firstTry = gSchedule.failedTries() == 0;
    const Settings settings = currentSettings();
    // Missing credentials end it silently, before any tag is read.
    if (!canPublish(settings) && !haveCookie(settings)) return false;
    const Wanted wanted = wantedNow(settings);

    if (wanted.clear) {
        // Decided before any login: a private track never brings up the security-code
        // window, and there is nothing to clear before the plugin has a cookie.
        if (gShown == Shown::cleared || !haveCookie(settings)) {
            if (firstTry)
                logActivity(L"not published: " + wanted.reason, L"not published", wanted.reason);
            return false;
        }
        gSchedule.attempted(now, clearShownStatus(wanted.reason, firstTry));
        return true;
    }

    if (!canPublish(settings)) return false;
    if (!settings.NoLogin) {
        const Outcome loggedIn = logIn(askSecurityCode);
        if (!loggedIn) {
            // Tried again, like a publish, only when the site could not be reached; a
            // rejected login or a code needs the user.
            const Why why = whyFailed(loggedIn);
            logActivity(tryPrefix() + (loggedIn.kind == OutcomeKind::noConnection
                                           ? L"login failed: " + why.words
                                           : why.words),
                        L"not published", why.brief);
            if (firstTry) report(ReportedStep::logIn, loggedIn);
            gSchedule.attempted(now, attemptResult(loggedIn));
            return true;
        }
        logActivity(L"logged in");
    }
    // A login may have taken until quit began; then nothing more goes out.
    if (quitRequested()) return true;

    AttemptResult result = AttemptResult::done;
    if (haveHash(L"not published", L"not published", firstTry, result) && !quitRequested()) {
        if (wanted.status.empty()) {
            // An empty status is never sent; nothing to tell, nothing to try again.
            result = AttemptResult::done;
        } else {
            const Outcome set = setActivity(wanted.status);
            if (!set || cutShort(set)) {
                result = failed(ReportedStep::publish, set, L"not published", L"not published",
                                firstTry);
            } else {
                gShown = Shown::status;
                logActivity(tryPrefix() + L"published: " + wanted.status, L"published");
            }
        }
    }
    gSchedule.attempted(now, result);
    return true;
}

// Switched off on Winamp's thread: the clear goes out from here, like every request.
void clearForSwitchOff() {
    const Settings settings = currentSettings();
    if (!haveCookie(settings) || gShown == Shown::cleared) return;
    clearShownStatus(L"publishing switched off", true);
}

void runTick() {
    // A plain read first: the idle tick stays free of locked instructions.
    if (gSwitchedOff.load() && gSwitchedOff.exchange(false)) {
        gSwitchedOn = false;
        gSchedule.drop();
        clearForSwitchOff();
    }
    if (!publishingEnabled()) {
        // Nothing waits while publishing is off; switching on publishes afresh.
        if (gSchedule.waiting()) gSchedule.drop();
        return;
    }
    if (settingsDialogOpen || securityCodePending) {
        // The window may be where the user fixes what failed: no more tries behind it.
        if (gSchedule.failedTries() > 0) gSchedule.endTries();
        return;
    }
    // Switched on: the current track goes out now, whatever MinInterval says.
    const bool switchedOn = gSwitchedOn.load() && gSwitchedOn.exchange(false);
    if (switchedOn) gSchedule.publishAtOnce();

    // The whole wide path: the same name in two folders, or two names the code page
    // spells alike, are different tracks. A stream's song is its playlist title.
    queryRanOut();  // forget one of the last composing, which the change test does not need
    PlayingEntry entry = currentEntry(lastTrackFile, lastStreamTitle);
    std::string state = playStateText();
    // A query that ran out is no answer: the next tick asks again.
    if (queryRanOut() || entry.waiting) return;
    const uint64_t now = nowMs();
    if (entry.path == lastTrackFile && entry.streamTitle == lastStreamTitle &&
        state == lastPlayState) {
        // Idle: nothing held back and no try again due.
        if (!gSchedule.due(now)) return;
    } else {
        // Remembered before any request: a later try sends what is current then.
        lastTrackFile = entry.path;
        lastStreamTitle = entry.streamTitle;
        lastPlayState = state;
        int minInterval = kDefaultMinInterval;
        readSettings([&minInterval](const Settings& s) { minInterval = s.MinInterval; });
        if (!gSchedule.change(now, minInterval) && !switchedOn) return;
    }
    if (!publishCurrent(now)) gSchedule.drop();
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

unsigned ticksRun() {
    return gTicksRun.load(std::memory_order_acquire);
}

UINT startUpdateTimer() {
    setQuitRequested(false);
    gSchedule = PublishSchedule();
    gShown = Shown::unknown;
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
    const Outcome cleared = clearActivity(kQuitExchange);
    if (cleared && !cutShort(cleared)) {
        logActivity(L"status cleared at quit");
    } else {
        logActivity(L"status not cleared at quit: " + whyFailed(cleared).words);
    }
}

void publishingSwitched(bool enabled) {
    (enabled ? gSwitchedOn : gSwitchedOff) = true;
    (enabled ? gSwitchedOff : gSwitchedOn) = false;
}

}  // namespace nimbo
