#include "core/private_tracks.h"

#include "common/platform.h"

namespace nimbo {

namespace {

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

}  // namespace

PrivateTracks::PrivateTracks(const std::wstring& privateWords) {
    size_t start = 0;
    while (start <= privateWords.size()) {
        size_t end = privateWords.find_first_of(L"\r\n", start);
        if (end == std::wstring::npos) end = privateWords.size();
        size_t first = start, last = end;
        while (first < last && isBlank(privateWords[first])) ++first;
        while (last > first && isBlank(privateWords[last - 1])) --last;
        if (last > first) entries_.push_back(lowerText(privateWords.substr(first, last - first)));
        start = end + 1;
    }
}

bool PrivateTracks::matches(const std::wstring& text) const {
    if (entries_.empty() || text.empty()) return false;
    const std::wstring lowered = lowerText(text);
    for (const std::wstring& entry : entries_)
        if (lowered.find(entry) != std::wstring::npos) return true;
    return false;
}

}  // namespace nimbo
