// The settings dialog on this program's own message loop: geometry, views, the radio
// buttons, "Ok" and "Cancel", raising, the link and the Tab order.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/activity_log.h"
#include "core/settings.h"
#include "core/state.h"
#include "net/http_client.h"
#include "net/publisher.h"
#include "tests/win32/win32_test_util.h"
#include "ui/control_ids.h"
#include "ui/link_label.h"
#include "ui/options_dialog.h"
#include "ui/security_code_dialog.h"
#include "ui/settings_dialog.h"
#include "ui/window_util.h"

using namespace nimbo;

namespace {

enum Kind { kLabel, kRadio, kCheck, kPush, kLine, kPassword, kBox };

struct Expected {
    SettingsControlId id;
    Kind kind;
    const wchar_t* text;  // in login mode with sample()'s values; null: the home page
    int x, y, w, h;
    LONG weight;
    bool underline;
    COLORREF colour;
};

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

// The window's outer size and its controls, in creation order: the one place where
// the pixels are written out.
const SIZE kWindowSize = {378, 350};
const COLORREF kText = 0x000008, kGrey = 0x808080;
// clang-format off
const Expected kLayout[] = {
    {kTitleLabel,      kLabel,    L"Authorizing through:", 8,   5, 150, 13, FW_BOLD,   false, kText},
    {kModeLabel,       kLabel,    L"Login:",               8,  48, 353, 13, FW_NORMAL, false, kText},
    {kPasswordLabel,   kLabel,    L"Password:",            8,  88, 353, 13, FW_NORMAL, false, kText},
    {kMaskLabel,       kLabel,    L"Status mask:",         8, 141, 353, 13, FW_BOLD,   false, kText},
    {kVersionLabel,    kLabel,    L"v0.276 beta",        220,   5, 353, 14, FW_NORMAL, false, kGrey},
    {kAuthorLabel,     kLabel,    L"Tarnell Project",    230,  17, 353, 14, FW_BOLD,   false, kGrey},
    {kLink,            kLabel,    nullptr,               195,  30, 353, 14, FW_NORMAL, true,  kLinkBlue},
    {kLoginRadio,      kRadio,    L"Login/Pass",           8,  24,  80, 17, FW_NORMAL, false, kText},
    {kCookieRadio,     kRadio,    L"Cookie",             100,  24,  80, 17, FW_NORMAL, false, kText},
    {kLoginEdit,       kLine,     L"user@example.com",     8,  64, 233, 21, FW_NORMAL, false, kText},
    {kPasswordEdit,    kPassword, L"secret & more",        8, 104, 233, 21, FW_NORMAL, false, kText},
    {kMaskEdit,        kBox,      L"%artist% - %title%\r\n$playing=plays;", 8, 160, 353, 73, FW_NORMAL, false, kText},
    {kCookieEdit,      kBox,      L"remixsid=abc123",      8,  64, 353, 73, FW_NORMAL, false, kText},
    {kOkButton,        kPush,     L"Ok",                 208, 240,  75, 25, FW_NORMAL, false, kText},
    {kCancelButton,    kPush,     L"Cancel",             288, 240,  75, 25, FW_NORMAL, false, kText},
    {kEnabledCheck,    kCheck,    L"Enabled",              8, 240,  97, 17, FW_NORMAL, false, kText},
    {kShowErrorsCheck, kCheck,    L"Show errors",        100, 240,  97, 17, FW_NORMAL, false, kText},
    {kLastResultLabel, kLabel,    L"Last: nothing published yet", 8, 272, 353, 14, FW_NORMAL, false, kText},
    {kMoreButton,      kPush,     L"More...",            288, 292,  75, 25, FW_NORMAL, false, kText},
};
// clang-format on

std::vector<std::string> gOpened;
void recordOpen(const char* address) {
    gOpened.push_back(address);
}

std::wstring textOf(HWND w) {
    wchar_t buffer[512] = {0};
    GetWindowTextW(w, buffer, 512);
    return buffer;
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

BOOL CALLBACK countAll(HWND, LPARAM p) {
    ++*reinterpret_cast<int*>(p);
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

// The dialog's area of the screen as a 24-bit BMP (a build artefact to look at).
void saveScreenshot(HWND window, const std::string& path) {
    RECT r;
    GetWindowRect(window, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    DWORD size = DWORD(((w * 3 + 3) & ~3) * h);
    BITMAPFILEHEADER file = {0x4D42, DWORD(sizeof file + sizeof info.bmiHeader + size), 0, 0,
                             DWORD(sizeof file + sizeof info.bmiHeader)};
    std::string bytes(reinterpret_cast<char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<char*>(&info.bmiHeader), sizeof info.bmiHeader);
    bytes.append(static_cast<char*>(bits), size);
    testutil::writeFile(path, bytes);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
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
    void pump(int rounds = 5) {
        for (int i = 0; i < rounds; ++i) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                HWND d = optionsDialogWindow() ? optionsDialogWindow() : settingsDialogWindow();
                if (dialogKeys && d && IsDialogMessageW(d, &msg)) continue;
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            Sleep(10);
        }
    }

    // A key pressed in the focused control, through the loop above.
    void press(int key) {
        PostMessageW(GetFocus(), WM_KEYDOWN, key, 1);
        PostMessageW(GetFocus(), WM_KEYUP, key, 1 | (3u << 30));
        pump(2);
    }

    static HWND item(HWND dialog, int id) { return GetDlgItem(dialog, id); }
};

}  // namespace

TEST_F(SettingsDialog, WindowIsCentredBorderedAndWithoutSystemMenu) {
    HWND d = open(sample(false));
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(settingsDialogOpen);
    EXPECT_TRUE(visible(d));
    EXPECT_EQ(textOf(d), L"Nimbo");
    RECT r;
    GetWindowRect(d, &r);
    EXPECT_EQ(r.right - r.left, kWindowSize.cx);
    EXPECT_EQ(r.bottom - r.top, kWindowSize.cy);
    const POINT centred = centredOrigin(kWindowSize.cx, kWindowSize.cy);
    EXPECT_EQ(r.left, centred.x);
    EXPECT_EQ(r.top, centred.y);
    // The window grew just for the last-result line: it shows whole, with room below.
    RECT client, line;
    GetClientRect(d, &client);
    GetWindowRect(item(d, kLastResultLabel), &line);
    MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(&line), 2);
    EXPECT_LE(line.bottom + 4, client.bottom);
    LONG style = styleOf(d);
    EXPECT_TRUE(style & WS_BORDER);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_FALSE(style & (WS_SYSMENU | WS_THICKFRAME | WS_POPUP | WS_CHILD));
    EXPECT_EQ(GetWindow(d, GW_OWNER), nullptr);
    EXPECT_EQ(GetClassLongPtrW(d, GCLP_HBRBACKGROUND), ULONG_PTR(COLOR_BTNFACE + 1));
    saveScreenshot(d, testutil::exeFolder() + "settings_dialog_login.bmp");
    SendMessageW(item(d, kCookieRadio), BM_CLICK, 0, 0);
    pump();
    saveScreenshot(d, testutil::exeFolder() + "settings_dialog_cookie.bmp");
}

TEST_F(SettingsDialog, ControlsHaveTheirRectanglesFontsTextsStylesAndColours) {
    HWND d = open(sample(false));
    ASSERT_NE(d, nullptr);
    int children = 0;
    EnumChildWindows(d, countAll, reinterpret_cast<LPARAM>(&children));
    EXPECT_EQ(children, int(sizeof kLayout / sizeof kLayout[0]));
    for (const Expected& e : kLayout) {
        SCOPED_TRACE("control " + std::to_string(e.id));
        HWND c = item(d, e.id);
        ASSERT_NE(c, nullptr);
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(r.left, e.x);
        EXPECT_EQ(r.top, e.y);
        EXPECT_EQ(r.right - r.left, e.w);
        EXPECT_EQ(r.bottom - r.top, e.h);
        if (e.text) {
            EXPECT_EQ(textOf(c), e.text);
        } else {
            // The link shows the very address it opens.
            EXPECT_EQ(testutil::utf8(textOf(c)), kHomePage);
            EXPECT_EQ(std::string(kHomePage).rfind("http://", 0), 0u);
        }

        LOGFONTW lf = {};
        ASSERT_TRUE(
            GetObjectW(reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0)), sizeof lf, &lf));
        EXPECT_STREQ(lf.lfFaceName, L"MS Shell Dlg 2");
        EXPECT_EQ(lf.lfHeight, 15);
        EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
        EXPECT_EQ(lf.lfWeight, e.weight);
        EXPECT_EQ(lf.lfUnderline != 0, e.underline);

        wchar_t cls[16] = {0};
        GetClassNameW(c, cls, 16);
        LONG style = styleOf(c), ex = GetWindowLongW(c, GWL_EXSTYLE);
        bool edit = e.kind == kLine || e.kind == kPassword || e.kind == kBox;
        EXPECT_EQ(lstrcmpiW(cls, e.kind == kLabel ? L"Static" : edit ? L"Edit" : L"Button"), 0);
        EXPECT_EQ((ex & WS_EX_CLIENTEDGE) != 0, edit);
        HDC dc = CreateCompatibleDC(nullptr);
        SendMessageW(d, edit ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(c));
        EXPECT_EQ(GetTextColor(dc), e.colour);
        EXPECT_EQ(GetBkColor(dc), GetSysColor(edit ? COLOR_WINDOW : COLOR_BTNFACE));
        DeleteDC(dc);
        switch (e.kind) {
            case kLabel:
                EXPECT_EQ(style & SS_TYPEMASK, SS_LEFTNOWORDWRAP);
                EXPECT_TRUE(style & SS_NOPREFIX);
                EXPECT_TRUE(style & SS_NOTIFY);
                break;
            case kRadio:
                EXPECT_EQ(style & BS_TYPEMASK, BS_AUTORADIOBUTTON);
                break;
            case kCheck:
                EXPECT_EQ(style & BS_TYPEMASK, BS_AUTOCHECKBOX);
                break;
            case kPush:
                EXPECT_EQ(style & BS_TYPEMASK, BS_PUSHBUTTON);  // no default button
                break;
            case kLine:
            case kPassword:
                EXPECT_TRUE(style & ES_AUTOHSCROLL);
                EXPECT_FALSE(style & (ES_MULTILINE | WS_VSCROLL));
                EXPECT_EQ(SendMessageW(c, EM_GETPASSWORDCHAR, 0, 0) != 0, e.kind == kPassword);
                break;
            case kBox:
                EXPECT_TRUE(style & ES_MULTILINE);
                EXPECT_TRUE(style & WS_VSCROLL);
                EXPECT_FALSE(style & (ES_AUTOHSCROLL | WS_HSCROLL));  // long lines wrap
                break;
        }
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

TEST_F(SettingsDialog, TabVisitsTheVisibleControlsInTheirOrder) {
    struct {
        bool cookie;
        std::vector<int> order;
    } modes[] = {
        {false,
         {kLoginRadio, kLoginEdit, kPasswordEdit, kMaskEdit, kEnabledCheck, kOkButton, kCancelButton, kShowErrorsCheck, kMoreButton}},
        {true, {kCookieRadio, kMaskEdit, kCookieEdit, kEnabledCheck, kOkButton, kCancelButton, kShowErrorsCheck, kMoreButton}}};
    // Windows' dialog manager enters a radio group at its checked button only.
    for (auto& m : modes) {
        SCOPED_TRACE(m.cookie ? "cookie mode" : "login mode");
        HWND d = open(sample(m.cookie));
        ASSERT_NE(d, nullptr);
        HWND at = item(d, m.order.back());
        for (int n : m.order) {
            at = GetNextDlgTabItem(d, at, FALSE);
            EXPECT_EQ(at, item(d, n)) << "expected control " << n;
        }
        SendMessageW(item(d, kCancelButton), BM_CLICK, 0, 0);
        pump();
    }
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
        SetFocus(item(d, kLoginRadio));
        for (int n : {kLoginEdit, kPasswordEdit, kMaskEdit, kEnabledCheck, kOkButton,
                      kCancelButton, kShowErrorsCheck, kMoreButton, kLoginRadio}) {
            press(VK_TAB);
            EXPECT_EQ(GetFocus(), item(d, n)) << "expected control " << n;
        }
        // The arrows switch the mode within the radio pair, as a click does.
        SetFocus(item(d, kLoginRadio));
        press(VK_RIGHT);
        EXPECT_EQ(GetFocus(), item(d, kCookieRadio));
        EXPECT_TRUE(checked(item(d, kCookieRadio)));
        EXPECT_TRUE(currentSettings().NoLogin);
        EXPECT_TRUE(visible(item(d, kCookieEdit)));
        press(VK_TAB);
        EXPECT_EQ(GetFocus(), item(d, kMaskEdit));
        press(VK_TAB);
        EXPECT_EQ(GetFocus(), item(d, kCookieEdit));
        press(VK_TAB);
        EXPECT_EQ(GetFocus(), item(d, kEnabledCheck));
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
    const char* port = std::getenv("NIMBO_SERVICE_PORT");
    if (!port) GTEST_SKIP() << "no service stand-in (NIMBO_SERVICE_PORT)";
    ASSERT_TRUE(testutil::writeFile(testutil::besideIni(),
                                    std::string("[Winamp]\r\nproxy=127.0.0.1:") + port + "\r\n"));
    loadSettings();

    struct Ask {
        std::string url, code;
        static DWORD WINAPI run(void* self) {
            auto* ask = static_cast<Ask*>(self);
            ask->code = askSecurityCode(httpGetToStream(ask->url).value.value_or(std::string()));
            return 0;
        }
    } ask{std::string(kServiceHost) + "/captcha.php?sid=42", ""};
    HANDLE thread = CreateThread(nullptr, 0, Ask::run, &ask, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    HWND code = nullptr;
    for (int i = 0; i < 1000 && !code; ++i) {
        Sleep(20);
        code = securityCodeWindow();
    }
    ASSERT_NE(code, nullptr) << "the security-code window never came up";
    ASSERT_TRUE(securityCodePending);
    HWND codeEdit = FindWindowExW(code, nullptr, L"Edit", nullptr);
    SendMessageW(codeEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"7x9"));

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

// The options window: outer size and controls, in creation order.
const SIZE kOptionsSize = {298, 298};
// clang-format off
const struct {
    OptionsControlId id;
    Kind kind;
    const wchar_t* text;  // with optionsSample()'s values
    int x, y, w, h;
    LONG weight;
    bool underline;
    COLORREF colour;
} kOptionsLayout[] = {
    {kPrivateLabel,        kLabel, L"Private tracks, one a line:",    8,   5, 280, 13, FW_BOLD,   false, kText},
    {kPrivateEdit,         kBox,   L"Audiobooks\r\nPodcast",          8,  22, 280, 89, FW_NORMAL, false, kText},
    {kOnPauseCheck,        kCheck, L"Clear the status on pause",      8, 118, 280, 17, FW_NORMAL, false, kText},
    {kOnStopCheck,         kCheck, L"Clear the status on stop",       8, 138, 280, 17, FW_NORMAL, false, kText},
    {kIntervalLabel,       kLabel, L"Seconds between two statuses:",  8, 165, 206, 13, FW_NORMAL, false, kText},
    {kIntervalEdit,        kLine,  L"30",                           220, 161,  68, 21, FW_NORMAL, false, kText},
    {kLogLink,             kLabel, L"Open log",                       8, 214,  60, 14, FW_NORMAL, true,  kLinkBlue},
    {kOptionsOkButton,     kPush,  L"Ok",                           133, 236,  75, 25, FW_NORMAL, false, kText},
    {kOptionsCancelButton, kPush,  L"Cancel",                       213, 236,  75, 25, FW_NORMAL, false, kText},
    {kSecureCheck,         kCheck, L"Secure connection (HTTPS)",      8, 188, 280, 17, FW_NORMAL, false, kText},
};
// clang-format on

Settings optionsSample() {
    Settings s = sample(false);
    s.PrivateWords = L"Audiobooks\r\nPodcast";
    s.OnPause = 1;
    s.OnStop = 0;
    s.MinInterval = 30;
    s.Secure = 1;
    return s;
}

std::vector<std::wstring> gLogsOpened;
void recordLog(const std::wstring& path) {
    gLogsOpened.push_back(path);
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
    EXPECT_EQ(textOf(o), L"Nimbo options");
    EXPECT_TRUE(visible(o));
    EXPECT_EQ(GetWindow(o, GW_OWNER), settings_);
    EXPECT_FALSE(IsWindowEnabled(settings_)) << "the settings window takes clicks meanwhile";
    EXPECT_TRUE(settingsDialogOpen);
    RECT r;
    GetWindowRect(o, &r);
    EXPECT_EQ(r.right - r.left, kOptionsSize.cx);
    EXPECT_EQ(r.bottom - r.top, kOptionsSize.cy);
    const POINT centred = centredOrigin(kOptionsSize.cx, kOptionsSize.cy);
    EXPECT_EQ(r.left, centred.x);
    EXPECT_EQ(r.top, centred.y);
    EXPECT_FALSE(styleOf(o) & (WS_SYSMENU | WS_THICKFRAME));
    int children = 0;
    EnumChildWindows(o, countAll, reinterpret_cast<LPARAM>(&children));
    EXPECT_EQ(children, 10);
    for (const auto& e : kOptionsLayout) {
        SCOPED_TRACE("control " + std::to_string(e.id));
        HWND c = item(o, e.id);
        ASSERT_NE(c, nullptr);
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, o, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(r.left, e.x);
        EXPECT_EQ(r.top, e.y);
        EXPECT_EQ(r.right - r.left, e.w);
        EXPECT_EQ(r.bottom - r.top, e.h);
        EXPECT_EQ(textOf(c), e.text);
        LOGFONTW lf = {};
        ASSERT_TRUE(
            GetObjectW(reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0)), sizeof lf, &lf));
        EXPECT_STREQ(lf.lfFaceName, L"MS Shell Dlg 2");
        EXPECT_EQ(lf.lfHeight, 15);
        EXPECT_EQ(lf.lfWeight, e.weight);
        EXPECT_EQ(lf.lfUnderline != 0, e.underline);
        const bool edit = e.kind == kLine || e.kind == kBox;
        EXPECT_EQ(paintColour(o, c, edit ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC), e.colour);
        EXPECT_EQ((GetWindowLongW(c, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0, edit);
    }
    EXPECT_TRUE(checked(item(o, kOnPauseCheck)));
    EXPECT_FALSE(checked(item(o, kOnStopCheck)));
    EXPECT_TRUE(checked(item(o, kSecureCheck)));
    EXPECT_TRUE(styleOf(item(o, kIntervalEdit)) & ES_NUMBER);
    EXPECT_TRUE(styleOf(item(o, kPrivateEdit)) & ES_MULTILINE);
    saveScreenshot(o, testutil::exeFolder() + "options_dialog.bmp");

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
        EXPECT_EQ(s.MinInterval, c.intervalAfter);
        // The settings window's own Cancel leaves what the options window applied.
        SendMessageW(item(settings_, kCancelButton), BM_CLICK, 0, 0);
        pump();
        EXPECT_EQ(currentSettings().MinInterval, c.intervalAfter);
        editSettings([](Settings& target) { target = optionsSample(); });
    }
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

TEST_F(OptionsDialog, KeyboardWorksWhateverTheHostLoopDoes) {
    for (bool hostCallsIsDialogMessage : {false, true}) {
        SCOPED_TRACE(hostCallsIsDialogMessage ? "IsDialogMessage" : "plain loop");
        dialogKeys = hostCallsIsDialogMessage;
        HWND o = openOptions(optionsSample());
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(GetFocus(), item(o, kPrivateEdit));
        for (int n : {kOnPauseCheck, kOnStopCheck, kIntervalEdit, kSecureCheck, kOptionsOkButton,
                      kOptionsCancelButton, kPrivateEdit}) {
            press(VK_TAB);
            EXPECT_EQ(GetFocus(), item(o, n)) << "expected control " << n;
        }
        press(VK_TAB);
        press(VK_TAB);
        press(VK_TAB);
        EXPECT_EQ(GetFocus(), item(o, kIntervalEdit));
        for (int n : {kOnStopCheck, kOnPauseCheck}) {
            PostMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 1);
            PostMessageW(GetFocus(), WM_KEYUP, VK_TAB, 1 | (3u << 30));
            BYTE keys[256] = {};
            GetKeyboardState(keys);
            keys[VK_SHIFT] = 0x80;
            SetKeyboardState(keys);
            pump(2);
            keys[VK_SHIFT] = 0;
            SetKeyboardState(keys);
            EXPECT_EQ(GetFocus(), item(o, n)) << "Shift+Tab, expected control " << n;
        }
        // No TAB character lands in the private list.
        PostMessageW(item(o, kPrivateEdit), WM_CHAR, L'\t', 1);
        pump(2);
        EXPECT_EQ(textOf(item(o, kPrivateEdit)), L"Audiobooks\r\nPodcast");
        SendMessageW(item(o, kOptionsCancelButton), BM_CLICK, 0, 0);
        pump();
        SendMessageW(item(settings_, kCancelButton), BM_CLICK, 0, 0);
        pump();
    }
}
