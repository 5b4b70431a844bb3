#include "core/ini_location.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "core/ini_file.h"
#include "core/winamp_window.h"

namespace nimbo {

namespace {

bool isFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring hostFolderCandidate() {
    std::vector<wchar_t> buffer(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
    std::wstring exe(buffer.data(), n);
    size_t cut = exe.find_last_of(L":\\/");
    return (cut == std::wstring::npos ? std::wstring() : exe.substr(0, cut + 1)) + L"winamp.ini";
}

// The wide call, so a profile folder whose name lies outside the code page still works.
std::wstring appDataCandidate() {
    wchar_t folder[MAX_PATH] = {0};
    if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_APPDATA, TRUE) || !folder[0])
        return std::wstring();
    return std::wstring(folder) + L"\\Winamp\\winamp.ini";
}

// Winamp's query for the path of the ini it uses (5.58 and later).
const LPARAM kIniFileWide = 1334;
const size_t kMaxPathUnits = 32768;

// A zero-terminated wide text at an address this process got from its host: at most
// kMaxPathUnits units; unreadable memory or no terminator by then gives an empty text.
std::wstring readHostText(uintptr_t address) {
    std::wstring text;
    wchar_t block[2048];
    while (text.size() < kMaxPathUnits) {
        const size_t units =
            readWinampMemory(address + text.size() * sizeof(wchar_t), block, sizeof block) /
            sizeof(wchar_t);
        const wchar_t* end = std::find(block, block + units, L'\0');
        text.append(block, size_t(end - block));
        if (end < block + units) return text;
        if (units < std::size(block)) break;  // unreadable before the terminator
    }
    return std::wstring();
}

// A path the settings can live at: some text without control characters, no folder
// itself, in a folder that exists.
bool usableIniPath(const std::wstring& path) {
    if (path.empty()) return false;
    for (wchar_t c : path)
        if (c < 0x20) return false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    const size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring::npos || cut == 0) return false;
    const DWORD folder = GetFileAttributesW(path.substr(0, cut + 1).c_str());
    return folder != INVALID_FILE_ATTRIBUTES && (folder & FILE_ATTRIBUTE_DIRECTORY);
}

// The path Winamp itself names, or empty when there is no Winamp window here, the
// host is older (it answers 1) or the answer is no usable path.
std::wstring hostIniPath() {
    HWND window = winampWindow();
    LRESULT answer = 0;
    if (!window || !askWinamp(window, 0, kIniFileWide, answer, true)) return std::wstring();
    // Nothing lives in the lowest 64 KiB; 0 and 1 are the "unknown query" answers.
    if (uintptr_t(answer) < 0x10000) return std::wstring();
    const std::wstring path = readHostText(uintptr_t(answer));
    return usableIniPath(path) ? path : std::wstring();
}

// Where the settings were looked for before hosts could say: beside the host program,
// then the application-data folder; neither there: beside the host all the same.
std::wstring guessedIniPath() {
    const std::wstring beside = hostFolderCandidate();
    if (isFile(beside)) return beside;
    const std::wstring appData = appDataCandidate();
    if (!appData.empty() && isFile(appData)) return appData;
    return beside;
}

bool samePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), int(a.size()), b.c_str(),
                          int(b.size())) == CSTR_EQUAL;
}

}  // namespace

IniPlaces findIniPlaces(const char* section) {
    const std::wstring named = hostIniPath();
    if (named.empty()) {
        const std::wstring guessed = guessedIniPath();
        return {guessed, guessed, std::nullopt, std::nullopt};
    }
    // Winamp's file unreadable for now: still Winamp's file, never a reason to move
    // settings over from elsewhere.
    IniFile winamp(named);
    if (!winamp.readable() || winamp.hasSection(section))
        return {named, named, std::move(winamp), std::nullopt};
    for (const std::wstring& old : {hostFolderCandidate(), appDataCandidate()}) {
        if (old.empty() || samePath(old, named) || !isFile(old)) continue;
        IniFile oldFile(old);
        if (oldFile.hasSection(section)) return {old, named, std::move(winamp), std::move(oldFile)};
    }
    return {named, named, std::move(winamp), std::nullopt};
}

}  // namespace nimbo
