// The options window: private tracks, what a pause and a stop do, the least time
// between two statuses, a link to the activity log, and beside them the accounts of the
// listening services (ListenBrainz, Last.fm and the servers that speak their interfaces):
// a list, and below it the group that edits the selected one. The settings window's
// "More..." button opens it; like that window it lives on Winamp's message loop.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "core/settings.h"
#include "ui/control_table.h"
#include "ui/lastfm_connect.h"

namespace nimbo {

// Builds and shows the window over `owner` (the settings window, which stays disabled
// until this one closes), or raises the one already open. "Ok" copies the values into
// the settings; "Cancel" (or any other close) drops them.
void showOptionsDialog(HWND owner);

// Destroys the window (open or on its way out) and unregisters its class, for quit.
void closeOptionsDialogAtQuit();

// The open window, or null. Its controls carry the ids of OptionsControlId.
HWND optionsDialogWindow();

// The window's look and controls, as it is built.
const TableWindow& optionsWindowTable();

// Asks the ListenBrainz server whether `token` is good and says so in the words the
// window shows ("Valid: <user name>", "Not valid", "Not reached: <why>"). It runs on a
// thread of its own, never Winamp's; the plugin hands it in (ui/ holds no network code).
using TokenCheck = std::wstring (*)(const std::wstring& server, const std::wstring& token);
void setTokenCheck(TokenCheck check);

// What waits in account `account`'s queue file (from 0), -1 when not known; `refused` is
// set when the server refused the account's present token or session. The plugin hands
// one in for each interface. Asked for every account once as the window opens, on a
// thread of its own (a count not made yet reads the file); the window shows "..."
// (U+2026) until it is in.
using WaitingCount = long (*)(size_t account, bool& refused);
void setListensCount(WaitingCount count);
void setScrobblesCount(WaitingCount count);

// Empties account `account`'s queue file and deletes it: the account was removed with
// what waited for it. Run after "Ok" on a thread of its own (another Winamp may hold the
// file's lock).
using QueueDrop = void (*)(size_t account);
void setQueueDrops(QueueDrop listens, QueueDrop scrobbles);

// What the window calls Last.fm-style account `account` of `s` ("Libre.fm", "Last.fm
// (anna)"); ui/ does not see net/, where the servers' names are.
using LastFmName = std::wstring (*)(const Settings& s, size_t account);
void setLastFmName(LastFmName name);

// The flow behind "Connect...": a session for the typed server, API key and secret. It
// runs on a thread of its own, never Winamp's; closing the window sets `stop`.
void setLastFmConnect(LastFmConnect connect);

// Replaces the call that opens the log (tests keep the editor shut); null restores
// ShellExecuteW.
using LogOpener = void (*)(const std::wstring& path);
void setLogOpenerForTest(LogOpener opener);

}  // namespace nimbo
