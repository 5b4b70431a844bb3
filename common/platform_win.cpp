// Win32 side of the platform calls: the system ANSI code page and CreateFileW.
#include <windows.h>

#include <atomic>

#include "common/platform.h"

namespace nimbo {
namespace {
std::atomic<int> gOpenFiles{0};
}

unsigned ansiCodePage() {
    return GetACP();
}

std::wstring widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &out[0], n);
    return out;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n =
        WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring lowerText(const std::wstring& text) {
    std::wstring out(text);
    if (!out.empty()) CharLowerBuffW(&out[0], DWORD(out.size()));
    return out;
}

std::wstring upperText(const std::wstring& text) {
    std::wstring out(text);
    if (!out.empty()) CharUpperBuffW(&out[0], DWORD(out.size()));
    return out;
}

ReadOnlyFile::ReadOnlyFile(const std::string& path) : ReadOnlyFile(widen(path)) {}

// CreateFileW, so a path the ANSI code page cannot hold still opens.
ReadOnlyFile::ReadOnlyFile(const std::wstring& path)
    : handle_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
    if (handle_ == INVALID_HANDLE_VALUE) {
        handle_ = nullptr;
        return;
    }
    ++gOpenFiles;
}

ReadOnlyFile::~ReadOnlyFile() {
    if (handle_) {
        CloseHandle(handle_);
        --gOpenFiles;
    }
}

bool ReadOnlyFile::isOpen() const {
    return handle_ != nullptr;
}

bool ReadOnlyFile::size(int64_t& out) const {
    LARGE_INTEGER li;
    if (!handle_ || !GetFileSizeEx(handle_, &li)) return false;
    out = li.QuadPart;
    return true;
}

bool ReadOnlyFile::seek(int64_t position) {
    if (!handle_ || position < 0) return false;
    LARGE_INTEGER li;
    li.QuadPart = position;
    return SetFilePointerEx(handle_, li, nullptr, FILE_BEGIN) != 0;
}

// The most one ReadFile call is asked for (1 GiB), well inside a DWORD.
constexpr size_t kReadChunkBytes = 0x40000000;

size_t ReadOnlyFile::read(void* buffer, size_t count) {
    if (!handle_) return 0;
    size_t done = 0;
    while (done < count) {
        DWORD got = 0;
        DWORD want = DWORD(count - done > kReadChunkBytes ? kReadChunkBytes : count - done);
        if (!ReadFile(handle_, static_cast<char*>(buffer) + done, want, &got, nullptr) || got == 0)
            break;
        done += got;
    }
    return done;
}

bool ReadOnlyFile::readExact(void* buffer, size_t count) {
    return read(buffer, count) == count;
}

int openFileCount() {
    return gOpenFiles.load();
}

int64_t unixSecondsNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return unixSecondsFromFileTime((uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

}  // namespace nimbo
