// The plugin record Winamp takes from the single export, and the three entry points.
#pragma once

#include <windows.h>

namespace nimbo {

// Winamp's general-purpose plugin record: seven 32-bit fields, 28 bytes.
struct PluginRecord {
    int version;
    const char* description;
    int (*init)();
    void (*config)();
    void (*quit)();
    HWND hwndParent;
    HINSTANCE hDllInstance;
};

extern PluginRecord gPluginRecord;

int init();
void config();
void quit();

}  // namespace nimbo
