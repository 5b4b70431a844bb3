// The settings dialog: a modeless window on Winamp's user-interface thread.
#pragma once

#include <windows.h>

#include "ui/control_table.h"

namespace nimbo {

// Called on Winamp's thread after "Ok" has switched `Enabled` to `enabled`.
using EnabledSwitched = void (*)(bool enabled);

// Builds and shows the dialog, or raises the one already open. Returns at once; the
// window lives on the calling thread's message loop until "Ok" or "Cancel", and "Ok"
// that changes `Enabled` tells `switched`.
void showSettingsDialog(EnabledSwitched switched = nullptr);

// The open dialog's window, or null when none is open. Its controls carry the ids of
// `SettingsControlId` (ui/control_ids.h).
HWND settingsDialogWindow();

// Destroys the settings and options windows, open or on their way out, and
// unregisters their classes: nothing of them may outlive quit. Unconfirmed edits are
// dropped. Call on the thread that made them.
void closeWindowsAtQuit();

// The window's look and controls, as it is built.
const TableWindow& settingsWindowTable();

// The address the link shows and opens (through ui/link_label.h, whose opener tests
// replace).
extern const char kHomePage[];

}  // namespace nimbo
