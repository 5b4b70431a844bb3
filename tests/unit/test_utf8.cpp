// UTF-8 under its two rules for malformed input, and the surrogate pairs of the wide text.
#include <gtest/gtest.h>

#include "common/utf8.h"

using namespace nimbo;

namespace {

std::wstring units(std::initializer_list<unsigned> values) {
    std::wstring out;
    for (unsigned v : values) out.push_back(wchar_t(v));
    return out;
}

}  // namespace

// The encoder writes these bytes, and both decoding rules read them back.
TEST(Utf8, TextAndBytesBothWays) {
    struct Case {
        std::wstring text;
        const char* bytes;
    } cases[] = {
        {L"", ""},
        {L"plain", "plain"},
        {units({0x7F, 0x80}), "\x7F\xC2\x80"},
        {L"\u041F\u0440", "\xD0\x9F\xD1\x80"},
        {units({0x7FF, 0x800}), "\xDF\xBF\xE0\xA0\x80"},
        {L"\u20AC", "\xE2\x82\xAC"},
        {units({0xD7FF, 0xE000}), "\xED\x9F\xBF\xEE\x80\x80"},
        {units({0xFFFF}), "\xEF\xBF\xBF"},
        // Beyond U+FFFF: four bytes, a surrogate pair in the wide text, at both edges.
        {units({0xD800, 0xDC00}), "\xF0\x90\x80\x80"},
        {units({'a', 0xD83C, 0xDFB5, 'z'}), "a\xF0\x9F\x8E\xB5z"},
        {units({0xDBFF, 0xDFFF}), "\xF4\x8F\xBF\xBF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(encodeUtf8(c.text), c.bytes);
        EXPECT_EQ(decodeUtf8(c.bytes, Utf8Malformed::emptyText), c.text);
        EXPECT_EQ(decodeUtf8(c.bytes, Utf8Malformed::replaceEach), c.text);
    }
}

TEST(Utf8Decoding, MalformedInputUnderEachRule) {
    const wchar_t kEmpty[] = L"(empty)";
    struct Case {
        const char* name;
        std::string bytes;
        std::wstring stored;  // Utf8Malformed::emptyText; kEmpty for an empty text
        std::wstring tag;     // Utf8Malformed::replaceEach
    } cases[] = {
        {"cut two-byte sequence", "ok\xD0", kEmpty, L"ok\uFFFD"},
        {"bad follower", "ok\xD0\x41", kEmpty, L"ok\uFFFDA"},
        {"cut three-byte sequence", "\xE2\x82", kEmpty, L"\uFFFD"},
        {"cut four-byte sequence", "\xF0\x9F\x8E", kEmpty, L"\uFFFD"},
        {"four-byte sequence, bad last byte", "\xF0\x9F\x8E\x41", kEmpty, L"\uFFFDA"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", kEmpty, L"\uFFFD"},
        // Bit 0x20 of the lead picks the length under the stored rule, so these decode there.
        {"overlong slash", "c\xC0\xAF", L"c/", L"c\uFFFD"},
        {"overlong three bytes", "\xE0\x80\xAF", L"/", L"\uFFFD"},
        {"stray follower as a lead", "\x81\x81", units({0x41}), L"\uFFFD\uFFFD"},
        {"F8 as a lead", "\xF8\x81\x82", units({0x8042}), L"\uFFFD\uFFFD\uFFFD"},
        // Surrogates written as three bytes each, as older files may hold them.
        {"encoded surrogate pair", "\xED\xA0\xBC\xED\xBE\xB5", units({0xD83C, 0xDFB5}),
         L"\uFFFD\uFFFD"},
        {"encoded lone low surrogate", "\xED\xBF\xBF", units({0xDFFF}), L"\uFFFD"},
        // 0xA9 0x20 (the default mask narrowed under 1252) is no UTF-8.
        {"A9 then a space", "\xA9 Now", kEmpty, L"\uFFFD Now"},
        {"each bad sequence once",
         "a\x80"
         "b\xE3\x81"
         "c\xF4\x90\x80\x80"
         "d",
         kEmpty, L"a\uFFFDb\uFFFDc\uFFFDd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring stored = decodeUtf8(c.bytes, Utf8Malformed::emptyText);
        EXPECT_EQ(stored.empty() ? std::wstring(kEmpty) : stored, c.stored);
        EXPECT_EQ(decodeUtf8(c.bytes, Utf8Malformed::replaceEach), c.tag);
    }
    // A zero byte is a character like any other; only the callers end texts at one.
    EXPECT_EQ(decodeUtf8(std::string("a\0b", 3), Utf8Malformed::replaceEach),
              std::wstring(L"a\0b", 3));
}

// A lone surrogate, or a pair in the wrong order, is no character: U+FFFD each, so
// the bytes are always UTF-8.
TEST(Utf8Encoding, LoneSurrogatesBecomeReplacementCharacters) {
    EXPECT_EQ(encodeUtf8(units({0xDC00, 'a', 0xD800})),
              "\xEF\xBF\xBD"
              "a\xEF\xBF\xBD");
    EXPECT_EQ(encodeUtf8(units({0xDC00, 0xD800})), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(encodeUtf8(units({'x', 0xD83C})), "x\xEF\xBF\xBD");
}

// What another party wrote into a buffer, and any cut to a bound: up to the first zero,
// never past the buffer, and never half a character.
TEST(SurrogatePairs, BoundsNeverSplitACharacter) {
    const wchar_t buffer[] = {L'a', L'b', L'\0', L'c', 0xD83C, 0xDFB5, 0xD83C};
    struct Case {
        size_t units;
        std::wstring text;
    } cases[] = {{7, L"ab"}, {2, L"ab"}, {1, L"a"}, {0, L""}};
    for (const Case& c : cases) EXPECT_EQ(bufferText(buffer, c.units), c.text) << c.units;
    // No zero: the text went on past the buffer, and a last high half lost its partner.
    EXPECT_EQ(bufferText(buffer + 3, 4), units({'c', 0xD83C, 0xDFB5}));
    EXPECT_EQ(bufferText(buffer + 3, 2), L"c");
    const std::wstring pair = units({'1', 0xD83C, 0xDFB5});
    EXPECT_EQ(leadingUnits(pair, 2), L"1");
    EXPECT_EQ(leadingUnits(pair, 3), pair);
}

TEST(SurrogatePairs, JoinAndSplitAtTheEdges) {
    struct Case {
        uint32_t codePoint;
        unsigned high, low;
    } cases[] = {
        {0x10000, 0xD800, 0xDC00}, {0x103FF, 0xD800, 0xDFFF},  {0x10400, 0xD801, 0xDC00},
        {0x1F3B5, 0xD83C, 0xDFB5}, {0x10FFFF, 0xDBFF, 0xDFFF},
    };
    for (const Case& c : cases) {
        wchar_t high = 0, low = 0;
        toSurrogatePair(c.codePoint, high, low);
        EXPECT_EQ(unsigned(high), c.high) << std::hex << c.codePoint;
        EXPECT_EQ(unsigned(low), c.low) << std::hex << c.codePoint;
        EXPECT_EQ(fromSurrogatePair(c.high, c.low), c.codePoint);
    }
    for (unsigned unit : {0xD7FFu, 0xD800u, 0xDBFFu, 0xDC00u, 0xDFFFu, 0xE000u}) {
        EXPECT_EQ(isHighSurrogate(unit), unit >= 0xD800 && unit <= 0xDBFF) << std::hex << unit;
        EXPECT_EQ(isLowSurrogate(unit), unit >= 0xDC00 && unit <= 0xDFFF) << std::hex << unit;
    }
}
