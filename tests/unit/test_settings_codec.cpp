// Stored settings texts (UTF-8 inside an 8-bit ini, "{NextString}" for line breaks)
// and Winamp's proxy text.
#include <gtest/gtest.h>

#include "common/platform.h"
#include "common/utf8.h"
#include "core/settings_codec.h"

using namespace nimbo;

namespace {

// Each case runs under the code page it names and restores the default after.
struct CodePage {
    explicit CodePage(unsigned cp) { setAnsiCodePage(cp); }
    ~CodePage() { setAnsiCodePage(1252); }
};

const wchar_t kDefaultMaskHead[] = L"\u041E\u00A9 Now is %curstate%:";

}  // namespace

TEST(Utf8Decoding, FollowsTheOneToThreeByteRule) {
    EXPECT_EQ(decodeUtf8("plain"), L"plain");
    EXPECT_EQ(decodeUtf8("\xD0\x9F\xD1\x80"), L"\u041F\u0440");
    EXPECT_EQ(decodeUtf8("\xE2\x82\xAC"), L"\u20AC");
    // A broken follower or a sequence cut by the end empties the whole text.
    EXPECT_EQ(decodeUtf8("ok\xD0"), L"");
    EXPECT_EQ(decodeUtf8("ok\xD0\x41"), L"");
    EXPECT_EQ(decodeUtf8("\xE2\x82"), L"");
    EXPECT_EQ(decodeUtf8(""), L"");
}

TEST(Utf8Encoding, RoundTripsThroughDecoding) {
    const std::wstring texts[] = {L"", L"abc", L"\u041F\u0440\u0438\u0432\u0435\u0442", L"\u20AC 5",
                                  L"\u00A9\u00FF"};
    for (const std::wstring& t : texts) EXPECT_EQ(decodeUtf8(encodeUtf8(t)), t);
    EXPECT_EQ(encodeUtf8(L"\u041F"), "\xD0\x9F");
}

TEST(StoredText, LineBreaksBecomeTheMarkerAndBack) {
    for (unsigned cp : {1251u, 1252u}) {
        CodePage page(cp);
        const std::wstring mask = L"Line one\r\nLine two";
        const std::wstring stored = encodeStoredText(mask);
        EXPECT_EQ(stored, L"Line one{NextString}Line two");
        EXPECT_EQ(decodeStoredText(stored), mask);
        // A lone CR or LF is kept as it is.
        EXPECT_EQ(encodeStoredText(L"a\rb\nc"), L"a\rb\nc");
    }
}

TEST(StoredText, MarkerInAnyLetterCaseIsALineBreak) {
    EXPECT_EQ(decodeStoredText(L"a{nextstring}b{NEXTSTRING}c{NeXtStRiNg}"), L"a\r\nb\r\nc\r\n");
}

TEST(StoredText, CyrillicRoundTripsUnderBothCodePages) {
    const std::wstring text = L"\u041F\u0440\u0438\u0432\u0435\u0442 %artist% \u00A9";
    for (unsigned cp : {1251u, 1252u}) {
        CodePage page(cp);
        const std::wstring stored = encodeStoredText(text);
        // The file (narrowed again) holds exactly the UTF-8 bytes.
        EXPECT_EQ(narrow(stored), encodeUtf8(text)) << cp;
        EXPECT_EQ(decodeStoredText(stored), text) << cp;
    }
}

TEST(StoredText, MalformedStoredTextReadsEmpty) {
    CodePage page(1252);
    // 0xA9 0x20 is not UTF-8.
    EXPECT_EQ(decodeStoredText(L"\u00A9 Now"), L"");
}

// Why a missing StatusMask must not be decoded like a stored value: the built-in
// default, narrowed and read as UTF-8, comes back mangled or empty.
TEST(StoredText, DefaultMaskDoesNotSurviveTheDecoding) {
    {
        CodePage page(1251);
        std::wstring decoded = decodeStoredText(kDefaultMaskHead);
        EXPECT_EQ(decoded, L"\u03A9 Now is %curstate%:");
    }
    {
        CodePage page(1252);
        EXPECT_EQ(decodeStoredText(kDefaultMaskHead), L"");
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
