#include "ui/security_code_dialog.h"

#include <atomic>

#include "common/platform.h"
#include "core/state.h"
#include "ui/control_ids.h"
#include "ui/control_table.h"
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
const DWORD kPromptStyle = WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX;
const DWORD kPictureStyle = WS_CHILD | WS_VISIBLE | SS_OWNERDRAW;

// In creation order; the edit box and "Ok" are the two tab stops.
// clang-format off
const ControlRow kControls[] = {
    {kCodePromptLabel, L"STATIC", L"Please, enter security code:", 18,   8, 201, 16, kPromptStyle,  0,                kNoTab, Look::Bold,    kTextColour},
    {kCodePicture,     L"STATIC", L"",                             32,  32, 130, 50, kPictureStyle, 0,                kNoTab, Look::Regular, kTextColour},
    {kCodeEdit,        L"EDIT",   L"",                             32,  88, 129, 21, kLineEdit,     WS_EX_CLIENTEDGE, 0,      Look::Regular, kTextColour},
    {kCodeOkButton,    L"BUTTON", L"Ok",                           56, 120,  81, 25, kPush,         0,                1,      Look::Regular, kTextColour},
};
// clang-format on

const TableWindow kLook = {
    kDialogClass, kCaption, kFontFace, kFontHeight,
    kWidth,       kHeight,  kControls, sizeof kControls / sizeof kControls[0]};

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
            if (LOWORD(wParam) == kCodeOkButton && HIWORD(wParam) == BN_CLICKED)
                PostMessageW(window, WM_CLOSE, 0, 0);
            return 0;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            const DialogState* state = stateOf(window);
            if (item->CtlID == kCodePicture && state && state->picture) paintPicture(*item, *state);
            return TRUE;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT:
            return tableColours(message, wParam, kTextColour);
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

HWND createDialog(HWND owner, DialogState& state, const Font (&fonts)[kLookCount]) {
    const POINT origin = centredOrigin(kLook.width, kLook.height);
    HWND dialog =
        CreateWindowExW(0, kLook.className, kLook.caption, WS_BORDER, origin.x, origin.y,
                        kLook.width, kLook.height, owner, nullptr, moduleInstance(), &state);
    if (!dialog) return nullptr;
    const HFONT regular = fonts[static_cast<int>(Look::Regular)].get();
    SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(regular), FALSE);
    return createControls(dialog, kLook.rows, kLook.count, fonts) ? dialog : nullptr;
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

const TableWindow& securityCodeWindowTable() {
    return kLook;
}

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
    Font fonts[kLookCount];
    makeLookFonts(fonts, kLook.fontFace, kLook.fontHeight);
    DialogState state;
    describePicture(picture, state);

    Window owner(CreateWindowExW(0, kOwnerClass, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                 moduleInstance(), nullptr));
    if (!owner.get()) return result;
    // Owned by the application window, so destroying that one takes it along.
    HWND dialog = createDialog(owner.get(), state, fonts);
    if (!dialog) return result;
    {
        Published published(dialog);
        ShowWindow(dialog, SW_SHOW);
        SetForegroundWindow(dialog);
        SetFocus(GetDlgItem(dialog, kCodeEdit));
        runLoop(dialog, state);
        result = narrow(windowText(GetDlgItem(dialog, kCodeEdit)));
    }
    return result;
}

}  // namespace nimbo
