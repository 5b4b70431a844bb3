// Text functions shared by the request builders, the page scrapers and the mask.
#include <gtest/gtest.h>

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
