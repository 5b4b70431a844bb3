// Stored settings texts (UTF-8 inside an 8-bit ini, "{NextString}" for line breaks)
// and Winamp's proxy text.
#include <gtest/gtest.h>

#include "common/platform.h"
#include "common/text.h"
#include "common/utf8.h"
#include "core/ini_text.h"
#include "core/settings_codec.h"

using namespace nimbo;

namespace {

// Each case runs under the code page it names and restores the default after.
struct CodePage {
    explicit CodePage(unsigned cp) { setAnsiCodePage(cp); }
    ~CodePage() { setAnsiCodePage(1252); }
};

}  // namespace

TEST(Utf8Decoding, FollowsTheOneToFourByteRule) {
    EXPECT_EQ(decodeUtf8("plain"), L"plain");
    EXPECT_EQ(decodeUtf8("\xD0\x9F\xD1\x80"), L"\u041F\u0440");
    EXPECT_EQ(decodeUtf8("\xE2\x82\xAC"), L"\u20AC");
    // Beyond U+FFFF: four bytes, a surrogate pair in the wide text.
    EXPECT_EQ(decodeUtf8("a\xF0\x9F\x8E\xB5z"), std::wstring(L"a") + wchar_t(0xD83C) + wchar_t(0xDFB5) + L"z");
    EXPECT_EQ(decodeUtf8("\xF4\x8F\xBF\xBF"), std::wstring() + wchar_t(0xDBFF) + wchar_t(0xDFFF));
    // Surrogates written as three bytes each, as older files may hold them.
    EXPECT_EQ(decodeUtf8("\xED\xA0\xBC\xED\xBE\xB5"), std::wstring() + wchar_t(0xD83C) + wchar_t(0xDFB5));
    // A broken follower, a sequence cut by the end or a value past U+10FFFF empties the text.
    EXPECT_EQ(decodeUtf8("ok\xD0"), L"");
    EXPECT_EQ(decodeUtf8("ok\xD0\x41"), L"");
    EXPECT_EQ(decodeUtf8("\xE2\x82"), L"");
    EXPECT_EQ(decodeUtf8("\xF0\x9F\x8E"), L"");
    EXPECT_EQ(decodeUtf8("\xF0\x9F\x8E\x41"), L"");
    EXPECT_EQ(decodeUtf8("\xF4\x90\x80\x80"), L"");
    EXPECT_EQ(decodeUtf8(""), L"");
}

TEST(Utf8Encoding, RoundTripsThroughDecoding) {
    const std::wstring pair = std::wstring() + wchar_t(0xD83D) + wchar_t(0xDE00);
    const std::wstring texts[] = {L"", L"abc", L"\u041F\u0440\u0438\u0432\u0435\u0442", L"\u20AC 5",
                                  L"\u00A9\u00FF", pair + L" %artist%", L"x" + pair,
                                  // Lone surrogates go out as three bytes and come back.
                                  std::wstring(1, wchar_t(0xDC00)) + L"a" + wchar_t(0xD800)};
    for (const std::wstring& t : texts) EXPECT_EQ(decodeUtf8(encodeUtf8(t)), t);
    EXPECT_EQ(encodeUtf8(L"\u041F"), "\xD0\x9F");
    EXPECT_EQ(encodeUtf8(pair), "\xF0\x9F\x98\x80");
}

TEST(StoredText, LineBreaksBecomeTheMarkerAndBack) {
    const std::wstring mask = L"Line one\r\nLine two";
    const std::string stored = encodeStoredText(mask);
    EXPECT_EQ(stored, "Line one{NextString}Line two");
    EXPECT_EQ(decodeStoredText(stored), mask);
    // A lone CR or LF, which can end the ini line and lose the rest of the value, is
    // stored as a line break and reads back as CR LF.
    EXPECT_EQ(encodeStoredText(L"a\rb\nc\r\r\n"), "a{NextString}b{NextString}c{NextString}{NextString}");
    EXPECT_EQ(decodeStoredText(encodeStoredText(L"a\rb\nc")), L"a\r\nb\r\nc");
}

TEST(StoredText, MarkerInAnyLetterCaseIsALineBreak) {
    EXPECT_EQ(decodeStoredText("a{nextstring}b{NEXTSTRING}c{NeXtStRiNg}"), L"a\r\nb\r\nc\r\n");
}

// The stored bytes are the UTF-8 bytes whatever the code page: none is involved.
TEST(StoredText, StoresExactlyTheUtf8BytesUnderEveryCodePage) {
    const std::wstring texts[] = {
        L"\u041F\u0440\u0438\u0432\u0435\u0442 %artist% \u00A9",
        std::wstring(L"\u266B ") + wchar_t(0xD83C) + wchar_t(0xDFB5) + L" %title%\r\nnext",
        std::wstring(2100, L'\u0436'),
    };
    for (unsigned cp : {1251u, 1252u}) {
        CodePage page(cp);
        for (const std::wstring& text : texts) {
            const std::string stored = encodeStoredText(text);
            EXPECT_EQ(stored, encodeUtf8(replaceText(text, L"\r\n", L"{NextString}", true))) << cp;
            EXPECT_EQ(decodeStoredText(stored), text) << cp;
        }
    }
}

TEST(StoredText, MalformedStoredTextReadsEmpty) {
    // 0xA9 0x20 is not UTF-8.
    EXPECT_EQ(decodeStoredText("\xA9 Now"), L"");
}

// The built-in mask is one and the same text under every code page: it begins with
// U+03A9 (no pair of characters that a code page could turn into something else),
// and it is stored as its UTF-8 bytes and comes back whole. Narrowed through a code
// page and read as UTF-8, as a lossy store would do, it would come back mangled.
TEST(StoredText, DefaultMaskIsTheSameTextUnderEveryCodePage) {
    const std::wstring mask = kDefaultStatusMask;
    EXPECT_EQ(mask.size(), 140u);
    EXPECT_EQ(mask.substr(0, 21), L"\u03A9 Now is %curstate%:\r");
    for (unsigned cp : {1251u, 1252u}) {
        CodePage page(cp);
        const std::string stored = encodeStoredText(mask);
        EXPECT_EQ(stored.substr(0, 22), "\xCE\xA9 Now is %curstate%:{") << cp;
        EXPECT_EQ(decodeStoredText(stored), mask) << cp;
        EXPECT_NE(decodeStoredText(narrow(mask)), mask) << cp;
    }
}

TEST(ProxySetting, SplitsIntoCompletePairs) {
    struct Case {
        const char* text;
        const char* host;
        const char* port;
        const char* user;
        const char* password;
    } cases[] = {
        {"proxy.lan:3128", "proxy.lan", "3128", "", ""},
        {"bob:secret@proxy.lan:3128", "proxy.lan", "3128", "bob", "secret"},
        // No password: neither user nor password.
        {"bob@proxy.lan:3128", "proxy.lan", "3128", "", ""},
        {"bob:@proxy.lan:3128", "proxy.lan", "3128", "", ""},
        {":secret@proxy.lan:3128", "proxy.lan", "3128", "", ""},
        // A host alone: neither host nor port.
        {"proxy.lan", "", "", "", ""},
        {"proxy.lan:", "", "", "", ""},
        {":3128", "", "", "", ""},
        // A password holding "@" splits at the first "@".
        {"bob:se@cret@proxy.lan:3128", "cret@proxy.lan", "3128", "bob", "se"},
        // Only the first ":" on each side counts; nothing is trimmed.
        {"bob:a:b@ host :80:81", " host ", "80:81", "bob", "a:b"},
        {"", "", "", "", ""},
    };
    for (const Case& c : cases) {
        ProxyParts p = parseProxySetting(c.text);
        EXPECT_EQ(p.proxyHost, c.host) << c.text;
        EXPECT_EQ(p.proxyPort, c.port) << c.text;
        EXPECT_EQ(p.proxyUser, c.user) << c.text;
        EXPECT_EQ(p.proxyPassword, c.password) << c.text;
    }
}

TEST(IniText, ReadsTheFirstKeyOfTheFirstSectionAsThePlatformDoes) {
    const std::string file =
        "; comment\r\n[Winamp]\r\nproxy = p:1 \r\n[gen_nimbo]\r\n  cookie =  a=b; c \r\n"
        "Quoted=\"  x \"\r\nHalf=\"x\r\nBare\r\nCookie=second\r\n\r\n[Gen_Nimbo]\r\nAuthPass=late\r\n"
        "[Other]\nLF=only\nStatusMask=elsewhere";
    struct Case {
        const char* section;
        const char* key;
        bool found;
        const char* value;
    } cases[] = {
        {"Gen_Nimbo", "Cookie", true, "a=b; c"},
        {"Gen_Nimbo", "Quoted", true, "  x "},
        {"Gen_Nimbo", "Half", true, "\"x"},
        {"Gen_Nimbo", "Bare", false, ""},       // no "=": no value
        {"Gen_Nimbo", "AuthPass", false, ""},   // only the first section of a name counts
        {"Gen_Nimbo", "StatusMask", false, ""},
        {"WINAMP", "Proxy", true, "p:1"},
        {"Other", "LF", true, "only"},
        {"Other", "StatusMask", true, "elsewhere"},
        {"Missing", "Cookie", false, ""},
    };
    for (const Case& c : cases) {
        std::string value = "untouched";
        EXPECT_EQ(readIniValue(file, c.section, c.key, value), c.found) << c.key;
        if (c.found) EXPECT_EQ(value, c.value) << c.key;
        // A key found means its section stands in the file.
        if (c.found) EXPECT_TRUE(hasIniSection(file, c.section)) << c.section;
    }
    EXPECT_TRUE(hasIniSection(file, "GEN_NIMBO"));
    EXPECT_FALSE(hasIniSection(file, "Missing"));
    EXPECT_FALSE(hasIniSection(file, "Gen_Nimbo2"));
    // A line that merely mentions the name in a value is no header.
    EXPECT_FALSE(hasIniSection("[Winamp]\r\nx=[Gen_Nimbo]\r\n", "Gen_Nimbo"));
    EXPECT_TRUE(hasIniSection("  [ Gen_Nimbo ]", "Gen_Nimbo"));
}

TEST(IniText, WritesInPlaceAndKeepsEveryOtherByte) {
    struct Case {
        const char* before;
        const char* key;
        const char* value;
        const char* after;
    } cases[] = {
        {"", "Enabled", "1", "[Gen_Nimbo]\r\nEnabled=1\r\n"},
        {"[Winamp]\r\nproxy=x", "Enabled", "1", "[Winamp]\r\nproxy=x\r\n[Gen_Nimbo]\r\nEnabled=1\r\n"},
        {"[gen_nimbo]\r\n cookie = old \r\nNoLogin=0\r\n", "Cookie", "\xE2\x82\xAC",
         "[gen_nimbo]\r\nCookie=\xE2\x82\xAC\r\nNoLogin=0\r\n"},
        // A new key goes after the section's last entry, before blank lines.
        {"[Gen_Nimbo]\nA=1\n\n[Winamp]\nB=2\n", "Cookie", "c",
         "[Gen_Nimbo]\nA=1\nCookie=c\r\n\n[Winamp]\nB=2\n"},
        {"[Gen_Nimbo]\r\nA=1", "Cookie", "c", "[Gen_Nimbo]\r\nA=1\r\nCookie=c\r\n"},
        {"[Gen_Nimbo]\r\n", "Cookie", "", "[Gen_Nimbo]\r\nCookie=\r\n"},
    };
    for (const Case& c : cases) {
        const std::string after = writeIniValue(c.before, "Gen_Nimbo", c.key, c.value);
        EXPECT_EQ(after, c.after) << c.before;
        std::string value;
        EXPECT_TRUE(readIniValue(after, "Gen_Nimbo", c.key, value));
        EXPECT_EQ(value, c.value);
    }
    // Bytes that are no text in a double-byte code page go through untouched.
    const std::string raw = "\x81\x7F\xE3\x81\x82\xF0\x9F\x8E\xB5\xFF";
    std::string value;
    EXPECT_TRUE(readIniValue(writeIniValue("", "S", "K", raw), "S", "K", value));
    EXPECT_EQ(value, raw);
    EXPECT_TRUE(isUtf16Text("\xFF\xFE[\0"));
    EXPECT_FALSE(isUtf16Text("[Gen_Nimbo]"));
}
