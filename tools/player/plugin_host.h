// Loading a general-purpose plugin the way the host does it, and calling its entries.
#pragma once

#include <windows.h>

#include <string>

#include "plugin/record.h"

namespace player {

using nimbo::PluginRecord;

class PluginHost {
  public:
    // Loads the library, fills the host fields and calls init. `status` gets the
    // text for the "ready" line: "init=N", or what went wrong. A non-zero init
    // result unloads the library again.
    void load(const std::wstring& path, HWND mainWindow, std::string& status);

    bool running() const { return record_ != nullptr && !quitCalled_; }
    bool loaded() const { return module_ != nullptr; }
    const PluginRecord* record() const { return record_; }

    void config();
    // Calls quit once; later calls do nothing.
    void quit();
    // Frees the library (only on request: the host keeps it loaded at exit).
    void unload();

  private:
    HMODULE module_ = nullptr;
    PluginRecord* record_ = nullptr;
    bool quitCalled_ = false;
};

}  // namespace player
