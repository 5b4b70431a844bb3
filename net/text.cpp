#include "net/text.h"

#include "common/platform.h"

namespace nimbo {

const wchar_t kNone[] = L"None";

std::string urlEncode(const std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (unsigned char b : bytes) {
        out.push_back('%');
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 15]);
    }
    return out;
}

std::wstring replaceText(const std::wstring& text, const std::wstring& pattern,
                         const std::wstring& replacement, bool caseSensitive) {
    if (pattern.empty()) return text;
    // Lower-casing keeps the length of every character, so positions found in the
    // lowered copy apply to the original text.
    const std::wstring haystack = caseSensitive ? text : lowerText(text);
    const std::wstring needle = caseSensitive ? pattern : lowerText(pattern);
    std::wstring out;
    size_t from = 0;
    for (;;) {
        size_t at = haystack.find(needle, from);
        if (at == std::wstring::npos) break;
        out.append(text, from, at - from);
        out.append(replacement);
        from = at + needle.size();
    }
    out.append(text, from, std::wstring::npos);
    return out;
}

std::wstring trimBlanks(const std::wstring& text) {
    size_t first = 0;
    while (first < text.size() && (text[first] == L' ' || text[first] == L'\n')) ++first;
    size_t last = text.size();
    while (last > first &&
           (text[last - 1] == L' ' || text[last - 1] == L'\n' || text[last - 1] == L'\r'))
        --last;
    return text.substr(first, last - first);
}

std::wstring extractBetween(const std::wstring& text, const std::wstring& key,
                            const std::wstring& start, const std::wstring& end) {
    size_t keyAt = text.find(key);
    if (keyAt == std::wstring::npos) return kNone;
    size_t startAt = text.find(start, keyAt);
    if (startAt == std::wstring::npos) return kNone;
    size_t valueAt = startAt + start.size();
    size_t endAt = text.find(end, valueAt);
    if (endAt == std::wstring::npos) return kNone;
    std::wstring value = text.substr(valueAt, endAt - valueAt);
    return trimBlanks(replaceText(value, L"<br>", L"\r", false));
}

std::string extractBetween8(const std::string& text, const std::wstring& key,
                            const std::wstring& start, const std::wstring& end) {
    return narrow(extractBetween(widen(text), key, start, end));
}

}  // namespace nimbo
