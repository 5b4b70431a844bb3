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
volatile LONG gOurCodeRunning = 0;
}  // namespace

std::atomic<bool> settingsDialogOpen{false};
std::atomic<bool> securityCodePending{false};
std::wstring lastTrackFile;
std::wstring lastStreamTitle;
std::string lastPlayState;
std::string activityHash;

bool quitRequested() {
    return gQuitRequested.load();
}
void setQuitRequested(bool raised) {
    gQuitRequested = raised;
    if (raised) {
        SetEvent(gQuitEvent.handle);
    } else {
        ResetEvent(gQuitEvent.handle);
    }
}
HANDLE quitEvent() {
    return gQuitEvent.handle;
}

OurCodeRunning::OurCodeRunning() {
    InterlockedIncrement(&gOurCodeRunning);
}
OurCodeRunning::~OurCodeRunning() {
    InterlockedDecrement(&gOurCodeRunning);
}
bool ourCodeRunning() {
    return gOurCodeRunning > 0;
}

void pinThisModule() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&pinThisModule), &self);
}

}  // namespace nimbo
