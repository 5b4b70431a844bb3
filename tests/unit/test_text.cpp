// Text functions shared by the request builders, the page scrapers, the mask, the ini
// editor and the tag readers.
#include <gtest/gtest.h>

#include "common/hex.h"
#include "common/platform.h"
#include "common/text.h"

using namespace nimbo;

TEST(UrlEncode, EncodesEveryByteWithUpperCaseHex) {
    EXPECT_EQ(urlEncode("abc"), "%61%62%63");
    EXPECT_EQ(urlEncode(" "), "%20");
    EXPECT_EQ(urlEncode(""), "");
    EXPECT_EQ(urlEncode(std::string("\0\xff", 2)), "%00%FF");
    // Cyrillic "Я" as UTF-8: two groups.
    EXPECT_EQ(urlEncode("\xD0\xAF"), "%D0%AF");
    EXPECT_EQ(urlEncode("a@b c&d=e"), "%61%40%62%20%63%26%64%3D%65");
    EXPECT_EQ(urlEncodeReserved("azAZ09-._~ &#%+/\xE9"), "azAZ09-._~%20%26%23%25%2B%2F%E9");
}

TEST(ExtractBetween, FindsTheValueAfterKeyAndStart) {
    struct Case {
        const wchar_t* text;
        const wchar_t* key;
        const wchar_t* start;
        const wchar_t* end;
        const wchar_t* expected;
    } cases[] = {
        {L"x activityhash value='abc'> y", L"activityhash", L"value='", L"'>", L"abc"},
        // The first occurrence of the key counts.
        {L"k=1; k=2;", L"k", L"=", L";", L"1"},
        // The start marker is searched from the key's first character on.
        {L"key=v;", L"key=", L"=", L";", L"v"},
        // Start marker right before the end marker: an empty value, not a missing one.
        {L"k=;", L"k", L"=", L";", L""},
        // A value that reads like a marker text is still a value.
        {L"k=None;", L"k", L"=", L";", L"None"},
        {L"k=err;", L"k", L"=", L";", L"err"},
        // "<br>" in any case becomes CR; the trailing space is trimmed.
        {L"k=Q<BR>R ;", L"k", L"=", L";", L"Q\rR"},
        {L"k=  a b \n;", L"k", L"=", L";", L"a b"},
        // Missing markers give no value. A start marker before the key does not count.
        {L"= k ;", L"k", L"=", L";", nullptr},
        {L"abc", L"x", L"=", L";", nullptr},
        {L"x abc;", L"x", L"=", L";", nullptr},
        {L"x = abc", L"x", L"=", L";", nullptr},
        {L"", L"x", L"=", L";", nullptr},
    };
    for (const Case& c : cases) {
        const std::optional<std::wstring> found = extractBetween(c.text, c.key, c.start, c.end);
        ASSERT_EQ(found.has_value(), c.expected != nullptr) << c.text;
        if (found) EXPECT_EQ(*found, c.expected) << c.text;
    }
}

TEST(ExtractBetween, EightBitFormRoundTripsTheCodePage) {
    setAnsiCodePage(1251);
    EXPECT_EQ(extractBetween8("k=\xCF\xF0\xE8\xE2\xE5\xF2;", L"k", L"=", L";"),
              std::optional<std::string>("\xCF\xF0\xE8\xE2\xE5\xF2"));
    EXPECT_EQ(extractBetween8("k=\xCF\xF0", L"k", L"=", L";"), std::nullopt);
    setAnsiCodePage(1252);
}

TEST(ReplaceText, ReplacesEachOccurrenceOnce) {
    EXPECT_EQ(replaceText(L"a-b-c", L"-", L"+", true), L"a+b+c");
    // A replacement holding the pattern is not scanned again.
    EXPECT_EQ(replaceText(L"xx", L"x", L"xx", true), L"xxxx");
    EXPECT_EQ(replaceText(L"abc", L"", L"z", true), L"abc");
    EXPECT_EQ(replaceText(L"", L"a", L"z", true), L"");
    EXPECT_EQ(replaceText(L"aAa", L"a", L"b", true), L"bAb");
}

TEST(ReplaceText, IgnoringCaseKeepsTheUntouchedTextAsWritten) {
    EXPECT_EQ(replaceText(L"One{NEXTSTRING}Two{nextstring}", L"{NextString}", L"\r\n", false),
              L"One\r\nTwo\r\n");
    EXPECT_EQ(replaceText(L"Artist %ARTIST% %artist%", L"%artist%", L"X", false), L"Artist X X");
    // Cyrillic letters fold too.
    EXPECT_EQ(replaceText(L"\u0410\u0411 \u0430\u0431", L"\u0430\u0431", L"-", false), L"- -");
}

TEST(TrimBlanks, TrimsSpacesAndLineBreaksAsDefined) {
    EXPECT_EQ(trimBlanks(L"  \n a b \r\n "), L"a b");
    EXPECT_EQ(trimBlanks(L" \r\n \n"), L"");
    EXPECT_EQ(trimBlanks(L""), L"");
    // A leading CR stays; tabs stay on both sides.
    EXPECT_EQ(trimBlanks(L"\rx"), L"\rx");
    EXPECT_EQ(trimBlanks(L"\tx\t"), L"\tx\t");
}

TEST(TrimEnds, DropsWhatEachPredicateAcceptsAtItsEnd) {
    auto control = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    auto never = [](char) { return false; };
    struct Case {
        std::string text;
        bool leading, trailing;  // which ends the control predicate trims
        std::string expected;
    } cases[] = {
        {std::string(" \0\tab\0c\x1F\x20", 9), true, true, std::string("ab\0c", 4)},
        {std::string(" \0\tab\0c\x1F\x20", 9), false, true, std::string(" \0\tab\0c", 7)},
        {std::string(" \0\tab\0c\x1F\x20", 9), true, false, std::string("ab\0c\x1F\x20", 6)},
        {"\x01\x02 \x10", true, true, ""},
        {"\x01\x02 \x10", false, true, ""},
        {"", true, true, ""},
        // 0x21 and the bytes above 0x7F are no controls, signed char or not.
        {"!\xA0x\xFF", true, true, "!\xA0x\xFF"},
        {"\x7F", true, true, "\x7F"},
    };
    for (const Case& c : cases) {
        std::string got;
        if (c.leading && c.trailing)
            got = trimEnds(c.text, control);
        else if (c.trailing)
            got = trimEnds(c.text, never, control);
        else
            got = trimEnds(c.text, control, never);
        EXPECT_EQ(got, c.expected) << c.text;
    }
    // The named trims: with the delete byte, and controls on wide text of the tag reader.
    EXPECT_EQ(trimControls("\x7F a \x7F", true), "a");
    EXPECT_EQ(trimControls("\x7F a \x7F"), "\x7F a \x7F");
    EXPECT_EQ(trimEnds(std::wstring(L"\u3000\x1F x\u00A0\x20"),
                       [](wchar_t c) { return unsigned(c) <= 0x20; }),
              L"\u3000\x1F x\u00A0");
}

TEST(NoCaseCompare, FoldsOnlyAsciiLetters) {
    struct Case {
        const char* a;
        const char* b;
        bool equal;
    } cases[] = {
        {"Content-Length:", "CONTENT-LENGTH:", true},
        {"https", "HTTPS", true},
        {"", "", true},
        {"a", "", false},
        {"abc", "abd", false},
        // Neighbours of the letter ranges do not fold: @ [ ` {.
        {"@[", "`{", false},
        // Bytes above 0x7F are compared as they are: 0xC0 / 0xE0 is a letter pair in 1251.
        {"\xC0", "\xE0", false},
        {"x\xFF", "X\xFF", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(equalsNoCase(std::string(c.a), std::string(c.b)), c.equal) << c.a << "|" << c.b;
        EXPECT_EQ(equalsNoCase(std::string(c.b), std::string(c.a)), c.equal) << c.a << "|" << c.b;
    }
    EXPECT_TRUE(equalsNoCase(std::wstring(L".Mp3"), std::wstring(L".mP3")));
    EXPECT_FALSE(
        equalsNoCase(std::wstring(L".\u041C"), std::wstring(L".\u043C")));    // Cyrillic М / м
    EXPECT_FALSE(equalsNoCase(std::wstring(L"\u212A"), std::wstring(L"k")));  // the Kelvin sign

    EXPECT_TRUE(startsWithNoCase("transfer-encoding: chunked", "TRANSFER-ENCODING:"));
    EXPECT_FALSE(startsWithNoCase("Transfer", "TRANSFER-ENCODING:"));
    EXPECT_TRUE(startsWithNoCase("x", ""));
    EXPECT_TRUE(containsNoCase("gzip, Chunked", "CHUNKED"));
    EXPECT_TRUE(containsNoCase("chunked", "CHUNKED"));
    EXPECT_FALSE(containsNoCase("chunke", "CHUNKED"));
    EXPECT_FALSE(
        containsNoCase("chun\xCB"
                       "ed",
                       "CHUNKED"));
}

TEST(HexDigit, ValuesAndNonDigits) {
    const std::string digits = "0123456789abcdefABCDEF";
    const int values[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                          11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
    for (size_t i = 0; i < digits.size(); ++i)
        EXPECT_EQ(hexDigit(digits[i]), values[i]) << digits[i];
    for (char c : std::string("/:@G`gxX \0\xB0\xFF", 12)) EXPECT_EQ(hexDigit(c), -1) << int(c);
}
