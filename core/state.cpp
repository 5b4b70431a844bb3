#include "core/state.h"

namespace nimbo {

namespace {
std::atomic<bool> gQuitRequested{false};
// Made when the module loads (creating an event is safe there), closed when it unloads.
struct Event {
    HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Event() {
        if (handle) CloseHandle(handle);
    }
} gQuitEvent;
}  // namespace

std::atomic<bool> settingsDialogOpen{false};
std::atomic<bool> securityCodePending{false};
std::wstring lastTrackFile;
std::wstring lastStreamTitle;
std::string lastPlayState;
std::string activityHash;

bool quitRequested() { return gQuitRequested.load(); }
void setQuitRequested(bool raised) {
    gQuitRequested = raised;
    if (raised) {
        SetEvent(gQuitEvent.handle);
    } else {
        ResetEvent(gQuitEvent.handle);
    }
}
HANDLE quitEvent() { return gQuitEvent.handle; }

}  // namespace nimbo
