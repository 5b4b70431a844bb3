#include "core/ini_file.h"

#include <windows.h>

#include <cstdlib>
#include <vector>

#include "common/file_replace.h"
#include "common/platform.h"
#include "core/ini_text.h"

namespace nimbo {

namespace {

const DWORD kFirstValueUnits = 4096;
const DWORD kMaxValueUnits = 0x4000000;

}  // namespace

IniFile::IniFile(const std::wstring& path) : path_(path) {
    readable_ = readFileContents(path_, bytes_) != FileRead::Unreadable;
    unicode_ = isUtf16Text(bytes_);
}

bool IniFile::get(const char* section, const char* key, std::string& value) const {
    if (!unicode_) return readIniValue(bytes_, section, key, value);
    const std::wstring wideSection = widen(section), wideKey = widen(key);
    // The platform cuts a value to its buffer: grow the buffer until it fits.
    for (DWORD units = kFirstValueUnits;; units *= 4) {
        std::vector<wchar_t> buffer(units, L'\0');
        const wchar_t kAbsent[] = L"\x1\x2";  // cannot stand in an ini line
        DWORD n = GetPrivateProfileStringW(wideSection.c_str(), wideKey.c_str(), kAbsent,
                                           buffer.data(), units, path_.c_str());
        if (n + 1 >= units && units < kMaxValueUnits) continue;
        std::wstring text(buffer.data(), n);
        if (text == kAbsent) return false;
        value = narrow(text);
        return true;
    }
}

bool IniFile::getBool(const char* section, const char* key, bool fallback) const {
    std::string text;
    if (!get(section, key, text)) return fallback;
    // As the platform's integer read takes it: an empty value is the fallback, and
    // a value counts by its leading number, so a word is 0.
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return fallback;
    return std::strtol(text.c_str() + first, nullptr, 0) != 0;
}

long IniFile::getNumber(const char* section, const char* key, long fallback) const {
    std::string text;
    if (!get(section, key, text)) return fallback;
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return fallback;
    const char* start = text.c_str() + first;
    char* end = nullptr;
    const long value = std::strtol(start, &end, 10);
    if (end == start ||
        text.find_first_not_of(" \t", size_t(end - text.c_str())) != std::string::npos)
        return fallback;
    return value;
}

bool IniFile::hasSection(const char* section) const {
    if (!unicode_) return hasIniSection(bytes_, section);
    // Any answer but 0 means at least one key stands there (a buffer too small
    // still gives its size less two, so it must hold more than two units).
    wchar_t keys[64];
    return GetPrivateProfileSectionW(widen(section).c_str(), keys, 64, path_.c_str()) != 0;
}

void IniFile::set(const char* section, const char* key, const std::string& value) {
    if (unicode_) {
        if (!WritePrivateProfileStringW(widen(section).c_str(), widen(key).c_str(),
                                        widen(value).c_str(), path_.c_str()))
            failed_ = true;
    } else {
        bytes_ = writeIniValue(bytes_, section, key, value);
        changed_ = true;
    }
}

bool IniFile::commit() {
    if (!changed_) return !failed_;
    // The platform may hold the file in a cache; have it drop that copy so its
    // next read sees what is written here.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, path_.c_str());
    const bool done = replaceFileContents(path_, bytes_);
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, path_.c_str());
    return done;
}

}  // namespace nimbo
