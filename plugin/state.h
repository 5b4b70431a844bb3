// Runtime state shared by Winamp's thread and the timer thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

namespace nimbo {

// One-byte flags, each written on one thread and read on the other.
extern std::atomic<bool> settingsDialogOpen;   // Winamp's thread writes
extern std::atomic<bool> securityCodePending;  // timer thread writes

// Touched by the tick on the timer thread; by init before the timer starts and by
// quit after it has stopped.
extern std::string lastTrackFile;
extern std::string lastPlayState;
extern std::string activityHash;

}  // namespace nimbo
