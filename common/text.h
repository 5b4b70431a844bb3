// Small text functions shared across the plugin: building query values, picking
// values out of pages, header blocks and the status mask, and trimming.
#pragma once

#include <optional>
#include <string>

namespace nimbo {

// Every byte becomes "%" and two upper-case hexadecimal digits.
std::string urlEncode(const std::string& bytes);

// The text after `start` (searched from the first `key`) up to the next `end`,
// "<br>" in any case turned into CR, then trimmed; nothing when a marker is missing.
std::optional<std::wstring> extractBetween(const std::wstring& text, const std::wstring& key,
                            const std::wstring& start, const std::wstring& end);

// Replaces every occurrence of `pattern`, scanning left to right; replacements are
// never scanned again. Without `caseSensitive` both sides are lower-cased for the search.
std::wstring replaceText(const std::wstring& text, const std::wstring& pattern,
                         const std::wstring& replacement, bool caseSensitive);

// Drops leading spaces and LFs and trailing spaces, LFs and CRs.
std::wstring trimBlanks(const std::wstring& text);
std::string trimBlanks(const std::string& text);

// Drops leading and trailing bytes of value 0x20 or less; with `andDelete` also 0x7F.
std::string trimControls(const std::string& bytes, bool andDelete = false);

// 8-bit convenience: widen, extract, narrow back (through the system code page).
std::optional<std::string> extractBetween8(const std::string& text, const std::wstring& key,
                            const std::wstring& start, const std::wstring& end);

}  // namespace nimbo
