#include "core/state.h"

namespace nimbo {

namespace {
std::atomic<bool> gQuitRequested{false};
}

std::atomic<bool> settingsDialogOpen{false};
std::atomic<bool> securityCodePending{false};
std::wstring lastTrackFile;
std::string lastPlayState;
std::string activityHash;

bool quitRequested() { return gQuitRequested.load(); }
void setQuitRequested(bool raised) { gQuitRequested = raised; }

}  // namespace nimbo
