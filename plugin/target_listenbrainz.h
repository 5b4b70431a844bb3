// ListenBrainz's "playing now", set and cleared with the user's token.
#pragma once

#include <cstddef>
#include <string>

#include "plugin/target.h"

namespace nimbo {

// The target of account `account` (0 to kAccounts - 1).
Target& listenBrainzTarget(size_t account);

// The options window's "Check": whether the server takes `token`, in the window's words.
std::wstring checkListenBrainzToken(const std::wstring& server, const std::wstring& token);

// The listens waiting in the first account's queue file for the options window; -1 when it cannot
// be read.
long listensWaiting();

}  // namespace nimbo
