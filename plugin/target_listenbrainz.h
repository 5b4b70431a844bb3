// ListenBrainz's "playing now", set and cleared with the user's token.
#pragma once

#include <string>

#include "plugin/target.h"

namespace nimbo {

extern const wchar_t kListenBrainzTokenRejected[];

Target& listenBrainzTarget();

// The options window's "Check": whether the server takes `token`, in the window's words.
std::wstring checkListenBrainzToken(const std::wstring& server, const std::wstring& token);

// The listens waiting in the queue file for the options window; -1 when it cannot be read.
long listensWaiting();

}  // namespace nimbo
