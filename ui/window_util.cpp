#include "ui/window_util.h"

#include <vector>

namespace nimbo {

int half(int n) {
    int q = n / 2;  // rounds towards zero
    if (n % 2 != 0 && q % 2 != 0) q += n > 0 ? 1 : -1;
    return q;
}

POINT centredOrigin(int width, int height) {
    POINT origin;
    origin.x = half(GetSystemMetrics(SM_CXSCREEN)) - half(width);
    origin.y = half(GetSystemMetrics(SM_CYSCREEN)) - half(height);
    return origin;
}

void centreWindow(HWND window, int width, int height) {
    const POINT origin = centredOrigin(width, height);
    SetWindowPos(window, nullptr, origin.x, origin.y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

HINSTANCE moduleInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&moduleInstance), &module);
    return module;
}

Font makeFont(const wchar_t* face, int height, int weight, bool underline) {
    LOGFONTW lf = {};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    lf.lfUnderline = underline;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    return Font(CreateFontIndirectW(&lf));
}

bool registerWindowClass(const wchar_t* name, WNDPROC proc, HBRUSH background) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = moduleInstance();
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    if (RegisterClassExW(&wc)) return true;
    if (GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    UnregisterClassW(name, wc.hInstance);
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

namespace {

struct ClassWindows {
    const wchar_t* name;
    std::vector<HWND> found;
};

BOOL CALLBACK collectClassWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<ClassWindows*>(param);
    wchar_t name[64];
    if (GetClassNameW(window, name, 64) && lstrcmpW(name, search->name) == 0)
        search->found.push_back(window);
    return TRUE;
}

}  // namespace

void destroyClassWindows(const wchar_t* name) {
    // Collected first: destroying one (an owner) may take others with it.
    ClassWindows search = {name, {}};
    EnumThreadWindows(GetCurrentThreadId(), collectClassWindow, reinterpret_cast<LPARAM>(&search));
    for (HWND window : search.found)
        if (IsWindow(window)) DestroyWindow(window);
    UnregisterClassW(name, moduleInstance());
}

LRESULT controlColours(HDC dc, COLORREF text, int background) {
    SetTextColor(dc, text);
    SetBkColor(dc, GetSysColor(background));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(background));
}

std::wstring windowText(HWND window) {
    int length = GetWindowTextLengthW(window);
    if (length <= 0) return std::wstring();
    std::wstring text(size_t(length) + 1, L'\0');
    int got = GetWindowTextW(window, &text[0], length + 1);
    text.resize(size_t(got > 0 ? got : 0));
    return text;
}

bool isChecked(HWND button) {
    return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void setChecked(HWND button, bool on) {
    SendMessageW(button, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void moveFocus(HWND window, WPARAM wParam, LPARAM lParam) {
    HWND focus = GetFocus();
    if (focus && !IsChild(window, focus)) focus = nullptr;
    HWND target = LOWORD(lParam) ? reinterpret_cast<HWND>(wParam)
                                 : GetNextDlgTabItem(window, focus, static_cast<BOOL>(wParam != 0));
    if (!target) return;
    SetFocus(target);
    if (SendMessageW(target, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) {
        SendMessageW(target, EM_SETSEL, 0, -1);
    }
}

namespace {

const wchar_t kKeyProcProp[] = L"NimboKeyProc";

bool isRadioButton(HWND control) {
    return (SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON) != 0;
}

// A host's loop need not hand our keys to IsDialogMessage, so each tab stop moves the
// focus itself. When a loop does, it takes Tab and the arrows before they get here.
LRESULT CALLBACK dialogKeyProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC original = reinterpret_cast<WNDPROC>(GetPropW(control, kKeyProcProp));
    if (!original) return DefWindowProcW(control, message, wParam, lParam);
    HWND parent = GetParent(control);
    switch (message) {
        case WM_KEYDOWN:
            if (wParam == VK_TAB) {
                SendMessageW(parent, WM_NEXTDLGCTL, GetKeyState(VK_SHIFT) < 0, 0);
                return 0;
            }
            // As IsDialogMessage would: a window with a cancel answers IDCANCEL.
            if (wParam == VK_ESCAPE) {
                SendMessageW(parent, WM_COMMAND, IDCANCEL, 0);
                return 0;
            }
            if ((wParam == VK_LEFT || wParam == VK_RIGHT || wParam == VK_UP || wParam == VK_DOWN) &&
                isRadioButton(control)) {
                HWND next =
                    GetNextDlgGroupItem(parent, control, wParam == VK_LEFT || wParam == VK_UP);
                if (next && next != control && isRadioButton(next)) {
                    SetFocus(next);
                    if (SendMessageW(next, BM_GETCHECK, 0, 0) != BST_CHECKED)
                        SendMessageW(next, BM_CLICK, 0, 0);
                }
                return 0;
            }
            break;
        case WM_CHAR:
            if (wParam == L'\t') return 0;  // never typed into a box
            break;
        case WM_NCDESTROY:
            SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
            RemovePropW(control, kKeyProcProp);
            break;
    }
    return CallWindowProcW(original, control, message, wParam, lParam);
}

}  // namespace

void handleDialogKeys(HWND control) {
    if (GetPropW(control, kKeyProcProp)) return;
    LONG_PTR original = GetWindowLongPtrW(control, GWLP_WNDPROC);
    if (!original || !SetPropW(control, kKeyProcProp, reinterpret_cast<HANDLE>(original))) return;
    SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(dialogKeyProc));
}

}  // namespace nimbo
