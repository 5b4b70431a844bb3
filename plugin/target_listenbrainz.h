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

// For the options window, off Winamp's thread: the listens waiting in account `account`'s
// queue file (-1 when it cannot be read) and whether the server refused the account's
// present token; the queue emptied for a removed account.
long listensWaiting(size_t account, bool& refused);
void dropListens(size_t account);

}  // namespace nimbo
