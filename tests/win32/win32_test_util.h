// Small helpers for the Win32 test programs: files beside the test program and in
// the application-data folder, where the plugin looks for winamp.ini.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace testutil {

inline std::string exeFolder() {
    char path[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path);
    return p.substr(0, p.find_last_of("\\/") + 1);
}

inline std::string besideIni() { return exeFolder() + "winamp.ini"; }

inline std::string appDataIni() {
    char folder[MAX_PATH] = {0};
    SHGetSpecialFolderPathA(nullptr, folder, CSIDL_APPDATA, TRUE);
    return std::string(folder) + "\\Winamp\\winamp.ini";
}

inline bool writeFile(const std::string& path, const std::string& bytes) {
    std::string folder = path.substr(0, path.find_last_of('\\'));
    CreateDirectoryA(folder.c_str(), nullptr);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
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

inline void removeFile(const std::string& path) { DeleteFileA(path.c_str()); }

// The UTF-8 bytes of a wide text.
inline std::string utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace testutil
