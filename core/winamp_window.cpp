#include "core/winamp_window.h"

#include <algorithm>
#include <atomic>
#include <string>

#include "common/platform.h"
#include "core/activity_log.h"

namespace nimbo {

namespace {

// Asked by the timer thread and Winamp's; a handle is one word, so an atomic will do.
std::atomic<HWND> gWindow{nullptr};

// Blocks left with Winamp by queries that ran out since init.
std::atomic<int> gBlocksLeft{0};

bool inThisProcess(HWND window) {
    DWORD owner = 0;
    return window && GetWindowThreadProcessId(window, &owner) && owner == GetCurrentProcessId();
}

HWND findOwnWinampWindow() {
    for (HWND window = FindWindowExA(nullptr, nullptr, "Winamp v1.x", nullptr); window;
         window = FindWindowExA(nullptr, window, "Winamp v1.x", nullptr)) {
        if (inThisProcess(window)) return window;
    }
    return nullptr;
}

}  // namespace

void setWinampWindow(HWND hostWindow) {
    gWindow = IsWindow(hostWindow) && inThisProcess(hostWindow) ? hostWindow : nullptr;
    gBlocksLeft = 0;
}

HWND winampWindow() {
    // The idle tick's path: one check that the known window still stands.
    HWND window = gWindow.load();
    if (window && IsWindow(window)) return window;
    window = findOwnWinampWindow();
    gWindow = window;
    return window;
}

bool askWinamp(HWND window, WPARAM wParam, LPARAM query, LRESULT& answer, bool wide) {
    DWORD_PTR result = 0;
    const UINT flags = SMTO_NORMAL | SMTO_ABORTIFHUNG;
    const LRESULT sent =
        wide ? SendMessageTimeoutW(window, WM_USER, wParam, query, flags, kWinampQueryMs, &result)
             : SendMessageTimeoutA(window, WM_USER, wParam, query, flags, kWinampQueryMs, &result);
    if (!sent) return false;
    answer = LRESULT(result);
    return true;
}

BlockQuery askWinampWithBlock(HWND window, void* block, LPARAM query, LRESULT& answer) {
    if (gBlocksLeft.load() >= kMaxBlocksLeft) return BlockQuery::notSent;
    if (askWinamp(window, reinterpret_cast<WPARAM>(block), query, answer))
        return BlockQuery::answered;
    if (++gBlocksLeft == kMaxBlocksLeft)
        logActivity(widen("Winamp did not answer query " + std::to_string(query) + " within " +
                          std::to_string(kWinampQueryMs / 1000) + " s " +
                          std::to_string(kMaxBlocksLeft) +
                          " times: it is not asked again until Winamp restarts"));
    return BlockQuery::ranOut;
}

size_t readWinampMemory(uintptr_t address, void* buffer, size_t bytes) {
    const size_t kPage = 4096;
    size_t done = 0;
    while (done < bytes) {
        const size_t chunk = std::min(bytes - done, kPage - (address + done) % kPage);
        SIZE_T got = 0;
        if (!ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<LPCVOID>(address + done),
                               static_cast<char*>(buffer) + done, chunk, &got) ||
            got != chunk)
            break;
        done += chunk;
    }
    return done;
}

}  // namespace nimbo
