// The few platform calls that portable code needs. One Win32 implementation
// (platform_win.cpp) and one POSIX implementation for the native tests
// (platform_posix.cpp), so the logic stays free of #ifdef.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace nimbo {

// 8-bit text <-> wide text through the system ANSI code page. Natively the code
// page is the one a test chose with setAnsiCodePage (1251 or 1252; 1252 by default).
std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);
unsigned ansiCodePage();
#ifndef _WIN32
void setAnsiCodePage(unsigned codePage);
#endif

// Letter case in the system code page's sense (used for case-insensitive search).
std::wstring lowerText(const std::wstring& text);
std::wstring upperText(const std::wstring& text);

// A file opened for reading only, other openers allowed to read and write it.
// Sizes and positions are 64-bit, so files of 2 GiB and more work.
class ReadOnlyFile {
  public:
    explicit ReadOnlyFile(const std::string& path);   // 8-bit path, system code page
    explicit ReadOnlyFile(const std::wstring& path);  // UTF-16 path (natively opened as UTF-8)
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool isOpen() const;
    bool size(int64_t& out) const;
    bool seek(int64_t position);
    // Reads up to `count` bytes; returns how many arrived (0 at the end or on error).
    size_t read(void* buffer, size_t count);
    // Reads exactly `count` bytes or fails.
    bool readExact(void* buffer, size_t count);

  private:
#ifdef _WIN32
    void* handle_;
#else
    int fd_;
    int64_t size_ = 0;  // from the opening's own status call, which checks for a folder
#endif
};

// How many files ReadOnlyFile holds open right now (tests prove nothing leaks).
int openFileCount();

// The wall clock (UTC) in seconds since 1970, 64 bits wide on every build: the C
// library's time() of the Windows build is 32 bits and runs out in January 2038.
int64_t unixSecondsNow();

// Windows' system time (100 ns steps since 1601, UTC) as seconds since 1970.
constexpr int64_t unixSecondsFromFileTime(uint64_t hundredNs) {
    return int64_t(hundredNs / 10000000u) - int64_t(11644473600);
}

}  // namespace nimbo
