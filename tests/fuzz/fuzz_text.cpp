// The text functions: percent-encoding is reversible, trimming only ever drops the
// characters it names from the ends, the case-blind compares fold ASCII letters only,
// replacing counts out, extraction is "None" or a trimmed text without "<br>".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/hex.h"
#include "common/platform.h"
#include "common/text.h"
#include "tests/fuzz/check.h"

namespace {

// `inner` is `outer` with only characters that `dropped` accepts taken off its ends.
template <typename Text, typename Dropped>
void checkTrim(const Text& outer, const Text& inner, Dropped dropped) {
    size_t at = outer.find(inner);
    check(at != Text::npos);
    if (inner.empty()) {
        for (auto c : outer) check(dropped(c));
        return;
    }
    // The first place is the only one that fits: everything before it is dropped.
    for (size_t i = 0; i < at; ++i) check(dropped(outer[i]));
    for (size_t i = at + inner.size(); i < outer.size(); ++i) check(dropped(outer[i]));
}

// ASCII letters folded, every other byte kept: what the case-blind compares mean.
std::string foldAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c + ('a' - 'A'));
    return text;
}

// Splits the input at NUL bytes into up to four parts.
std::string part(const std::string& all, int index) {
    size_t begin = 0;
    for (int i = 0; i < index; ++i) {
        begin = all.find('\0', begin);
        if (begin == std::string::npos) return std::string();
        ++begin;
    }
    size_t end = all.find('\0', begin);
    return all.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

}  // namespace

// Input: text, key, start, end, separated by NUL bytes; the first byte's low bit picks
// the code page for widening.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    nimbo::setAnsiCodePage((data[0] & 1) ? 1251 : 1252);
    const std::string all(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string text = part(all, 0);

    const std::string encoded = nimbo::urlEncode(all);
    check(encoded.size() == all.size() * 3);
    for (size_t i = 0; i < all.size(); ++i) {
        check(encoded[3 * i] == '%');
        const char h = encoded[3 * i + 1], l = encoded[3 * i + 2];
        const int hi = nimbo::hexDigit(h), lo = nimbo::hexDigit(l);
        check(hi >= 0 && lo >= 0 && !(h >= 'a' && h <= 'f') &&
              !(l >= 'a' && l <= 'f'));  // upper case
        check(static_cast<unsigned char>(all[i]) == unsigned(hi * 16 + lo));
    }

    const std::wstring wide = nimbo::widen(text);
    const std::wstring trimmed = nimbo::trimBlanks(wide);
    checkTrim(wide, trimmed, [](wchar_t c) { return c == L' ' || c == L'\n' || c == L'\r'; });
    if (!trimmed.empty()) {
        check(trimmed.front() != L' ' && trimmed.front() != L'\n');
        check(trimmed.back() != L' ' && trimmed.back() != L'\n' && trimmed.back() != L'\r');
    }
    check(nimbo::trimBlanks(trimmed) == trimmed);
    const std::string trimmed8 = nimbo::trimBlanks(text);
    check(nimbo::trimBlanks(trimmed8) == trimmed8);
    checkTrim(text, trimmed8, [](char c) { return c == ' ' || c == '\n' || c == '\r'; });
    for (bool andDelete : {false, true}) {
        const std::string bare = nimbo::trimControls(text, andDelete);
        auto control = [andDelete](char c) {
            return static_cast<unsigned char>(c) <= 0x20 || (andDelete && c == 0x7F);
        };
        checkTrim(text, bare, control);
        if (!bare.empty()) check(!control(bare.front()) && !control(bare.back()));
    }

    const std::string key8 = part(all, 1);
    check(nimbo::equalsNoCase(text, key8) == (foldAscii(text) == foldAscii(key8)));
    check(nimbo::containsNoCase(text, key8) ==
          (foldAscii(text).find(foldAscii(key8)) != std::string::npos));
    check(nimbo::startsWithNoCase(text, key8) == (foldAscii(text).rfind(foldAscii(key8), 0) == 0));

    const std::wstring key = nimbo::widen(part(all, 1));
    const std::wstring start = nimbo::widen(part(all, 2));
    const std::wstring end = nimbo::widen(part(all, 3));
    // Replacing: a pattern by itself is no change; case-sensitively the length works
    // out from the number of places found left to right.
    check(nimbo::replaceText(wide, key, key, true) == wide);
    if (!key.empty()) {
        size_t count = 0;
        for (size_t at = wide.find(key); at != std::wstring::npos;
             at = wide.find(key, at + key.size()))
            ++count;
        const std::wstring replaced = nimbo::replaceText(wide, key, start, true);
        check(replaced.size() == wide.size() - count * key.size() + count * start.size());
        if (count == 0) check(replaced == wide);
    }
    nimbo::replaceText(wide, key, start, false);

    const std::optional<std::wstring> found = nimbo::extractBetween(wide, key, start, end);
    if (found) {
        check(nimbo::trimBlanks(*found) == *found);
        check(nimbo::lowerText(*found).find(L"<br>") == std::wstring::npos);
        check(found->size() <= wide.size());
    }
    // Both forms agree on whether the markers are there.
    check(nimbo::extractBetween8(text, key, start, end).has_value() == found.has_value());
    return 0;
}
