// The "Publish status" item in Winamp's main popup menu. Winamp sends its choice to
// its main window as WM_COMMAND, so that window is subclassed while the plugin runs.
#pragma once

#include <windows.h>

namespace nimbo {

// Called on Winamp's thread after the item has switched `Enabled` to `enabled`.
using PublishingSwitch = void (*)(bool enabled);

// Puts the item into the menu Winamp hands out for query 281 (above its Options
// menu) and subclasses `winamp` to receive the item's command. Does nothing when the
// window is not one of this process's or the host gives no menu.
void installWinampMenu(HWND winamp, PublishingSwitch switched);

// Takes the item out again and gives the window back its procedure when ours is still
// the one in place; otherwise ours stays in the chain, only forwarding, and the library
// stays loaded for it. Copes with a window destroyed before it.
void removeWinampMenu();

// The item's command id while it is in the menu, else 0.
UINT winampMenuCommand();

}  // namespace nimbo
