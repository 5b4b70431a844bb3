// Small helpers for the Win32 test programs: files beside the test program and in
// the application-data folder, where the plugin looks for winamp.ini; a stand-in
// Winamp window; the message pump and keys; pixels and screenshots.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "plugin/update_cycle.h"

namespace testutil {

inline std::string exeFolder() {
    char path[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path);
    return p.substr(0, p.find_last_of("\\/") + 1);
}

inline std::string besideIni() {
    return exeFolder() + "winamp.ini";
}

inline std::string appDataIni() {
    char folder[MAX_PATH] = {0};
    SHGetSpecialFolderPathA(nullptr, folder, CSIDL_APPDATA, TRUE);
    return std::string(folder) + "\\Winamp\\winamp.ini";
}

// The bytes into a newly created file through an open handle, which it closes.
inline bool writeOpenFile(HANDLE h, const std::string& bytes) {
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

// By 8-bit path, its folder made first when missing.
inline bool writeFile(const std::string& path, const std::string& bytes) {
    std::string folder = path.substr(0, path.find_last_of('\\'));
    CreateDirectoryA(folder.c_str(), nullptr);
    return writeOpenFile(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), bytes);
}

inline bool writeFile(const std::wstring& path, const std::string& bytes) {
    return writeOpenFile(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), bytes);
}

// The whole file through an open handle, which it closes.
inline bool readOpenFile(HANDLE h, std::string& bytes) {
    if (h == INVALID_HANDLE_VALUE) return false;
    bytes.clear();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(h);
    return true;
}

inline bool readFile(const std::string& path, std::string& bytes) {
    return readOpenFile(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr),
                        bytes);
}

inline bool readFile(const std::wstring& path, std::string& bytes) {
    return readOpenFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr),
                        bytes);
}

inline bool fileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline void removeFile(const std::string& path) {
    DeleteFileA(path.c_str());
}

// The UTF-8 bytes of a wide text.
inline std::string utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

// Returns once `count` more of the plugin's ticks have run to their end; false when
// they have not within a generous limit.
inline bool waitForTicks(unsigned count, DWORD limitMs = 20000) {
    const unsigned target = nimbo::ticksRun() + count;
    for (const DWORD start = GetTickCount(); nimbo::ticksRun() < target; Sleep(10)) {
        if (GetTickCount() - start > limitMs) return false;
    }
    return true;
}

// A window's text.
inline std::wstring textOf(HWND window) {
    wchar_t buffer[512] = {0};
    GetWindowTextW(window, buffer, 512);
    return buffer;
}

// A window of Winamp's class "Winamp v1.x" in this process, answering through `proc`.
// An ANSI window like Winamp's own; the class is registered once a process.
inline HWND createWinampWindow(WNDPROC proc) {
    static const bool registered = [proc] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = "Winamp v1.x";
        return RegisterClassA(&wc) != 0;
    }();
    if (!registered) return nullptr;
    return CreateWindowA("Winamp v1.x", "stand-in", 0, 0, 0, 10, 10, nullptr, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

// The window `make` creates, on a thread of its own that runs its messages until the
// object goes, as a Winamp's UI thread is not the plugin's timer thread.
class WindowThread {
  public:
    explicit WindowThread(std::function<HWND()> make) : make_(std::move(make)) {
        ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, run, this, 0, &id_);
        WaitForSingleObject(ready_, 5000);
        CloseHandle(ready_);
    }
    ~WindowThread() {
        PostThreadMessageW(id_, WM_QUIT, 0, 0);
        WaitForSingleObject(thread_, 5000);
        CloseHandle(thread_);
    }
    WindowThread(const WindowThread&) = delete;
    WindowThread& operator=(const WindowThread&) = delete;
    HWND window() const { return window_; }

  private:
    static DWORD WINAPI run(LPVOID param) {
        WindowThread* self = static_cast<WindowThread*>(param);
        self->window_ = self->make_();
        SetEvent(self->ready_);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        DestroyWindow(self->window_);
        return 0;
    }

    std::function<HWND()> make_;
    HANDLE thread_ = nullptr, ready_ = nullptr;
    DWORD id_ = 0;
    HWND window_ = nullptr;
};

// Runs the thread's messages for a few rounds. With `dialog` given, a message goes
// through IsDialogMessage for the window it names first, as in a host that calls it.
inline void pump(int rounds = 3, HWND (*dialog)() = nullptr) {
    for (int i = 0; i < rounds; ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            HWND d = dialog ? dialog() : nullptr;
            if (d && IsDialogMessageW(d, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    }
}

inline void setShift(bool down) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

// A key pressed in the focused control, then the messages pumped as above.
inline void press(int key, HWND (*dialog)() = nullptr) {
    PostMessageW(GetFocus(), WM_KEYDOWN, key, 1);
    PostMessageW(GetFocus(), WM_KEYUP, key, 1 | (3u << 30));
    pump(3, dialog);
}

// 32-bit pixels, top row first, as 0x00RRGGBB.
struct Pixels {
    int width = 0, height = 0;
    std::vector<uint32_t> data;

    COLORREF at(int x, int y) const {
        const uint32_t p = data[size_t(y * width + x)];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
};

inline BITMAPINFOHEADER topDown32(int width, int height) {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = -height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    return header;
}

// What `source` shows in the rectangle at x, y.
inline Pixels capture(HDC source, int x, int y, int width, int height) {
    Pixels c;
    c.width = width;
    c.height = height;
    BITMAPINFO info = {};
    info.bmiHeader = topDown32(width, height);
    void* bits = nullptr;
    HDC memory = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
    GdiFlush();
    const auto* p = static_cast<const uint32_t*>(bits);
    if (p) c.data.assign(p, p + size_t(width) * size_t(height));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return c;
}

// A window's area of the screen (a build artefact to look at) as a BMP file.
inline void saveScreenshot(HWND window, const std::string& path) {
    RECT r;
    GetWindowRect(window, &r);
    HDC screen = GetDC(nullptr);
    const Pixels c = capture(screen, r.left, r.top, r.right - r.left, r.bottom - r.top);
    ReleaseDC(nullptr, screen);
    const BITMAPINFOHEADER header = topDown32(c.width, c.height);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = DWORD(file.bfOffBits + c.data.size() * 4);
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&header), sizeof header);
    bytes.append(reinterpret_cast<const char*>(c.data.data()), c.data.size() * 4);
    writeFile(path, bytes);
}

}  // namespace testutil
