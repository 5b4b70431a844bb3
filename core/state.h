// Runtime state shared by Winamp's thread, the timer thread and the targets' workers,
// and the quit signal.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

namespace nimbo {

// One-byte flags, each written on one thread and read on the other.
extern std::atomic<bool> settingsDialogOpen;   // Winamp's thread writes
extern std::atomic<bool> securityCodePending;  // the site's worker writes

// Touched by the tick on the timer thread; by init before the timer starts and by
// quit after it has stopped.
extern std::wstring lastTrackFile;    // the current entry's full path
extern std::wstring lastStreamTitle;  // for a stream, its playlist title; else empty
extern std::string lastPlayState;
// The site's: touched by its worker's jobs, by init and by quit's clear (never while
// a job of the site runs).
extern std::string activityHash;

// Raised by quit before it waits for the tick, lowered when the timer starts: a
// running tick, a login or the security-code window leaves early once it is up.
bool quitRequested();
void setQuitRequested(bool raised);
// A manual-reset event that is set exactly while the quit signal is raised, so a
// wait for the network or for a window can wake on quit instead of running out.
HANDLE quitEvent();

// Marks code of ours running on some thread's stack (a window procedure of ours, which
// a host may call quit from inside): while one runs, the library must not be unloaded.
class OurCodeRunning {
  public:
    OurCodeRunning();
    ~OurCodeRunning();
    OurCodeRunning(const OurCodeRunning&) = delete;
    OurCodeRunning& operator=(const OurCodeRunning&) = delete;
};
bool ourCodeRunning();

// Keeps this library loaded until the process ends, for when code of ours could still
// run after the host unloads it.
void pinThisModule();

}  // namespace nimbo
