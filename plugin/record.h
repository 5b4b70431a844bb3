// Winamp's general-purpose plugin record, the host format both sides share: seven
// 32-bit fields, 28 bytes, returned by the plugin's only export.
#pragma once

#include <windows.h>

namespace nimbo {

struct PluginRecord {
    int version;
    const char* description;
    int (*init)();
    void (*config)();
    void (*quit)();
    HWND hwndParent;         // written by the host
    HINSTANCE hDllInstance;  // written by the host
};

static_assert(sizeof(PluginRecord) == 28, "the record is seven 32-bit fields");

}  // namespace nimbo
