// UTF-8 to and from the wide (UTF-16) text the plugin works in, and the surrogate
// pairs that carry characters beyond U+FFFF in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace nimbo {

inline bool isHighSurrogate(unsigned unit) {
    return unit >= 0xD800 && unit < 0xDC00;
}
inline bool isLowSurrogate(unsigned unit) {
    return unit >= 0xDC00 && unit < 0xE000;
}

// A code point from U+10000 to U+10FFFF as its two UTF-16 units, and back.
inline void toSurrogatePair(uint32_t codePoint, wchar_t& high, wchar_t& low) {
    high = static_cast<wchar_t>(0xD800 + ((codePoint - 0x10000) >> 10));
    low = static_cast<wchar_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
}
inline uint32_t fromSurrogatePair(unsigned high, unsigned low) {
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// What a malformed sequence does to the decoded text.
enum class Utf8Malformed {
    // Stored settings, as files written before hold them: bit 0x20 of any lead byte
    // picks two or three bytes (F0..F4 four); overlong forms and encoded surrogates are
    // taken as they are. A bad follower, a cut sequence or a value past U+10FFFF empties
    // the whole text.
    emptyText,
    // Tag texts, strict UTF-8: a stray or missing follower, an overlong form, a surrogate
    // or a value past U+10FFFF each becomes one U+FFFD, and decoding goes on.
    replaceEach,
};

// Characters beyond U+FFFF become surrogate pairs.
std::wstring decodeUtf8(const char* bytes, size_t size, Utf8Malformed rule);
inline std::wstring decodeUtf8(const std::string& bytes,
                               Utf8Malformed rule = Utf8Malformed::emptyText) {
    return decodeUtf8(bytes.data(), bytes.size(), rule);
}

// A surrogate pair joins into one four-byte character; a lone surrogate is no
// character and goes out as U+FFFD, so the bytes are always valid UTF-8.
std::string encodeUtf8(const std::wstring& text);

// At most `units` units of `text`, one fewer when the last would be a high surrogate
// whose partner the cut leaves behind: a bound never splits a character.
std::wstring leadingUnits(const std::wstring& text, size_t units);

// The text another party wrote into a buffer of `units` units: up to the first zero.
// Without one the text went on past the buffer, so it is cut like leadingUnits.
// Nothing past `units` is looked at.
std::wstring bufferText(const wchar_t* buffer, size_t units);

}  // namespace nimbo
