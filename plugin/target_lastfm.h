// Last.fm and the servers that speak its 2.0 interface (Libre.fm, others): the playing
// track and scrobbles, signed with the API account's secret, sent with the session the
// user allowed in the browser.
#pragma once

#include <atomic>
#include "common/function_ref.h"
#include <string>

#include "net/lastfm.h"
#include "plugin/target.h"

namespace nimbo {

// The target of account `account` (0 to kAccounts - 1).
Target& lastFmTarget(size_t account);

// For the options window, off Winamp's thread: the scrobbles waiting in account
// `account`'s queue file (-1 when it cannot be read) and whether the service refused the
// account's present session; the queue emptied for a removed account; its name.
long scrobblesWaiting(size_t account, bool& refused);
void dropScrobbles(size_t account);
std::wstring lastFmAccountName(const Settings& s, size_t account);

// The options window's "Connect...": a token from the server, the page where the user
// allows it handed to `showPage` (which opens the browser), then the session asked for
// every 3 s for up to 10 minutes. Runs off Winamp's thread; `said` gets each label for
// the window, `stop` (the window closed) or quit end it early.
LastFmConnection connectLastFm(const std::wstring& server, const std::wstring& key,
                               const std::wstring& secret,
                               FunctionRef<void(const std::wstring&)> said,
                               FunctionRef<void(const std::wstring&)> showPage,
                               const std::atomic<bool>& stop);

}  // namespace nimbo
