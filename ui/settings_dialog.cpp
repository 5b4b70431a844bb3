// The settings dialog, built in code from one table of controls with pixel rectangles.
#include "ui/settings_dialog.h"

#include <shellapi.h>

#include <memory>
#include <string>
#include <type_traits>

#include "common/version.h"
#include "core/settings.h"
#include "core/state.h"
#include "ui/security_code_dialog.h"
#include "ui/window_util.h"

#define NIMBO_HOME_PAGE "http://nimbo.sourceforge.net"

namespace nimbo {

const char kHomePage[] = NIMBO_HOME_PAGE;

namespace {

const wchar_t kClassName[] = L"NimboSettings";
const wchar_t kCaption[] = L"Nimbo";
const wchar_t kFontFace[] = L"MS Shell Dlg 2";
const int kFontHeight = 15;
const int kOuterWidth = 378;
const int kOuterHeight = 298;

const COLORREF kGrey = 0x808080;
const COLORREF kLinkBlue = 0xFF0000;
const COLORREF kLinkRed = 0x0000FF;

// Ids stay clear of IDOK and IDCANCEL: the dialog has no default or cancel button, so
// Enter and Escape, which IsDialogMessage turns into those ids, do nothing.
const int kIdBase = 100;
// Posted to a hidden window so that it is destroyed after the handler that hid it.
const UINT kRetireMessage = WM_APP + 1;

// The controls, numbered as in the table below (id = kIdBase + number).
enum Control {
    kTitleLabel = 1,
    kModeLabel,
    kPasswordLabel,
    kMaskLabel,
    kVersionLabel,
    kAuthorLabel,
    kLink,
    kLoginRadio,
    kCookieRadio,
    kLoginEdit,
    kPasswordEdit,
    kMaskEdit,
    kCookieEdit,
    kOkButton,
    kCancelButton,
    kEnabledCheck,
    kShowErrorsCheck,
    kControlCount = kShowErrorsCheck
};

enum class Look { Regular, Bold, Underlined };

const DWORD kLabel = WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_NOTIFY;
const DWORD kRadio = WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON;
const DWORD kCheck = WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX;
const DWORD kPush = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON;
const DWORD kLineEdit = WS_CHILD | WS_VISIBLE | ES_LEFT | ES_AUTOHSCROLL;
// ES_WANTRETURN: Enter starts a new line instead of looking for a default button.
const DWORD kBoxEdit =
    WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
const int kNoTab = -1;

struct ControlRow {
    Control number;
    const wchar_t* className;
    const wchar_t* text;  // null: filled from the settings or the mode
    int x, y, width, height;
    DWORD style;
    DWORD exStyle;
    int tab;  // place in the Tab order, or kNoTab
    Look look;
    COLORREF colour;
};

// clang-format off
const ControlRow kControls[kControlCount] = {
    {kTitleLabel,      L"STATIC", L"Authorizing through:",   8,   5, 150, 13, kLabel, 0, kNoTab, Look::Bold,       kTextColour},
    {kModeLabel,       L"STATIC", nullptr,                   8,  48, 353, 13, kLabel, 0, kNoTab, Look::Regular,    kTextColour},
    {kPasswordLabel,   L"STATIC", L"Password:",              8,  88, 353, 13, kLabel, 0, kNoTab, Look::Regular,    kTextColour},
    {kMaskLabel,       L"STATIC", L"Status mask:",           8, 141, 353, 13, kLabel, 0, kNoTab, Look::Bold,       kTextColour},
    {kVersionLabel,    L"STATIC", L"v" NIMBO_VERSION,       220,   5, 353, 14, kLabel, 0, kNoTab, Look::Regular,    kGrey},
    {kAuthorLabel,     L"STATIC", L"Tarnell Project",      230,  17, 353, 14, kLabel, 0, kNoTab, Look::Bold,       kGrey},
    {kLink,            L"STATIC", L"" NIMBO_HOME_PAGE,     195,  30, 353, 14, kLabel, 0, kNoTab, Look::Underlined, kLinkBlue},
    {kLoginRadio,      L"BUTTON", L"Login/Pass",             8,  24,  80, 17, kRadio, 0, 0,      Look::Regular,    kTextColour},
    {kCookieRadio,     L"BUTTON", L"Cookie",               100,  24,  80, 17, kRadio, 0, 1,      Look::Regular,    kTextColour},
    {kLoginEdit,       L"EDIT",   nullptr,                   8,  64, 233, 21, kLineEdit, WS_EX_CLIENTEDGE, 2, Look::Regular, kTextColour},
    {kPasswordEdit,    L"EDIT",   nullptr,                   8, 104, 233, 21, kLineEdit | ES_PASSWORD, WS_EX_CLIENTEDGE, 3, Look::Regular, kTextColour},
    {kMaskEdit,        L"EDIT",   nullptr,                   8, 160, 353, 73, kBoxEdit, WS_EX_CLIENTEDGE, 4, Look::Regular, kTextColour},
    {kCookieEdit,      L"EDIT",   nullptr,                   8,  64, 353, 73, kBoxEdit, WS_EX_CLIENTEDGE, 5, Look::Regular, kTextColour},
    {kOkButton,        L"BUTTON", L"Ok",                   208, 240,  75, 25, kPush,  0, 7,      Look::Regular,    kTextColour},
    {kCancelButton,    L"BUTTON", L"Cancel",               288, 240,  75, 25, kPush,  0, 8,      Look::Regular,    kTextColour},
    {kEnabledCheck,    L"BUTTON", L"Enabled",                8, 240,  97, 17, kCheck, 0, 6,      Look::Regular,    kTextColour},
    {kShowErrorsCheck, L"BUTTON", L"Show errors",          100, 240,  97, 17, kCheck, 0, 9,      Look::Regular,    kTextColour},
};
// clang-format on

Font fontFor(Look look) {
    return makeFont(kFontFace, kFontHeight, look == Look::Bold ? FW_BOLD : FW_NORMAL,
                    look == Look::Underlined);
}

// One dialog window's state. The window owns it from WM_NCCREATE and frees it at
// WM_NCDESTROY, after the controls (and so the fonts' last users) are gone.
struct Dialog {
    HWND window = nullptr;
    HWND controls[kControlCount + 1] = {};  // indexed by Control
    Font fonts[3];                          // indexed by Look
    COLORREF linkColour = kLinkBlue;
    bool trackingLeave = false;
    HWND savedFocus = nullptr;
    // What the window showed when it opened: the settings then and the boxes' texts.
    Settings atOpen;
    std::wstring loginShown, passwordShown, cookieShown;

    HWND operator[](Control c) const { return controls[c]; }
};

// The dialog that is open; null when closed. Only Winamp's thread touches it.
Dialog* gOpen = nullptr;
WNDPROC gStaticProc = nullptr;
HomePageOpener gOpener = nullptr;

Dialog* dialogOf(HWND window) {
    return reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

bool isChecked(HWND button) {
    return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void setChecked(HWND button, bool on) {
    SendMessageW(button, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void showLoginView(Dialog& d) {
    ShowWindow(d[kLoginEdit], SW_SHOW);
    ShowWindow(d[kPasswordEdit], SW_SHOW);
    ShowWindow(d[kCookieEdit], SW_HIDE);
    SetWindowTextW(d[kModeLabel], L"Login:");
    ShowWindow(d[kPasswordLabel], SW_SHOW);
}

void showCookieView(Dialog& d) {
    ShowWindow(d[kLoginEdit], SW_HIDE);
    ShowWindow(d[kPasswordEdit], SW_HIDE);
    ShowWindow(d[kCookieEdit], SW_SHOW);
    SetWindowTextW(d[kModeLabel], L"Cookie:");
    ShowWindow(d[kPasswordLabel], SW_HIDE);
}

// The radio buttons' click: the mode changes at once, before "Ok" or "Cancel". The
// checks are set here too, because a radio button that gets the focus by keyboard
// reports a click without checking itself.
void chooseCookieMode(Dialog& d, bool cookie) {
    editSettings([cookie](Settings& s) { s.NoLogin = cookie; });
    setChecked(d[kLoginRadio], !cookie);
    setChecked(d[kCookieRadio], cookie);
    if (cookie) {
        showCookieView(d);
    } else {
        showLoginView(d);
    }
}

// Hides the window, marks the dialog closed and has the window destroyed once the
// current handler has returned.
void closeDialog(Dialog& d) {
    ShowWindow(d.window, SW_HIDE);
    if (gOpen == &d) gOpen = nullptr;
    settingsDialogOpen = false;
    PostMessageW(d.window, kRetireMessage, 0, 0);
}

void acceptEdits(Dialog& d) {
    // Every text whole, hidden boxes too; nothing trimmed or checked.
    std::wstring login = windowText(d[kLoginEdit]);
    std::wstring password = windowText(d[kPasswordEdit]);
    std::wstring cookie = windowText(d[kCookieEdit]);
    std::wstring mask = windowText(d[kMaskEdit]);
    bool enabled = isChecked(d[kEnabledCheck]);
    bool showErrors = isChecked(d[kShowErrorsCheck]);
    const bool cookieMode = isChecked(d[kCookieRadio]);
    const bool modeChanged = cookieMode != d.atOpen.NoLogin;
    editSettings([&](Settings& s) {
        // A login can finish while the window is open (its code window closes when
        // this one opens): it stores the cookie, clears the e-mail and password and
        // switches to cookie mode. A box the user left alone, in a mode the user left
        // alone, must not bring the old values back.
        auto apply = [&](std::wstring& setting, const std::wstring& box, const std::wstring& shown,
                         const std::wstring& before) {
            if (modeChanged || box != shown || setting == before) setting = box;
        };
        apply(s.AuthLogin, login, d.loginShown, d.atOpen.AuthLogin);
        apply(s.AuthPass, password, d.passwordShown, d.atOpen.AuthPass);
        apply(s.Cookie, cookie, d.cookieShown, d.atOpen.Cookie);
        if (modeChanged) s.NoLogin = cookieMode;
        s.StatusMask = mask;
        s.Enabled = enabled;
        s.ShowErrors = showErrors;
    });
    // The update cycle stays off until the settings are complete.
    closeDialog(d);
}

void setLinkColour(Dialog& d, COLORREF colour) {
    d.linkColour = colour;
    InvalidateRect(d[kLink], nullptr, TRUE);
}

void openHomePage() {
    if (gOpener) {
        gOpener(kHomePage);
    } else {
        // A failure is not reported; the link simply turns blue again.
        ShellExecuteA(nullptr, nullptr, kHomePage, nullptr, nullptr, SW_SHOWNORMAL);
    }
}

LRESULT CALLBACK linkProc(HWND link, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* d = dialogOf(GetParent(link));
    if (d) {
        switch (message) {
            case WM_LBUTTONDOWN:
            case WM_LBUTTONDBLCLK:
            case WM_RBUTTONDOWN:
            case WM_RBUTTONDBLCLK:
            case WM_MBUTTONDOWN:
            case WM_MBUTTONDBLCLK:
            case WM_XBUTTONDOWN:
            case WM_XBUTTONDBLCLK:
                setLinkColour(*d, kLinkRed);
                break;
            case WM_LBUTTONUP:
            case WM_RBUTTONUP:
            case WM_MBUTTONUP:
            case WM_XBUTTONUP:
                openHomePage();
                setLinkColour(*d, kLinkBlue);
                break;
            case WM_MOUSEMOVE:
                if (!d->trackingLeave) {
                    TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, link, 0};
                    d->trackingLeave = TrackMouseEvent(&track) != FALSE;
                }
                break;
            case WM_MOUSELEAVE:
                d->trackingLeave = false;
                setLinkColour(*d, kLinkBlue);
                break;
        }
    }
    return CallWindowProcW(gStaticProc, link, message, wParam, lParam);
}

COLORREF colourOf(const Dialog& d, HWND control) {
    int number = GetDlgCtrlID(control) - kIdBase;
    if (number == kLink) return d.linkColour;
    if (number >= 1 && number <= kControlCount) return kControls[number - 1].colour;
    return kTextColour;
}

LRESULT paintColours(const Dialog& d, HDC dc, HWND control, int background) {
    return controlColours(dc, colourOf(d, control), background);
}

// Focus goes back where it was when the window is activated again; at first to the
// checked radio button (focusing the other one would switch the mode).
void restoreFocus(Dialog& d) {
    HWND target = d.savedFocus;
    if (!target || !IsWindow(target) || !IsWindowVisible(target)) {
        target = isChecked(d[kCookieRadio]) ? d[kCookieRadio] : d[kLoginRadio];
    }
    SetFocus(target);
}

void onCommand(Dialog& d, WPARAM wParam, LPARAM lParam) {
    if (HIWORD(wParam) != BN_CLICKED) return;
    int number = LOWORD(wParam) - kIdBase;
    if (number < 1 || number > kControlCount) return;
    if (reinterpret_cast<HWND>(lParam) != d.controls[number]) return;
    switch (number) {
        case kLoginRadio:
            chooseCookieMode(d, false);
            break;
        case kCookieRadio:
            chooseCookieMode(d, true);
            break;
        case kOkButton:
            if (gOpen == &d) acceptEdits(d);
            break;
        case kCancelButton:
            if (gOpen == &d) closeDialog(d);
            break;
    }
}

LRESULT handleMessage(Dialog& d, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            onCommand(d, wParam, lParam);
            return 0;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return paintColours(d, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam),
                                COLOR_BTNFACE);
        case WM_CTLCOLOREDIT:
            return paintColours(d, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam),
                                COLOR_WINDOW);
        case WM_CLOSE:
            // Only "Ok" and "Cancel" are meant to close it; any other close request
            // (Alt+F4, another program) counts as "Cancel".
            if (gOpen == &d) closeDialog(d);
            return 0;
        case WM_NEXTDLGCTL:
            moveFocus(window, wParam, lParam);
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus && IsChild(window, focus)) d.savedFocus = focus;
            } else {
                restoreFocus(d);
            }
            return 0;
        case kRetireMessage: {
            HINSTANCE instance = moduleInstance();
            DestroyWindow(window);  // frees d
            // Fails while another dialog window exists, which is fine.
            UnregisterClassW(kClassName, instance);
            return 0;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

struct CreateParams {
    Dialog* dialog;
    bool adopted;
};

LRESULT CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* params =
            static_cast<CreateParams*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        params->dialog->window = window;
        params->adopted = true;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(params->dialog));
    }
    Dialog* d = dialogOf(window);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        if (d && gOpen == d) {
            // Destroyed while open (its thread ended): the update cycle must not stay off.
            gOpen = nullptr;
            settingsDialogOpen = false;
        }
        delete d;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (!d) return DefWindowProcW(window, message, wParam, lParam);
    try {
        return handleMessage(*d, window, message, wParam, lParam);
    } catch (...) {
        // Nothing may reach Winamp's message loop.
        return 0;
    }
}

bool createControls(Dialog& d, HINSTANCE instance, bool cookieMode) {
    for (const ControlRow& row : kControls) {
        const wchar_t* text = row.text ? row.text : L"";
        if (row.number == kModeLabel) text = cookieMode ? L"Cookie:" : L"Login:";
        DWORD style = row.style;
        if (row.tab != kNoTab) {
            style |= WS_TABSTOP;
            // The two radio buttons are one group; every other tab stop starts its own.
            if (row.number != kCookieRadio) style |= WS_GROUP;
        }
        HWND control = CreateWindowExW(
            row.exStyle, row.className, text, style, row.x, row.y, row.width, row.height, d.window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdBase + row.number)), instance, nullptr);
        if (!control) return false;
        d.controls[row.number] = control;
        if (row.tab != kNoTab) handleDialogKeys(control);
        SendMessageW(control, WM_SETFONT,
                     reinterpret_cast<WPARAM>(d.fonts[static_cast<int>(row.look)].get()), FALSE);
    }
    return true;
}

// The Tab key follows the Z order of the tab stops, so they are stacked on top in the
// order of their places; the plain labels stay below them.
void arrangeTabOrder(Dialog& d) {
    HWND previous = HWND_TOP;
    for (int place = 0; place < kControlCount; ++place) {
        for (const ControlRow& row : kControls) {
            if (row.tab != place) continue;
            SetWindowPos(d[row.number], previous, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
            previous = d[row.number];
        }
    }
}

void fillFromSettings(Dialog& d, const Settings& s) {
    const struct {
        Control box;
        const std::wstring& text;
    } boxes[] = {{kLoginEdit, s.AuthLogin},
                 {kPasswordEdit, s.AuthPass},
                 {kMaskEdit, s.StatusMask},
                 {kCookieEdit, s.Cookie}};
    for (const auto& box : boxes) {
        SendMessageW(d[box.box], EM_SETLIMITTEXT, 0, 0);  // no typing limit of the box's own
        SetWindowTextW(d[box.box], box.text.c_str());
    }
    setChecked(d[kEnabledCheck], s.Enabled);
    setChecked(d[kShowErrorsCheck], s.ShowErrors);
    d.atOpen = s;
    d.loginShown = windowText(d[kLoginEdit]);
    d.passwordShown = windowText(d[kPasswordEdit]);
    d.cookieShown = windowText(d[kCookieEdit]);
}

// Builds the window and shows it; false when a window could not be made.
bool buildDialog() {
    Settings settings = currentSettings();
    HINSTANCE instance = moduleInstance();
    if (!registerWindowClass(kClassName, dialogProc,
                             reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1)))
        return false;

    std::unique_ptr<Dialog> owned(new Dialog);
    for (Look look : {Look::Regular, Look::Bold, Look::Underlined}) {
        owned->fonts[static_cast<int>(look)] = fontFor(look);
    }
    CreateParams params = {owned.get(), false};
    // Overlapped with a thin border only: Windows adds the caption, but there is no
    // system menu, so no close box, and no sizing frame.
    HWND window = CreateWindowExW(0, kClassName, kCaption, WS_BORDER, CW_USEDEFAULT, CW_USEDEFAULT,
                                  kOuterWidth, kOuterHeight, nullptr, nullptr, instance, &params);
    if (params.adopted) owned.release();  // the window frees it, even if creation failed
    if (!window) return false;
    Dialog& d = *dialogOf(window);

    if (!createControls(d, instance, settings.NoLogin)) {
        DestroyWindow(window);
        return false;
    }
    const POINT origin = centredOrigin(kOuterWidth, kOuterHeight);
    const int left = origin.x, top = origin.y;
    SetWindowPos(window, nullptr, left, top, kOuterWidth, kOuterHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);

    gStaticProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(d[kLink], GWLP_WNDPROC));
    SetWindowLongPtrW(d[kLink], GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(linkProc));
    fillFromSettings(d, settings);
    arrangeTabOrder(d);

    setChecked(d[kLoginRadio], !settings.NoLogin);
    setChecked(d[kCookieRadio], settings.NoLogin);
    if (settings.NoLogin) {
        showCookieView(d);
    } else {
        showLoginView(d);
    }

    gOpen = &d;
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    return true;
}

}  // namespace

void showSettingsDialog() {
    try {
        if (securityCodePending) {
            // Posted, so this thread never waits for the timer thread.
            HWND code = securityCodeWindow();
            if (code) PostMessageW(code, WM_CLOSE, 0, 0);
        }
        if (settingsDialogOpen && gOpen) {
            SetWindowPos(
                gOpen->window, HWND_TOP, 0, 0, 0, 0,
                SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW | SWP_NOOWNERZORDER);
            return;
        }
        // A stale window (the flag was reset behind its back) is retired first.
        if (gOpen) closeDialog(*gOpen);
        settingsDialogOpen = true;
        // Without a window nobody could switch the flag off again, and the update
        // cycle would stay idle for good.
        if (!buildDialog()) settingsDialogOpen = false;
    } catch (...) {
        if (!gOpen) settingsDialogOpen = false;
    }
}

HWND settingsDialogWindow() {
    return gOpen ? gOpen->window : nullptr;
}

void setHomePageOpenerForTest(HomePageOpener opener) {
    gOpener = opener;
}

}  // namespace nimbo
