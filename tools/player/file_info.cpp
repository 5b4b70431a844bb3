#include "tools/player/file_info.h"

#include <cstring>
#include <cwctype>

namespace player {

namespace {

// Reads the caller's memory without trusting it: a block whose frame was reused may
// hold anything, and a late answer must not crash the host.
bool readBack(const void* address, void* copy, size_t bytes) {
    SIZE_T got = 0;
    return ReadProcessMemory(GetCurrentProcess(), address, copy, bytes, &got) && got == bytes;
}

// Mode "slow": waits, then true only when the block and its buffer are as they came.
bool stillTheQuerys(const ExtendedFileInfoWide* block, const ExtendedFileInfoWide& given,
                    DWORD waitMs) {
    Sleep(waitMs);
    if (given.retlen > 65536) return false;
    ExtendedFileInfoWide now = {};
    if (!readBack(block, &now, sizeof now) || memcmp(&now, &given, sizeof now) != 0) return false;
    std::wstring buffer(given.retlen, L'\0');
    return readBack(given.ret, &buffer[0], given.retlen * sizeof(wchar_t)) &&
           buffer.find_first_not_of(L'\0') == std::wstring::npos;
}

}  // namespace

LRESULT FileInfo::answer(WPARAM wParam) {
    const ExtendedFileInfoWide* info = reinterpret_cast<const ExtendedFileInfoWide*>(wParam);
    if (mode == FileInfoMode::none) return 1;
    if (!info || !info->filename || !info->metadata) return 0;
    const ExtendedFileInfoWide given = *info;
    const std::wstring path = given.filename;
    std::wstring field = given.metadata;
    for (wchar_t& c : field) c = wchar_t(towlower(c));
    asked.push_back(field + L"\t" + path);
    if (mode == FileInfoMode::slow && given.ret && given.retlen &&
        !stillTheQuerys(info, given, slowMs)) {
        reused.push_back(asked.back());
        return 0;
    }
    auto table = tables.find(path);
    if (table == tables.end()) return 0;
    auto text = table->second.find(field);
    if (text == table->second.end() || !given.ret || given.retlen == 0) return 0;
    const std::wstring& value = text->second;
    if (mode == FileInfoMode::unterminated) {
        for (size_t i = 0; i < given.retlen; ++i)
            given.ret[i] = value.empty() ? L'x' : value[i % value.size()];
        return 1;
    }
    const size_t n = value.size() < given.retlen - 1 ? value.size() : given.retlen - 1;
    value.copy(given.ret, n);
    given.ret[n] = L'\0';
    return 1;
}

}  // namespace player
