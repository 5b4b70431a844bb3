// The settings dialog on this program's own message loop: geometry, views, the radio
// buttons, "Ok" and "Cancel", raising, the link and the Tab order.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "core/activity_log.h"
#include "core/settings.h"
#include "core/settings_merge.h"
#include "core/state.h"
#include "net/http_client.h"
#include "net/publisher.h"
#include "tests/win32/service_test_util.h"
#include "tests/win32/table_window_check.h"
#include "tests/win32/win32_test_util.h"
#include "ui/control_ids.h"
#include "ui/link_label.h"
#include "ui/options_dialog.h"
#include "ui/security_code_dialog.h"
#include "ui/settings_dialog.h"
#include "ui/window_util.h"

using namespace nimbo;
using testutil::textOf;

namespace {

Settings sample(bool cookieMode) {
    Settings s;
    s.Enabled = true;
    s.ShowErrors = false;
    s.NoLogin = cookieMode;
    s.AuthLogin = L"user@example.com";
    s.AuthPass = L"secret & more";
    s.Cookie = L"remixsid=abc123";
    s.StatusMask = L"%artist% - %title%\r\n$playing=plays;";
    return s;
}

// What an opener does meanwhile: notes whether our code counts as running (a quit in
// there must keep the library loaded), and on request ends the link, whose id a plain
// stand-in takes over.
std::vector<bool> gRunningWhileOpening;
HWND gEndWhileOpening = nullptr;
void whileOpening() {
    gRunningWhileOpening.push_back(ourCodeRunning());
    if (HWND link = gEndWhileOpening) {
        HWND parent = GetParent(link);
        const int id = GetDlgCtrlID(link);
        DestroyWindow(link);
        CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 1, 1, parent,
                        reinterpret_cast<HMENU>(INT_PTR(id)), nullptr, nullptr);
    }
}

std::vector<std::string> gOpened;
void recordOpen(const char* address) {
    gOpened.push_back(address);
    whileOpening();
}

LONG styleOf(HWND w) {
    return GetWindowLongW(w, GWL_STYLE);
}
bool visible(HWND w) {
    return IsWindowVisible(w) != FALSE;
}
bool checked(HWND w) {
    return SendMessageW(w, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

BOOL CALLBACK countNimbo(HWND w, LPARAM p) {
    if (textOf(w) == L"Nimbo") ++*reinterpret_cast<int*>(p);
    return TRUE;
}

int countDialogWindows() {
    int count = 0;
    EnumWindows(countNimbo, reinterpret_cast<LPARAM>(&count));
    return count;
}

// Whether top-level window `a` lies above `b` in the Z order.
bool isAbove(HWND a, HWND b) {
    for (HWND w = GetWindow(a, GW_HWNDNEXT); w; w = GetWindow(w, GW_HWNDNEXT)) {
        if (w == b) return true;
    }
    return false;
}

// The text colour the dialog gives a control when it paints.
COLORREF paintColour(HWND dialog, HWND control, UINT message) {
    HDC dc = CreateCompatibleDC(nullptr);
    SendMessageW(dialog, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control));
    COLORREF colour = GetTextColor(dc);
    DeleteDC(dc);
    return colour;
}

class SettingsDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), unsigned(NIMBO_EXPECT_CP)) << "wrong locale for this test program";
        resetSettingsForTest();
        settingsDialogOpen = false;
        securityCodePending = false;
        gOpened.clear();
        setLinkOpenerForTest(recordOpen);
    }
    void TearDown() override {
        if (HWND d = settingsDialogWindow()) SendMessageW(item(d, kCancelButton), BM_CLICK, 0, 0);
        pump();
        EXPECT_EQ(countDialogWindows(), 0) << "a closed dialog's window was left behind";
    }

    HWND open(const Settings& s) {
        editSettings([&](Settings& target) { target = s; });
        showSettingsDialog();
        pump();
        return settingsDialogWindow();
    }

    // Runs the message loop the way a host with IsDialogMessage does (or, with
    // `dialogKeys` off, the way the player stand-in does: without it).
    bool dialogKeys = true;
    static HWND activeDialog() {
        return optionsDialogWindow() ? optionsDialogWindow() : settingsDialogWindow();
    }
    void pump(int rounds = 5) { testutil::pump(rounds, dialogKeys ? activeDialog : nullptr); }
    void press(int key) { testutil::press(key, dialogKeys ? activeDialog : nullptr); }

    static HWND item(HWND dialog, int id) { return GetDlgItem(dialog, id); }
};

}  // namespace

TEST_F(SettingsDialog, WindowIsBorderedAndWithoutSystemMenu) {
    HWND d = open(sample(false));
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(settingsDialogOpen);
    EXPECT_TRUE(visible(d));
    LONG style = styleOf(d);
    EXPECT_TRUE(style & WS_BORDER);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_FALSE(style & (WS_SYSMENU | WS_THICKFRAME | WS_POPUP | WS_CHILD));
    EXPECT_EQ(GetWindow(d, GW_OWNER), nullptr);
    EXPECT_EQ(GetClassLongPtrW(d, GCLP_HBRBACKGROUND), ULONG_PTR(COLOR_BTNFACE + 1));
    // The link shows the very address it opens.
    EXPECT_EQ(testutil::utf8(textOf(item(d, kLink))), kHomePage);
    EXPECT_EQ(std::string(kHomePage).rfind("http://", 0), 0u);
}

// Both modes as the window's table builds them (the exact pixels are checked end to
// end, in test_publish_controls.py).
TEST_F(SettingsDialog, BothModesFollowTheTable) {
    for (bool cookie : {false, true}) {
        SCOPED_TRACE(cookie ? "cookie mode" : "login mode");
        HWND d = open(sample(cookie));
        ASSERT_NE(d, nullptr);
        testutil::expectTableWindow(d, settingsWindowTable());
        testutil::saveScreenshot(d, testutil::exeFolder() + (cookie ? "settings_dialog_cookie.bmp"
                                                                    : "settings_dialog_login.bmp"));
        SendMessageW(item(d, kCancelButton), BM_CLICK, 0, 0);
        pump();
    }
}

TEST_F(SettingsDialog, LinkReactsToTheMouse) {
    HWND d = open(sample(false));
    ASSERT_NE(d, nullptr);
    HWND link = item(d, kLink);
    auto linkColour = [&] { return paintColour(d, link, WM_CTLCOLORSTATIC); };
    const COLORREF blue = 0xFF0000, red = 0x0000FF;
    EXPECT_EQ(linkColour(), blue);

    // The rectangle reaches the window's edge: the blank right of the text is the link.
    POINT blank = {360, 37};
    ClientToScreen(d, &blank);
    EXPECT_EQ(WindowFromPoint(blank), link);

    struct {
        UINT down, up;
    } buttons[] = {{WM_LBUTTONDOWN, WM_LBUTTONUP},
                   {WM_RBUTTONDOWN, WM_RBUTTONUP},
                   {WM_MBUTTONDOWN, WM_MBUTTONUP}};
    for (auto b : buttons) {
        SendMessageW(link, b.down, 0, MAKELPARAM(165, 7));
        EXPECT_EQ(linkColour(), red);
        EXPECT_TRUE(gOpened.empty()) << "opened on press";
        SendMessageW(link, b.up, 0, MAKELPARAM(165, 7));
        EXPECT_EQ(linkColour(), blue);
        ASSERT_EQ(gOpened.size(), 1u);
        EXPECT_EQ(gOpened[0], std::string(kHomePage));
        gOpened.clear();
    }
    SendMessageW(link, WM_LBUTTONDOWN, 0, 0);
    SendMessageW(link, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(linkColour(), blue);
    EXPECT_TRUE(gOpened.empty());
}

TEST_F(SettingsDialog, ModeDecidesWhichBoxesShow) {
    struct {
        bool cookie;
        const wchar_t* label;
    } modes[] = {{false, L"Login:"}, {true, L"Cookie:"}};
    for (auto m : modes) {
        SCOPED_TRACE(m.cookie ? "cookie mode" : "login mode");
        HWND d = open(sample(m.cookie));
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(textOf(item(d, kModeLabel)), m.label);
        EXPECT_EQ(checked(item(d, kLoginRadio)), !m.cookie);
        EXPECT_EQ(checked(item(d, kCookieRadio)), m.cookie);
        EXPECT_EQ(visible(item(d, kLoginEdit)), !m.cookie);
        EXPECT_EQ(visible(item(d, kPasswordEdit)), !m.cookie);
        EXPECT_EQ(visible(item(d, kPasswordLabel)), !m.cookie);
        EXPECT_EQ(visible(item(d, kCookieEdit)), m.cookie);
        EXPECT_TRUE(visible(item(d, kMaskEdit)));
        EXPECT_TRUE(checked(item(d, kEnabledCheck)));
        EXPECT_FALSE(checked(item(d, kShowErrorsCheck)));
        // The hidden boxes hold their settings all the same.
        EXPECT_EQ(textOf(item(d, kCookieEdit)), L"remixsid=abc123");
        EXPECT_EQ(textOf(item(d, kPasswordEdit)), L"secret & more");
        SendMessageW(item(d, kCancelButton), BM_CLICK, 0, 0);
        pump();
    }
}

TEST_F(SettingsDialog, RadioButtonsSwitchTheModeAtOnceAndCancelKeepsIt) {
    HWND d = open(sample(false));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(GetNextDlgGroupItem(d, item(d, kLoginRadio), FALSE), item(d, kCookieRadio));
    EXPECT_EQ(GetNextDlgGroupItem(d, item(d, kCookieRadio), FALSE), item(d, kLoginRadio));

    SetWindowTextW(item(d, kLoginEdit), L"typed but cancelled");
    SendMessageW(item(d, kShowErrorsCheck), BM_CLICK, 0, 0);
    SendMessageW(item(d, kCookieRadio), BM_CLICK, 0, 0);
    EXPECT_TRUE(currentSettings().NoLogin);
    EXPECT_FALSE(checked(item(d, kLoginRadio)));
    EXPECT_TRUE(visible(item(d, kCookieEdit)));
    EXPECT_FALSE(visible(item(d, kLoginEdit)));
    EXPECT_EQ(textOf(item(d, kModeLabel)), L"Cookie:");

    SendMessageW(item(d, kLoginRadio), BM_CLICK, 0, 0);
    EXPECT_FALSE(currentSettings().NoLogin);
    EXPECT_TRUE(visible(item(d, kPasswordEdit)));
    EXPECT_EQ(textOf(item(d, kModeLabel)), L"Login:");

    SendMessageW(item(d, kCookieRadio), BM_CLICK, 0, 0);
    SendMessageW(item(d, kCancelButton), BM_CLICK, 0, 0);
    EXPECT_FALSE(settingsDialogOpen);
    EXPECT_FALSE(visible(d));
    Settings s = currentSettings(), before = sample(false);
    EXPECT_TRUE(s.NoLogin);
    EXPECT_EQ(s.AuthLogin, before.AuthLogin);
    EXPECT_EQ(s.ShowErrors, before.ShowErrors);
    pump();
    EXPECT_FALSE(IsWindow(d)) << "the hidden window is destroyed once its handler returned";
}

TEST_F(SettingsDialog, OkStoresEveryBoxWholeHiddenOnesToo) {
    HWND d = open(sample(true));
    ASSERT_NE(d, nullptr);
    SetWindowTextW(item(d, kLoginEdit), L"  other@example.com ");
    SetWindowTextW(item(d, kPasswordEdit), L"p@ss word");
    SetWindowTextW(item(d, kCookieEdit), L"remixsid=new\r\nsecond line");
    SetWindowTextW(item(d, kMaskEdit), L"");
    // Typed keys: Enter in the mask box makes a line break, not a default button.
    SetFocus(item(d, kMaskEdit));
    for (wchar_t ch : std::wstring(L"ab")) PostMessageW(item(d, kMaskEdit), WM_CHAR, ch, 1);
    PostMessageW(item(d, kMaskEdit), WM_KEYDOWN, VK_RETURN, 1 | (0x1C << 16));
    pump();
    PostMessageW(item(d, kMaskEdit), WM_CHAR, L'c', 1);
    pump();
    EXPECT_TRUE(IsWindowVisible(d)) << "Enter must not close the dialog";
    SendMessageW(item(d, kEnabledCheck), BM_CLICK, 0, 0);
    SendMessageW(item(d, kShowErrorsCheck), BM_CLICK, 0, 0);
    EXPECT_TRUE(settingsDialogOpen);
    EXPECT_EQ(currentSettings().AuthLogin, L"user@example.com") << "applied before Ok";

    SendMessageW(item(d, kOkButton), BM_CLICK, 0, 0);
    EXPECT_FALSE(settingsDialogOpen);
    EXPECT_FALSE(visible(d));
    EXPECT_EQ(settingsDialogWindow(), nullptr);
    Settings s = currentSettings();
    EXPECT_EQ(s.AuthLogin, L"  other@example.com ");
    EXPECT_EQ(s.AuthPass, L"p@ss word");
    EXPECT_EQ(s.Cookie, L"remixsid=new\r\nsecond line");
    EXPECT_EQ(s.StatusMask, L"ab\r\nc");
    EXPECT_FALSE(s.Enabled);
    EXPECT_TRUE(s.ShowErrors);
    EXPECT_TRUE(s.NoLogin);
}

TEST_F(SettingsDialog, CyrillicTextsRoundTrip) {
    const std::wstring cyrillic = L"\u0418\u0432\u0430\u043D \u0412\u0430\u0441\u044F";
    HWND d = open(sample(false));
    ASSERT_NE(d, nullptr);
    SetWindowTextW(item(d, kLoginEdit), (cyrillic + L"@mail.ru").c_str());
    SetWindowTextW(item(d, kPasswordEdit), cyrillic.c_str());
    SetWindowTextW(item(d, kMaskEdit),
                   (L"\u0418\u0433\u0440\u0430\u0435\u0442: %title%\r\n" + cyrillic).c_str());
    SetWindowTextW(item(d, kCookieEdit), (L"\u00A9 " + cyrillic).c_str());
    SendMessageW(item(d, kOkButton), BM_CLICK, 0, 0);
    Settings s = currentSettings();
    EXPECT_EQ(s.AuthLogin, cyrillic + L"@mail.ru");
    EXPECT_EQ(s.AuthPass, cyrillic);
    EXPECT_EQ(s.StatusMask, L"\u0418\u0433\u0440\u0430\u0435\u0442: %title%\r\n" + cyrillic);
    EXPECT_EQ(s.Cookie, L"\u00A9 " + cyrillic);
}

TEST_F(SettingsDialog, SecondShowOnlyRaisesTheOpenWindow) {
    HWND d = open(sample(false));
    ASSERT_NE(d, nullptr);
    SetWindowTextW(item(d, kLoginEdit), L"half typed");
    // Another window on top of it.
    HWND other = CreateWindowExW(0, L"STATIC", L"cover", WS_POPUP | WS_VISIBLE, 300, 200, 400, 400,
                                 nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    SetWindowPos(other, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    pump();
    ASSERT_TRUE(isAbove(other, d));

    showSettingsDialog();
    pump();
    EXPECT_EQ(settingsDialogWindow(), d);
    EXPECT_EQ(countDialogWindows(), 1);
    EXPECT_TRUE(settingsDialogOpen);
    EXPECT_EQ(textOf(item(d, kLoginEdit)), L"half typed");
    EXPECT_TRUE(visible(d));
    EXPECT_TRUE(isAbove(d, other)) << "the dialog is on top again";
    DestroyWindow(other);
}

TEST_F(SettingsDialog, CloseRequestCountsAsCancelAndTheNextShowBuildsAnew) {
    HWND d = open(sample(false));
    ASSERT_NE(d, nullptr);
    SetWindowTextW(item(d, kPasswordEdit), L"dropped");
    PostMessageW(d, WM_CLOSE, 0, 0);
    pump();
    EXPECT_FALSE(settingsDialogOpen);
    EXPECT_FALSE(IsWindow(d) && visible(d));
    EXPECT_EQ(currentSettings().AuthPass, L"secret & more");
    EXPECT_EQ(countDialogWindows(), 0);

    HWND again = open(sample(false));
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(settingsDialogOpen);
    EXPECT_EQ(textOf(item(again, kPasswordEdit)), L"secret & more");
}

// A host loop without IsDialogMessage (the player stand-in's, or one that calls it for
// its own windows only): Tab still moves through the table's order, out of the
// multi-line boxes too, and the arrows move within the radio pair. With
// IsDialogMessage each key moves exactly once.
TEST_F(SettingsDialog, KeyboardWorksWhateverTheHostLoopDoes) {
    for (bool hostCallsIsDialogMessage : {false, true}) {
        SCOPED_TRACE(hostCallsIsDialogMessage ? "IsDialogMessage" : "plain loop");
        dialogKeys = hostCallsIsDialogMessage;
        HWND d = open(sample(false));
        ASSERT_NE(d, nullptr);
        const std::vector<HWND> order = testutil::tabOrder(d, settingsWindowTable());
        SetFocus(order[0]);
        for (size_t i = 1; i <= order.size(); ++i) {
            press(VK_TAB);
            EXPECT_EQ(GetFocus(), order[i % order.size()]) << "stop " << i;
        }
        // The arrows switch the mode within the radio pair, as a click does.
        SetFocus(item(d, kLoginRadio));
        press(VK_RIGHT);
        EXPECT_EQ(GetFocus(), item(d, kCookieRadio));
        EXPECT_TRUE(checked(item(d, kCookieRadio)));
        EXPECT_TRUE(currentSettings().NoLogin);
        EXPECT_TRUE(visible(item(d, kCookieEdit)));
        const std::vector<HWND> cookieOrder = testutil::tabOrder(d, settingsWindowTable());
        ASSERT_EQ(cookieOrder[0], item(d, kCookieRadio));
        for (size_t i = 1; i < 4; ++i) {
            press(VK_TAB);
            EXPECT_EQ(GetFocus(), cookieOrder[i]) << "stop " << i;
        }
        SetFocus(item(d, kCookieRadio));
        press(VK_UP);
        EXPECT_EQ(GetFocus(), item(d, kLoginRadio));
        EXPECT_FALSE(currentSettings().NoLogin);
        SendMessageW(item(d, kCancelButton), BM_CLICK, 0, 0);
        pump();
    }
}

// A login that finishes while the window is open (its code window closed when this one
// opened) stores the cookie, clears the e-mail and password and switches to cookie
// mode. "Ok" keeps all that except the box the user edited.
TEST_F(SettingsDialog, OkKeepsWhatALoginStoredBehindTheWindow) {
    HWND d = open(sample(false));
    ASSERT_NE(d, nullptr);
    editSettings([](Settings& s) {
        s.Cookie = L"remixsid=fresh";
        s.AuthLogin.clear();
        s.AuthPass.clear();
        s.NoLogin = true;
    });
    SetWindowTextW(item(d, kLoginEdit), L"typed@example.com");
    SetWindowTextW(item(d, kMaskEdit), L"new mask");
    SendMessageW(item(d, kOkButton), BM_CLICK, 0, 0);
    Settings s = currentSettings();
    EXPECT_EQ(s.AuthLogin, L"typed@example.com");
    EXPECT_EQ(s.AuthPass, L"");
    EXPECT_EQ(s.Cookie, L"remixsid=fresh");
    EXPECT_TRUE(s.NoLogin);
    EXPECT_EQ(s.StatusMask, L"new mask");
}

// Needs the service stand-in for the picture (run under its wrapper, which sets
// NIMBO_SERVICE_PORT); the code dialog runs on a helper thread, as on the timer thread.
TEST_F(SettingsDialog, OpeningClosesTheSecurityCodeWindow) {
    NIMBO_NEEDS(!testutil::servicePort().empty(), "the service stand-in (NIMBO_SERVICE_PORT)");
    testutil::useProxy("127.0.0.1:" + testutil::servicePort());

    struct Ask {
        std::string url, code;
        static DWORD WINAPI run(void* self) {
            auto* ask = static_cast<Ask*>(self);
            ask->code = askSecurityCode(httpGetPage(ask->url).value.value_or(std::string()));
            return 0;
        }
    } ask{std::string(kServiceHost) + "/captcha.php?sid=42", ""};
    HANDLE thread = CreateThread(nullptr, 0, Ask::run, &ask, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    HWND code = testutil::waitForSecurityCodeWindow(20000);
    ASSERT_NE(code, nullptr) << "the security-code window never came up";
    ASSERT_TRUE(securityCodePending);
    SendMessageW(GetDlgItem(code, kCodeEdit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"7x9"));

    showSettingsDialog();
    bool ended = WaitForSingleObject(thread, 20000) == WAIT_OBJECT_0;
    if (!ended) PostMessageW(securityCodeWindow(), WM_CLOSE, 0, 0);
    WaitForSingleObject(thread, 20000);
    CloseHandle(thread);
    EXPECT_TRUE(ended) << "the security-code dialog was not asked to close";
    EXPECT_EQ(ask.code, "7x9") << "it ends with the text typed so far";
    EXPECT_FALSE(securityCodePending);
    pump();
    HWND d = settingsDialogWindow();
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(visible(d));
    EXPECT_TRUE(settingsDialogOpen);
}

namespace {

// The first ListenBrainz account and the first Last.fm-style one, both off: the list's
// first row is ListenBrainz's, the second Last.fm's.
Settings optionsSample() {
    Settings s = sample(false);
    s.PrivateWords = L"Audiobooks\r\nPodcast";
    s.OnPause = 1;
    s.OnStop = 0;
    s.MinInterval = 30;
    s.Secure = 1;
    s.ListenBrainzToken = L"t0ken";
    s.LastFmServer = L"https://lastfm.example/2.0/";
    return s;
}

// A count that waits for the test: Winamp's thread must not be the one waiting.
HANDLE gCountGo = nullptr;
std::atomic<DWORD> gCountedOn{0};
long sevenWaiting(size_t account, bool&) {
    gCountedOn = GetCurrentThreadId();
    WaitForSingleObject(gCountGo, 5000);
    return 7 + long(account);
}

// The list's rows, as the window shows them.
std::vector<std::wstring> rows(HWND o) {
    HWND list = GetDlgItem(o, kAccountList);
    std::vector<std::wstring> out;
    for (LRESULT i = 0; i < SendMessageW(list, LB_GETCOUNT, 0, 0); ++i) {
        wchar_t text[256] = {0};
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        out.push_back(text);
    }
    return out;
}

// Picks a row as a click would.
void selectRow(HWND o, int row) {
    HWND list = GetDlgItem(o, kAccountList);
    SendMessageW(list, LB_SETCURSEL, row, 0);
    SendMessageW(o, WM_COMMAND, MAKEWPARAM(kAccountList, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
}

// Every row fits the list, or the list scrolls to its end.
void expectRowsFit(HWND list, const std::vector<std::wstring>& rows) {
    HDC dc = GetDC(list);
    SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0)));
    for (const std::wstring& row : rows) {
        SIZE size = {};
        GetTextExtentPoint32W(dc, row.c_str(), int(row.size()), &size);
        EXPECT_LE(size.cx, SendMessageW(list, LB_GETHORIZONTALEXTENT, 0, 0)) << testutil::utf8(row);
    }
    ReleaseDC(list, dc);
}

// Every text a label, a check box or a push button shows fits its cell in the window's
// font (a result label ends in an ellipsis instead, so it is left out).
void expectTextsFit(HWND window, const TableWindow& table) {
    HDC dc = GetDC(window);
    for (int i = 0; i < table.count; ++i) {
        const ControlRow& row = table.rows[i];
        const bool button = lstrcmpiW(row.className, L"BUTTON") == 0;
        if ((!button && !testutil::isLabel(row)) || (row.style & SS_ENDELLIPSIS)) continue;
        HWND c = GetDlgItem(window, row.id);
        const std::wstring text = textOf(c);
        HGDIOBJ old =
            SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(c, WM_GETFONT, 0, 0)));
        SIZE size = {};
        GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &size);
        SelectObject(dc, old);
        // A check box's square and gap, a push button's edges.
        const int room = row.width - (testutil::isTextCell(row) && button ? 18 : button ? 8 : 0);
        EXPECT_LE(size.cx, room) << "control " << row.id << " cuts \"" << testutil::utf8(text)
                                 << "\"";
    }
    ReleaseDC(window, dc);
}

std::vector<std::wstring> gLogsOpened;
void recordLog(const std::wstring& path) {
    gLogsOpened.push_back(path);
    whileOpening();
}

class OptionsDialog : public SettingsDialog {
  protected:
    void SetUp() override {
        SettingsDialog::SetUp();
        gLogsOpened.clear();
        setLogOpenerForTest(recordLog);
    }
    void TearDown() override {
        if (HWND o = optionsDialogWindow()) PostMessageW(o, WM_CLOSE, 0, 0);
        pump();
        EXPECT_EQ(FindWindowW(nullptr, L"Nimbo options"), nullptr) << "an options window was left";
        setLogOpenerForTest(nullptr);
        SettingsDialog::TearDown();
    }
    // The settings window, then "More..." in it.
    HWND openOptions(const Settings& s) {
        settings_ = open(s);
        if (!settings_) return nullptr;
        SendMessageW(item(settings_, kMoreButton), BM_CLICK, 0, 0);
        pump();
        return optionsDialogWindow();
    }
    HWND settings_ = nullptr;
};

}  // namespace

TEST_F(OptionsDialog, OpensOverTheDisabledSettingsWindowWithItsLayout) {
    HWND o = openOptions(optionsSample());
    ASSERT_NE(o, nullptr);
    EXPECT_TRUE(visible(o));
    EXPECT_EQ(GetWindow(o, GW_OWNER), settings_);
    EXPECT_FALSE(IsWindowEnabled(settings_)) << "the settings window takes clicks meanwhile";
    EXPECT_TRUE(settingsDialogOpen);
    EXPECT_FALSE(styleOf(o) & (WS_SYSMENU | WS_THICKFRAME));
    // Either account's group, the other hidden, by the same table.
    for (int row : {1, 0}) {
        selectRow(o, row);
        testutil::expectTableWindow(o, optionsWindowTable());
        expectTextsFit(o, optionsWindowTable());
        EXPECT_EQ(visible(item(o, kTokenEdit)), row == 0);
        EXPECT_EQ(visible(item(o, kLastFmKeyEdit)), row == 1);
    }
    EXPECT_EQ(rows(o),
              (std::vector<std::wstring>{L"ListenBrainz: off, valid, waiting: not known",
                                         L"Last.fm: off, not connected, waiting: not known"}));
    EXPECT_EQ(textOf(item(o, kPrivateEdit)), L"Audiobooks\r\nPodcast");
    EXPECT_EQ(textOf(item(o, kIntervalEdit)), L"30");
    EXPECT_TRUE(checked(item(o, kOnPauseCheck)));
    EXPECT_FALSE(checked(item(o, kOnStopCheck)));
    EXPECT_TRUE(checked(item(o, kSecureCheck)));
    EXPECT_TRUE(checked(item(o, kSendListensCheck)));
    EXPECT_EQ(textOf(item(o, kTokenEdit)), L"t0ken");
    EXPECT_EQ(textOf(item(o, kListensWaitingLabel)), L"Listens waiting: not known");
    testutil::saveScreenshot(o, testutil::exeFolder() + "options_dialog.bmp");
    SendMessageW(item(o, kOptionsCancelButton), BM_CLICK, 0, 0);
    pump();
    // The counts come from a thread of their own, every account's; "..." until they are
    // in. The second's session was refused.
    gCountGo = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    setListensCount(sevenWaiting);
    setScrobblesCount([](size_t account, bool& refused) {
        refused = account == 0;
        return 3L;
    });
    logActivity(L"scrobble", L"scrobbled", L"Artist - Title", ResultLine::lastFm);
    SendMessageW(item(settings_, kMoreButton), BM_CLICK, 0, 0);
    pump();
    o = optionsDialogWindow();
    setListensCount(nullptr);
    setScrobblesCount(nullptr);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(rows(o)[0], L"ListenBrainz: off, valid, waiting: \x2026");
    EXPECT_EQ(textOf(item(o, kListensWaitingLabel)), L"Listens waiting: \x2026");
    EXPECT_FALSE(IsWindowEnabled(item(o, kRemoveButton))) << "Remove before the count is in";
    SetEvent(gCountGo);
    for (int i = 0; i < 200 && textOf(item(o, kListensWaitingLabel)) != L"Listens waiting: 7"; ++i)
        pump(1), Sleep(10);
    CloseHandle(gCountGo);
    EXPECT_NE(gCountedOn.load(), GetCurrentThreadId());
    EXPECT_EQ(textOf(item(o, kListensWaitingLabel)), L"Listens waiting: 7");
    EXPECT_EQ(rows(o), (std::vector<std::wstring>{L"ListenBrainz: off, valid, waiting: 7",
                                                  L"Last.fm: off, refused, waiting: 3"}));
    EXPECT_EQ(textOf(item(o, kListenBrainzLastLabel)), lastResultText(ResultLine::listenBrainz));
    EXPECT_TRUE(IsWindowEnabled(item(o, kRemoveButton)));
    selectRow(o, 1);
    EXPECT_EQ(textOf(item(o, kScrobblesWaitingLabel)), L"Scrobbles waiting: 3");
    ASSERT_NE(lastResultText(ResultLine::lastFm), L"");
    EXPECT_EQ(textOf(item(o, kLastFmLastLabel)), lastResultText(ResultLine::lastFm));
    // A new secret is no longer the one refused.
    SetWindowTextW(item(o, kLastFmSecretEdit), L"an0ther");
    EXPECT_EQ(rows(o)[1], L"Last.fm: off, not connected, waiting: 3");

    // Asked again, the open window comes up; no second one.
    showOptionsDialog(settings_);
    pump();
    EXPECT_EQ(optionsDialogWindow(), o);
}

// "Ok" applies all four values; "Cancel" and any other close drop them. Either way the
// settings window takes input again and stays open.
TEST_F(OptionsDialog, OkAppliesCancelAndCloseDiscard) {
    const struct {
        const char* name;
        int button;  // 0: a WM_CLOSE
        const wchar_t* interval;
        bool applied;
        int intervalAfter;
    } cases[] = {
        {"ok", kOptionsOkButton, L"12", true, 12},
        {"ok, zero", kOptionsOkButton, L"0", true, 0},
        {"ok, above an hour", kOptionsOkButton, L"99999", true, 3600},
        {"ok, box emptied", kOptionsOkButton, L"", true, 30},
        {"ok, pasted letters", kOptionsOkButton, L"1x", true, 30},
        {"cancel", kOptionsCancelButton, L"12", false, 30},
        {"close request", 0, L"12", false, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HWND o = openOptions(optionsSample());
        ASSERT_NE(o, nullptr);
        SetWindowTextW(item(o, kPrivateEdit), L"Talk\r\n\u0410\u0443\u0434\u0438\u043E");
        SendMessageW(item(o, kOnPauseCheck), BM_CLICK, 0, 0);
        SendMessageW(item(o, kOnStopCheck), BM_CLICK, 0, 0);
        SendMessageW(item(o, kSecureCheck), BM_CLICK, 0, 0);
        SendMessageW(item(o, kSendListensCheck), BM_CLICK, 0, 0);
        selectRow(o, 1);
        SendMessageW(item(o, kLastFmCheck), BM_CLICK, 0, 0);
        SendMessageW(item(o, kSendScrobblesCheck), BM_CLICK, 0, 0);
        SetWindowTextW(item(o, kLastFmServerEdit), L"https://libre.fm/2.0/");
        SetWindowTextW(item(o, kLastFmKeyEdit), L"k3y");
        SetWindowTextW(item(o, kLastFmSecretEdit), L"s3cret");
        SetWindowTextW(item(o, kIntervalEdit), c.interval);
        EXPECT_EQ(currentSettings().MinInterval, 30) << "applied before Ok";
        if (c.button) {
            SendMessageW(item(o, c.button), BM_CLICK, 0, 0);
        } else {
            PostMessageW(o, WM_CLOSE, 0, 0);
        }
        pump();
        EXPECT_EQ(optionsDialogWindow(), nullptr);
        EXPECT_FALSE(IsWindow(o)) << "the closed window was not destroyed";
        EXPECT_TRUE(IsWindowEnabled(settings_));
        EXPECT_TRUE(settingsDialogOpen);
        Settings s = currentSettings();
        EXPECT_EQ(s.PrivateWords,
                  c.applied ? L"Talk\r\n\u0410\u0443\u0434\u0438\u043E" : L"Audiobooks\r\nPodcast");
        EXPECT_EQ(s.OnPause, c.applied ? 0 : 1);
        EXPECT_EQ(s.OnStop, c.applied ? 1 : 0);
        EXPECT_EQ(s.Secure, c.applied ? 0 : 1);
        EXPECT_EQ(s.ListenBrainzListens, c.applied ? 0 : 1);
        EXPECT_EQ(s.MinInterval, c.intervalAfter);
        EXPECT_EQ(s.LastFm, c.applied ? 1 : 0);
        EXPECT_EQ(s.LastFmScrobbles, c.applied ? 0 : 1);
        EXPECT_EQ(s.LastFmServer,
                  c.applied ? L"https://libre.fm/2.0/" : L"https://lastfm.example/2.0/");
        EXPECT_EQ(s.LastFmKey + L"/" + s.LastFmSecret, c.applied ? L"k3y/s3cret" : L"/");
        // The settings window's own Cancel leaves what the options window applied.
        SendMessageW(item(settings_, kCancelButton), BM_CLICK, 0, 0);
        pump();
        EXPECT_EQ(currentSettings().MinInterval, c.intervalAfter);
        editSettings([](Settings& target) { target = optionsSample(); });
    }
}

namespace {

// From a thread of its own, reads the first message box `thread` shows and answers it
// with `button`.
class BoxReader {
  public:
    explicit BoxReader(DWORD thread, int button = IDOK) : thread_(thread), button_(button) {
        reader_ = CreateThread(nullptr, 0, run, this, 0, nullptr);
    }
    ~BoxReader() { text(); }
    // The box's text once it was dismissed; empty when none came within 10 s.
    const std::wstring& text() {
        if (reader_) WaitForSingleObject(reader_, 15000), CloseHandle(reader_);
        reader_ = nullptr;
        return text_;
    }

  private:
    static BOOL CALLBACK findBox(HWND window, LPARAM found) {
        wchar_t name[16] = {0};
        GetClassNameW(window, name, 16);
        if (wcscmp(name, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    static DWORD WINAPI run(void* self) {
        auto* reader = static_cast<BoxReader*>(self);
        wchar_t text[512] = {0};
        for (int i = 0; i < 500; ++i, Sleep(20)) {
            HWND box = nullptr;
            EnumThreadWindows(reader->thread_, findBox, reinterpret_cast<LPARAM>(&box));
            // Visible a moment before it is filled: read once it holds its text.
            if (!box || GetDlgItemTextW(box, 0xFFFF, text, 512) == 0) continue;
            reader->text_ = text;
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(reader->button_, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, reader->button_)));
            return 0;
        }
        return 0;
    }
    DWORD thread_;
    int button_;
    HANDLE reader_ = nullptr;
    std::wstring text_;
};

int gChecksAsked = 0;
std::wstring countedCheck(const std::wstring&, const std::wstring&) {
    ++gChecksAsked;
    return L"Valid: someone";
}

}  // namespace

// An address the server setting cannot use: "Ok" says why and keeps the window and
// every edit; "Check" says so without a request.
TEST_F(OptionsDialog, OkRefusesAServerAddressItCannotUse) {
    HWND o = openOptions(optionsSample());
    ASSERT_NE(o, nullptr);
    SetWindowTextW(item(o, kServerEdit), L"ftp://music.example.org");
    SetWindowTextW(item(o, kIntervalEdit), L"12");
    {
        BoxReader box(GetCurrentThreadId());
        SendMessageW(item(o, kOptionsOkButton), BM_CLICK, 0, 0);
        EXPECT_EQ(box.text(),
                  L"The server address cannot be used: only http:// and https:// addresses can "
                  L"be used.");
    }
    pump();
    EXPECT_EQ(optionsDialogWindow(), o);
    EXPECT_TRUE(visible(o));
    EXPECT_EQ(textOf(item(o, kServerEdit)), L"ftp://music.example.org");
    EXPECT_EQ(GetFocus(), item(o, kServerEdit));
    EXPECT_EQ(currentSettings().MinInterval, 30) << "applied although refused";
    EXPECT_EQ(currentSettings().ListenBrainzServer, L"");
    setTokenCheck(countedCheck);
    SendMessageW(item(o, kCheckTokenButton), BM_CLICK, 0, 0);
    pump();
    setTokenCheck(nullptr);
    EXPECT_EQ(textOf(item(o, kTokenResultLabel)),
              L"Not valid: only http:// and https:// addresses can be used");
    EXPECT_EQ(gChecksAsked, 0);

    SetWindowTextW(item(o, kServerEdit), L"music.example.org:8443/apis/listenbrainz");
    SendMessageW(item(o, kOptionsOkButton), BM_CLICK, 0, 0);
    pump();
    EXPECT_EQ(optionsDialogWindow(), nullptr);
    EXPECT_EQ(currentSettings().ListenBrainzServer, L"music.example.org:8443/apis/listenbrainz");
    EXPECT_EQ(currentSettings().MinInterval, 12);

    // Last.fm's server follows the same rule, but only while Last.fm is used.
    o = openOptions(optionsSample());
    ASSERT_NE(o, nullptr);
    selectRow(o, 1);
    SetWindowTextW(item(o, kLastFmServerEdit), L"libre.fm/2.0/?x=1");
    SendMessageW(item(o, kOptionsOkButton), BM_CLICK, 0, 0);
    EXPECT_EQ(optionsDialogWindow(), nullptr) << "refused although Last.fm is off";
    EXPECT_EQ(currentSettings().LastFmServer, L"libre.fm/2.0/?x=1");
    o = openOptions(currentSettings());
    ASSERT_NE(o, nullptr);
    selectRow(o, 1);
    SendMessageW(item(o, kLastFmCheck), BM_CLICK, 0, 0);
    selectRow(o, 0);  // Ok shows the account it refuses
    {
        BoxReader box(GetCurrentThreadId());
        SendMessageW(item(o, kOptionsOkButton), BM_CLICK, 0, 0);
        EXPECT_EQ(box.text().rfind(L"The Last.fm server address cannot be used: ", 0), 0u)
            << testutil::utf8(box.text());
    }
    pump();
    EXPECT_EQ(optionsDialogWindow(), o);
    EXPECT_EQ(GetFocus(), item(o, kLastFmServerEdit));
    EXPECT_TRUE(visible(item(o, kLastFmServerEdit)));
    EXPECT_EQ(SendMessageW(item(o, kAccountList), LB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(currentSettings().LastFm, 0);
}

TEST_F(OptionsDialog, ClosingTheSettingsWindowTakesItAlong) {
    HWND o = openOptions(optionsSample());
    ASSERT_NE(o, nullptr);
    PostMessageW(settings_, WM_CLOSE, 0, 0);
    pump();
    EXPECT_FALSE(IsWindow(o));
    EXPECT_EQ(optionsDialogWindow(), nullptr);
    EXPECT_FALSE(settingsDialogOpen) << "the update cycle would stay off";
    EXPECT_EQ(currentSettings().MinInterval, 30);

    // Opened on its own (no settings window), it holds the cycle off while it shows.
    showOptionsDialog(nullptr);
    pump();
    ASSERT_NE(optionsDialogWindow(), nullptr);
    EXPECT_TRUE(settingsDialogOpen);
    SendMessageW(item(optionsDialogWindow(), kOptionsCancelButton), BM_CLICK, 0, 0);
    pump();
    EXPECT_FALSE(settingsDialogOpen);
}

TEST_F(OptionsDialog, LogLinkOpensTheActivityLog) {
    loadSettings();  // the log lies beside the ini the settings came from
    HWND o = openOptions(optionsSample());
    ASSERT_NE(o, nullptr);
    HWND link = item(o, kLogLink);
    SendMessageW(link, WM_LBUTTONDOWN, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(paintColour(o, link, WM_CTLCOLORSTATIC), kLinkRed);
    EXPECT_TRUE(gLogsOpened.empty()) << "opened on press";
    SendMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(paintColour(o, link, WM_CTLCOLORSTATIC), kLinkBlue);
    ASSERT_EQ(gLogsOpened.size(), 1u);
    EXPECT_EQ(gLogsOpened[0], activityLogPath());
    EXPECT_NE(gLogsOpened[0].find(L"nimbo.log"), std::wstring::npos);
}

// Opening may run a message loop in which Winamp quits and frees the link's state: both
// links count as our code running meanwhile, and leave a link that went away alone.
TEST_F(OptionsDialog, LinksCountAsRunningWhileOpeningAndLeaveAGoneLinkAlone) {
    HWND o = openOptions(optionsSample());
    ASSERT_NE(o, nullptr);
    for (HWND window : {settings_, o}) {
        HWND link = item(window, window == o ? int(kLogLink) : int(kLink));
        gRunningWhileOpening.clear();
        gEndWhileOpening = link;
        SendMessageW(link, WM_LBUTTONDOWN, 0, MAKELPARAM(5, 5));
        SendMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        gEndWhileOpening = nullptr;
        EXPECT_EQ(gRunningWhileOpening, std::vector<bool>{true}) << "quit would unload us";
        // The settings window knows its link by handle, the options window by id.
        HWND asked = window == o ? item(o, kLogLink) : link;
        EXPECT_EQ(paintColour(window, asked, WM_CTLCOLORSTATIC), kLinkRed)
            << "the gone link's state was written after the open";
    }
}

TEST_F(OptionsDialog, KeyboardWorksWhateverTheHostLoopDoes) {
    for (bool hostCallsIsDialogMessage : {false, true}) {
        SCOPED_TRACE(hostCallsIsDialogMessage ? "IsDialogMessage" : "plain loop");
        dialogKeys = hostCallsIsDialogMessage;
        HWND o = openOptions(optionsSample());
        ASSERT_NE(o, nullptr);
        const std::vector<HWND> order = testutil::tabOrder(o, optionsWindowTable());
        EXPECT_EQ(GetFocus(), order[0]);
        for (size_t i = 1; i <= order.size(); ++i) {
            press(VK_TAB);
            EXPECT_EQ(GetFocus(), order[i % order.size()]) << "stop " << i;
        }
        // Shift+Tab goes back the same way.
        testutil::setShift(true);
        for (size_t i = order.size() - 1; i > order.size() - 3; --i) {
            press(VK_TAB);
            EXPECT_EQ(GetFocus(), order[i]) << "Shift+Tab, stop " << i;
        }
        testutil::setShift(false);
        // No TAB character lands in the private list.
        PostMessageW(item(o, kPrivateEdit), WM_CHAR, L'\t', 1);
        pump(2);
        EXPECT_EQ(textOf(item(o, kPrivateEdit)), L"Audiobooks\r\nPodcast");
        // On the list the arrows choose the account, Enter edits it, Delete removes it
        // (nothing waits: no question); Escape anywhere cancels all.
        SetFocus(item(o, kAccountList));
        press(VK_DOWN);
        EXPECT_TRUE(visible(item(o, kLastFmKeyEdit))) << "the arrow chose no account";
        press(VK_RETURN);
        EXPECT_EQ(GetFocus(), item(o, kLastFmCheck));
        SetFocus(item(o, kAccountList));
        press(VK_DELETE);
        EXPECT_EQ(rows(o),
                  std::vector<std::wstring>{L"ListenBrainz: off, valid, waiting: not known"});
        EXPECT_EQ(GetFocus(), item(o, kAccountList));
        SetFocus(item(o, kIntervalEdit));
        press(VK_ESCAPE);
        EXPECT_EQ(optionsDialogWindow(), nullptr) << "Escape left the window open";
        EXPECT_EQ(currentSettings().LastFmServer, L"https://lastfm.example/2.0/");
        SendMessageW(item(settings_, kCancelButton), BM_CLICK, 0, 0);
        pump();
    }
}

namespace {

// A connect flow that asks for a token and then for the session, each until the test
// allows it (or the window's stop). It hands over the page even after a stop: not
// opening it then is the window's part.
HANDLE gToken = nullptr;
HANDLE gAllow = nullptr;
std::atomic<bool> gSawStop{false};
std::wstring gConnectedWith;
const wchar_t kPage[] = L"https://host/gnufm/api/auth/?api_key=k&token=t";
ConnectResult fakeConnect(const std::wstring& server, const std::wstring& key,
                          const std::wstring& secret, FunctionRef<void(const std::wstring&)> said,
                          FunctionRef<void(const std::wstring&)> showPage,
                          const std::atomic<bool>& stop) {
    gConnectedWith = server + L"|" + key + L"|" + secret;
    said(L"Asking for a token...");
    ConnectResult c;
    for (int i = 0; i < 500 && !stop && WaitForSingleObject(gToken, 20) != WAIT_OBJECT_0; ++i) {
    }
    showPage(kPage);
    said(L"Waiting for you to allow Nimbo in the browser...");
    for (int i = 0; i < 500 && !stop && WaitForSingleObject(gAllow, 20) != WAIT_OBJECT_0; ++i) {
    }
    gSawStop = stop.load();
    if (stop) return c;
    c.ok = true;
    c.session = L"s3ss10n";
    c.user = L"someone";
    c.words = L"Connected as someone";
    return c;
}

// The browser as the test has it: it opens pages or there is none.
std::vector<std::wstring> gBrowsed;
bool gBrowserWorks = true;
bool recordBrowser(const std::wstring& address) {
    gBrowsed.push_back(address);
    return gBrowserWorks;
}

}  // namespace

// Connect runs the flow with the typed values off this thread and shows what it says;
// the session it gives is stored by "Ok" only, with the server and API key it was given
// for. Without a browser the page's address is there to copy. Disconnect forgets the
// session the same way, and a window closed mid-flow stops it before any browser opens.
TEST_F(OptionsDialog, ConnectAndDisconnectTakeEffectOnOk) {
    gToken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    gAllow = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    setLastFmConnect(fakeConnect);
    setBrowserOpenerForTest(recordBrowser);
    HWND address = nullptr;
    auto label = [](HWND o) { return textOf(GetDlgItem(o, kConnectStatusLabel)); };
    auto waitFor = [&](HWND o, const std::wstring& text) {
        for (int i = 0; i < 200 && label(o) != text; ++i) pump(1), Sleep(10);
        return label(o);
    };
    for (int button : {int(kOptionsOkButton), int(kOptionsCancelButton), 0}) {
        SCOPED_TRACE(button);
        ResetEvent(gToken);
        ResetEvent(gAllow);
        gBrowsed.clear();
        gBrowserWorks = button != kOptionsOkButton;
        HWND o = openOptions(optionsSample());
        ASSERT_NE(o, nullptr);
        address = item(o, kConnectAddressEdit);
        selectRow(o, 1);
        SetWindowTextW(item(o, kLastFmServerEdit), L"libre.fm");
        SetWindowTextW(item(o, kLastFmKeyEdit), L"k");
        SetWindowTextW(item(o, kLastFmSecretEdit), L"s");
        SendMessageW(item(o, kConnectButton), BM_CLICK, 0, 0);
        EXPECT_EQ(waitFor(o, L"Asking for a token..."), L"Asking for a token...");
        EXPECT_EQ(gConnectedWith, L"libre.fm|k|s");
        EXPECT_EQ(textOf(item(o, kConnectButton)), L"Stop");
        if (button == 0) {  // closed while the token comes
            gSawStop = false;
            PostMessageW(o, WM_CLOSE, 0, 0);
            for (int i = 0; i < 100 && !gSawStop; ++i) pump(1), Sleep(10);
            EXPECT_TRUE(gSawStop) << "the flow was not stopped";
            EXPECT_TRUE(gBrowsed.empty()) << "a closed window opened the browser";
            continue;
        }
        SetEvent(gToken);
        EXPECT_EQ(waitFor(o, L"Waiting for you to allow Nimbo in the browser..."),
                  L"Waiting for you to allow Nimbo in the browser...");
        EXPECT_EQ(gBrowsed, std::vector<std::wstring>{kPage});
        // No browser: the address, read-only, to copy; the flow keeps waiting.
        EXPECT_EQ(visible(address), !gBrowserWorks);
        EXPECT_EQ(textOf(address), gBrowserWorks ? L"" : kPage);
        EXPECT_TRUE(styleOf(address) & ES_READONLY);
        SetEvent(gAllow);
        EXPECT_EQ(waitFor(o, L"Connected as someone"), L"Connected as someone");
        EXPECT_FALSE(visible(address)) << "the spent page stays offered";
        EXPECT_EQ(textOf(item(o, kConnectButton)), L"Disconnect");
        EXPECT_EQ(currentSettings().LastFmSession, L"") << "stored before Ok";
        SendMessageW(item(o, button), BM_CLICK, 0, 0);
        pump();
        const Settings now = currentSettings();
        const bool ok = button == kOptionsOkButton;
        EXPECT_EQ(now.LastFmSession + now.LastFmUser, ok ? L"s3ss10nsomeone" : L"");
        EXPECT_EQ(now.LastFmSessionServer + L"|" + now.LastFmSessionApiKey,
                  ok ? L"libre.fm|k" : L"|");
    }
    setLastFmConnect(nullptr);
    setBrowserOpenerForTest(nullptr);
    CloseHandle(gToken);
    CloseHandle(gAllow);

    // A stored session: the window says so, and Disconnect forgets it on Ok only.
    Settings connected = optionsSample();
    connected.LastFmSession = L"s3ss10n";
    connected.LastFmUser = L"someone";
    connected.LastFmServer.clear();
    for (int button : {kOptionsCancelButton, kOptionsOkButton}) {
        HWND o = openOptions(connected);
        ASSERT_NE(o, nullptr);
        selectRow(o, 1);
        EXPECT_EQ(label(o), L"Connected as someone");
        EXPECT_EQ(rows(o)[1], L"Last.fm: off, connected as someone, waiting: not known");
        SendMessageW(item(o, kConnectButton), BM_CLICK, 0, 0);
        EXPECT_EQ(label(o), L"Not connected");
        EXPECT_EQ(textOf(item(o, kConnectButton)), L"Connect...");
        SendMessageW(item(o, button), BM_CLICK, 0, 0);
        pump();
        const bool ok = button == kOptionsOkButton;
        EXPECT_EQ(currentSettings().LastFmSession + currentSettings().LastFmUser,
                  ok ? L"" : L"s3ss10nsomeone");
    }
}

// "not encrypted" stands under a server box while its address is plain http, as typed;
// shown, it and the address to copy keep the layout.
TEST_F(OptionsDialog, PlainHttpServersSayNotEncrypted) {
    HWND o = openOptions(optionsSample());
    ASSERT_NE(o, nullptr);
    const std::pair<const wchar_t*, const wchar_t*> typed[] = {
        {L" HTTP://[::1]:80 ", L"not encrypted"},
        {L"https://lan", L""},
        {L"lan", L""},
        {L"http://", L""},
        {L"http://lan/2.0", L"not encrypted"}};
    for (auto [edit, label] : {std::pair{kLastFmServerEdit, kLastFmPlainLabel},
                               std::pair{kServerEdit, kListenBrainzPlainLabel}}) {
        selectRow(o, edit == kServerEdit ? 0 : 1);
        for (auto [address, says] : typed) {
            SetWindowTextW(item(o, edit), address);
            EXPECT_EQ(textOf(item(o, label)), says) << edit << testutil::utf8(address);
        }
    }
    selectRow(o, 1);
    ShowWindow(item(o, kConnectAddressEdit), SW_SHOW);
    testutil::expectTableWindow(o, optionsWindowTable());
    expectTextsFit(o, optionsWindowTable());
}

// Add... takes a ListenBrainz account while one is free; the interface buttons move an
// account added here to the other one. Up to four of each: a full interface cannot be
// chosen, and Add... greys out once both are full. "Ok" stores the added account in its
// numbered keys and leaves the first accounts' keys alone; "Cancel" drops every add.
TEST_F(OptionsDialog, AddAsksTheInterfaceUpToFourOfEach) {
    HWND o = openOptions(optionsSample());
    ASSERT_NE(o, nullptr);
    SendMessageW(item(o, kAddButton), BM_CLICK, 0, 0);
    HWND lb = item(o, kListenBrainzKindRadio), lastFm = item(o, kLastFmKindRadio);
    EXPECT_EQ(GetFocus(), lb) << "the interface is asked first";
    EXPECT_TRUE(checked(lb) && IsWindowEnabled(lb) && IsWindowEnabled(lastFm));
    EXPECT_EQ(rows(o)[1], L"ListenBrainz: on, not connected, waiting: not known");
    SendMessageW(lastFm, BM_CLICK, 0, 0);
    EXPECT_TRUE(visible(item(o, kLastFmKeyEdit)));
    EXPECT_EQ(rows(o)[2], L"Last.fm: on, not connected, waiting: not known");
    EXPECT_EQ(SendMessageW(item(o, kAccountList), LB_GETCURSEL, 0, 0), 2);
    SetWindowTextW(item(o, kLastFmServerEdit), L"https://libre.example/2.0/");
    SetWindowTextW(item(o, kLastFmKeyEdit), L"k");
    SendMessageW(item(o, kOptionsOkButton), BM_CLICK, 0, 0);
    pump();
    Settings s = currentSettings();
    EXPECT_EQ(s.LastFm2, 1);
    EXPECT_EQ(s.LastFm2Server + L"|" + s.LastFm2Key, L"https://libre.example/2.0/|k");
    EXPECT_EQ(s.LastFmServer + L"|" + s.LastFmKey, L"https://lastfm.example/2.0/|");
    EXPECT_EQ(s.LastFm + s.ListenBrainz2, 0) << "the account stayed ListenBrainz's too";

    o = openOptions(optionsSample());
    ASSERT_NE(o, nullptr);
    for (int i = 0; i < 6; ++i) SendMessageW(item(o, kAddButton), BM_CLICK, 0, 0);
    EXPECT_EQ(rows(o).size(), 8u);
    EXPECT_FALSE(IsWindowEnabled(item(o, kAddButton)));
    lastFm = item(o, kLastFmKindRadio);
    EXPECT_TRUE(checked(lastFm) && IsWindowEnabled(lastFm));
    EXPECT_FALSE(IsWindowEnabled(item(o, kListenBrainzKindRadio))) << "a fifth ListenBrainz";
    // A stored account keeps its interface.
    selectRow(o, 0);
    EXPECT_FALSE(IsWindowEnabled(item(o, kListenBrainzKindRadio)) ||
                 IsWindowEnabled(item(o, kLastFmKindRadio)));
    testutil::expectTableWindow(o, optionsWindowTable());
    expectRowsFit(item(o, kAccountList), rows(o));
    SendMessageW(item(o, kOptionsCancelButton), BM_CLICK, 0, 0);
    pump();
    EXPECT_EQ(currentSettings().ListenBrainz4 + currentSettings().LastFm4, 0);
}

namespace {
std::atomic<int> gDropped{-1};
std::atomic<DWORD> gDroppedOn{0};
void recordDrop(size_t account) {
    gDroppedOn = GetCurrentThreadId();
    gDropped = int(account);
}
}  // namespace

// Remove asks while listens wait for the account, in those words: Cancel and No keep it,
// Yes removes it, and "Ok" then empties its queue off this thread. (Escape's cancel
// of a removal: the keyboard case.)
TEST_F(OptionsDialog, RemoveAsksWhileListensWaitAndOkDropsThem) {
    setListensCount([](size_t, bool&) { return 1L; });
    setScrobblesCount([](size_t account, bool&) { return account == 0 ? 12L : 0L; });
    setQueueDrops(recordDrop, recordDrop);
    HWND o = openOptions(optionsSample());
    ASSERT_NE(o, nullptr);
    for (int i = 0; i < 200 && rows(o)[1].back() != L'2'; ++i) pump(1), Sleep(10);
    const std::pair<int, const wchar_t*> answers[] = {
        {IDCANCEL, L"1 listen waits for ListenBrainz. Remove it too?"},
        {IDNO, L"12 scrobbles wait for Last.fm. Remove them too?"},
        {IDYES, L"12 scrobbles wait for Last.fm. Remove them too?"}};
    for (auto [button, question] : answers) {
        if (button != IDCANCEL) selectRow(o, 1);
        BoxReader box(GetCurrentThreadId(), button);
        SendMessageW(item(o, kRemoveButton), BM_CLICK, 0, 0);
        EXPECT_EQ(box.text(), question);
        EXPECT_EQ(rows(o).size(), button == IDYES ? 1u : 2u) << button;
    }
    EXPECT_EQ(gDropped.load(), -1) << "dropped before Ok";
    SendMessageW(item(o, kOptionsOkButton), BM_CLICK, 0, 0);
    pump();
    for (int i = 0; i < 200 && gDropped < 0; ++i) Sleep(10);
    EXPECT_EQ(gDropped.load(), 0);
    EXPECT_NE(gDroppedOn.load(), GetCurrentThreadId());
    EXPECT_EQ(currentSettings().LastFmServer, L"");
    EXPECT_EQ(currentSettings().ListenBrainzToken, L"t0ken");
    setListensCount(nullptr);
    setScrobblesCount(nullptr);
    setQueueDrops(nullptr, nullptr);
}
