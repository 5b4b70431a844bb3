// The library's only export: Winamp calls it and keeps the record's address.
#include "plugin/plugin.h"

extern "C" __declspec(dllexport) nimbo::PluginRecord* winampGetGeneralPurposePlugin() {
    return &nimbo::gPluginRecord;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
