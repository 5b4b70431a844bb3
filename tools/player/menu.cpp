#include "tools/player/menu.h"

#include "tools/player/app.h"
#include "tools/player/text.h"

namespace player {

namespace {

const LPARAM kAdjustOptionsMenuPos = 280;
const LPARAM kGetMenu = 281;
const LPARAM kRegisterCommand = 3019;
// The first id query 3019 hands out; each call takes the next (or wParam of them).
const UINT kFirstFreeCommand = 45000;

struct Menu {
    HMENU popup = nullptr;
    bool present = true;
    int optionsPos = 0;  // where the host believes its Options menu stands
    UINT nextCommand = kFirstFreeCommand;
    WNDPROC ownProc = nullptr;
    WNDPROC foreignNext = nullptr;  // "menu subclass": what the other plugin's hook calls
};

Menu& menu() {
    static Menu instance;
    return instance;
}

// Another plugin's subclass, installed after ours: forwards every message unchanged.
LRESULT CALLBACK foreignHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcW(menu().foreignNext, window, message, wParam, lParam);
}

std::string itemText(HMENU popup, int position) {
    wchar_t text[256] = {};
    GetMenuStringW(popup, UINT(position), text, 256, MF_BYPOSITION);
    return toUtf8(text);
}

// The id of the item with this id or text, in the menu or one of its submenus; 0 if none.
UINT findItem(HMENU popup, const std::string& wanted, long long id) {
    for (int i = 0, n = GetMenuItemCount(popup); i < n; ++i) {
        if (HMENU sub = GetSubMenu(popup, i)) {
            if (UINT found = findItem(sub, wanted, id)) return found;
            continue;
        }
        UINT itemId = GetMenuItemID(popup, i);
        if (itemId == UINT(-1) || itemId == 0) continue;
        if ((id >= 0 && itemId == UINT(id)) || itemText(popup, i) == wanted) return itemId;
    }
    return 0;
}

void listItems(HMENU popup, const std::string& prefix, std::vector<std::string>& out) {
    for (int i = 0, n = GetMenuItemCount(popup); i < n; ++i) {
        std::string place = prefix + std::to_string(i);
        UINT state = GetMenuState(popup, UINT(i), MF_BYPOSITION);
        if (HMENU sub = GetSubMenu(popup, i)) {
            out.push_back("item " + place + " submenu text " + escapeField(itemText(popup, i)));
            listItems(sub, place + ".", out);
        } else if (state & MF_SEPARATOR) {
            out.push_back("item " + place + " separator");
        } else {
            out.push_back("item " + place + " id " + std::to_string(GetMenuItemID(popup, i)) +
                          ((state & MF_CHECKED) ? " checked" : " unchecked") + " text " +
                          escapeField(itemText(popup, i)));
        }
    }
}

// "menu show": the host shows its menu with TrackPopupMenu, whose loop keeps
// dispatching other messages, so further commands still run while it is up.
VOID CALLBACK showMenuSoon(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    HWND main = app().mainWindow;
    if (!main) return;
    RECT r;
    GetWindowRect(main, &r);
    SetForegroundWindow(main);
    TrackPopupMenu(menu().popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, r.left + 20,
                   r.top + 30, 0, main, nullptr);
}

}  // namespace

void createMainMenu(bool present) {
    Menu& m = menu();
    m.present = present;
    m.popup = CreatePopupMenu();
    HMENU options = CreatePopupMenu();
    HMENU playback = CreatePopupMenu();
    AppendMenuW(options, MF_STRING, 40012, L"Preferences...");
    AppendMenuW(playback, MF_STRING, 40047, L"Stop");
    // Laid out like the host's: about, open, windows, then Options and the rest.
    AppendMenuW(m.popup, MF_STRING, 40041, L"Winamp stand-in...");
    AppendMenuW(m.popup, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(m.popup, MF_STRING, 40029, L"Play file...");
    AppendMenuW(m.popup, MF_STRING, 40155, L"Play URL...");
    AppendMenuW(m.popup, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(m.popup, MF_STRING | MF_CHECKED, 40258, L"Main window");
    AppendMenuW(m.popup, MF_STRING, 40040, L"Playlist editor");
    AppendMenuW(m.popup, MF_SEPARATOR, 0, nullptr);
    m.optionsPos = GetMenuItemCount(m.popup);
    AppendMenuW(m.popup, MF_POPUP, reinterpret_cast<UINT_PTR>(options), L"Options");
    AppendMenuW(m.popup, MF_POPUP, reinterpret_cast<UINT_PTR>(playback), L"Playback");
    AppendMenuW(m.popup, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(m.popup, MF_STRING, 40001, L"Exit");
}

bool answerMenuQuery(WPARAM wParam, LPARAM query, LRESULT& result) {
    Menu& m = menu();
    switch (query) {
        case kGetMenu:
            result = wParam == 0 && m.present ? reinterpret_cast<LRESULT>(m.popup) : 0;
            return true;
        case kAdjustOptionsMenuPos:
            m.optionsPos += int(wParam);
            result = m.optionsPos;
            return true;
        case kRegisterCommand:
            result = LRESULT(m.nextCommand);
            m.nextCommand += wParam > 1 ? UINT(wParam) : 1;
            return true;
    }
    return false;
}

bool menuCommand(const std::string& rest, std::vector<std::string>& out, std::string& error) {
    Menu& m = menu();
    HWND main = app().mainWindow;
    if (rest.empty()) {
        // What the host's TrackPopupMenu sends its owner before the menu shows.
        if (main) SendMessageW(main, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(m.popup), 0);
        listItems(m.popup, "", out);
        out.push_back("options-pos " + std::to_string(m.optionsPos));
        return true;
    }
    if (rest.compare(0, 5, "pick ") == 0) {
        const std::string wanted = rest.substr(5);
        long long id = -1;
        if (!parseInt(wanted, id)) id = -1;
        UINT command = findItem(m.popup, wanted, id);
        if (!command) return error = "no item " + wanted, false;
        if (!main) return error = "no main window", false;
        // A chosen item reaches the owner as a posted WM_COMMAND (code 0, no control).
        PostMessageW(main, WM_COMMAND, MAKEWPARAM(command, 0), 0);
        out.push_back("picked " + std::to_string(command));
        return true;
    }
    if (rest == "show") {
        if (!main) return error = "no main window", false;
        SetTimer(nullptr, 0, 10, showMenuSoon);
        return true;
    }
    if (rest == "close") {
        EndMenu();
        return true;
    }
    if (rest == "subclass") {
        if (!main) return error = "no main window", false;
        if (m.foreignNext) return error = "already subclassed", false;
        m.foreignNext = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(main, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(foreignHook)));
        return true;
    }
    error = "usage: menu [pick <id|text> | show | close | subclass]";
    return false;
}

void describeWindowProc(std::vector<std::string>& out) {
    HWND main = app().mainWindow;
    if (!main) {
        out.push_back("wndproc none");
        return;
    }
    LONG_PTR proc = GetWindowLongPtrW(main, GWLP_WNDPROC);
    const char* who = proc == reinterpret_cast<LONG_PTR>(menu().ownProc) ? "own"
                      : proc == reinterpret_cast<LONG_PTR>(foreignHook)  ? "foreign"
                                                                         : "plugin";
    // A query sent now passes the whole chain of procedures on its way to the stand-in.
    out.push_back(std::string("wndproc ") + who + " state-query " +
                  std::to_string(SendMessageW(main, WM_USER, 1, 104)));
}

void setOwnWindowProc(WNDPROC proc) {
    menu().ownProc = proc;
}

}  // namespace player
