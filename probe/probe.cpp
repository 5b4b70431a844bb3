#include "probe/probe.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "common/platform.h"
#include "common/unique_handle.h"
#include "common/utf8.h"
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
    kEntryTitleWide = 213,
    kEntryFileWide = 214,
    kOutputTime = 105,
    kInfo = 126,
    kIsPlaying = 104,
    kExtendedFileInfoWide = 3026,
};

// The wParam of the extended file-info query, laid out as Winamp expects it.
struct ExtendedFileInfoWide {
    const wchar_t* filename;
    const wchar_t* metadata;
    wchar_t* ret;
    size_t retlen;  // in wide characters
};

const size_t kFileInfoUnits = 512;

const size_t kNameUnits = 260;

HWND winampWindow() { return FindWindowA("Winamp v1.x", nullptr); }

LRESULT ask(HWND window, WPARAM wParam, LPARAM query) {
    return SendMessageA(window, WM_USER, wParam, query);
}

// Winamp's answer to a query it does not know.
const LRESULT kUnknownQuery = 1;

// Reads at most `bytes` bytes from `address` in the other process; a read that stops
// early (the text ends near unreadable memory) keeps what arrived.
size_t readText(HANDLE process, LPCVOID address, void* buffer, size_t bytes) {
    SIZE_T got = 0;
    if (!ReadProcessMemory(process, address, buffer, bytes, &got) && got > bytes) got = 0;
    return got;
}

// An entry's text lives in Winamp's memory; Winamp hands out its address. The wide query
// comes first; a Winamp that answers it with 1 does not know it, and the 8-bit query
// then gives the text through the code page. Either way at most 260 units are read.
std::wstring entryText(LPARAM wideQuery, LPARAM narrowQuery) {
    HWND window = winampWindow();
    if (!window) return std::wstring();
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    // Reading is all the probe does in Winamp's memory.
    const UniqueHandle process(OpenProcess(PROCESS_VM_READ, FALSE, processId));
    if (!process) return std::wstring();
    WPARAM position = WPARAM(ask(window, 0, kListPosition));
    std::wstring text;
    LRESULT address = ask(window, position, wideQuery);
    if (address != kUnknownQuery) {
        wchar_t buffer[kNameUnits];
        const size_t units = readText(process.get(), reinterpret_cast<LPCVOID>(address), buffer,
                                      sizeof buffer) / sizeof(wchar_t);
        text = bufferText(buffer, units);
    } else {
        address = ask(window, position, narrowQuery);
        char buffer[kNameUnits];
        const size_t bytes =
            readText(process.get(), reinterpret_cast<LPCVOID>(address), buffer, sizeof buffer);
        text = widen(std::string(buffer, strnlen(buffer, bytes)));
    }
    return text;
}

std::string numberText(WPARAM which) {
    HWND window = winampWindow();
    if (!window) return "-";
    int value = int(ask(window, which, kInfo));
    return value < 0 ? localWord(L"$unknown", "Unknown") : std::to_string(value);
}

}  // namespace

std::wstring currentFilePath() { return entryText(kEntryFileWide, kEntryFile); }
std::wstring currentTitle() { return withoutFolder(entryText(kEntryTitleWide, kEntryTitle)); }

PlayingEntry currentEntry(const std::wstring& lastPath, const std::wstring& lastStreamTitle) {
    std::wstring path = currentFilePath();
    if (!isStream(path)) return resolveEntry(path, std::wstring(), lastPath, lastStreamTitle);
    return resolveEntry(path, entryText(kEntryTitleWide, kEntryTitle), lastPath, lastStreamTitle);
}

std::wstring winampFileInfo(const std::wstring& path, const wchar_t* field) {
    HWND window = winampWindow();
    if (!window) return std::wstring();
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != GetCurrentProcessId()) return std::wstring();
    // A Winamp that predates the query leaves the buffer alone, whatever it answers, so
    // only a text put into the buffer counts.
    wchar_t buffer[kFileInfoUnits];
    buffer[0] = L'\0';
    ExtendedFileInfoWide info = {path.c_str(), field, buffer, kFileInfoUnits};
    ask(window, reinterpret_cast<WPARAM>(&info), kExtendedFileInfoWide);
    return bufferText(buffer, kFileInfoUnits);
}

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
    std::string word;
    readSettings([&](const Settings& s) { word = localWord(s.StatusMask, key, fallback); });
    return word;
}

std::wstring composeCurrentStatus(const std::wstring& filePath, const std::wstring& streamTitle,
                                  TrackNames* names) {
    PlayerValues player{currentTitle, lengthText,   bitrateText,    sampleRateText,
                        channelsText, playStateText, winampFileInfo};
    if (isStream(filePath)) player.currentTitle = [&] { return streamTitle; };
    return composeStatus(currentSettings().StatusMask, filePath, player, nullptr, names);
}

}  // namespace nimbo
