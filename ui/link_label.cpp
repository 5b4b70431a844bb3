#include "ui/link_label.h"

#include <shellapi.h>

#include "core/state.h"

namespace nimbo {

namespace {

const wchar_t kLinkProp[] = L"NimboLink";
LinkOpener gOpener = nullptr;

void openAddress(const char* address) {
    if (gOpener) {
        gOpener(address);
    } else {
        // A failure is not reported; the link simply turns blue again.
        ShellExecuteA(nullptr, nullptr, address, nullptr, nullptr, SW_SHOWNORMAL);
    }
}

}  // namespace

void setLinkOpenerForTest(LinkOpener opener) {
    gOpener = opener;
}

bool LinkLabel::attach(HWND label, const char* address) {
    WNDPROC original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(label, GWLP_WNDPROC));
    if (!original || !SetPropW(label, kLinkProp, this)) return false;
    label_ = label;
    original_ = original;
    address_ = address;
    SetWindowLongPtrW(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LinkLabel::proc));
    return true;
}

void LinkLabel::setColour(COLORREF colour) {
    colour_ = colour;
    InvalidateRect(label_, nullptr, TRUE);
}

// Every mouse button alike.
bool LinkLabel::handleMouse(UINT message) {
    switch (message) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONDBLCLK:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONDBLCLK:
        case WM_XBUTTONDOWN:
        case WM_XBUTTONDBLCLK:
            setColour(kLinkRed);
            break;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP:
        case WM_XBUTTONUP:
            return true;
        case WM_MOUSEMOVE:
            if (!trackingLeave_) {
                TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, label_, 0};
                trackingLeave_ = TrackMouseEvent(&track) != FALSE;
            }
            break;
        case WM_MOUSELEAVE:
            trackingLeave_ = false;
            setColour(kLinkBlue);
            break;
    }
    return false;
}

LRESULT CALLBACK LinkLabel::proc(HWND label, UINT message, WPARAM wParam, LPARAM lParam) {
    // Opening can run a message loop in which Winamp quits: the library stays loaded
    // until we are back.
    const OurCodeRunning running;
    auto* link = static_cast<LinkLabel*>(GetPropW(label, kLinkProp));
    if (!link) return DefWindowProcW(label, message, wParam, lParam);
    const WNDPROC original = link->original_;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        RemovePropW(label, kLinkProp);
    } else if (link->handleMouse(message)) {
        openAddress(link->address_);
        // The label, and this state with it, may be gone by now.
        link = IsWindow(label) ? static_cast<LinkLabel*>(GetPropW(label, kLinkProp)) : nullptr;
        if (!link) return 0;
        link->setColour(kLinkBlue);
    }
    return CallWindowProcW(original, label, message, wParam, lParam);
}

}  // namespace nimbo
