// The options window, built in code from one table of controls like the settings
// window, with the same font, colours and keyboard handling.
#include "ui/options_dialog.h"

#include <shellapi.h>

#include <memory>
#include <utility>

#include "common/platform.h"
#include "core/activity_log.h"
#include "core/settings.h"
#include "core/state.h"
#include "ui/control_ids.h"
#include "ui/control_table.h"
#include "ui/link_label.h"
#include "ui/owned_window.h"

namespace nimbo {

namespace {

const wchar_t kClassName[] = L"NimboOptions";
const wchar_t kCaption[] = L"Nimbo options";
const wchar_t kFontFace[] = L"MS Shell Dlg 2";
const int kFontHeight = 15;
const int kOuterWidth = 298;
const int kOuterHeight = 298;
// clang-format off
const ControlRow kControls[] = {
    {kPrivateLabel,        L"STATIC", L"Private tracks, one a line:",    8,   5, 280, 13, kLabel,      0, kNoTab, Look::Bold,       kTextColour},
    {kPrivateEdit,         L"EDIT",   nullptr,                           8,  22, 280, 89, kBoxEdit,    WS_EX_CLIENTEDGE, 0, Look::Regular, kTextColour},
    {kOnPauseCheck,        L"BUTTON", L"Clear the status on pause",      8, 118, 280, 17, kCheck,      0, 1,      Look::Regular,    kTextColour},
    {kOnStopCheck,         L"BUTTON", L"Clear the status on stop",       8, 138, 280, 17, kCheck,      0, 2,      Look::Regular,    kTextColour},
    {kIntervalLabel,       L"STATIC", L"Seconds between two statuses:",  8, 165, 206, 13, kLabel,      0, kNoTab, Look::Regular,    kTextColour},
    {kIntervalEdit,        L"EDIT",   nullptr,                         220, 161,  68, 21, kNumberEdit, WS_EX_CLIENTEDGE, 3, Look::Regular, kTextColour},
    {kLogLink,             L"STATIC", L"Open log",                       8, 214,  60, 14, kLabel,      0, kNoTab, Look::Underlined, kLinkBlue},
    {kOptionsOkButton,     L"BUTTON", L"Ok",                           133, 236,  75, 25, kPush,       0, 5,      Look::Regular,    kTextColour},
    {kOptionsCancelButton, L"BUTTON", L"Cancel",                       213, 236,  75, 25, kPush,       0, 6,      Look::Regular,    kTextColour},
    {kSecureCheck,         L"BUTTON", L"Secure connection (HTTPS)",      8, 188, 280, 17, kCheck,      0, 4,      Look::Regular,    kTextColour},
};
// clang-format on
const int kControlCount = sizeof kControls / sizeof kControls[0];

const TableWindow kLook = {kClassName,  kCaption,     kFontFace, kFontHeight,
                           kOuterWidth, kOuterHeight, kControls, kControlCount};

struct Dialog {
    HWND window = nullptr;
    HWND owner = nullptr;
    Font fonts[kLookCount];  // indexed by Look
    COLORREF linkColour = kLinkBlue;
    bool trackingLeave = false;
    bool raisedOpenFlag = false;  // this window switched settingsDialogOpen on
    HWND savedFocus = nullptr;
    int intervalShown = kDefaultMinInterval;

    HWND operator[](OptionsControlId id) const { return GetDlgItem(window, id); }
};

Dialog* gOpen = nullptr;  // only Winamp's thread touches it
WNDPROC gStaticProc = nullptr;
LogOpener gOpener = nullptr;

// The box's number, within the settings' range; the value shown at opening when the
// box holds no digits (the box takes digits only, but pasted text can get past that).
int intervalFrom(const std::wstring& text, int fallback) {
    long long value = 0;
    bool digits = false;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return fallback;
        digits = true;
        if (value <= kMaxMinInterval) value = value * 10 + (c - L'0');
    }
    if (!digits) return fallback;
    return value > kMaxMinInterval ? kMaxMinInterval : int(value);
}

void closeDialog(Dialog& d) {
    // The owner comes back before this window goes, so the focus returns to it.
    if (d.owner && IsWindow(d.owner)) {
        EnableWindow(d.owner, TRUE);
        SetForegroundWindow(d.owner);
    }
    ShowWindow(d.window, SW_HIDE);
    if (gOpen == &d) gOpen = nullptr;
    if (d.raisedOpenFlag) settingsDialogOpen = false;
    d.raisedOpenFlag = false;
    PostMessageW(d.window, kRetireMessage, 0, 0);
}

void acceptEdits(Dialog& d) {
    const std::wstring words = windowText(d[kPrivateEdit]);
    const bool onPause = isChecked(d[kOnPauseCheck]);
    const bool onStop = isChecked(d[kOnStopCheck]);
    const int interval = intervalFrom(windowText(d[kIntervalEdit]), d.intervalShown);
    const bool secure = isChecked(d[kSecureCheck]);
    editSettings([&](Settings& s) {
        s.PrivateWords = words;
        s.OnPause = onPause ? 1 : 0;
        s.OnStop = onStop ? 1 : 0;
        s.MinInterval = interval;
        s.Secure = secure ? 1 : 0;
    });
    closeDialog(d);
}

void openLog() {
    try {
        const std::wstring path = activityLogPath();
        if (gOpener) {
            gOpener(path);
        } else {
            // A log not written yet simply does not open; nothing is reported.
            ShellExecuteW(nullptr, nullptr, path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        }
    } catch (...) {
        // Nothing may reach Winamp's message loop.
    }
}

void setLinkColour(Dialog& d, COLORREF colour) {
    d.linkColour = colour;
    InvalidateRect(d[kLogLink], nullptr, TRUE);
}

// The link reacts to the mouse like the settings window's: red while pressed, opened
// on release, blue again when the pointer leaves.
LRESULT CALLBACK linkProc(HWND link, UINT message, WPARAM wParam, LPARAM lParam) {
    // Opening can run a message loop in which Winamp quits: the library stays loaded
    // until we are back.
    const OurCodeRunning running;
    Dialog* d = ownedState<Dialog>(GetParent(link));
    if (d) {
        switch (message) {
            case WM_LBUTTONDOWN:
            case WM_LBUTTONDBLCLK:
                setLinkColour(*d, kLinkRed);
                break;
            case WM_LBUTTONUP:
                openLog();
                // The link, or the whole window with this state, may be gone by now.
                if (!IsWindow(link)) return 0;
                d = ownedState<Dialog>(GetParent(link));
                if (d) setLinkColour(*d, kLinkBlue);
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
    const int id = GetDlgCtrlID(control);
    if (id == kLogLink) return d.linkColour;
    return rowColour(kControls, kControlCount, id);
}

void onCommand(Dialog& d, WPARAM wParam, LPARAM lParam) {
    if (HIWORD(wParam) != BN_CLICKED || gOpen != &d) return;
    const int id = LOWORD(wParam);
    if (reinterpret_cast<HWND>(lParam) != GetDlgItem(d.window, id)) return;
    if (id == kOptionsOkButton) acceptEdits(d);
    if (id == kOptionsCancelButton) closeDialog(d);
}

void restoreFocus(Dialog& d) {
    HWND target = d.savedFocus;
    if (!target || !IsWindow(target)) target = d[kPrivateEdit];
    SetFocus(target);
}

LRESULT handleMessage(Dialog& d, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            onCommand(d, wParam, lParam);
            return 0;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT:
            return tableColours(message, wParam, colourOf(d, reinterpret_cast<HWND>(lParam)));
        case WM_CLOSE:
            // Any close request other than the two buttons counts as "Cancel".
            if (gOpen == &d) closeDialog(d);
            return 0;
        case WM_ACTIVATE:
            if (!rememberFocus(window, wParam, d.savedFocus)) restoreFocus(d);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Destroyed while open (with its owner, say): nothing may stay switched off.
void onDestroyed(Dialog& d) {
    if (gOpen != &d) return;
    gOpen = nullptr;
    if (d.raisedOpenFlag) settingsDialogOpen = false;
    if (d.owner && IsWindow(d.owner)) EnableWindow(d.owner, TRUE);
}

void fillFromSettings(Dialog& d, const Settings& s) {
    SendMessageW(d[kPrivateEdit], EM_SETLIMITTEXT, 0, 0);
    SetWindowTextW(d[kPrivateEdit], s.PrivateWords.c_str());
    setChecked(d[kOnPauseCheck], s.OnPause == 1);
    setChecked(d[kOnStopCheck], s.OnStop == 1);
    setChecked(d[kSecureCheck], s.Secure == 1);
    SendMessageW(d[kIntervalEdit], EM_SETLIMITTEXT, 4, 0);  // up to 3600
    // Narrow to_string: the wide one links the C library's printf family.
    SetWindowTextW(d[kIntervalEdit], widen(std::to_string(s.MinInterval)).c_str());
    d.intervalShown = s.MinInterval;
}

bool buildDialog(HWND owner) {
    const Settings settings = currentSettings();
    std::unique_ptr<Dialog> owned(new Dialog);
    owned->owner = owner && IsWindow(owner) ? owner : nullptr;
    HWND ownerWindow = owned->owner;
    // Like the settings window: a thin border and a caption, no system menu.
    Dialog* made = createTableWindow(
        std::move(owned), kLook, ownedWindowProc<Dialog, kClassName, handleMessage, onDestroyed>,
        ownerWindow);
    if (!made) return false;
    Dialog& d = *made;
    HWND window = d.window;
    arrangeTabOrder(window, kControls, kControlCount);
    centreWindow(window, kOuterWidth, kOuterHeight);
    gStaticProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(d[kLogLink], GWLP_WNDPROC));
    SetWindowLongPtrW(d[kLogLink], GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(linkProc));
    fillFromSettings(d, settings);

    // The tick stays idle while the user edits, as for the settings window.
    d.raisedOpenFlag = !settingsDialogOpen;
    settingsDialogOpen = true;
    gOpen = &d;
    if (d.owner) EnableWindow(d.owner, FALSE);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetFocus(d[kPrivateEdit]);
    return true;
}

}  // namespace

void showOptionsDialog(HWND owner) {
    try {
        if (gOpen) {
            SetWindowPos(gOpen->window, HWND_TOP, 0, 0, 0, 0,
                         SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW | SWP_NOOWNERZORDER);
            SetForegroundWindow(gOpen->window);
            return;
        }
        buildDialog(owner);
    } catch (...) {
        // Nothing may reach Winamp's message loop.
    }
}

void closeOptionsDialogAtQuit() {
    destroyClassWindows(kClassName);
}

const TableWindow& optionsWindowTable() {
    return kLook;
}

HWND optionsDialogWindow() {
    return gOpen ? gOpen->window : nullptr;
}

void setLogOpenerForTest(LogOpener opener) {
    gOpener = opener;
}

}  // namespace nimbo
