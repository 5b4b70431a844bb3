// The player stand-in: a window that answers a general-purpose plugin's queries like
// the host does, the plugin loaded from Plugins\ beside the exe, and a line-based
// command interface on stdin/stdout for tests and the demo (see README.md).
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tools/player/app.h"
#include "tools/player/console.h"
#include "tools/player/ini_query.h"
#include "tools/player/menu.h"

namespace player {

namespace {

const wchar_t kMainClass[] = L"Winamp v1.x";
const wchar_t kCommandClass[] = L"NimboPlayerCommands";
const UINT kCommandMessage = WM_APP + 1;

const char* stateWord(int state) {
    switch (state) {
        case kStopped:
            return "stopped";
        case kPlaying:
            return "playing";
        case kPaused:
            return "paused";
        default:
            return "raw state";
    }
}

void paintMainWindow(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    const Model& m = app().model;
    char line[512];
    snprintf(line, sizeof line, "%s (%d)  entry %d of %u", stateWord(m.state), m.state,
             m.position + 1, unsigned(m.playlist.size()));
    std::string title;
    if (m.position >= 0 && size_t(m.position) < m.playlist.size())
        title = m.playlist[size_t(m.position)].title;
    RECT area;
    GetClientRect(window, &area);
    area.left += 8;
    area.top += 8;
    DrawTextA(dc, line, -1, &area, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
    area.top += 20;
    DrawTextA(dc, title.c_str(), int(title.size()), &area,
              DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    EndPaint(window, &paint);
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_USER: {
            InterlockedIncrement(&app().queries);
            if (lParam == kIniFileQuery) return answerIniQuery();
            LRESULT result = 0;
            if (answerMenuQuery(wParam, lParam, result)) return result;
            return app().model.answer(wParam, lParam);
        }
        case WM_PAINT:
            paintMainWindow(window);
            return 0;
        case WM_CLOSE:
            // Closing the window is the user's way to quit the player.
            beginQuit(false);
            return 0;
        case WM_DESTROY:
            if (app().mainWindow == window) app().mainWindow = nullptr;
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK commandWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kCommandMessage) return DefWindowProcW(window, message, wParam, lParam);
    Command* command = reinterpret_cast<Command*>(lParam);
    runCommand(*command);
    if (app().pendingQuit != command) finishCommand(*command);
    return 0;
}

bool createWindows(HINSTANCE instance) {
    WNDCLASSW main = {};
    main.lpfnWndProc = mainWindowProc;
    main.hInstance = instance;
    main.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    main.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    main.lpszClassName = kMainClass;
    WNDCLASSW commands = {};
    commands.lpfnWndProc = commandWindowProc;
    commands.hInstance = instance;
    commands.lpszClassName = kCommandClass;
    if (!RegisterClassW(&main) || !RegisterClassW(&commands)) return false;

    app().mainWindow = CreateWindowExW(0, kMainClass, L"Winamp stand-in", WS_OVERLAPPEDWINDOW, 40,
                                       40, 320, 100, nullptr, nullptr, instance, nullptr);
    app().commandWindow = CreateWindowExW(0, kCommandClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                          nullptr, instance, nullptr);
    if (!app().mainWindow || !app().commandWindow) return false;
    setOwnWindowProc(mainWindowProc);
    createMainMenu(app().hasMenu);
    ShowWindow(app().mainWindow, SW_SHOWNOACTIVATE);
    UpdateWindow(app().mainWindow);
    return true;
}

std::wstring exeFolder() {
    wchar_t path[32768];
    DWORD n = GetModuleFileNameW(nullptr, path, 32768);
    std::wstring exe(path, n < 32768 ? n : 0);
    size_t cut = exe.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : exe.substr(0, cut + 1);
}

void dispatchOne(const MSG& message) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

// The host's order at exit: window gone, loop left, then the plugin's quit.
void finishQuit() {
    Command* command = app().pendingQuit;
    if (app().mainWindow && !app().quitKeepsWindow) DestroyWindow(app().mainWindow);
    bool windowGone = FindWindowW(kMainClass, nullptr) == nullptr;
    LONG before = app().queries;
    // How long the plugin held the host's exit: its quit alone, not the window's end.
    LARGE_INTEGER frequency, started, ended;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    app().plugin.quit();
    QueryPerformanceCounter(&ended);
    const long long quitMs = (ended.QuadPart - started.QuadPart) * 1000 / frequency.QuadPart;
    if (app().unloadAfterQuit) app().plugin.unload();
    app().quitDone = true;
    if (command) {
        command->output.push_back("window-gone " + std::string(windowGone ? "1" : "0"));
        command->output.push_back("queries-during-quit " + std::to_string(app().queries - before));
        command->output.push_back(std::string("loaded-after-quit ") +
                                  (app().plugin.loaded() ? "1" : "0"));
        command->output.push_back("quit-ms " + std::to_string(quitMs));
        app().pendingQuit = nullptr;
        finishCommand(*command);
    }
}

LONG WINAPI reportCrash(EXCEPTION_POINTERS* info) {
    // A crash (for instance a timer firing into an unloaded plugin) must end the
    // process with a failure code instead of waiting in a debugger dialog.
    char text[96];
    snprintf(text, sizeof text, "crash 0x%08lX at %p\n",
             static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
             info->ExceptionRecord->ExceptionAddress);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, DWORD(strlen(text)), &written, nullptr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

App& app() {
    static App instance;
    return instance;
}

void beginQuit(bool unload) {
    App& a = app();
    if (a.quitting) return;
    a.quitting = true;
    if (unload) a.unloadAfterQuit = true;
    if (a.mainWindow && !a.quitKeepsWindow) DestroyWindow(a.mainWindow);
    a.mainLoopRunning = false;
}

void pumpFor(DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT) dispatchOne(message);
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    }
}

void refreshMainWindow() {
    if (app().mainWindow) InvalidateRect(app().mainWindow, nullptr, TRUE);
}

void finishCommand(Command& command) {
    SetEvent(command.done);
}

}  // namespace player

namespace player {
namespace {

// Puts a CA certificate (PEM or DER file) into this Wine prefix's trusted roots, so
// the plugin's TLS tests need no certificate store of the machine's.
bool trustCertificate(const char* path) {
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string bytes(1 << 16, '\0');
    DWORD got = 0;
    const BOOL read = ReadFile(file, &bytes[0], DWORD(bytes.size()), &got, nullptr);
    CloseHandle(file);
    if (!read) return false;
    bytes.resize(got);
    std::string der(bytes.size(), '\0');
    DWORD size = DWORD(der.size());
    if (CryptStringToBinaryA(bytes.data(), DWORD(bytes.size()), CRYPT_STRING_BASE64HEADER,
                             reinterpret_cast<BYTE*>(&der[0]), &size, nullptr, nullptr)) {
        der.resize(size);
    } else {
        der = bytes;
    }
    return CertAddEncodedCertificateToSystemStoreA(
               "Root", reinterpret_cast<const BYTE*>(der.data()), DWORD(der.size())) != FALSE;
}

}  // namespace
}  // namespace player

int main(int argc, char** argv) {
    using namespace player;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(reportCrash);
    App& a = app();
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--no-plugin") == 0) {
            a.loadPlugin = false;
        } else if (strcmp(argv[i], "--unload-after-quit") == 0) {
            a.unloadAfterQuit = true;
        } else if (strcmp(argv[i], "--ini-file") == 0 && i + 1 < argc) {
            if (!iniFileOption(++i)) {
                writeLine("error bad --ini-file");
                return 2;
            }
        } else if (strcmp(argv[i], "--trust-ca") == 0 && i + 1 < argc) {
            if (!trustCertificate(argv[++i])) {
                writeLine("error bad --trust-ca");
                return 2;
            }
        } else if (strcmp(argv[i], "--no-menu") == 0) {
            a.hasMenu = false;
        } else if (strcmp(argv[i], "--quit-keeps-window") == 0) {
            a.quitKeepsWindow = true;
        } else {
            writeLine(std::string("error unknown option ") + argv[i]);
            return 2;
        }
    }
    a.uiThread = GetCurrentThreadId();
    if (!createWindows(GetModuleHandleW(nullptr))) {
        writeLine("error cannot create the windows");
        return 1;
    }
    std::string status = "no-plugin";
    if (a.loadPlugin) a.plugin.load(exeFolder() + L"Plugins\\gen_nimbo.dll", a.mainWindow, status);
    writeLine("ready " + status);
    if (!startCommandReader(a.commandWindow, kCommandMessage)) return 1;

    MSG message;
    while (a.mainLoopRunning && GetMessageW(&message, nullptr, 0, 0) > 0) dispatchOne(message);
    a.quitting = true;
    finishQuit();
    // After quit the process lives on for the remaining commands ("sleep", "exit").
    for (;;) {
        if (GetMessageW(&message, nullptr, 0, 0) > 0) dispatchOne(message);
    }
}
