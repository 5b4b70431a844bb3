// Window automation for tests and the demo: listing this process's windows, finding
// and answering message boxes, reading and writing control texts, clicking.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace player {

// One tab-separated "key=value" line per window of this process, top-level windows
// (of every thread) each followed by all their descendants.
void listWindows(std::vector<std::string>& out);
// How many windows this process has, children included (a stand-in for the USER
// object count where the system does not keep one).
int countOwnWindows();

// True when `window` exists and belongs to this process.
bool ownWindow(HWND window);

// The topmost visible dialog-class window of this process (message boxes are
// dialogs of class "#32770"), or nullptr.
HWND findMessageBox();
// Whether the box has its buttons and its text yet: another thread's box can be found
// visible a moment before its dialog procedure has filled it.
bool messageBoxFilled(HWND box);
// hwnd, caption, message text and buttons of a message box.
void describeMessageBox(HWND box, std::vector<std::string>& out);
// Presses the box's OK button (Cancel when it has none). Waits for the box to go
// when it belongs to another thread.
bool dismissMessageBox(HWND box, std::string& error);

// Texts go through the wide calls: UTF-8 outside, UTF-16 at the window.
bool windowText(HWND window, std::string& utf8);
bool setWindowText(HWND window, const std::string& utf8);
// Posts the click, so a handler that opens a modal window cannot block the caller.
void clickWindow(HWND window);
// Posts one WM_CHAR per UTF-16 unit, as typing would.
void typeText(HWND window, const std::string& utf8);

// Posts a key's down and up to `window` and runs the host loop (Translate, Dispatch)
// over them, with Shift held in this thread's keyboard state while they are handled.
void pressKey(HWND window, UINT key, bool shift);

// Saves the screen area of `window` (the whole screen when null) as a 24-bit BMP.
bool saveScreenshot(const std::string& utf8Path, HWND window, std::string& error);

}  // namespace player
