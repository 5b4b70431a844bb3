// Stored settings texts (UTF-8 inside an 8-bit ini, "{NextString}" for line breaks)
// and Winamp's proxy text.
#include <gtest/gtest.h>

#include "common/platform.h"
#include "core/settings_codec.h"
#include "tag_builders.h"

using namespace nimbo;
using namespace nimbo::testing;

TEST(StoredText, LineBreaksBecomeTheMarkerAndBack) {
    const std::wstring mask = L"Line one\r\nLine two";
    const std::string stored = encodeStoredText(mask);
    EXPECT_EQ(stored, "Line one{NextString}Line two");
    EXPECT_EQ(decodeStoredText(stored), mask);
    // A lone CR or LF, which can end the ini line and lose the rest of the value, is
    // stored as a line break and reads back as CR LF.
    EXPECT_EQ(encodeStoredText(L"a\rb\nc\r\r\n"),
              "a{NextString}b{NextString}c{NextString}{NextString}");
    EXPECT_EQ(decodeStoredText(encodeStoredText(L"a\rb\nc")), L"a\r\nb\r\nc");
}

TEST(StoredText, MarkerInAnyLetterCaseIsALineBreak) {
    EXPECT_EQ(decodeStoredText("a{nextstring}b{NEXTSTRING}c{NeXtStRiNg}"), L"a\r\nb\r\nc\r\n");
}

// The stored bytes are the UTF-8 bytes whatever the code page: none is involved.
TEST(StoredText, StoresExactlyTheUtf8BytesUnderEveryCodePage) {
    std::string zhe;
    for (int i = 0; i < 2100; ++i) zhe += "\xD0\xB6";
    struct Case {
        std::wstring text;
        std::string stored;
    } cases[] = {
        {L"\u041F\u0440\u0438\u0432\u0435\u0442 %artist% \u00A9",
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 %artist% \xC2\xA9"},
        {std::wstring(L"\u266B ") + wchar_t(0xD83C) + wchar_t(0xDFB5) + L" %title%\r\nnext",
         "\xE2\x99\xAB \xF0\x9F\x8E\xB5 %title%{NextString}next"},
        {std::wstring(2100, L'\u0436'), zhe},
    };
    for (unsigned cp : {1251u, 1252u}) {
        CodePage page(cp);
        for (const Case& c : cases) {
            EXPECT_EQ(encodeStoredText(c.text), c.stored) << cp;
            EXPECT_EQ(decodeStoredText(c.stored), c.text) << cp;
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
