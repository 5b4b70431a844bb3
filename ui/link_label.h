// A static control that works as a link: blue, red while a mouse button is down on it,
// and a button released on it opens its address.
#pragma once

#include <windows.h>

namespace nimbo {

constexpr COLORREF kLinkBlue = 0xFF0000;
constexpr COLORREF kLinkRed = 0x0000FF;

// What opens a link's address; null (the default) means ShellExecuteA. Tests put a
// recorder here so no browser starts.
using LinkOpener = void (*)(const char* address);
void setLinkOpenerForTest(LinkOpener opener);

// Lives as long as the label's window (a member of the parent's state, freed after its
// children are gone). Its owner answers the label's WM_CTLCOLORSTATIC with colour().
class LinkLabel {
  public:
    // Subclasses `label` (a static control with SS_NOTIFY, so that it gets the mouse);
    // `address` must outlive the label. False when the label could not be subclassed.
    bool attach(HWND label, const char* address);
    COLORREF colour() const { return colour_; }
    HWND window() const { return label_; }

  private:
    static LRESULT CALLBACK proc(HWND label, UINT message, WPARAM wParam, LPARAM lParam);
    // True for a button released on the label: its address is to be opened.
    bool handleMouse(UINT message);
    void setColour(COLORREF colour);

    HWND label_ = nullptr;
    WNDPROC original_ = nullptr;
    const char* address_ = "";
    COLORREF colour_ = kLinkBlue;
    bool trackingLeave_ = false;
};

}  // namespace nimbo
