// The settings store through the real private-profile calls, under the code page
// this program was built to expect (1251, 1252 or 932; the locale decides under Wine):
// where winamp.ini is found, what is read and written, and a save that never damages it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "common/file_replace.h"
#include "common/platform.h"
#include "common/text.h"
#include "core/activity_log.h"
#include "core/listen_queue.h"
#include "core/private_tracks.h"
#include "core/settings.h"
#include "core/settings_codec.h"
#include "core/settings_merge.h"
#include "core/state.h"
#include "net/http_client.h"
#include "tests/win32/win32_test_util.h"

using namespace nimbo;
using namespace testutil;

namespace {

class SettingsStore : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), unsigned(NIMBO_EXPECT_CP))
            << "wrong locale: the test would test the wrong code page";
        removeFiles();
        resetSettingsForTest();
    }
    void TearDown() override { removeFiles(); }
    static void removeFiles() {
        for (const std::string& path :
             {besideIni(), appDataIni(), exeFolder() + "nimbo.log", exeFolder() + "nimbo.log.1",
              exeFolder() + "nimbo-listens.txt", exeFolder() + "nimbo-listens.txt.lock"})
            removeFile(path);
    }
};

const std::wstring kCyrillic =
    L"\u0418\u0432\u0430\u043D \u0412\u0430\u0441\u044F";  // bytes D0 98 ... D1 81 D1 8F

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
    EXPECT_EQ(s.StatusMask.size(), 140u);
    EXPECT_EQ(s.StatusMask.substr(0, 20), L"\u03A9 Now is %curstate%:");
    EXPECT_TRUE(proxyConfig().proxySetting.empty());

    saveSettings();
    std::string bytes;
    ASSERT_TRUE(readFile(besideIni(), bytes));
    EXPECT_FALSE(fileExists(appDataIni()));
    EXPECT_TRUE(contains(bytes, "[Gen_Nimbo]"));
    EXPECT_TRUE(contains(bytes, "Enabled=0"));
    // The default mask is stored as UTF-8 with the line-break marker.
    EXPECT_TRUE(contains(bytes, "StatusMask=" + utf8(L"\u03A9 Now is %curstate%:") +
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
    const std::string ini =
        "[Winamp]\r\nproxy=bob:pw@127.0.0.1:3128\r\n[Gen_Nimbo]\r\n"
        "Enabled=2\r\nShowErrors=yes\r\nCookie=remixsid=abc\r\nAuthLogin=" +
        utf8(kCyrillic) + "\r\nAuthPass=p w\r\nStatusMask=Line one{NEXTstring}" + utf8(kCyrillic) +
        " %artist%\r\nNoLogin=1\r\n";
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
    EXPECT_TRUE(
        contains(bytes, "StatusMask=Line one{NextString}" + utf8(kCyrillic) + " %artist%\r\n"));
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
    EXPECT_EQ(s.Secure, 0);
    EXPECT_EQ(s.ListenBrainzListens, 1);
    saveSettings();
    std::string bytes;
    ASSERT_TRUE(readFile(besideIni(), bytes));
    for (const char* key :
         {"MinInterval", "PrivateWords", "OnPause", "OnStop", "Secure", "ListenBrainzListens"})
        EXPECT_FALSE(contains(bytes, key)) << key;

    // Set ones go out, and read back; out-of-range numbers are brought into range.
    editSettings([](Settings& v) {
        v.MinInterval = 0;
        v.PrivateWords = L"D:\\Audiobooks\r\n" + kCyrillic;
        v.OnStop = 1;
        v.Secure = 1;
        v.ListenBrainzListens = 0;
    });
    saveSettings();
    ASSERT_TRUE(readFile(besideIni(), bytes));
    EXPECT_TRUE(contains(bytes, "MinInterval=0\r\n"));
    EXPECT_TRUE(
        contains(bytes, "PrivateWords=D:\\Audiobooks{NextString}" + utf8(kCyrillic) + "\r\n"));
    EXPECT_TRUE(contains(bytes, "OnStop=1\r\n"));
    EXPECT_TRUE(contains(bytes, "Secure=1\r\n"));
    EXPECT_TRUE(contains(bytes, "ListenBrainzListens=0\r\n"));
    EXPECT_FALSE(contains(bytes, "OnPause"));
    resetSettingsForTest();
    loadSettings();
    s = currentSettings();
    EXPECT_EQ(s.MinInterval, 0);
    EXPECT_EQ(s.PrivateWords, L"D:\\Audiobooks\r\n" + kCyrillic);
    EXPECT_EQ(s.OnStop, 1);
    EXPECT_EQ(s.Secure, 1);
    EXPECT_EQ(s.ListenBrainzListens, 0);

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

// A Last.fm session is stored with the server and API key it was granted for, always
// beside it; one stored before (no such keys) belongs to the server and key set then.
// After the server changes, the session reaches no request, across a restart too.
TEST_F(SettingsStore, LastFmSessionKeepsItsServerAndKeyBesideIt) {
    const struct {
        const char* name;
        std::string keys;     // of [Gen_Nimbo]
        std::string written;  // the binding as the save writes it; empty: not written
        const wchar_t* boundTo;
    } cases[] = {
        {"earlier build",
         "LastFmServer=https://one.example/2.0/\r\nLastFmKey=K\r\nLastFmSession=abc\r\n",
         "LastFmSessionServer=https://one.example/2.0/\r\nLastFmSessionApiKey=K\r\n",
         L"https://one.example/2.0/"},
        {"earlier build, Last.fm's own", "LastFmSession=abc\r\n",
         "LastFmSessionServer=\r\nLastFmSessionApiKey=\r\n", L""},
        {"granted for another",
         "LastFmServer=two.example\r\nLastFmSession=abc\r\n"
         "LastFmSessionServer=one.example\r\nLastFmSessionApiKey=\r\n",
         "LastFmSessionServer=one.example\r\nLastFmSessionApiKey=\r\n", L"one.example"},
        {"no session", "LastFmServer=one.example\r\n", "", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(writeFile(besideIni(), "[Gen_Nimbo]\r\nEnabled=1\r\n" + c.keys));
        resetSettingsForTest();
        loadSettings();
        EXPECT_EQ(currentSettings().LastFmSessionServer, c.boundTo);
        ASSERT_TRUE(saveSettings());
        std::string bytes;
        ASSERT_TRUE(readFile(besideIni(), bytes));
        EXPECT_EQ(contains(bytes, "LastFmSessionServer"), !c.written.empty());
        EXPECT_TRUE(contains(bytes, c.written)) << bytes;

        // The server changes; after a restart the session still belongs to the old one.
        editSettings([](Settings& v) { v.LastFmServer = L"https://three.example/2.0/"; });
        ASSERT_TRUE(saveSettings());
        resetSettingsForTest();
        loadSettings();
        EXPECT_EQ(currentSettings().LastFmSessionServer, c.boundTo);
        EXPECT_EQ(lastFmSessionInUse(currentSettings()), L"");
    }
}

TEST_F(SettingsStore, PresentEmptyMaskStaysEmptyAndLongValuesAreReadWhole) {
    // 2,100 Cyrillic letters are 4,200 bytes: a read cut at 4,095 would end inside a
    // letter and lose the whole value.
    const std::wstring longMask = std::wstring(2100, L'\u0436');
    ASSERT_TRUE(
        writeFile(besideIni(), "[Gen_Nimbo]\r\nStatusMask=\r\nCookie=" + std::string(70000, 'c') +
                                   "\r\nAuthPass=" + utf8(longMask) + "\r\n"));
    loadSettings();
    EXPECT_EQ(currentSettings().StatusMask, L"");
    EXPECT_EQ(currentSettings().Cookie, std::wstring(70000, L'c'));
    EXPECT_EQ(currentSettings().AuthPass, longMask);
}

// Under every code page, the double-byte ones too, the texts reach the file through the
// stored-text codec (its cases are test_settings_codec.cpp's) and come back whole;
// Winamp's own sections keep their bytes.
TEST_F(SettingsStore, TextsReachTheFileAsUtf8BytesAndComeBackWhole) {
    const std::wstring emoji =
        std::wstring(L"\u266B ") + wchar_t(0xD83C) + wchar_t(0xDFB5) + L" %title%";
    const std::wstring mask = kCyrillic + L"\r\n" + emoji;
    ASSERT_TRUE(
        writeFile(besideIni(), "[Winamp]\r\nproxy=127.0.0.1:3128\r\n[Other]\r\nKey=\x81\xFF\r\n"));
    loadSettings();
    editSettings([&](Settings& s) {
        s.StatusMask = mask;
        s.AuthPass = kCyrillic;
    });
    saveSettings();
    std::string bytes;
    ASSERT_TRUE(readFile(besideIni(), bytes));
    EXPECT_TRUE(contains(bytes, "StatusMask=" + encodeStoredText(mask) + "\r\n"));
    EXPECT_TRUE(contains(bytes, "AuthPass=" + utf8(kCyrillic) + "\r\n"));
    EXPECT_EQ(bytes.find("[Winamp]\r\nproxy=127.0.0.1:3128\r\n[Other]\r\nKey=\x81\xFF\r\n"), 0u);

    resetSettingsForTest();
    loadSettings();
    EXPECT_EQ(currentSettings().StatusMask, mask);
    EXPECT_EQ(currentSettings().AuthPass, kCyrillic);
    EXPECT_EQ(proxyConfig().parts.proxyHost, "127.0.0.1");
    // And the platform's own reader still finds the keys where it expects them.
    wchar_t value[64] = {0};
    GetPrivateProfileStringW(L"Gen_Nimbo", L"NoLogin", L"?", value, 64, widen(besideIni()).c_str());
    EXPECT_STREQ(value, L"0");
}

// A Unicode winamp.ini is left to the platform's calls, so it is never damaged.
TEST_F(SettingsStore, UnicodeFileGoesThroughThePlatform) {
    const std::wstring text = L"\xFEFF[Gen_Nimbo]\r\nCookie=remixsid=u\r\nEnabled=1\r\n";
    ASSERT_TRUE(writeFile(
        besideIni(), std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2)));
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

// A private list a text editor saved in the code page: its words match, and neither
// it nor another later key is rewritten unless changed.
TEST_F(SettingsStore, PrivateWordsInTheCodePageAreReadAndKept) {
    const std::wstring word = GetACP() == 932    ? L"\u66F2\u540D"
                              : GetACP() == 1251 ? L"\u0410\u0443\u0434\u0438\u043E"
                                                 : L"H\u00F6rb\u00FCcher";
    const std::string ini =
        "[Gen_Nimbo]\r\nPrivateWords=" + narrow(word) + "{NextString}x\r\nMinInterval=soon\r\n";
    ASSERT_TRUE(writeFile(besideIni(), ini));
    loadSettings();
    EXPECT_TRUE(
        PrivateTracks(currentSettings().PrivateWords).matches(L"D:\\" + word + L"\\01.mp3"));
    EXPECT_TRUE(saveSettings());
    std::string bytes;
    ASSERT_TRUE(readFile(besideIni(), bytes));
    EXPECT_EQ(bytes.find(ini), 0u);
}

TEST_F(SettingsStore, ProxyHostAloneGivesNoProxyParts) {
    ASSERT_TRUE(writeFile(besideIni(), "[Winamp]\r\nproxy=proxy.lan\r\n"));
    loadSettings();
    EXPECT_EQ(proxyConfig().proxySetting, "proxy.lan");
    EXPECT_EQ(proxyConfig().parts.proxyHost, "");
    EXPECT_EQ(proxyConfig().parts.proxyPort, "");
}

// ---------------------------------------------------------------------------------
// The save replaces winamp.ini in one step, and Winamp names the file it uses.

namespace {

std::wstring wide(const std::string& ansi) {
    return widen(ansi);
}

bool existsW(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

unsigned long long fnv1a(const std::string& bytes) {
    unsigned long long h = 1469598103934665603ULL;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ULL;
    return h;
}

// The file without the plugin's section: what a save must leave alone.
std::string outsideOurSection(const std::string& file) {
    const size_t start = file.find("[Gen_Nimbo]");
    if (start == std::string::npos) return file;
    const size_t next = file.find("\n[", start);
    return file.substr(0, start) + (next == std::string::npos ? "" : file.substr(next + 1));
}

// Winamp's own sections, with bytes no code page can spell, around ours.
const std::string kUserIni =
    "[Winamp]\r\nutf8=1\r\nproxy=127.0.0.1:3128\r\nskin=Big Bento\r\n; the user's comment\r\n"
    "[Gen_Nimbo]\r\nEnabled=1\r\nCookie=old\r\n\r\n[in_mp3]\r\nkey=\x81\xFF\xE2\x82\r\n"
    "[Other]\nlf only=1\n" +
    std::string(3000, 'x') + "\r\n[Last]\r\nno final break=1";

// A window of class "Winamp v1.x" in this process whose answer to 1334 a test sets.
LRESULT gIniAnswer = 1;
int gIniQueries = 0;

LRESULT CALLBACK fakeWinampProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER && lParam == 1334) {
        ++gIniQueries;
        return gIniAnswer;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class FakeWinamp {
  public:
    FakeWinamp() : window_(createWinampWindow(fakeWinampProc)) {
        gIniAnswer = 1;
        gIniQueries = 0;
    }
    ~FakeWinamp() { DestroyWindow(window_); }
    bool ok() const { return window_ != nullptr; }
    void answer(const wchar_t* text) { gIniAnswer = reinterpret_cast<LRESULT>(text); }
    void answer(LRESULT value) { gIniAnswer = value; }

  private:
    HWND window_;
};

// A folder beside the test program whose name no code page here can spell
// (Devanagari, Thai and an emoji), so only wide calls reach it.
std::wstring foreignFolder() {
    return wide(exeFolder()) + L"\u0915\u0916 \u0E01\u0E02 " + wchar_t(0xD83C) + wchar_t(0xDFB5);
}

class HostNamedIni : public SettingsStore {
  protected:
    void SetUp() override {
        SettingsStore::SetUp();
        folder = foreignFolder();
        named = folder + L"\\winamp.ini";
        cleanFolder();
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    void TearDown() override {
        cleanFolder();
        SettingsStore::TearDown();
    }
    void cleanFolder() {
        SetFileAttributesW(named.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(named.c_str());
        DeleteFileW(replacementPath(named).c_str());
        DeleteFileW((folder + L"\\nimbo.log").c_str());  // a failed load's line
        RemoveDirectoryW(folder.c_str());
    }
    std::wstring folder, named;
};

}  // namespace

namespace {

// Another program holding a file without sharing it (a backup tool, a scanner).
struct Hold {
    HANDLE file;
    DWORD ms;
};
DWORD WINAPI letGoLater(void* hold) {
    Sleep(static_cast<Hold*>(hold)->ms);
    CloseHandle(static_cast<Hold*>(hold)->file);
    return 0;
}

size_t logLines() {
    std::string bytes;
    readFile(exeFolder() + "nimbo.log", bytes);
    return size_t(std::count(bytes.begin(), bytes.end(), '\n'));
}

}  // namespace

// A save cut off anywhere leaves the user's winamp.ini byte for byte as it was, and
// no temporary file behind; a save that completes changes only our section.
TEST_F(SettingsStore, InterruptedSaveLeavesWinampIniByteIdentical) {
    const std::wstring path = wide(besideIni());
    const struct {
        FileFault fault;
        const char* name;
    } faults[] = {{FileFault::WriteStopsHalfway, "write stops halfway"},
                  {FileFault::FlushFails, "flush fails"},
                  {FileFault::RenameFails, "replace fails"}};
    for (const auto& f : faults) {
        ASSERT_TRUE(writeFile(path, kUserIni));
        resetSettingsForTest();
        loadSettings();
        editSettings([](Settings& s) {
            s.Cookie = L"new cookie " + std::wstring(5000, L'\u0436');
            s.MinInterval = 30;
        });
        const size_t linesBefore = logLines();
        injectFileFault(f.fault);
        const bool saved = saveSettings();
        injectFileFault(FileFault::None);
        EXPECT_EQ(logLines(), linesBefore + 1) << f.name;
        std::string after;
        ASSERT_TRUE(readFile(path, after));
        EXPECT_FALSE(saved) << f.name;
        EXPECT_TRUE(after == kUserIni) << f.name;
        EXPECT_FALSE(existsW(replacementPath(path))) << f.name;
        std::printf(
            "[%s] winamp.ini before: %zu bytes fnv1a %016llx; after: %zu bytes fnv1a %016llx\n",
            f.name, kUserIni.size(), fnv1a(kUserIni), after.size(), fnv1a(after));
    }

    // Leftovers of saves a crash cut off go with the next save (this process's, an id no
    // process has), but not a running process's (a held copy of this program).
    wchar_t exe[MAX_PATH] = {0};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION running = {};
    CreateProcessW(exe, nullptr, nullptr, nullptr, 0, CREATE_SUSPENDED, 0, 0, &startup, &running);
    const DWORD savers[] = {GetCurrentProcessId(), 4000000000u, running.dwProcessId};
    for (DWORD id : savers) ASSERT_TRUE(writeFile(replacementPath(path, id), "half a file"));
    resetSettingsForTest();
    loadSettings();
    editSettings([](Settings& s) { s.Cookie = L"new"; });
    EXPECT_TRUE(saveSettings());
    std::string after;
    ASSERT_TRUE(readFile(path, after));
    EXPECT_TRUE(outsideOurSection(after) == outsideOurSection(kUserIni));
    EXPECT_TRUE(contains(after, "[Gen_Nimbo]\r\nEnabled=1\r\nCookie=new\r\n"));
    for (DWORD id : savers) {
        EXPECT_EQ(existsW(replacementPath(path, id)), id == running.dwProcessId) << id;
        DeleteFileW(replacementPath(path, id).c_str());
    }
    TerminateProcess(running.hProcess, 0);
    CloseHandle(running.hProcess), CloseHandle(running.hThread);
}

// The file's attributes go over to the new one; a read-only file is not replaced.
TEST_F(SettingsStore, SaveKeepsAttributesAndRespectsReadOnly) {
    const std::wstring path = wide(besideIni());
    ASSERT_TRUE(writeFile(path, kUserIni));
    loadSettings();
    editSettings([](Settings& s) { s.AuthLogin = L"bob"; });
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    const size_t linesBefore = logLines();
    EXPECT_FALSE(saveSettings());
    EXPECT_EQ(logLines(), linesBefore + 1);
    std::string after;
    ASSERT_TRUE(readFile(path, after));
    EXPECT_TRUE(after == kUserIni);
    EXPECT_FALSE(existsW(replacementPath(path)));

    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    const DWORD before = GetFileAttributesW(path.c_str());
    EXPECT_TRUE(saveSettings());
    ASSERT_TRUE(readFile(path, after));
    EXPECT_TRUE(contains(after, "AuthLogin=bob\r\n"));
    EXPECT_EQ(GetFileAttributesW(path.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
              before & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The path Winamp names is the file, in a folder no code page can spell; the guessed
// places are neither read nor written.
TEST_F(HostNamedIni, LoadAndSaveUseThePathWinampNames) {
    FakeWinamp winamp;
    ASSERT_TRUE(winamp.ok());
    winamp.answer(named.c_str());
    ASSERT_TRUE(writeFile(
        named, "[Winamp]\r\nproxy=u:p@127.0.0.9:8080\r\n[Gen_Nimbo]\r\nCookie=named\r\n"));
    ASSERT_TRUE(writeFile(besideIni(), "[Gen_Nimbo]\r\nCookie=beside\r\n"));
    loadSettings();
    EXPECT_EQ(gIniQueries, 1);
    EXPECT_EQ(iniPath(), named);
    EXPECT_EQ(currentSettings().Cookie, L"named");
    EXPECT_EQ(proxyConfig().parts.proxyHost, "127.0.0.9");
    editSettings([](Settings& s) { s.Cookie = L"saved"; });
    EXPECT_TRUE(saveSettings());
    std::string bytes;
    ASSERT_TRUE(readFile(named, bytes));
    EXPECT_TRUE(contains(bytes, "Cookie=saved\r\n"));
    EXPECT_EQ(bytes.find("[Winamp]\r\nproxy=u:p@127.0.0.9:8080\r\n"), 0u);
    ASSERT_TRUE(readFile(besideIni(), bytes));
    EXPECT_EQ(bytes, "[Gen_Nimbo]\r\nCookie=beside\r\n");

    // A Winamp that names a file not yet written: the save creates it there.
    DeleteFileW(named.c_str());
    resetSettingsForTest();
    removeFile(besideIni());
    loadSettings();
    EXPECT_EQ(iniPath(), named);
    EXPECT_TRUE(saveSettings());
    EXPECT_TRUE(existsW(named));
    EXPECT_FALSE(fileExists(besideIni()));
}

// Settings found only in a guessed place are read from there once and saved into
// Winamp's file; the old file stays as it was.
TEST_F(HostNamedIni, SettingsMoveOnceFromTheGuessedFile) {
    FakeWinamp winamp;
    ASSERT_TRUE(winamp.ok());
    winamp.answer(named.c_str());
    const std::string old =
        "[Winamp]\r\nproxy=old:1\r\n[Gen_Nimbo]\r\nEnabled=1\r\nAuthLogin=" + utf8(kCyrillic) +
        "\r\nMinInterval=9\r\n";
    ASSERT_TRUE(writeFile(besideIni(), old));
    ASSERT_TRUE(writeFile(named, "[Winamp]\r\nproxy=127.0.0.1:3128\r\n"));
    // The reads that decide the move are all the load needs: a later one would fail.
    injectFileFault(FileFault::ReadDenied, 2);
    loadSettings();
    injectFileFault(FileFault::None);
    EXPECT_EQ(iniPath(), named);
    EXPECT_TRUE(currentSettings().Enabled);
    EXPECT_EQ(currentSettings().AuthLogin, kCyrillic);
    EXPECT_EQ(currentSettings().MinInterval, 9);
    // The proxy is Winamp's own, from Winamp's file.
    EXPECT_EQ(proxyConfig().proxySetting, "127.0.0.1:3128");
    EXPECT_TRUE(saveSettings());
    std::string bytes;
    ASSERT_TRUE(readFile(named, bytes));
    EXPECT_TRUE(contains(bytes, "[Gen_Nimbo]\r\nEnabled=1\r\n"));
    EXPECT_TRUE(contains(bytes, "AuthLogin=" + utf8(kCyrillic) + "\r\n"));
    EXPECT_TRUE(contains(bytes, "MinInterval=9\r\n"));
    ASSERT_TRUE(readFile(besideIni(), bytes));
    EXPECT_EQ(bytes, old);

    // Next start: Winamp's file has the section now and wins over the old one.
    editSettings([](Settings& s) { s.Enabled = false; });
    EXPECT_TRUE(saveSettings());
    resetSettingsForTest();
    loadSettings();
    EXPECT_FALSE(currentSettings().Enabled);
}

// Answers that are no usable path, from older or broken hosts: the guessed places
// count, and nothing faults, whatever the address.
TEST_F(HostNamedIni, UnusableAnswersFallBackToTheGuessedPlaces) {
    FakeWinamp winamp;
    ASSERT_TRUE(winamp.ok());
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    // Two pages: the first readable, the second not.
    char* pages = static_cast<char*>(
        VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    DWORD oldProtect = 0;
    ASSERT_TRUE(VirtualProtect(pages + page, page, PAGE_NOACCESS, &oldProtect));
    wchar_t* firstPage = reinterpret_cast<wchar_t*>(pages);
    for (size_t i = 0; i < page / 2; ++i) firstPage[i] = L'a';  // no terminator before the fence
    // A usable path that ends exactly at the fence: its terminator is the page's last unit.
    const std::wstring fenced = named;
    wchar_t* atFence = reinterpret_cast<wchar_t*>(pages + page) - (fenced.size() + 1);
    std::copy(fenced.begin(), fenced.end(), atFence);
    atFence[fenced.size()] = L'\0';
    char* freed =
        static_cast<char*>(VirtualAlloc(nullptr, page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(freed, nullptr);
    VirtualFree(freed, 0, MEM_RELEASE);
    const std::wstring folderItself = folder;

    const struct {
        const char* name;
        LRESULT answer;
        bool usable;
    } cases[] = {
        {"older host", 1, false},
        {"zero", 0, false},
        {"low address", 0x1234, false},
        {"released memory", reinterpret_cast<LRESULT>(freed), false},
        {"no terminator before unreadable memory", reinterpret_cast<LRESULT>(pages), false},
        {"odd address into unreadable memory", reinterpret_cast<LRESULT>(pages + page - 1), false},
        {"empty text", reinterpret_cast<LRESULT>(L""), false},
        {"a folder", reinterpret_cast<LRESULT>(folderItself.c_str()), false},
        {"a missing folder", reinterpret_cast<LRESULT>(L"C:\\no such folder\\winamp.ini"), false},
        {"ends at unreadable memory", reinterpret_cast<LRESULT>(atFence), true},
    };
    ASSERT_TRUE(writeFile(besideIni(), "[Gen_Nimbo]\r\nCookie=beside\r\n"));
    ASSERT_TRUE(writeFile(named, "[Gen_Nimbo]\r\nCookie=named\r\n"));
    for (const auto& c : cases) {
        winamp.answer(c.answer);
        resetSettingsForTest();
        loadSettings();
        EXPECT_EQ(iniPath(), c.usable ? named : wide(besideIni())) << c.name;
        EXPECT_EQ(currentSettings().Cookie, c.usable ? L"named" : L"beside") << c.name;
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

// A profile folder whose name the code page cannot spell: the application-data
// place is still found and read (the folder is redirected for the test, as a
// roaming profile would be, and put back afterwards).
TEST_F(HostNamedIni, ApplicationDataFolderOutsideTheCodePage) {
    const wchar_t kKey[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    wchar_t saved[MAX_PATH] = {0};
    DWORD savedType = 0, savedSize = sizeof saved;
    const bool hadValue =
        RegQueryValueExW(key, L"AppData", nullptr, &savedType, reinterpret_cast<BYTE*>(saved),
                         &savedSize) == ERROR_SUCCESS;
    const std::wstring profile = folder;  // the foreign-named folder
    RegSetValueExW(key, L"AppData", 0, REG_SZ, reinterpret_cast<const BYTE*>(profile.c_str()),
                   DWORD((profile.size() + 1) * sizeof(wchar_t)));
    const std::wstring winampFolder = profile + L"\\Winamp";
    const std::wstring ini = winampFolder + L"\\winamp.ini";
    CreateDirectoryW(winampFolder.c_str(), nullptr);
    const bool written = writeFile(ini, "[Gen_Nimbo]\r\nCookie=from-profile\r\nEnabled=1\r\n");

    resetSettingsForTest();
    loadSettings();
    const std::wstring found = iniPath();
    const Settings s = currentSettings();
    editSettings([](Settings& v) { v.Cookie = L"saved"; });
    const bool saved_ = saveSettings();
    std::string bytes;
    const bool read = readFile(ini, bytes);

    if (hadValue)
        RegSetValueExW(key, L"AppData", 0, savedType, reinterpret_cast<const BYTE*>(saved),
                       savedSize);
    else
        RegDeleteValueW(key, L"AppData");
    RegCloseKey(key);
    DeleteFileW(ini.c_str());
    RemoveDirectoryW(winampFolder.c_str());

    ASSERT_TRUE(written);
    EXPECT_EQ(found, ini);
    EXPECT_TRUE(s.Enabled);
    EXPECT_EQ(s.Cookie, L"from-profile");
    EXPECT_TRUE(saved_);
    ASSERT_TRUE(read);
    EXPECT_TRUE(contains(bytes, "Cookie=saved\r\n"));
    EXPECT_FALSE(fileExists(besideIni()));
}

// ---------------------------------------------------------------------------------
// A bad day: winamp.ini held by another program or a read that fails, at init or at
// quit. It is never a missing file: the plugin runs on defaults and quit writes only
// what changed; a save that cannot read the file writes nothing and logs a line.
TEST_F(SettingsStore, UnreadableIniIsNeverOverwrittenWithDefaults) {
    const std::wstring path = wide(besideIni());
    const struct {
        const char* name;
        DWORD heldMs;  // 0: not held; INFINITE: held until the step is over
        FileFault fault;
        bool read;
    } cases[] = {{"held for a moment", 300, FileFault::None, true},
                 {"held throughout", INFINITE, FileFault::None, false},
                 {"access denied", 0, FileFault::ReadDenied, false},
                 {"read stops early", 0, FileFault::ReadStopsEarly, false}};
    for (const auto& c : cases) {
        const auto faulty = [&](bool (*step)()) {
            Hold hold = {c.heldMs ? CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr,
                                                OPEN_EXISTING, 0, nullptr)
                                  : INVALID_HANDLE_VALUE,
                         c.heldMs};
            HANDLE later = c.heldMs && c.heldMs != INFINITE
                               ? CreateThread(nullptr, 0, letGoLater, &hold, 0, nullptr)
                               : nullptr;
            injectFileFault(c.fault);
            const bool done = step();
            injectFileFault(FileFault::None);
            if (later)
                WaitForSingleObject(later, INFINITE), CloseHandle(later);
            else if (c.heldMs)
                CloseHandle(hold.file);
            return done;
        };
        for (bool atQuit : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (atQuit ? " at quit" : " at init"));
            ASSERT_TRUE(writeFile(path, kUserIni));
            resetSettingsForTest();
            if (atQuit)
                loadSettings();
            else
                faulty([] {
                    loadSettings();
                    return true;
                });
            EXPECT_EQ(currentSettings().Cookie, atQuit || c.read ? L"old" : L"");
            // No request goes out (direct, it fails at the connect), only a log line,
            // until a read finds Winamp's proxy.
            if (!atQuit && !c.read) {
                const size_t logged = logLines();
                EXPECT_TRUE(faulty([] {
                    return httpGetPage("http://127.0.0.1:9/").outcome.step == NetStep::lookUp;
                }));
                EXPECT_EQ(logLines(), logged + 1);
            }
            EXPECT_EQ(proxyConfig().proxySetting, "127.0.0.1:3128");
            editSettings([](Settings& s) { s.AuthLogin = L"bob"; });
            const size_t lines = logLines();
            EXPECT_EQ(atQuit ? faulty(saveSettings) : saveSettings(), !atQuit || c.read);
            std::string after;
            ASSERT_TRUE(readFile(path, after));
            if (atQuit && !c.read) {
                EXPECT_TRUE(after == kUserIni);
                EXPECT_EQ(logLines(), lines + 1);
                continue;
            }
            EXPECT_TRUE(outsideOurSection(after) == outsideOurSection(kUserIni));
            EXPECT_TRUE(contains(after, "[Gen_Nimbo]\r\nEnabled=1\r\nCookie=old\r\n"));
            EXPECT_TRUE(contains(after, "AuthLogin=bob\r\n"));
            EXPECT_EQ(contains(after, "StatusMask="), atQuit || c.read);
        }
    }
}

// The log masks the secrets the settings hold as they stand, a changed one as well.
// An ini of the build before accounts is the first account of each interface, read and
// written back byte for byte; accounts 2 to 4 go to the numbered keys, written once set,
// a session with its binding, and every account's secrets stay out of the log.
TEST_F(SettingsStore, FurtherAccountsTakeNumberedKeysAndTheFirstKeepsItsOwn) {
    const std::string earlier =
        "[Gen_Nimbo]\r\nEnabled=1\r\nShowErrors=0\r\nCookie=\r\nAuthLogin=\r\nAuthPass=\r\n"
        "StatusMask=X\r\nNoLogin=1\r\nListenBrainz=1\r\nListenBrainzToken=t1\r\nLastFm=1\r\n"
        "LastFmSession=abc\r\nLastFmUser=anna\r\nLastFmSessionServer=\r\n"
        "LastFmSessionApiKey=\r\n";
    ASSERT_TRUE(writeFile(besideIni(), earlier));
    loadSettings();
    EXPECT_EQ(lastFmSessionInUse(currentSettings()), L"abc");
    ASSERT_TRUE(saveSettings());
    std::string bytes;
    ASSERT_TRUE(readFile(besideIni(), bytes));
    EXPECT_EQ(bytes, earlier);

    editSettings([](Settings& v) {
        v.LastFm2 = 1;
        v.LastFm2Server = L"https://libre.example/2.0/";
        v.LastFm2Secret = L"s3cr2t";
        v.LastFm2Session = L"s2ss";
        v.LastFm2SessionServer = v.LastFm2Server;
        v.ListenBrainz4Token = L"t4k4n";
        v.ListenBrainz4Listens = 0;
        v.NowPlayingIdle = L"-";
    });
    logActivity(L"sent t1, abc, s3cr2t, s2ss and t4k4n");
    ASSERT_TRUE(saveSettings());
    ASSERT_TRUE(readFile(besideIni(), bytes));
    EXPECT_TRUE(contains(bytes, earlier.substr(0, earlier.size() - 2))) << bytes;
    for (const char* line :
         {"LastFm2=1\r\n", "LastFm2Server=https://libre.example/2.0/\r\n",
          "LastFm2Secret=s3cr2t\r\n", "LastFm2Session=s2ss\r\n",
          "LastFm2SessionServer=https://libre.example/2.0/\r\n", "LastFm2SessionApiKey=\r\n",
          "ListenBrainz4Token=t4k4n\r\n", "ListenBrainz4Listens=0\r\n", "NowPlayingIdle=-\r\n"})
        EXPECT_TRUE(contains(bytes, line)) << line;
    for (const char* key :
         {"LastFm2Key", "LastFm2User", "LastFm3", "ListenBrainz2", "ListenBrainz4=", "Discord"})
        EXPECT_FALSE(contains(bytes, key)) << key;
    resetSettingsForTest();
    loadSettings();
    const Settings s = currentSettings();
    EXPECT_EQ(lastFmSessionInUse(s, kLastFmAccounts[1]), L"s2ss");
    EXPECT_EQ(s.ListenBrainz4Token + decimalText(s.ListenBrainz4Listens), L"t4k4n0");
    ASSERT_TRUE(readFile(exeFolder() + "nimbo.log", bytes));
    EXPECT_TRUE(contains(bytes, " sent ***, ***, ***, *** and ***\r\n")) << bytes;
}

TEST_F(SettingsStore, LogMasksTheSecretsOfTheSettings) {
    loadSettings();
    editSettings([](Settings& s) {
        s.Cookie = L"remixsid=c00k1e; path=/";
        s.AuthPass = L"p4ss";
        s.ListenBrainzToken = L"t0ken";
    });
    logActivity(L"sent c00k1e, p4ss and t0ken");
    editSettings([](Settings& s) { s.ListenBrainzToken = L"n3w"; });
    logActivity(L"sent n3w");
    std::string bytes;
    ASSERT_TRUE(readFile(exeFolder() + "nimbo.log", bytes));
    EXPECT_TRUE(contains(bytes, " sent ***, *** and ***\r\n")) << bytes;
    EXPECT_TRUE(contains(bytes, " sent ***\r\n")) << bytes;
}

// A viewer holding nimbo.log without delete sharing stops its move to nimbo.log.1;
// the log keeps its bound all the same, and the newest line. With a viewer on
// nimbo.log.1 too, the copy aside fails: the line is dropped, not the old ones.
TEST_F(SettingsStore, LogKeepsItsBoundWhenItCannotBeMovedAside) {
    loadSettings();  // the log lies beside the ini
    const std::wstring log = activityLogPath(), older = log + L".1";
    const std::string full(kActivityLogLimit - 10, 'x');  // no room for a line
    for (bool olderHeld : {false, true}) {
        SCOPED_TRACE(olderHeld ? "nimbo.log.1 held too" : "nimbo.log.1 free");
        ASSERT_TRUE(writeFile(log, full) && writeFile(older, "older\r\n"));
        HANDLE viewer = CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        // Without write sharing, so that nothing can be copied over it.
        HANDLE olderViewer = olderHeld ? CreateFileW(older.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                     nullptr, OPEN_EXISTING, 0, nullptr)
                                       : nullptr;
        ASSERT_TRUE(viewer != INVALID_HANDLE_VALUE && olderViewer != INVALID_HANDLE_VALUE);
        for (int i = 0; i < 6; ++i) logActivity(L"line " + std::to_wstring(i));
        CloseHandle(viewer);
        if (olderViewer) CloseHandle(olderViewer);
        std::string bytes, aside;
        ASSERT_TRUE(readFile(log, bytes) && readFile(older, aside));
        EXPECT_LE(bytes.size(),
                  kActivityLogLimit + std::string("2026-12-07 14:03:05 line 5\r\n").size());
        EXPECT_EQ(contains(bytes, " line 5\r\n"), !olderHeld);
        EXPECT_EQ(bytes == full, olderHeld) << "the lines both viewers show";
        EXPECT_EQ(aside.find(full) == 0, !olderHeld) << "the old lines copied aside";
    }
}

// ---------------------------------------------------------------------------------
// The listen queue's file: whole lines whatever crashed before, its bound, and two
// Winamps at once.
namespace {

QueuedListen queued(int64_t at) {
    return {at, 200, kCyrillic, L"Title", L""};
}

std::string loaded(const std::wstring& path, QueueStatus expected = QueueStatus::done) {
    QueueContents c;
    EXPECT_EQ(loadListens(path, c), expected);
    std::string out;
    for (const QueuedListen& l : c.listens) out += std::to_string(l.listenedAt) + " ";
    return out + "torn " + std::to_string(c.torn) + " skipped " + std::to_string(c.skipped);
}

// Appends `count` listens from `first` on, or with `remove` takes them out one by one.
struct QueueUser {
    std::wstring path;
    int64_t first;
    int count;
    bool remove = false;
    QueueStatus status = QueueStatus::done;
    static DWORD WINAPI run(void* self) {
        auto* u = static_cast<QueueUser*>(self);
        size_t dropped = 0;
        for (int i = 0; i < u->count; ++i) {
            const QueuedListen l = queued(u->first + i);
            const QueueStatus s =
                u->remove ? removeListens(u->path, {l}) : appendListen(u->path, l, dropped);
            if (s != QueueStatus::done) u->status = s;
        }
        return 0;
    }
};

}  // namespace

TEST_F(SettingsStore, ListenQueueKeepsWholeLines) {
    loadSettings();
    const std::wstring path = listenQueuePath();
    EXPECT_EQ(path, wide(exeFolder() + "nimbo-listens.txt"));
    EXPECT_EQ(loaded(path), "torn 0 skipped 0");
    QueueUser three{path, 1, 3};
    QueueUser::run(&three);
    EXPECT_EQ(loaded(path), "1 2 3 torn 0 skipped 0");

    // A crash in the middle of an append: the torn line is skipped, and the next
    // append starts a line of its own.
    std::string bytes;
    ASSERT_TRUE(readFile(path, bytes));
    ASSERT_TRUE(writeFile(path, bytes + queueLine(queued(9)).substr(0, 20)));
    EXPECT_EQ(loaded(path), "1 2 3 torn 1 skipped 0");
    size_t dropped = 9;
    EXPECT_EQ(appendListen(path, queued(4), dropped), QueueStatus::done);
    EXPECT_EQ(dropped, 0u);
    EXPECT_EQ(loaded(path), "1 2 3 4 torn 0 skipped 1");

    // What the service took leaves; the rest stays, the torn line too: a line this
    // version cannot read is not its to delete.
    EXPECT_EQ(removeListens(path, {queued(2), queued(7)}), QueueStatus::done);
    EXPECT_EQ(loaded(path), "1 3 4 torn 0 skipped 1");
    EXPECT_FALSE(fileExists(narrow(replacementPath(path))));

    // A failed read is no empty queue, and nothing is rewritten from it.
    ASSERT_TRUE(readFile(path, bytes));
    injectFileFault(FileFault::ReadDenied);
    EXPECT_EQ(loaded(path, QueueStatus::failed), "torn 0 skipped 0");
    EXPECT_EQ(removeListens(path, {queued(1)}), QueueStatus::failed);
    injectFileFault(FileFault::None);
    std::string after;
    ASSERT_TRUE(readFile(path, after));
    EXPECT_TRUE(after == bytes);

    // Full: the oldest listen goes, and a newer version's line stays where it was.
    const std::string newer = "v3\t1\t200\tfrom a newer Nimbo\t0badcafe\n";
    std::string full = newer;
    for (size_t i = 1; i <= kMaxQueuedListens; ++i) full += queueLine(queued(int64_t(i)));
    ASSERT_TRUE(writeFile(path, full));
    EXPECT_EQ(appendListen(path, queued(20000), dropped), QueueStatus::done);
    EXPECT_EQ(dropped, 1u);
    const std::string kept = loaded(path);
    EXPECT_EQ(kept.substr(0, 4), "2 3 ");
    EXPECT_EQ(std::count(kept.begin(), kept.end(), ' '), int(kMaxQueuedListens) + 3);
    EXPECT_TRUE(contains(kept, " 10000 20000 torn 0 skipped 1"));
    ASSERT_TRUE(readFile(path, bytes));
    EXPECT_EQ(bytes.substr(0, newer.size()), newer);
}

TEST_F(SettingsStore, ListenQueueIsSharedByTwoWinamps) {
    loadSettings();
    const std::wstring path = listenQueuePath();
    // One appends while the other takes out what it sent: a rewrite never loses an append.
    QueueUser appending{path, 1000, 100}, removing{path, 1, 100, true};
    std::string sent, expected;
    for (int64_t at = 1; at <= 100; ++at) sent += queueLine(queued(at));
    for (int at = 1000; at < 1100; ++at) expected += std::to_string(at) + " ";
    ASSERT_TRUE(writeFile(path, sent));
    HANDLE threads[] = {CreateThread(nullptr, 0, QueueUser::run, &appending, 0, nullptr),
                        CreateThread(nullptr, 0, QueueUser::run, &removing, 0, nullptr)};
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (HANDLE t : threads) CloseHandle(t);
    EXPECT_EQ(appending.status, QueueStatus::done);
    EXPECT_EQ(removing.status, QueueStatus::done);
    EXPECT_EQ(loaded(path), expected + "torn 0 skipped 0");

    // The lock file held by another Winamp (another session or PC) for longer than 2 s:
    // this one gives up and says so; quit ends the wait at once.
    HANDLE other =
        CreateFileW((path + L".lock").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    OVERLAPPED range = {};
    ASSERT_TRUE(LockFileEx(other, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range));
    for (bool quit : {false, true}) {
        SCOPED_TRACE(quit ? "quit after 300 ms" : "no quit");
        QueueUser late{path, 9000, 1};
        const DWORD start = GetTickCount();
        HANDLE thread = CreateThread(nullptr, 0, QueueUser::run, &late, 0, nullptr);
        if (quit && WaitForSingleObject(thread, 300) == WAIT_TIMEOUT) setQuitRequested(true);
        WaitForSingleObject(thread, INFINITE);
        const DWORD waited = GetTickCount() - start;
        CloseHandle(thread);
        setQuitRequested(false);
        EXPECT_EQ(late.status, QueueStatus::busy);
        EXPECT_TRUE(quit ? waited >= 250 && waited < 1000 : waited >= 1900 && waited < 4000)
            << waited;
    }
    UnlockFileEx(other, 0, 1, 0, &range);
    CloseHandle(other);
    EXPECT_EQ(loaded(path), expected + "torn 0 skipped 0");

    // A lane's turn claims the queue from its load to its removal: another Winamp's turn
    // finds the claim taken at once, while appends and reads go on beside it.
    {
        QueueTurn mine, theirs;
        EXPECT_TRUE(mine.claim(path));
        const DWORD start = GetTickCount();
        EXPECT_FALSE(theirs.claim(path));
        EXPECT_LT(GetTickCount() - start, 150u);
        QueueUser during{path, 9100, 1};
        QueueUser::run(&during);
        EXPECT_EQ(during.status, QueueStatus::done);
        mine.release();
        EXPECT_TRUE(theirs.claim(path));
    }
    EXPECT_EQ(loaded(path), expected + "9100 torn 0 skipped 0");
}

// Quit ends the tick's other waits too: the queue file held by another program is not
// tried again once quit has come.
TEST_F(SettingsStore, ListenQueueWaitsEndAtQuitAndNeedTheirLock) {
    loadSettings();
    const std::wstring path = listenQueuePath();
    ASSERT_TRUE(writeFile(path, queueLine(queued(1))));
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    setQuitRequested(true);
    const DWORD start = GetTickCount();
    EXPECT_EQ(loaded(path, QueueStatus::failed), "torn 0 skipped 0");
    const DWORD waited = GetTickCount() - start;
    setQuitRequested(false);
    CloseHandle(held);
    EXPECT_LT(waited, 150u);

    // No lock file can be had (here a folder stands in its place): the queue is left
    // alone rather than changed without the lock.
    const std::wstring lock = path + L".lock";
    DeleteFileW(lock.c_str());
    ASSERT_TRUE(CreateDirectoryW(lock.c_str(), nullptr));
    size_t dropped = 0;
    EXPECT_EQ(appendListen(path, queued(2), dropped), QueueStatus::failed);
    EXPECT_EQ(removeListens(path, {queued(1)}), QueueStatus::failed);
    RemoveDirectoryW(lock.c_str());
    EXPECT_EQ(loaded(path), "1 torn 0 skipped 0");
}
