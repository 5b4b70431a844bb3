#include "core/activity_log.h"

#include <algorithm>

#include "common/text.h"
#include "common/utf8.h"

namespace nimbo {

namespace {

// Zero-padded decimal digits of a clock field (out-of-range values cannot widen a line).
std::wstring digits(int value, int count) {
    std::wstring text(size_t(count), L'0');
    unsigned rest = value < 0 ? 0u : unsigned(value);
    for (int i = count - 1; i >= 0; --i, rest /= 10) text[size_t(i)] = wchar_t(L'0' + rest % 10);
    return text;
}
std::wstring twoDigits(int value) {
    return digits(value, 2);
}

std::wstring maskSecrets(std::wstring text, std::vector<std::wstring> secrets) {
    // The longest first: a cookie text holds its own value, and masking the value
    // first would leave the rest of the cookie readable. A handful: an insertion sort.
    for (size_t i = 1; i < secrets.size(); ++i)
        for (size_t j = i; j > 0 && secrets[j].size() > secrets[j - 1].size(); --j)
            secrets[j].swap(secrets[j - 1]);
    const std::wstring mask = L"***";
    for (const std::wstring& secret : secrets) {
        if (secret.empty()) continue;
        for (size_t at = text.find(secret); at != std::wstring::npos;
             at = text.find(secret, at + mask.size()))
            text.replace(at, secret.size(), mask);
    }
    return text;
}

}  // namespace

std::string activityLogLine(const LocalTime& when, const std::wstring& what,
                            const std::vector<std::wstring>& secrets) {
    std::wstring text = maskSecrets(what, secrets);
    for (wchar_t& c : text)
        if (c == L'\r' || c == L'\n') c = L' ';
    const std::wstring stamp = digits(when.year, 4) + L"-" + twoDigits(when.month) + L"-" +
                               twoDigits(when.day) + L" " + twoDigits(when.hour) + L":" +
                               twoDigits(when.minute) + L":" + twoDigits(when.second) + L" ";
    return encodeUtf8(stamp + text) + "\r\n";
}

bool activityLogNeedsRotation(uint64_t currentSize, size_t lineBytes) {
    return currentSize > 0 && currentSize + lineBytes > kActivityLogLimit;
}

std::wstring lastResultLine(const LocalTime& when, std::wstring_view outcome,
                            std::wstring_view detail) {
    return joined({L"Last: ", outcome, L" at ", twoDigits(when.hour), L":", twoDigits(when.minute),
                   detail.empty() ? L"" : L", ", detail});
}

}  // namespace nimbo
