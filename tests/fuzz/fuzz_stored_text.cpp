// UTF-8 under both rules, the stored-text codec and the ini byte editor. Any text
// encoded and decoded comes back, line breaks as CR LF (unless it holds the line-break marker
// itself), and any value written into any ini file reads back as written while other keys keep
// theirs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/platform.h"
#include "common/utf8.h"
#include "core/ini_text.h"
#include "core/settings_codec.h"
#include "tests/fuzz/check.h"

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == 0x1A;
}

// Whether the ini line keeps the value exactly: no blank at either end, not wrapped
// in a pair of quotes (the reader drops those, as the platform's does).
bool keptByAnIniLine(const std::string& v) {
    if (!v.empty() && (isBlank(v.front()) || isBlank(v.back()))) return false;
    if (v.size() > 1 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) return false;
    return true;
}

}  // namespace

// Input: the first half as UTF-16 units (the wide text of a setting), the whole input
// as the bytes of an ini file and as a stored value.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // Any stored bytes decode without harm. Under the tag rule every result is sound
    // UTF-16 that survives another round; where that rule replaced nothing, the stored
    // rule reads the same characters.
    nimbo::decodeStoredText(bytes);
    const std::wstring strict = nimbo::decodeUtf8(bytes, nimbo::Utf8Malformed::replaceEach);
    check(nimbo::decodeUtf8(nimbo::encodeUtf8(strict), nimbo::Utf8Malformed::replaceEach) ==
          strict);
    if (strict.find(wchar_t(0xFFFD)) == std::wstring::npos)
        check(nimbo::decodeUtf8(bytes, nimbo::Utf8Malformed::emptyText) == strict);

    std::wstring text;
    for (size_t i = 0; i + 1 < size; i += 2) text.push_back(wchar_t(data[i] | (data[i + 1] << 8)));
    // Every unit comes back, a surrogate without its partner as U+FFFD.
    const std::wstring sound =
        nimbo::decodeUtf8(nimbo::encodeUtf8(text), nimbo::Utf8Malformed::emptyText);
    check(sound.size() == text.size());
    for (size_t i = 0; i < text.size() && i < sound.size(); ++i)
        check(sound[i] == text[i] ||
              (sound[i] == wchar_t(0xFFFD) &&
               (nimbo::isHighSurrogate(text[i]) || nimbo::isLowSurrogate(text[i]))));
    const std::string stored = nimbo::encodeStoredText(text);
    check(stored.find_first_of("\r\n") == std::string::npos);
    if (nimbo::lowerText(text).find(L"{nextstring}") == std::wstring::npos) {
        // What comes back is the text with every line break (CR LF, CR, LF) as CR LF.
        std::wstring expected;
        for (size_t i = 0; i < sound.size(); ++i) {
            if (sound[i] == L'\r' || sound[i] == L'\n') {
                if (sound[i] == L'\r' && i + 1 < sound.size() && sound[i + 1] == L'\n') ++i;
                expected += L"\r\n";
            } else {
                expected += sound[i];
            }
        }
        check(nimbo::decodeStoredText(stored) == expected);
    }

    // The value into the file given by the input.
    std::string proxyBefore, proxyAfter, value;
    const bool hadProxy = nimbo::readIniValue(bytes, "Winamp", "proxy", proxyBefore);
    const std::string file = nimbo::writeIniValue(bytes, "Gen_Nimbo", "StatusMask", stored);
    check(nimbo::readIniValue(file, "Gen_Nimbo", "StatusMask", value));
    if (keptByAnIniLine(stored)) check(value == stored);
    check(nimbo::readIniValue(file, "Winamp", "proxy", proxyAfter) == hadProxy);
    check(proxyAfter == proxyBefore);
    // Writing the same value again changes nothing.
    check(nimbo::writeIniValue(file, "Gen_Nimbo", "StatusMask", stored) == file);
    return 0;
}
