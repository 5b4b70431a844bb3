// The once-a-second tick that notices a change of track or playback state.
#pragma once

#include <windows.h>

namespace nimbo {

void CALLBACK updateTick(UINT timerId, UINT message, DWORD_PTR user, DWORD_PTR, DWORD_PTR);

// Starts the periodic timer; 0 when the system refused it.
UINT startUpdateTimer();
// Stops the timer once no tick runs; no new tick does anything after this, and no
// target's worker gets a new job. Safe to call from the thread that owns windows a
// tick may be sending to: it keeps answering sent messages and closes message boxes.
// Waits at most 6 s: false when a tick was still running then, and the timer is left
// running (each of its calls returns at once), so the library must stay loaded.
bool stopUpdateTimer(UINT timerId);

// How many ticks have run to their end since the library was loaded (tests count them
// instead of guessing from the clock).
unsigned ticksRun();

// quit's clear requests (when publishing is on, or was just switched off, and the
// settings window is closed), after the timer has stopped; logs what came of them.
// Each waits for its target's worker to end its job (quit's signal ends its exchanges,
// and the message boxes and the security-code window it waits in are closed meanwhile);
// a target whose worker is still in its job is not cleared. Then the workers end. At
// most 6 s in all; a worker or a clear still running then holds the library itself.
void clearAtQuit();

// Called on Winamp's thread right after `Enabled` was switched. Off: the status is
// cleared at once (the clear request, on each target's worker). On: the current track is
// published on the next tick, without waiting for MinInterval.
void publishingSwitched(bool enabled);

}  // namespace nimbo
