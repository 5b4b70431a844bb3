#include "plugin/winamp_menu.h"

#include "core/settings.h"
#include "core/state.h"
#include "ui/control_ids.h"
#include "ui/settings_dialog.h"

namespace nimbo {

namespace {

// Winamp's WM_USER queries (2.9+: 280, 281; 5.1+: 3019). A host answers 1 to a query
// it does not know.
const LPARAM kAdjustOptionsMenuPos = 280;
const LPARAM kGetMenu = 281;
const LPARAM kRegisterCommand = 3019;
const LRESULT kUnknownQuery = 1;
// Where our own search for a free command id starts on a host without query 3019.
const UINT kFallbackCommand = 0xB6A0;
const wchar_t kItemText[] = L"Publish status";
const wchar_t kHookProp[] = L"NimboMenuHook";

// What our procedure forwards to, kept on the window itself: a hook left behind in a
// chain (another plugin subclassed after us) must keep forwarding to its own next
// procedure even after a later install on the same window.
struct Hook {
    WNDPROC next;
    bool unicode;
};

// Only Winamp's thread touches these.
HWND gWinamp = nullptr;
HMENU gMenu = nullptr;
UINT gCommand = 0;
bool gAdjustedOptions = false;
PublishingSwitch gSwitched = nullptr;

Hook* hookOf(HWND window) {
    return static_cast<Hook*>(GetPropW(window, kHookProp));
}

LRESULT forward(const Hook& hook, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return hook.unicode ? CallWindowProcW(hook.next, window, message, wParam, lParam)
                        : CallWindowProcA(hook.next, window, message, wParam, lParam);
}

LONG_PTR currentProc(HWND window, bool unicode) {
    return unicode ? GetWindowLongPtrW(window, GWLP_WNDPROC)
                   : GetWindowLongPtrA(window, GWLP_WNDPROC);
}

void setProc(HWND window, bool unicode, LONG_PTR proc) {
    if (unicode) {
        SetWindowLongPtrW(window, GWLP_WNDPROC, proc);
    } else {
        SetWindowLongPtrA(window, GWLP_WNDPROC, proc);
    }
}

LRESULT CALLBACK menuHookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Gives the window its procedure back if ours is the one in place; true when done.
bool unhook(HWND window) {
    Hook* hook = hookOf(window);
    if (!hook) return true;
    if (currentProc(window, hook->unicode) != reinterpret_cast<LONG_PTR>(menuHookProc))
        return false;
    setProc(window, hook->unicode, reinterpret_cast<LONG_PTR>(hook->next));
    RemovePropW(window, kHookProp);
    delete hook;
    return true;
}

void showChecked(bool enabled) {
    if (gMenu && gCommand)
        CheckMenuItem(gMenu, gCommand, MF_BYCOMMAND | (enabled ? MF_CHECKED : MF_UNCHECKED));
}

void switchPublishing() {
    bool enabled = false;
    editSettings([&](Settings& s) {
        s.Enabled = !s.Enabled;
        enabled = s.Enabled;
    });
    showChecked(enabled);
    // An open settings window shows the new state, so its "Ok" keeps it.
    if (HWND settings = settingsDialogWindow()) {
        // Through the calls the plugin imports anyway: each import costs the DLL bytes.
        SendMessageW(GetDlgItem(settings, kEnabledCheck), BM_SETCHECK,
                     enabled ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    if (gSwitched) gSwitched(enabled);
}

bool handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window != gWinamp || gCommand == 0) return false;
    switch (message) {
        case WM_COMMAND:
            // A menu choice: no control handle, notification code 0 (1 would be an
            // accelerator, which we never registered).
            if (LOWORD(wParam) != gCommand || HIWORD(wParam) != 0 || lParam != 0) return false;
            switchPublishing();
            return true;
        case WM_INITMENUPOPUP:
            // "Enabled" may have changed in the settings window since.
            if (reinterpret_cast<HMENU>(wParam) == gMenu) showChecked(publishingEnabled());
            return false;
    }
    return false;
}

LRESULT CALLBACK menuHookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Winamp may call quit from inside a message that passes through here.
    const OurCodeRunning running;
    Hook* hook = hookOf(window);
    if (!hook) {
        // Cannot happen while we are in the chain; keep the window alive regardless.
        return IsWindowUnicode(window) ? DefWindowProcW(window, message, wParam, lParam)
                                       : DefWindowProcA(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        // The host destroys its window before it calls quit: leave the chain now.
        const Hook last = *hook;
        if (window == gWinamp) gWinamp = nullptr;
        if (!unhook(window)) {
            RemovePropW(window, kHookProp);
            delete hook;
        }
        return forward(last, window, message, wParam, lParam);
    }
    try {
        if (handle(window, message, wParam, lParam)) return 0;
    } catch (...) {
        // Nothing may reach Winamp's message loop.
        return 0;
    }
    return forward(*hook, window, message, wParam, lParam);
}

bool ownWindow(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId();
}

bool hasCommand(HMENU menu, UINT id) {
    return GetMenuState(menu, id, MF_BYCOMMAND) != UINT(-1);
}

UINT freeCommand(HWND winamp, HMENU menu) {
    LRESULT given = SendMessageW(winamp, WM_USER, 0, kRegisterCommand);
    if (given > kUnknownQuery && given <= 0xFFFF && !hasCommand(menu, UINT(given)))
        return UINT(given);
    for (UINT id = kFallbackCommand; id <= 0xFFFF; ++id) {
        if (!hasCommand(menu, id)) return id;
    }
    return 0;
}

// The item goes just above Winamp's Options menu, where plugins put theirs, and
// Winamp is told that its Options menu moved down by one.
void insertItem(HWND winamp, HMENU menu, UINT command, bool checked) {
    const int count = GetMenuItemCount(menu);
    LRESULT options = SendMessageW(winamp, WM_USER, 0, kAdjustOptionsMenuPos);
    const bool knownPlace = options >= 0 && options <= count;
    MENUITEMINFOW item = {};
    item.cbSize = sizeof item;
    item.fMask = MIIM_ID | MIIM_STRING | MIIM_STATE;
    item.wID = command;
    item.fState = checked ? MFS_CHECKED : MFS_UNCHECKED;
    item.dwTypeData = const_cast<wchar_t*>(kItemText);
    if (!InsertMenuItemW(menu, knownPlace ? UINT(options) : UINT(count), TRUE, &item)) return;
    if (knownPlace) {
        SendMessageW(winamp, WM_USER, 1, kAdjustOptionsMenuPos);
        gAdjustedOptions = true;
    }
    gCommand = command;
}

}  // namespace

void installWinampMenu(HWND winamp, PublishingSwitch switched) {
    if (gCommand) return;
    if (!winamp || !IsWindow(winamp) || !ownWindow(winamp)) return;
    HMENU menu = reinterpret_cast<HMENU>(SendMessageW(winamp, WM_USER, 0, kGetMenu));
    if (!menu || !IsMenu(menu)) return;  // a host without the menu query, or no menu

    if (!hookOf(winamp)) {
        const bool unicode = IsWindowUnicode(winamp) != FALSE;
        Hook* hook = new Hook{reinterpret_cast<WNDPROC>(currentProc(winamp, unicode)), unicode};
        if (!hook->next || !SetPropW(winamp, kHookProp, hook)) {
            delete hook;
            return;
        }
        setProc(winamp, unicode, reinterpret_cast<LONG_PTR>(menuHookProc));
    }
    // Else our procedure is still in this window's chain from an earlier run.
    gWinamp = winamp;
    gMenu = menu;
    gSwitched = switched;
    UINT command = freeCommand(winamp, menu);
    if (command) insertItem(winamp, menu, command, publishingEnabled());
    if (!gCommand) removeWinampMenu();
}

void removeWinampMenu() {
    if (gMenu && gCommand && IsMenu(gMenu)) {
        DeleteMenu(gMenu, gCommand, MF_BYCOMMAND);
        if (gAdjustedOptions && gWinamp && IsWindow(gWinamp))
            SendMessageW(gWinamp, WM_USER, WPARAM(-1), kAdjustOptionsMenuPos);
    }
    if (gWinamp && IsWindow(gWinamp) && !unhook(gWinamp)) {
        // Another procedure was put on top of ours; it calls ours, so ours stays and
        // only forwards (gCommand is 0 below), and the library may not be unloaded.
        pinThisModule();
    }
    gWinamp = nullptr;
    gMenu = nullptr;
    gCommand = 0;
    gAdjustedOptions = false;
    gSwitched = nullptr;
}

UINT winampMenuCommand() {
    return gCommand;
}

}  // namespace nimbo
