#include "ui/security_code_dialog.h"

#include <atomic>

#include "common/platform.h"
#include "core/state.h"
#include "ui/jpeg_image.h"
#include "ui/window_util.h"

namespace nimbo {

namespace {

const wchar_t kDialogClass[] = L"NimboSecurityCode";
const wchar_t kOwnerClass[] = L"NimboSecurityCodeOwner";
const wchar_t kCaption[] = L"Security code";
const wchar_t kFontFace[] = L"MS Sans Serif";
const int kFontHeight = 15;
const int kWidth = 201;
const int kHeight = 175;

enum ControlId { kPromptId = 100, kImageId, kCodeId, kOkId };

struct ControlLayout {
    const wchar_t* className;
    const wchar_t* text;
    int left, top, width, height;
    DWORD style;
    DWORD exStyle;
    int id;
    bool bold;
};

// In creation order, which is also the tab order of the two tab stops.
const ControlLayout kControls[] = {
    {L"STATIC", L"Please, enter security code:", 18, 8, 201, 16, SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0,
     kPromptId, true},
    {L"STATIC", L"", 32, 32, 130, 50, SS_OWNERDRAW, 0, kImageId, false},
    {L"EDIT", L"", 32, 88, 129, 21, ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE,
     kCodeId, false},
    {L"BUTTON", L"Ok", 56, 120, 81, 25, BS_PUSHBUTTON | WS_TABSTOP, 0, kOkId, false},
};

std::atomic<HWND> gDialog{nullptr};

// What the window procedure needs; lives on askSecurityCode's stack.
struct DialogState {
    const JpegPicture* picture = nullptr;
    BITMAPINFO bitmapInfo = {};
    bool closeRequested = false;
};

DialogState* stateOf(HWND window) {
    return reinterpret_cast<DialogState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// At the picture's own size from the area's top-left corner; clipped to the area,
// since a static control draws with its parent's clipping.
void paintPicture(const DRAWITEMSTRUCT& item, const DialogState& state) {
    const JpegPicture& picture = *state.picture;
    const int saved = SaveDC(item.hDC);
    IntersectClipRect(item.hDC, item.rcItem.left, item.rcItem.top, item.rcItem.right,
                      item.rcItem.bottom);
    StretchDIBits(item.hDC, item.rcItem.left, item.rcItem.top, picture.width, picture.height, 0, 0,
                  picture.width, picture.height, picture.pixels.data(), &state.bitmapInfo,
                  DIB_RGB_COLORS, SRCCOPY);
    RestoreDC(item.hDC, saved);
}

LRESULT CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCCREATE: {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(create->lpCreateParams));
            break;
        }
        case WM_CLOSE:
            // The loop ends on it; destroying stays with askSecurityCode.
            if (DialogState* state = stateOf(window)) state->closeRequested = true;
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == kOkId && HIWORD(wParam) == BN_CLICKED)
                PostMessageW(window, WM_CLOSE, 0, 0);
            return 0;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            const DialogState* state = stateOf(window);
            if (item->CtlID == kImageId && state && state->picture) paintPicture(*item, *state);
            return TRUE;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return controlColours(reinterpret_cast<HDC>(wParam), kTextColour, COLOR_BTNFACE);
        case WM_CTLCOLOREDIT:
            return controlColours(reinterpret_cast<HDC>(wParam), kTextColour, COLOR_WINDOW);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The hidden owner only carries the dialog; a stray WM_CLOSE must not destroy it
// (and the dialog with it) behind the loop's back.
LRESULT CALLBACK ownerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

// Registered per call and removed again: a class left behind would keep pointing
// into this library after Winamp unloads it.
class WindowClass {
  public:
    WindowClass(const wchar_t* name, WNDPROC proc, HBRUSH background) : name_(name) {
        registerWindowClass(name, proc, background);
    }
    ~WindowClass() { UnregisterClassW(name_, moduleInstance()); }
    WindowClass(const WindowClass&) = delete;
    WindowClass& operator=(const WindowClass&) = delete;

  private:
    const wchar_t* name_;
};

class Window {
  public:
    explicit Window(HWND handle) : handle_(handle) {}
    ~Window() {
        if (handle_) DestroyWindow(handle_);
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    HWND get() const { return handle_; }

  private:
    HWND handle_;
};

// On from before the window is built until after it has been destroyed.
class PendingFlag {
  public:
    PendingFlag() { securityCodePending = true; }
    ~PendingFlag() { securityCodePending = false; }
    PendingFlag(const PendingFlag&) = delete;
    PendingFlag& operator=(const PendingFlag&) = delete;
};

// Makes the dialog reachable from Winamp's thread while it exists.
class Published {
  public:
    explicit Published(HWND dialog) { gDialog = dialog; }
    ~Published() { gDialog = nullptr; }
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;
};

void describePicture(const JpegPicture& picture, DialogState& state) {
    state.picture = &picture;
    BITMAPINFOHEADER& header = state.bitmapInfo.bmiHeader;
    header.biSize = sizeof header;
    header.biWidth = picture.width;
    header.biHeight = -picture.height;  // top-down rows
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
}

HWND createDialog(HWND owner, DialogState& state, const Font& font, const Font& bold) {
    const POINT origin = centredOrigin(kWidth, kHeight);
    const int left = origin.x, top = origin.y;
    HWND dialog = CreateWindowExW(0, kDialogClass, kCaption, WS_BORDER, left, top, kWidth, kHeight,
                                  owner, nullptr, moduleInstance(), &state);
    if (!dialog) return nullptr;
    SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    for (const ControlLayout& c : kControls) {
        HWND control = CreateWindowExW(
            c.exStyle, c.className, c.text, WS_CHILD | WS_VISIBLE | c.style, c.left, c.top, c.width,
            c.height, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), moduleInstance(),
            nullptr);
        if (!control) return nullptr;
        const HFONT face = c.bold ? bold.get() : font.get();
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(face), FALSE);
    }
    return dialog;
}

// Waits for messages and dispatches them until WM_CLOSE reached the dialog. Quit
// must never wait on the user, so the loop also ends, at once, when quit begins.
void runLoop(HWND dialog, const DialogState& state) {
    HANDLE quit = quitEvent();
    while (!state.closeRequested && !quitRequested()) {
        MsgWaitForMultipleObjects(1, &quit, FALSE, INFINITE, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // Not ours to consume: leave it for the thread's own loop.
                PostQuitMessage(int(message.wParam));
                return;
            }
            // Gives the two tab stops their Tab navigation.
            if (IsDialogMessageW(dialog, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

}  // namespace

HWND securityCodeWindow() {
    return gDialog;
}

std::string askSecurityCode(const std::string& pictureBytes) {
    std::string result;
    const JpegPicture picture = decodeJpeg(pictureBytes);
    // Once quit has begun nobody is left to answer the window.
    if (picture.empty() || quitRequested()) return result;

    // Destroyed in reverse order: windows first, then the classes, fonts and flag.
    PendingFlag pending;
    WindowClass ownerClass(kOwnerClass, ownerProc, nullptr);
    WindowClass dialogClass(kDialogClass, dialogProc, GetSysColorBrush(COLOR_BTNFACE));
    const Font font = makeFont(kFontFace, kFontHeight, FW_NORMAL);
    const Font bold = makeFont(kFontFace, kFontHeight, FW_BOLD);
    DialogState state;
    describePicture(picture, state);

    Window owner(CreateWindowExW(0, kOwnerClass, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                 moduleInstance(), nullptr));
    if (!owner.get()) return result;
    // Owned by the application window, so destroying that one takes it along.
    HWND dialog = createDialog(owner.get(), state, font, bold);
    if (!dialog) return result;
    {
        Published published(dialog);
        ShowWindow(dialog, SW_SHOW);
        SetForegroundWindow(dialog);
        SetFocus(GetDlgItem(dialog, kCodeId));
        runLoop(dialog, state);
        result = narrow(windowText(GetDlgItem(dialog, kCodeId)));
    }
    return result;
}

}  // namespace nimbo
