// Small text functions shared across the plugin: building query values, picking
// values out of pages, header blocks and the status mask, trimming and comparing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace nimbo {

// Every byte becomes "%" and two upper-case hexadecimal digits.
std::string urlEncode(const std::string& bytes);
// Likewise, except that ASCII letters, digits and "-._~" stay as they are.
std::string urlEncodeReserved(const std::string& bytes);

// The text after `start` (searched from the first `key`) up to the next `end`,
// "<br>" in any case turned into CR, then trimmed; nothing when a marker is missing.
std::optional<std::wstring> extractBetween(const std::wstring& text, const std::wstring& key,
                                           const std::wstring& start, const std::wstring& end);

// Replaces every occurrence of `pattern`, scanning left to right; replacements are
// never scanned again. Without `caseSensitive` both sides are lower-cased for the search.
std::wstring replaceText(const std::wstring& text, const std::wstring& pattern,
                         const std::wstring& replacement, bool caseSensitive);

// The text without the characters at its start that `dropLeading` accepts and those at
// its end that `dropTrailing` accepts; every trim of the plugin is one of these.
template <typename Text, typename DropLeading, typename DropTrailing>
Text trimEnds(const Text& text, DropLeading dropLeading, DropTrailing dropTrailing) {
    size_t first = 0, last = text.size();
    while (first < last && dropLeading(text[first])) ++first;
    while (last > first && dropTrailing(text[last - 1])) --last;
    return text.substr(first, last - first);
}
template <typename Text, typename Drop>
Text trimEnds(const Text& text, Drop drop) {
    return trimEnds(text, drop, drop);
}

// Equality and prefix tests that fold only the ASCII letters A-Z; every other byte or
// unit (non-ASCII letters included) must match exactly. For protocol and file names,
// whose letter case the platform's locale must not decide.
bool equalsNoCase(const std::string& a, const std::string& b);
bool equalsNoCase(const std::wstring& a, const std::wstring& b);
bool startsWithNoCase(const std::string& text, const std::string& prefix);
bool containsNoCase(const std::string& text, const std::string& part);

// The texts one after another. The log's lines are built from many pieces: one call
// with a list costs the DLL far less code than a chain of operator+ and its temporaries.
std::wstring joined(std::initializer_list<std::wstring_view> parts);

// A whole number in decimal digits, for the log's lines.
std::wstring decimalText(int64_t number);

// Drops leading spaces and LFs and trailing spaces, LFs and CRs.
std::wstring trimBlanks(const std::wstring& text);
std::string trimBlanks(const std::string& text);

// Drops leading and trailing bytes of value 0x20 or less; with `andDelete` also 0x7F.
std::string trimControls(const std::string& bytes, bool andDelete = false);

// 8-bit convenience: widen, extract, narrow back (through the system code page).
std::optional<std::string> extractBetween8(const std::string& text, const std::wstring& key,
                                           const std::wstring& start, const std::wstring& end);

}  // namespace nimbo
