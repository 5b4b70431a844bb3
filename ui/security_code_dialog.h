// The small window that shows the service's security-code picture and asks the user
// to type the code. It runs on the caller's thread (the timer thread during a login).
#pragma once

#include <windows.h>

#include <string>

#include "ui/control_table.h"

namespace nimbo {

// Decodes the picture from its JPEG bytes, shows it with an edit box and an "Ok"
// button, and returns once the window got WM_CLOSE (or quit began): the typed text in
// the ANSI code page. Empty when the bytes are no picture (then no window appears) or
// when nothing was typed. securityCodePending is on while the window exists.
std::string askSecurityCode(const std::string& pictureBytes);

// The window's look and controls (ids of SecurityCodeControlId), as it is built.
const TableWindow& securityCodeWindowTable();

// The dialog window while it is up, else null. Readable from any thread, so Winamp's
// thread can post WM_CLOSE to it.
HWND securityCodeWindow();

}  // namespace nimbo
