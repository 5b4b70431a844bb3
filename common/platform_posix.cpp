// POSIX side of the platform calls, for the native tests and fuzzers. The two
// Windows code pages the tests use are built in, so Cyrillic cases run on Linux.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "common/platform.h"
#include "common/utf8.h"

namespace nimbo {
namespace {

// Bytes 0x80..0xBF of Windows-1251; 0xC0..0xFF are U+0410..U+044F.
const char16_t kCp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

// Bytes 0x80..0x9F of Windows-1252; 0xA0..0xFF are Latin-1. Unassigned bytes map
// to the C1 control of the same value, as Windows does.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

unsigned gCodePage = 1252;
std::atomic<int> gOpenFiles{0};

wchar_t byteToWide(unsigned char b) {
    if (b < 0x80) return b;
    if (gCodePage == 1251)
        return b >= 0xC0 ? wchar_t(0x0410 + (b - 0xC0)) : wchar_t(kCp1251High[b - 0x80]);
    return b >= 0xA0 ? wchar_t(b) : wchar_t(kCp1252High[b - 0x80]);
}

char wideToByte(wchar_t c) {
    if (c < 0x80) return char(c);
    for (unsigned b = 0x80; b <= 0xFF; ++b)
        if (byteToWide((unsigned char)b) == c) return char(b);
    return '?';
}

wchar_t lowerChar(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
}

wchar_t upperChar(wchar_t c) {
    if (c >= L'a' && c <= L'z') return c - 32;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
    if (c >= 0x430 && c <= 0x44F) return c - 32;
    if (c >= 0x450 && c <= 0x45F) return c - 80;
    return c;
}

}  // namespace

void setAnsiCodePage(unsigned codePage) {
    gCodePage = codePage == 1251 ? 1251 : 1252;
}
unsigned ansiCodePage() {
    return gCodePage;
}

std::wstring widen(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    for (unsigned char b : text) out.push_back(byteToWide(b));
    return out;
}

std::string narrow(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) out.push_back(wideToByte(c));
    return out;
}

std::wstring lowerText(const std::wstring& text) {
    std::wstring out(text);
    for (wchar_t& c : out) c = lowerChar(c);
    return out;
}

std::wstring upperText(const std::wstring& text) {
    std::wstring out(text);
    for (wchar_t& c : out) c = upperChar(c);
    return out;
}

ReadOnlyFile::ReadOnlyFile(const std::wstring& path) : ReadOnlyFile(encodeUtf8(path)) {}

ReadOnlyFile::ReadOnlyFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY)) {
    if (fd_ >= 0) {
        struct stat st;
        if (fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        size_ = int64_t(st.st_size);
        ++gOpenFiles;
    }
}

ReadOnlyFile::~ReadOnlyFile() {
    if (fd_ >= 0) {
        ::close(fd_);
        --gOpenFiles;
    }
}

bool ReadOnlyFile::isOpen() const {
    return fd_ >= 0;
}

bool ReadOnlyFile::size(int64_t& out) const {
    if (fd_ < 0) return false;
    out = size_;
    return true;
}

bool ReadOnlyFile::seek(int64_t position) {
    if (fd_ < 0 || position < 0) return false;
    return lseek(fd_, off_t(position), SEEK_SET) == off_t(position);
}

size_t ReadOnlyFile::read(void* buffer, size_t count) {
    if (fd_ < 0) return 0;
    size_t done = 0;
    while (done < count) {
        ssize_t got = ::read(fd_, static_cast<char*>(buffer) + done, count - done);
        if (got <= 0) break;
        done += size_t(got);
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
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return int64_t(now.tv_sec);
}

}  // namespace nimbo
