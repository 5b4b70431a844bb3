#include "plugin/state.h"

namespace nimbo {

std::atomic<bool> settingsDialogOpen{false};
std::atomic<bool> securityCodePending{false};
std::string lastTrackFile;
std::string lastPlayState;
std::string activityHash;

}  // namespace nimbo
