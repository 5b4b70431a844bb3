#include "plugin/update_cycle.h"

#include <mmsystem.h>

#include <atomic>

#include "core/settings.h"
#include "core/state.h"
#include "net/login.h"
#include "net/publisher.h"
#include "probe/probe.h"
#include "ui/security_code_dialog.h"

namespace nimbo {

namespace {

// Ticks in progress and the thread they run on; quit waits for the count to drop.
volatile LONG gActiveTicks = 0;
volatile DWORD gTickThread = 0;

// Set on Winamp's thread by publishingSwitched, taken by the next tick.
std::atomic<bool> gSwitchedOn{false};
std::atomic<bool> gSwitchedOff{false};

void publishStatus() {
    // A login may have taken until quit began; then nothing more goes out.
    if (quitRequested()) return;
    if (activityHash.empty()) fetchActivityHash();
    if (activityHash.empty() || quitRequested()) return;
    setActivity(composeCurrentStatus(lastTrackFile));
}

void runTick() {
    if (gSwitchedOff.exchange(false)) {
        gSwitchedOn = false;
        if (!settingsDialogOpen) clearActivity();
    }
    if (gSwitchedOn.exchange(false)) {
        lastTrackFile.clear();
        lastPlayState.clear();
    }
    if (!publishingEnabled() || settingsDialogOpen || securityCodePending) return;

    // The whole wide path: the same name in two folders, or two names the code page
    // spells alike, are different tracks.
    std::wstring filePath = currentFilePath();
    std::string state = playStateText();
    if (filePath == lastTrackFile && state == lastPlayState) return;
    // Remembered before any request: a failure is not retried until the next change.
    lastTrackFile = filePath;
    lastPlayState = state;

    const Settings settings = currentSettings();
    if (settings.NoLogin) {
        if (settings.Cookie.empty()) return;
        publishStatus();
        return;
    }
    if (settings.AuthLogin.empty() || settings.AuthPass.empty()) return;
    if (logIn(askSecurityCode)) publishStatus();
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
    InterlockedDecrement(&gActiveTicks);
}

UINT startUpdateTimer() {
    setQuitRequested(false);
    // TIME_KILL_SYNCHRONOUS makes timeKillEvent wait for a callback in flight; quit
    // only kills the timer once no tick can be waiting for Winamp's thread.
    return timeSetEvent(1000, 1000, updateTick, 100,
                        TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
}

void stopUpdateTimer(UINT timerId) {
    setQuitRequested(true);
    DWORD lastClose = 0;
    while (gActiveTicks > 0) {
        // A tick may wait for an answer from this thread's windows, or for the
        // user in a message box: answer the one, close the other.
        DWORD now = GetTickCount();
        if (now - lastClose >= 200) {
            EnumThreadWindows(gTickThread, closeWindow, 0);
            lastClose = now;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    if (timerId != 0) timeKillEvent(timerId);
}

void publishingSwitched(bool enabled) {
    (enabled ? gSwitchedOn : gSwitchedOff) = true;
}

}  // namespace nimbo
