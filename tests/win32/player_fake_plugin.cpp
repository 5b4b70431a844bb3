// A minimal general-purpose plugin for testing the player stand-in's host side: it
// reports on stdout what it sees in init, config and quit.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "plugin/record.h"

namespace {

using nimbo::PluginRecord;

int init();
void config();
void quit();

PluginRecord gRecord = {16, "Stand-in test plugin", init, config, quit, nullptr, nullptr};
HINSTANCE gModule = nullptr;
DWORD gInitThread = 0;

void say(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, DWORD(strlen(text)), &written, nullptr);
}

int init() {
    gInitThread = GetCurrentThreadId();
    HWND window = FindWindowW(L"Winamp v1.x", nullptr);
    char line[160];
    snprintf(line, sizeof line, "fake-init parent-ok %d instance-ok %d\n",
             window != nullptr && gRecord.hwndParent == window,
             gModule != nullptr && gRecord.hDllInstance == gModule);
    say(line);
    const char* result = getenv("NIMBO_FAKE_INIT_RESULT");
    return result ? atoi(result) : 0;
}

DWORD WINAPI showBox(void*) {
    // Like the plugin's error box: no owner, no caption of its own, from another thread.
    MessageBoxW(nullptr, L"Fake message\r\nsecond line", nullptr, MB_OK | MB_SETFOREGROUND);
    return 0;
}

void config() {
    char line[64];
    snprintf(line, sizeof line, "fake-config ui-thread %d\n", GetCurrentThreadId() == gInitThread);
    say(line);
    HANDLE thread = CreateThread(nullptr, 0, showBox, nullptr, 0, nullptr);
    if (thread) CloseHandle(thread);
}

void quit() {
    LRESULT answer = SendMessageW(gRecord.hwndParent, WM_USER, 1, 104);
    char line[96];
    snprintf(line, sizeof line, "fake-quit ui-thread %d window-alive %d answer %ld\n",
             GetCurrentThreadId() == gInitThread, IsWindow(gRecord.hwndParent) ? 1 : 0,
             long(answer));
    say(line);
}

}  // namespace

extern "C" __declspec(dllexport) PluginRecord* winampGetGeneralPurposePlugin() {
    return &gRecord;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) gModule = instance;
    return TRUE;
}
