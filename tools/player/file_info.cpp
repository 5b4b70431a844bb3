#include "tools/player/file_info.h"

#include <cwctype>

namespace player {

LRESULT FileInfo::answer(WPARAM wParam) {
    const ExtendedFileInfoWide* info = reinterpret_cast<const ExtendedFileInfoWide*>(wParam);
    if (mode == FileInfoMode::none) return 1;
    if (!info || !info->filename || !info->metadata) return 0;
    std::wstring field = info->metadata;
    for (wchar_t& c : field) c = wchar_t(towlower(c));
    asked.push_back(field + L"\t" + info->filename);
    auto table = tables.find(info->filename);
    if (table == tables.end()) return 0;
    auto text = table->second.find(field);
    if (text == table->second.end() || !info->ret || info->retlen == 0) return 0;
    const std::wstring& value = text->second;
    if (mode == FileInfoMode::unterminated) {
        for (size_t i = 0; i < info->retlen; ++i)
            info->ret[i] = value.empty() ? L'x' : value[i % value.size()];
        return 1;
    }
    const size_t n = value.size() < info->retlen - 1 ? value.size() : info->retlen - 1;
    value.copy(info->ret, n);
    info->ret[n] = L'\0';
    return 1;
}

}  // namespace player
