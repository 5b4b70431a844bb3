// The stand-in's process-wide state, owned by its user-interface thread.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tools/player/model.h"
#include "tools/player/plugin_host.h"

namespace player {

// One line from stdin on its way to the UI thread and back.
struct Command {
    std::string line;
    std::vector<std::string> output;
    std::string error;  // empty: the command succeeded
    bool exitAfter = false;
    HANDLE done = nullptr;
};

struct App {
    Model model;
    PluginHost plugin;
    bool loadPlugin = true;
    bool unloadAfterQuit = false;
    bool hasMenu = true;           // query 281 answers the main popup menu
    bool quitKeepsWindow = false;  // quit runs before the main window is destroyed

    HWND mainWindow = nullptr;
    HWND commandWindow = nullptr;  // message-only: survives the main window
    DWORD uiThread = 0;
    volatile LONG queries = 0;  // WM_USER queries answered

    bool mainLoopRunning = true;
    bool quitting = false;           // the main window is gone or going
    bool quitDone = false;           // the plugin's quit has returned
    Command* pendingQuit = nullptr;  // answered once the plugin's quit returned
};

App& app();

// Destroys the main window and ends the main loop; the plugin's quit follows once
// the loop has been left.
void beginQuit(bool unload);
// Keeps the UI thread answering messages for `ms` milliseconds.
void pumpFor(DWORD ms);
// Repaints the main window's summary line.
void refreshMainWindow();

// Runs one command on the UI thread. A command that must wait for the plugin's
// quit leaves itself in app().pendingQuit instead of finishing.
void runCommand(Command& command);
void finishCommand(Command& command);

}  // namespace player
