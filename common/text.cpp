#include "common/text.h"

#include "common/platform.h"

namespace nimbo {

namespace {

bool isUnreserved(unsigned char b) {
    return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
           b == '.' || b == '_' || b == '~';
}

std::string percentEncode(const std::string& bytes, bool keepUnreserved) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (unsigned char b : bytes) {
        if (keepUnreserved && isUnreserved(b)) {
            out.push_back(char(b));
            continue;
        }
        out.push_back('%');
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 15]);
    }
    return out;
}

}  // namespace

std::string urlEncode(const std::string& bytes) {
    return percentEncode(bytes, false);
}

std::string urlEncodeReserved(const std::string& bytes) {
    return percentEncode(bytes, true);
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

template <typename Text>
Text trimBlankEnds(const Text& text) {
    using Char = typename Text::value_type;
    auto leading = [](Char c) { return c == Char(' ') || c == Char('\n'); };
    auto trailing = [](Char c) { return c == Char(' ') || c == Char('\n') || c == Char('\r'); };
    return trimEnds(text, leading, trailing);
}

template <typename Char>
Char lowerAscii(Char c) {
    return c >= Char('A') && c <= Char('Z') ? Char(c - Char('A') + Char('a')) : c;
}

template <typename Text>
bool sameNoCase(const Text& a, size_t from, const Text& b) {
    for (size_t i = 0; i < b.size(); ++i)
        if (lowerAscii(a[from + i]) != lowerAscii(b[i])) return false;
    return true;
}

}  // namespace

bool equalsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && sameNoCase(a, 0, b);
}

bool equalsNoCase(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && sameNoCase(a, 0, b);
}

bool startsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && sameNoCase(text, 0, prefix);
}

bool containsNoCase(const std::string& text, const std::string& part) {
    for (size_t at = 0; at + part.size() <= text.size(); ++at)
        if (sameNoCase(text, at, part)) return true;
    return false;
}

std::wstring joined(std::initializer_list<std::wstring_view> parts) {
    size_t size = 0;
    for (const std::wstring_view part : parts) size += part.size();
    std::wstring text;
    text.reserve(size);
    for (const std::wstring_view part : parts) text.append(part.data(), part.size());
    return text;
}

std::wstring decimalText(int64_t number) {
    // std::to_string: the wide one would bring the C library's printf family along.
    return widen(std::to_string(number));
}

std::wstring trimBlanks(const std::wstring& text) {
    return trimBlankEnds(text);
}
std::string trimBlanks(const std::string& text) {
    return trimBlankEnds(text);
}

std::string trimControls(const std::string& bytes, bool andDelete) {
    auto control = [andDelete](char c) {
        const unsigned char b = static_cast<unsigned char>(c);
        return b <= 0x20 || (andDelete && b == 0x7F);
    };
    return trimEnds(bytes, control);
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
