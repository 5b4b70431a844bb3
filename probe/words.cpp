#include "probe/words.h"

#include "common/platform.h"
#include "common/text.h"

namespace nimbo {

std::string localWord(const std::wstring& statusMask, const std::wstring& key,
                      const std::string& fallback) {
    const std::wstring word = extractBetween(statusMask, key, L"=", L";");
    return word == kNone ? fallback : narrow(word);
}

std::string formatLength(int seconds) {
    auto twoDigits = [](int n) { return (n < 10 ? "0" : "") + std::to_string(n); };
    return twoDigits(seconds / 60) + ":" + twoDigits(seconds % 60);
}

}  // namespace nimbo
