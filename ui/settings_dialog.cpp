// The settings dialog, built in code from one table of controls with pixel rectangles.
#include "ui/settings_dialog.h"

#include <memory>
#include <string>
#include <utility>

#include "core/activity_log.h"
#include "core/settings.h"
#include "core/settings_merge.h"
#include "core/state.h"
#include "ui/control_ids.h"
#include "ui/link_label.h"
#include "ui/options_dialog.h"
#include "ui/owned_window.h"
#include "ui/security_code_dialog.h"
#include "ui/settings_layout.h"
#include "ui/window_util.h"

namespace nimbo {

const char kHomePage[] = NIMBO_HOME_PAGE;

namespace {

using namespace settings_layout;

const wchar_t kClassName[] = L"NimboSettings";
const TableWindow kLook = {kClassName,  kCaption,     kFontFace, kFontHeight,
                           kOuterWidth, kOuterHeight, kControls, kControlCount};

const ControlRow* rowOf(int id) {
    return findRow(kControls, kControlCount, id);
}

// One dialog window's state. The window owns it from WM_NCCREATE and frees it at
// WM_NCDESTROY, after the controls (and so the fonts' and the link's last users) are gone.
struct Dialog {
    HWND window = nullptr;
    HWND controls[kControlCount] = {};  // in id order
    Font fonts[kLookCount];             // indexed by Look
    LinkLabel link;
    HWND savedFocus = nullptr;
    // What the window showed when it opened: the settings then and the boxes' texts.
    Settings atOpen;
    std::wstring loginShown, passwordShown, cookieShown;

    HWND operator[](SettingsControlId id) const { return controls[id - kFirstId]; }
};

// The dialog that is open; null when closed. Only Winamp's thread touches it.
Dialog* gOpen = nullptr;
EnabledSwitched gSwitched = nullptr;

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

// Checks the mode's radio button and shows its view. The checks are set on a click
// too, because a radio button that gets the focus by keyboard reports a click without
// checking itself.
void showMode(Dialog& d, bool cookie) {
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
    SettingsWindowValues shown;
    shown.AuthLogin = windowText(d[kLoginEdit]);
    shown.AuthPass = windowText(d[kPasswordEdit]);
    shown.Cookie = windowText(d[kCookieEdit]);
    shown.StatusMask = windowText(d[kMaskEdit]);
    shown.Enabled = isChecked(d[kEnabledCheck]);
    shown.ShowErrors = isChecked(d[kShowErrorsCheck]);
    shown.NoLogin = isChecked(d[kCookieRadio]);
    const SettingsWindowEdits edited = {shown.AuthLogin != d.loginShown,
                                        shown.AuthPass != d.passwordShown,
                                        shown.Cookie != d.cookieShown};
    bool wasEnabled = false;
    editSettings([&](Settings& s) {
        wasEnabled = s.Enabled;
        s = settingsOnOk(d.atOpen, s, shown, edited);
    });
    // The update cycle stays off until the settings are complete.
    closeDialog(d);
    // One switch: off clears the status and on publishes at once, as the menu item does.
    if (shown.Enabled != wasEnabled && gSwitched) gSwitched(shown.Enabled);
}

// Only the table's own controls count: a click is taken from the control itself.
void onCommand(Dialog& d, WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam);
    if (HIWORD(wParam) != BN_CLICKED || !rowOf(id)) return;
    if (reinterpret_cast<HWND>(lParam) != d[SettingsControlId(id)]) return;
    switch (id) {
        case kLoginRadio:
        case kCookieRadio: {
            // The mode changes at once, before "Ok" or "Cancel".
            const bool cookie = id == kCookieRadio;
            editSettings([cookie](Settings& s) { s.NoLogin = cookie; });
            showMode(d, cookie);
            break;
        }
        case kOkButton:
            if (gOpen == &d) acceptEdits(d);
            break;
        case kCancelButton:
            if (gOpen == &d) closeDialog(d);
            break;
        case kMoreButton:
            if (gOpen == &d) showOptionsDialog(d.window);
            break;
    }
}

LRESULT onControlColour(const Dialog& d, UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND control = reinterpret_cast<HWND>(lParam);
    COLORREF text = rowColour(kControls, kControlCount, GetDlgCtrlID(control));
    if (control == d.link.window()) text = d.link.colour();
    return tableColours(message, wParam, text);
}

// Focus goes back where it was when the window is activated again; at first to the
// checked radio button (focusing the other one would switch the mode).
void onActivate(Dialog& d, WPARAM wParam) {
    if (rememberFocus(d.window, wParam, d.savedFocus)) return;
    HWND target = d.savedFocus;
    if (!target || !IsWindow(target) || !IsWindowVisible(target)) {
        target = isChecked(d[kCookieRadio]) ? d[kCookieRadio] : d[kLoginRadio];
    }
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
            return onControlColour(d, message, wParam, lParam);
        case WM_CLOSE:
            // Only "Ok" and "Cancel" are meant to close it; any other close request
            // (Alt+F4, another program) counts as "Cancel".
            if (gOpen == &d) closeDialog(d);
            return 0;
        case WM_ACTIVATE:
            onActivate(d, wParam);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Destroyed while open (its thread ended): the update cycle must not stay off.
void onDestroyed(Dialog& d) {
    if (gOpen != &d) return;
    gOpen = nullptr;
    settingsDialogOpen = false;
}

void fillFromSettings(Dialog& d, const Settings& s) {
    const struct {
        SettingsControlId box;
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
    // What the update cycle did last; the tick is idle while the window is open.
    std::wstring lastResult = lastResultText();
    if (lastResult.empty()) lastResult = L"Last: nothing published yet";
    const wchar_t* texts[kControlCount] = {};
    texts[kModeLabel - kFirstId] = settings.NoLogin ? L"Cookie:" : L"Login:";
    texts[kLastResultLabel - kFirstId] = lastResult.c_str();

    std::unique_ptr<Dialog> owned(new Dialog);
    HWND* controls = owned->controls;
    Dialog* made = createTableWindow(
        std::move(owned), kLook, ownedWindowProc<Dialog, kClassName, handleMessage, onDestroyed>,
        nullptr, texts, controls);
    if (!made) return false;
    Dialog& d = *made;
    HWND window = d.window;

    centreWindow(window, kOuterWidth, kOuterHeight);
    d.link.attach(d[kLink], kHomePage);
    fillFromSettings(d, settings);
    arrangeTabOrder(window, kControls, kControlCount);
    showMode(d, settings.NoLogin);

    gOpen = &d;
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    return true;
}

}  // namespace

void showSettingsDialog(EnabledSwitched switched) {
    gSwitched = switched;
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

void closeWindowsAtQuit() {
    try {
        closeOptionsDialogAtQuit();
        destroyClassWindows(kClassName);
    } catch (...) {
    }
}

const TableWindow& settingsWindowTable() {
    return kLook;
}

HWND settingsDialogWindow() {
    return gOpen ? gOpen->window : nullptr;
}

}  // namespace nimbo
