#include "probe/probe.h"

#include <windows.h>

#include <cstring>

#include "common/platform.h"
#include "core/settings.h"
#include "probe/composer.h"
#include "probe/words.h"

namespace nimbo {

namespace {

// Winamp's WM_USER queries (the lParam selects, the wParam qualifies).
enum Query : LPARAM {
    kListPosition = 125,
    kEntryFile = 211,
    kEntryTitle = 212,
    kOutputTime = 105,
    kInfo = 126,
    kIsPlaying = 104,
};

const size_t kNameBytes = 260;

HWND winampWindow() { return FindWindowA("Winamp v1.x", nullptr); }

LRESULT ask(HWND window, WPARAM wParam, LPARAM query) {
    return SendMessageA(window, WM_USER, wParam, query);
}

// An entry's text lives in Winamp's memory; Winamp hands out its address.
std::string entryText(LPARAM query, bool cutFolder) {
    HWND window = winampWindow();
    if (!window) return std::string();
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (!process) return std::string();
    WPARAM position = WPARAM(ask(window, 0, kListPosition));
    LPCVOID address = reinterpret_cast<LPCVOID>(ask(window, position, query));
    char buffer[kNameBytes];
    SIZE_T got = 0;
    // A read that stops early (the text ends near unreadable memory) keeps what arrived.
    if (!ReadProcessMemory(process, address, buffer, kNameBytes, &got) && got > kNameBytes) got = 0;
    CloseHandle(process);
    std::wstring text = widen(std::string(buffer, strnlen(buffer, got)));
    if (cutFolder) {
        size_t cut = text.find_last_of(L":\\/");
        if (cut != std::wstring::npos) text.erase(0, cut + 1);
    }
    return narrow(text);
}

std::string numberText(WPARAM which) {
    HWND window = winampWindow();
    if (!window) return "-";
    int value = int(ask(window, which, kInfo));
    return value < 0 ? localWord(L"$unknown", "Unknown") : std::to_string(value);
}

}  // namespace

std::string currentFileName() { return entryText(kEntryFile, true); }
std::string currentFilePath() { return entryText(kEntryFile, false); }
std::string currentTitle() { return entryText(kEntryTitle, true); }

std::string lengthText() {
    HWND window = winampWindow();
    if (!window) return "--:--";
    int seconds = int(ask(window, 1, kOutputTime));
    return seconds < 0 ? localWord(L"$unknown", "Unknown") : formatLength(seconds);
}

std::string bitrateText() { return numberText(1); }
std::string sampleRateText() { return numberText(0); }
std::string channelsText() { return numberText(2); }

std::string playStateText() {
    HWND window = winampWindow();
    if (!window) return "-";
    switch (int(ask(window, 1, kIsPlaying))) {
        case 0: return localWord(L"$stopped", "stopped");
        case 1: return localWord(L"$playing", "playing");
        case 3: return localWord(L"$paused", "paused");
        default: return "-";
    }
}

std::string localWord(const std::wstring& key, const std::string& fallback) {
    return localWord(currentSettings().StatusMask, key, fallback);
}

std::wstring composeCurrentStatus(const std::string& fileName, const std::string& filePath) {
    PlayerValues player{currentTitle, lengthText, bitrateText, sampleRateText, channelsText,
                        playStateText};
    return composeStatus(currentSettings().StatusMask, fileName, filePath, player);
}

}  // namespace nimbo
