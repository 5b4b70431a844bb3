// The settings dialog: a modeless window on Winamp's user-interface thread.
#pragma once

#include <windows.h>

namespace nimbo {

// Builds and shows the dialog, or raises the one already open. Returns at once; the
// window lives on the calling thread's message loop until "Ok" or "Cancel".
void showSettingsDialog();

// The open dialog's window, or null when none is open. Control n of the dialog's
// table (1 to 17, in creation order) has the id 100 + n.
HWND settingsDialogWindow();

// The address the link shows and opens.
extern const char kHomePage[];

// Replaces the call that opens the home page (tests keep the browser shut); null
// restores ShellExecuteA.
using HomePageOpener = void (*)(const char* address);
void setHomePageOpenerForTest(HomePageOpener opener);

}  // namespace nimbo
