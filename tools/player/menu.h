// The host's main popup menu and the queries around it (280, 281, 3019), and the
// "menu" and "wndproc" commands that look at it and choose from it as the host would.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace player {

// Builds the menu; `present` false makes query 281 answer no menu (0).
void createMainMenu(bool present);
// Answers a WM_USER query of the menu family; false for any other query.
bool answerMenuQuery(WPARAM wParam, LPARAM query, LRESULT& result);

// "menu", "menu pick <id|text>", "menu subclass" (see README.md).
bool menuCommand(const std::string& rest, std::vector<std::string>& out, std::string& error);
// "wndproc": whether the main window's procedure is the stand-in's own.
void describeWindowProc(std::vector<std::string>& out);
// The stand-in's own procedure of the main window, for "wndproc".
void setOwnWindowProc(WNDPROC proc);

}  // namespace player
