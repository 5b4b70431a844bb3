#include "tools/player/automation.h"

#include <cstdio>

#include "tools/player/app.h"
#include "tools/player/text.h"

namespace player {

namespace {

const UINT kSendTimeout = 1000;

std::string hexHandle(HWND window) {
    char text[16];
    snprintf(text, sizeof text, "0x%lX",
             static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(window)));
    return text;
}

std::string hexValue(unsigned long value) {
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", value);
    return text;
}

std::string rectText(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}

std::string className(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return toUtf8(name);
}

// A message to a window of another thread must not hang the caller when that
// thread is stuck; for this thread's windows SendMessageTimeout calls directly.
bool sendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR& result) {
    return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                               kSendTimeout, &result) != 0;
}

std::string fontText(HWND window) {
    DWORD_PTR font = 0;
    if (!sendWithTimeout(window, WM_GETFONT, 0, 0, font) || !font) return std::string();
    LOGFONTW description = {};
    if (!GetObjectW(reinterpret_cast<HFONT>(font), sizeof description, &description))
        return std::string();
    return escapeField(toUtf8(description.lfFaceName)) + "," +
           std::to_string(description.lfHeight) + "," + std::to_string(description.lfWeight);
}

std::string describeWindow(HWND window) {
    RECT screen = {};
    GetWindowRect(window, &screen);
    HWND parent = GetAncestor(window, GA_PARENT);
    bool child = (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) != 0;
    RECT relative = screen;
    if (child && parent) MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&relative), 2);
    RECT client = {};
    GetClientRect(window, &client);
    std::string text;
    windowText(window, text);
    std::string cls = className(window);

    std::string line = "window";
    line += "\thwnd=" + hexHandle(window);
    line += "\tparent=" + hexHandle(child ? parent : nullptr);
    line += "\towner=" + hexHandle(GetWindow(window, GW_OWNER));
    line += "\tthread=" + std::to_string(GetWindowThreadProcessId(window, nullptr));
    line += "\tclass=" + escapeField(cls);
    line += "\ttext=" + escapeField(text);
    line += "\trect=" + rectText(screen);
    line += "\trel=" + rectText(relative);
    line += "\tclient=" + std::to_string(client.right) + "," + std::to_string(client.bottom);
    line += "\tstyle=" + hexValue(GetWindowLongW(window, GWL_STYLE));
    line += "\texstyle=" + hexValue(GetWindowLongW(window, GWL_EXSTYLE));
    line += "\tvisible=" + std::string(IsWindowVisible(window) ? "1" : "0");
    line += "\tenabled=" + std::string(IsWindowEnabled(window) ? "1" : "0");
    line += "\tid=" + std::to_string(child ? GetDlgCtrlID(window) : 0);
    line += "\tfont=" + fontText(window);
    if (lstrcmpiA(cls.c_str(), "Button") == 0) {
        DWORD_PTR check = 0;
        sendWithTimeout(window, BM_GETCHECK, 0, 0, check);
        line += "\tcheck=" + std::to_string(check);
    }
    return line;
}

BOOL CALLBACK collectChild(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<std::string>*>(list)->push_back(describeWindow(window));
    return TRUE;
}

BOOL CALLBACK collectTopLevel(HWND window, LPARAM list) {
    if (!ownWindow(window)) return TRUE;
    auto* out = reinterpret_cast<std::vector<std::string>*>(list);
    out->push_back(describeWindow(window));
    EnumChildWindows(window, collectChild, list);
    return TRUE;
}

BOOL CALLBACK countChild(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK countTopLevel(HWND window, LPARAM count) {
    if (!ownWindow(window)) return TRUE;
    ++*reinterpret_cast<int*>(count);
    EnumChildWindows(window, countChild, count);
    return TRUE;
}

BOOL CALLBACK findDialog(HWND window, LPARAM found) {
    if (!ownWindow(window) || !IsWindowVisible(window) || className(window) != "#32770")
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

struct BoxParts {
    std::vector<HWND> statics;
    std::vector<HWND> buttons;
};

BOOL CALLBACK collectBoxPart(HWND window, LPARAM parts) {
    auto* p = reinterpret_cast<BoxParts*>(parts);
    std::string cls = className(window);
    if (lstrcmpiA(cls.c_str(), "Static") == 0) p->statics.push_back(window);
    if (lstrcmpiA(cls.c_str(), "Button") == 0) p->buttons.push_back(window);
    return TRUE;
}

// The message text's static carries id 0xFFFF in a message box; any other static
// with text serves when a dialog lacks it.
std::string messageText(const BoxParts& parts) {
    std::string fallback;
    for (HWND s : parts.statics) {
        std::string text;
        windowText(s, text);
        if ((GetDlgCtrlID(s) & 0xFFFF) == 0xFFFF) return text;
        if (fallback.empty()) fallback = text;
    }
    return fallback;
}

bool writeAll(HANDLE file, const void* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

}  // namespace

bool ownWindow(HWND window) {
    DWORD process = 0;
    return IsWindow(window) && GetWindowThreadProcessId(window, &process) &&
           process == GetCurrentProcessId();
}

void listWindows(std::vector<std::string>& out) {
    EnumWindows(collectTopLevel, reinterpret_cast<LPARAM>(&out));
}

int countOwnWindows() {
    int count = 0;
    EnumWindows(countTopLevel, reinterpret_cast<LPARAM>(&count));
    return count;
}

HWND findMessageBox() {
    HWND found = nullptr;
    EnumWindows(findDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

bool messageBoxFilled(HWND box) {
    BoxParts parts;
    EnumChildWindows(box, collectBoxPart, reinterpret_cast<LPARAM>(&parts));
    return !parts.buttons.empty() && !messageText(parts).empty();
}

void describeMessageBox(HWND box, std::vector<std::string>& out) {
    std::string caption;
    windowText(box, caption);
    BoxParts parts;
    EnumChildWindows(box, collectBoxPart, reinterpret_cast<LPARAM>(&parts));
    out.push_back("hwnd " + hexHandle(box));
    out.push_back("caption " + escapeField(caption));
    out.push_back("text " + escapeField(messageText(parts)));
    for (HWND button : parts.buttons) {
        std::string label;
        windowText(button, label);
        out.push_back("button " + std::to_string(GetDlgCtrlID(button)) + " " + escapeField(label));
    }
}

bool dismissMessageBox(HWND box, std::string& error) {
    int id = GetDlgItem(box, IDOK) ? IDOK : IDCANCEL;
    HWND button = GetDlgItem(box, id);
    if (!PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(button))) {
        error = "cannot post to the box";
        return false;
    }
    // A box of this thread runs its loop below the current command, so it can only
    // close after the command returns.
    if (GetWindowThreadProcessId(box, nullptr) == GetCurrentThreadId()) return true;
    for (int waited = 0; waited < 3000; waited += 20) {
        if (!IsWindow(box)) return true;
        pumpFor(20);
    }
    error = "the box is still open";
    return false;
}

bool windowText(HWND window, std::string& utf8) {
    DWORD_PTR length = 0;
    if (!sendWithTimeout(window, WM_GETTEXTLENGTH, 0, 0, length)) return false;
    std::wstring text(size_t(length) + 1, L'\0');
    DWORD_PTR got = 0;
    if (!sendWithTimeout(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), got))
        return false;
    text.resize(got < text.size() ? size_t(got) : text.size() - 1);
    utf8 = toUtf8(text);
    return true;
}

bool setWindowText(HWND window, const std::string& utf8) {
    std::wstring text = fromUtf8(utf8);
    DWORD_PTR result = 0;
    return sendWithTimeout(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), result) &&
           result;
}

void clickWindow(HWND window) {
    if (lstrcmpiA(className(window).c_str(), "Button") == 0) {
        PostMessageW(window, BM_CLICK, 0, 0);
        return;
    }
    RECT client = {};
    GetClientRect(window, &client);
    LPARAM point = MAKELPARAM(client.right / 2, client.bottom / 2);
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, point);
    PostMessageW(window, WM_LBUTTONUP, 0, point);
}

void typeText(HWND window, const std::string& utf8) {
    for (wchar_t unit : fromUtf8(utf8)) PostMessageW(window, WM_CHAR, unit, 1);
}

void pressKey(HWND window, UINT key, bool shift) {
    BYTE state[256];
    GetKeyboardState(state);
    const BYTE before = state[VK_SHIFT];
    state[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(state);
    const LPARAM scan = LPARAM(MapVirtualKeyW(key, 0)) << 16;
    PostMessageW(window, WM_KEYDOWN, key, 1 | scan);
    PostMessageW(window, WM_KEYUP, key, 1 | scan | (LPARAM(3) << 30));
    pumpFor(50);
    GetKeyboardState(state);
    state[VK_SHIFT] = before;
    SetKeyboardState(state);
}

namespace {
// Owners of the GDI objects and the file a screenshot needs.
struct ScreenDc {
    HDC dc = GetDC(nullptr);
    ~ScreenDc() { ReleaseDC(nullptr, dc); }
};
struct MemoryDc {
    explicit MemoryDc(HDC like) : dc(CreateCompatibleDC(like)) {}
    ~MemoryDc() {
        if (dc) DeleteDC(dc);
    }
    HDC dc;
};
struct Bitmap {
    HBITMAP bitmap = nullptr;
    ~Bitmap() {
        if (bitmap) DeleteObject(bitmap);
    }
};
struct File {
    explicit File(HANDLE h) : handle(h) {}
    ~File() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    HANDLE handle;
};
}  // namespace

bool saveScreenshot(const std::string& utf8Path, HWND window, std::string& error) {
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (window) GetWindowRect(window, &area);
    int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0) {
        error = "empty area";
        return false;
    }
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;  // bottom-up rows, as BMP files keep them
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    DWORD stride = (DWORD(width) * 3 + 3) & ~3u;
    header.biSizeImage = stride * DWORD(height);

    ScreenDc screen;
    MemoryDc memory(screen.dc);
    Bitmap bitmap;
    void* bits = nullptr;
    bitmap.bitmap = CreateDIBSection(screen.dc, reinterpret_cast<BITMAPINFO*>(&header),
                                     DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!memory.dc || !bitmap.bitmap) {
        error = "cannot capture the screen";
        return false;
    }
    HGDIOBJ old = SelectObject(memory.dc, bitmap.bitmap);
    bool captured =
        BitBlt(memory.dc, 0, 0, width, height, screen.dc, area.left, area.top, SRCCOPY) != 0;
    GdiFlush();
    SelectObject(memory.dc, old);
    if (!captured) {
        error = "cannot capture the screen";
        return false;
    }
    BITMAPFILEHEADER head = {};
    head.bfType = 0x4D42;  // "BM"
    head.bfOffBits = sizeof head + sizeof header;
    head.bfSize = head.bfOffBits + header.biSizeImage;
    File out(CreateFileW(fromUtf8(utf8Path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (out.handle == INVALID_HANDLE_VALUE || !writeAll(out.handle, &head, sizeof head) ||
        !writeAll(out.handle, &header, sizeof header) ||
        !writeAll(out.handle, bits, header.biSizeImage)) {
        error = "cannot write the file";
        return false;
    }
    return true;
}

}  // namespace player
