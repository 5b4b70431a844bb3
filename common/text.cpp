#include "common/text.h"

#include "common/platform.h"

namespace nimbo {

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

namespace {

// Both widths of text trim alike; the predicates say which characters go at each end.
template <typename Text, typename Leading, typename Trailing>
Text trimEnds(const Text& text, Leading dropLeading, Trailing dropTrailing) {
    size_t first = 0, last = text.size();
    while (first < last && dropLeading(text[first])) ++first;
    while (last > first && dropTrailing(text[last - 1])) --last;
    return text.substr(first, last - first);
}

template <typename Text>
Text trimBlankEnds(const Text& text) {
    using Char = typename Text::value_type;
    auto leading = [](Char c) { return c == Char(' ') || c == Char('\n'); };
    auto trailing = [](Char c) { return c == Char(' ') || c == Char('\n') || c == Char('\r'); };
    return trimEnds(text, leading, trailing);
}

}  // namespace

std::wstring trimBlanks(const std::wstring& text) { return trimBlankEnds(text); }
std::string trimBlanks(const std::string& text) { return trimBlankEnds(text); }

std::string trimControls(const std::string& bytes, bool andDelete) {
    auto control = [andDelete](char c) {
        const unsigned char b = static_cast<unsigned char>(c);
        return b <= 0x20 || (andDelete && b == 0x7F);
    };
    return trimEnds(bytes, control, control);
}

std::optional<std::wstring> extractBetween(const std::wstring& text, const std::wstring& key,
                                           const std::wstring& start, const std::wstring& end) {
    size_t keyAt = text.find(key);
    if (keyAt == std::wstring::npos) return std::nullopt;
    size_t startAt = text.find(start, keyAt);
    if (startAt == std::wstring::npos) return std::nullopt;
    size_t valueAt = startAt + start.size();
    size_t endAt = text.find(end, valueAt);
    if (endAt == std::wstring::npos) return std::nullopt;
    std::wstring value = text.substr(valueAt, endAt - valueAt);
    return trimBlanks(replaceText(value, L"<br>", L"\r", false));
}

std::optional<std::string> extractBetween8(const std::string& text, const std::wstring& key,
                                           const std::wstring& start, const std::wstring& end) {
    const std::optional<std::wstring> value = extractBetween(widen(text), key, start, end);
    if (!value) return std::nullopt;
    return narrow(*value);
}

}  // namespace nimbo
