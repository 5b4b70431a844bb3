// The settings store through the real private-profile calls, under the code page
// this program was built to expect (1251 or 1252; the locale decides under Wine).
#include <gtest/gtest.h>

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

TEST_F(SettingsStore, PresentEmptyMaskStaysEmptyAndLongValuesAreCut) {
    ASSERT_TRUE(writeFile(besideIni(), "[Gen_Nimbo]\r\nStatusMask=\r\nCookie=" + std::string(5000, 'c') + "\r\n"));
    loadSettings();
    EXPECT_EQ(currentSettings().StatusMask, L"");
    EXPECT_EQ(currentSettings().Cookie, std::wstring(4095, L'c'));
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
