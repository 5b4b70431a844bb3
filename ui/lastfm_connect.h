// The options window's "Connect..." for Last.fm: the plugin's connect flow on a thread of
// its own, so that Winamp's window never waits for the browser or the network.
#pragma once

#include <windows.h>

#include <atomic>
#include "common/function_ref.h"
#include <string>

namespace nimbo {

// What the flow came to: the session and the name it was given for when `ok`, and the
// label's words either way. ui/ may not see net/, so the plugin fills this from its own.
struct ConnectResult {
    bool ok = false;
    std::wstring session, user;
    std::wstring words;
};

// The flow the plugin hands in (ui/ holds no network code): `said` gets each text for
// the window's label, `showPage` the address where the user allows the plugin (opened in
// the browser here, never after a stop), `stop` asks it to end early.
using LastFmConnect = ConnectResult (*)(const std::wstring& server, const std::wstring& key,
                                        const std::wstring& secret,
                                        FunctionRef<void(const std::wstring&)> said,
                                        FunctionRef<void(const std::wstring&)> showPage,
                                        const std::atomic<bool>& stop);

// Opens an address in the browser; false when nothing could open it. Tests replace it
// (null restores ShellExecuteW).
using BrowserOpener = bool (*)(const std::wstring& address);
void setBrowserOpenerForTest(BrowserOpener opener);

// One attempt, shared by the window and its thread: whichever lets go last frees it.
struct ConnectJob;

// Runs `connect` with the three values on a new thread, which posts `saidMessage` to
// `window` after each text it says and `doneMessage` once the result is in (lParam: the
// job). The window's reference, or null when no thread could be started.
ConnectJob* startConnect(LastFmConnect connect, const std::wstring& server, const std::wstring& key,
                         const std::wstring& secret, HWND window, UINT saidMessage,
                         UINT doneMessage);

// The last text the flow said; empty before the first.
std::wstring lastSaid(ConnectJob& job);
// The permission page's address when the browser could not open it (the window offers
// it to copy); empty otherwise. Posted like a text.
std::wstring pageToCopy(ConnectJob& job);

// The flow's result; read only after `doneMessage` came.
const ConnectResult& connectResult(const ConnectJob& job);

// Asks the flow to end; it says nothing more, but still posts `doneMessage`.
void stopConnect(ConnectJob& job);
bool connectStopped(const ConnectJob& job);

// Lets go of the window's reference; the thread posts nothing after that.
void releaseConnect(ConnectJob* job);

// Quit: waits at most `ms` for every thread started here to end (the windows have asked
// them to stop already).
void waitForConnectThreads(DWORD ms);

}  // namespace nimbo
