#include "probe/words.h"

#include "common/platform.h"
#include "common/text.h"

namespace nimbo {

namespace {

// Users write it to mean "no word of mine here", so it counts as a missing definition.
const wchar_t kNone[] = L"None";

}  // namespace

std::string localWord(const std::wstring& statusMask, const std::wstring& key,
                      const std::string& fallback) {
    const std::optional<std::wstring> word = extractBetween(statusMask, key, L"=", L";");
    return (!word || *word == kNone) ? fallback : narrow(*word);
}

std::string formatLength(int seconds) {
    auto twoDigits = [](int n) { return (n < 10 ? "0" : "") + std::to_string(n); };
    return twoDigits(seconds / 60) + ":" + twoDigits(seconds % 60);
}

}  // namespace nimbo
