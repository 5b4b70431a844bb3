// The settings store through the real private-profile calls, under the code page
// this program was built to expect (1251 or 1252; the locale decides under Wine).
#include <gtest/gtest.h>

#include "common/platform.h"
#include "core/settings.h"
#include "tests/win32/win32_test_util.h"

using namespace nimbo;
using namespace testutil;

namespace {

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), unsigned(NIMBO_EXPECT_CP)) << "wrong locale: the test would test the wrong code page";
        removeFile(besideIni());
        removeFile(appDataIni());
        resetSettingsForTest();
    }
    void TearDown() override {
        removeFile(besideIni());
        removeFile(appDataIni());
    }
};

const std::wstring kCyrillic = L"\u0418\u0432\u0430\u043D \u0412\u0430\u0441\u044F";  // bytes D0 98 ... D1 81 D1 8F

bool contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

}  // namespace

TEST_F(SettingsStore, NoFileGivesDefaultsAndTheSaveCreatesItBesideTheHost) {
    loadSettings();
    Settings s = currentSettings();
    EXPECT_FALSE(s.Enabled);
    EXPECT_FALSE(s.ShowErrors);
    EXPECT_FALSE(s.NoLogin);
    EXPECT_EQ(s.Cookie, L"");
    EXPECT_EQ(s.AuthLogin, L"");
    EXPECT_EQ(s.AuthPass, L"");
    // The built-in default, intact, whatever the code page.
    EXPECT_EQ(s.StatusMask, kDefaultStatusMask);
    EXPECT_EQ(s.StatusMask.size(), 141u);
    EXPECT_TRUE(proxyConfig().proxySetting.empty());

    saveSettings();
    std::string bytes;
    ASSERT_TRUE(readFile(besideIni(), bytes));
    EXPECT_FALSE(fileExists(appDataIni()));
    EXPECT_TRUE(contains(bytes, "[Gen_Nimbo]"));
    EXPECT_TRUE(contains(bytes, "Enabled=0"));
    // The default mask is stored as UTF-8 with the line-break marker.
    EXPECT_TRUE(contains(bytes, "StatusMask=" + utf8(L"\u041E\u00A9 Now is %curstate%:") +
                                    "{NextString}Artist: %artist%{NextString}"));
}

TEST_F(SettingsStore, ApplicationDataFolderIsTheSecondPlace) {
    ASSERT_TRUE(writeFile(appDataIni(), "[Gen_Nimbo]\r\nEnabled=1\r\nCookie=from-appdata\r\n"));
    loadSettings();
    EXPECT_TRUE(currentSettings().Enabled);
    EXPECT_EQ(currentSettings().Cookie, L"from-appdata");
    editSettings([](Settings& s) { s.Cookie = L"changed"; });
    saveSettings();
    std::string bytes;
    ASSERT_TRUE(readFile(appDataIni(), bytes));
    EXPECT_TRUE(contains(bytes, "Cookie=changed"));
    EXPECT_FALSE(fileExists(besideIni()));
}

TEST_F(SettingsStore, TheFileBesideTheHostWins) {
    ASSERT_TRUE(writeFile(appDataIni(), "[Gen_Nimbo]\r\nCookie=from-appdata\r\n"));
    ASSERT_TRUE(writeFile(besideIni(), "[Gen_Nimbo]\r\nCookie=beside\r\n"));
    loadSettings();
    EXPECT_EQ(currentSettings().Cookie, L"beside");
}

TEST_F(SettingsStore, LoadAndSaveRoundTrip) {
    const std::string ini = "[Winamp]\r\nproxy=bob:pw@127.0.0.1:3128\r\n[Gen_Nimbo]\r\n"
                            "Enabled=2\r\nShowErrors=yes\r\nCookie=remixsid=abc\r\nAuthLogin=" +
                            utf8(kCyrillic) + "\r\nAuthPass=p w\r\nStatusMask=Line one{NEXTstring}" +
                            utf8(kCyrillic) + " %artist%\r\nNoLogin=1\r\n";
    ASSERT_TRUE(writeFile(besideIni(), ini));
    loadSettings();
    Settings s = currentSettings();
    EXPECT_TRUE(s.Enabled);
    EXPECT_FALSE(s.ShowErrors);  // a word is not a number
    EXPECT_TRUE(s.NoLogin);
    EXPECT_EQ(s.Cookie, L"remixsid=abc");
    EXPECT_EQ(s.AuthLogin, kCyrillic);
    EXPECT_EQ(s.AuthPass, L"p w");
    EXPECT_EQ(s.StatusMask, L"Line one\r\n" + kCyrillic + L" %artist%");
    EXPECT_EQ(proxyConfig().proxySetting, "bob:pw@127.0.0.1:3128");
    EXPECT_EQ(proxyConfig().parts.proxyHost, "127.0.0.1");
    EXPECT_EQ(proxyConfig().parts.proxyPort, "3128");
    EXPECT_EQ(proxyConfig().parts.proxyUser, "bob");
    EXPECT_EQ(proxyConfig().parts.proxyPassword, "pw");

    saveSettings();
    std::string bytes;
    ASSERT_TRUE(readFile(besideIni(), bytes));
    EXPECT_TRUE(contains(bytes, "Enabled=1\r\n"));
    EXPECT_TRUE(contains(bytes, "ShowErrors=0\r\n"));
    EXPECT_TRUE(contains(bytes, "NoLogin=1\r\n"));
    EXPECT_TRUE(contains(bytes, "AuthLogin=" + utf8(kCyrillic) + "\r\n"));
    EXPECT_TRUE(contains(bytes, "StatusMask=Line one{NextString}" + utf8(kCyrillic) + " %artist%\r\n"));
    // Winamp's own key is never written.
    EXPECT_TRUE(contains(bytes, "proxy=bob:pw@127.0.0.1:3128\r\n"));

    // And what was written reads back the same.
    resetSettingsForTest();
    loadSettings();
    Settings again = currentSettings();
    EXPECT_EQ(again.StatusMask, s.StatusMask);
    EXPECT_EQ(again.AuthLogin, s.AuthLogin);
    EXPECT_TRUE(again.Enabled);
}

TEST_F(SettingsStore, LaterKeysAreReadClampedAndWrittenOnlyOnceUsed) {
    // An ini without them keeps exactly its keys through a save.
    ASSERT_TRUE(writeFile(besideIni(), "[Gen_Nimbo]\r\nEnabled=1\r\n"));
    loadSettings();
    Settings s = currentSettings();
    EXPECT_EQ(s.MinInterval, 5);
    EXPECT_TRUE(s.PrivateWords.empty());
    EXPECT_EQ(s.OnPause, 0);
    EXPECT_EQ(s.OnStop, 0);
    saveSettings();
    std::string bytes;
    ASSERT_TRUE(readFile(besideIni(), bytes));
    for (const char* key : {"MinInterval", "PrivateWords", "OnPause", "OnStop"})
        EXPECT_FALSE(contains(bytes, key)) << key;

    // Set ones go out, and read back; out-of-range numbers are brought into range.
    editSettings([](Settings& v) {
        v.MinInterval = 0;
        v.PrivateWords = L"D:\\Audiobooks\r\n" + kCyrillic;
        v.OnStop = 1;
    });
    saveSettings();
    ASSERT_TRUE(readFile(besideIni(), bytes));
    EXPECT_TRUE(contains(bytes, "MinInterval=0\r\n"));
    EXPECT_TRUE(contains(bytes, "PrivateWords=D:\\Audiobooks{NextString}" + utf8(kCyrillic) + "\r\n"));
    EXPECT_TRUE(contains(bytes, "OnStop=1\r\n"));
    EXPECT_FALSE(contains(bytes, "OnPause"));
    resetSettingsForTest();
    loadSettings();
    s = currentSettings();
    EXPECT_EQ(s.MinInterval, 0);
    EXPECT_EQ(s.PrivateWords, L"D:\\Audiobooks\r\n" + kCyrillic);
    EXPECT_EQ(s.OnStop, 1);

    const struct {
        const char* stored;
        int minInterval, onPause;
    } cases[] = {{"-3", 0, 0}, {"999999", 3600, 0}, {"x", 5, 0}, {" 1 ", 1, 1}, {"2", 2, 0}};
    for (const auto& c : cases) {
        ASSERT_TRUE(writeFile(besideIni(), std::string("[Gen_Nimbo]\r\nMinInterval=") + c.stored +
                                                "\r\nOnPause=" + c.stored + "\r\n"));
        resetSettingsForTest();
        loadSettings();
        EXPECT_EQ(currentSettings().MinInterval, c.minInterval) << c.stored;
        EXPECT_EQ(currentSettings().OnPause, c.onPause) << c.stored;
    }
}

TEST_F(SettingsStore, PresentEmptyMaskStaysEmptyAndLongValuesAreReadWhole) {
    // 2,100 Cyrillic letters are 4,200 bytes: a read cut at 4,095 would end inside a
    // letter and lose the whole value.
    const std::wstring longMask = std::wstring(2100, L'\u0436');
    ASSERT_TRUE(writeFile(besideIni(), "[Gen_Nimbo]\r\nStatusMask=\r\nCookie=" + std::string(70000, 'c') +
                                           "\r\nAuthPass=" + utf8(longMask) + "\r\n"));
    loadSettings();
    EXPECT_EQ(currentSettings().StatusMask, L"");
    EXPECT_EQ(currentSettings().Cookie, std::wstring(70000, L'c'));
    EXPECT_EQ(currentSettings().AuthPass, longMask);
}

// Every code page, the double-byte ones too: the file holds exactly the UTF-8 bytes,
// and they read back as the same texts, emoji (beyond U+FFFF) included.
TEST_F(SettingsStore, TextsReachTheFileAsUtf8BytesAndComeBackWhole) {
    const std::wstring emoji = std::wstring(L"\u266B ") + wchar_t(0xD83C) + wchar_t(0xDFB5) + L" %title%";
    const std::wstring japanese = L"\u66F2\u540D: %title%\r\n\u30A2\u30FC\u30C6\u30A3\u30B9\u30C8";
    const std::wstring longMask = std::wstring(2100, L'\u0436') + L"\r\n" + emoji;
    ASSERT_TRUE(writeFile(besideIni(), "[Winamp]\r\nproxy=127.0.0.1:3128\r\n[Other]\r\nKey=\x81\xFF\r\n"));
    loadSettings();
    editSettings([&](Settings& s) {
        s.StatusMask = longMask;
        s.Cookie = emoji;
        s.AuthLogin = japanese;
        s.AuthPass = kCyrillic;
    });
    saveSettings();
    std::string bytes;
    ASSERT_TRUE(readFile(besideIni(), bytes));
    EXPECT_TRUE(contains(bytes, "Cookie=" + utf8(emoji) + "\r\n"));
    EXPECT_TRUE(contains(bytes, "AuthLogin=" + utf8(L"\u66F2\u540D: %title%") + "{NextString}" +
                                    utf8(L"\u30A2\u30FC\u30C6\u30A3\u30B9\u30C8") + "\r\n"));
    EXPECT_TRUE(contains(bytes, "AuthPass=" + utf8(kCyrillic) + "\r\n"));
    EXPECT_TRUE(contains(bytes, "StatusMask=" + utf8(std::wstring(2100, L'\u0436')) + "{NextString}" +
                                    utf8(emoji) + "\r\n"));
    // Winamp's sections and their bytes stay as they were.
    EXPECT_EQ(bytes.find("[Winamp]\r\nproxy=127.0.0.1:3128\r\n[Other]\r\nKey=\x81\xFF\r\n"), 0u);

    resetSettingsForTest();
    loadSettings();
    Settings s = currentSettings();
    EXPECT_EQ(s.StatusMask, longMask);
    EXPECT_EQ(s.Cookie, emoji);
    EXPECT_EQ(s.AuthLogin, japanese);
    EXPECT_EQ(s.AuthPass, kCyrillic);
    EXPECT_EQ(proxyConfig().parts.proxyHost, "127.0.0.1");
    // And the platform's own reader still finds the keys where it expects them.
    wchar_t value[64] = {0};
    GetPrivateProfileStringW(L"Gen_Nimbo", L"NoLogin", L"?", value, 64, widen(besideIni()).c_str());
    EXPECT_STREQ(value, L"0");
}

// A Unicode winamp.ini is left to the platform's calls, so it is never damaged.
TEST_F(SettingsStore, UnicodeFileGoesThroughThePlatform) {
    const std::wstring text = L"\xFEFF[Gen_Nimbo]\r\nCookie=remixsid=u\r\nEnabled=1\r\n";
    ASSERT_TRUE(writeFile(besideIni(), std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2)));
    loadSettings();
    EXPECT_EQ(currentSettings().Cookie, L"remixsid=u");
    EXPECT_TRUE(currentSettings().Enabled);
    editSettings([](Settings& s) { s.AuthLogin = L"bob"; });
    saveSettings();
    resetSettingsForTest();
    loadSettings();
    EXPECT_EQ(currentSettings().Cookie, L"remixsid=u");
    EXPECT_EQ(currentSettings().AuthLogin, L"bob");
    std::string bytes;
    ASSERT_TRUE(readFile(besideIni(), bytes));
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
}

TEST_F(SettingsStore, MalformedStoredTextReadsEmpty) {
    ASSERT_TRUE(writeFile(besideIni(), "[Gen_Nimbo]\r\nCookie=ab\xD0\r\nAuthPass=\xE2\x82x\r\n"));
    loadSettings();
    EXPECT_EQ(currentSettings().Cookie, L"");
    EXPECT_EQ(currentSettings().AuthPass, L"");
}

TEST_F(SettingsStore, ProxyHostAloneGivesNoProxyParts) {
    ASSERT_TRUE(writeFile(besideIni(), "[Winamp]\r\nproxy=proxy.lan\r\n"));
    loadSettings();
    EXPECT_EQ(proxyConfig().proxySetting, "proxy.lan");
    EXPECT_EQ(proxyConfig().parts.proxyHost, "");
    EXPECT_EQ(proxyConfig().parts.proxyPort, "");
}
