// Small pieces both of the plugin's windows need: centring by the screen's half,
// fonts by face and height, the module that owns the window classes, class
// registration, control colours, texts and check states, and keyboard focus moves and keys.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

namespace nimbo {

// Both windows draw their texts in this colour (practically black).
constexpr COLORREF kTextColour = 0x000008;

// n / 2 to the nearest integer, an exact half going to the even neighbour.
int half(int n);

// The top-left corner that centres a window of this outer size on the primary screen.
POINT centredOrigin(int width, int height);

// Gives a window this outer size, centred on the primary screen.
void centreWindow(HWND window, int width, int height);

// This module (the DLL, or the test program that links the code in).
HINSTANCE moduleInstance();

struct FontDeleter {
    void operator()(HFONT font) const { DeleteObject(font); }
};
using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

// A font by face and positive (cell) height, DEFAULT_CHARSET.
Font makeFont(const wchar_t* face, int height, int weight, bool underline = false);

// Registers a window class of this module with the arrow cursor. A class of the
// same name left registered is replaced when no window uses it, else kept (it has
// the same procedure). False when neither works.
bool registerWindowClass(const wchar_t* name, WNDPROC proc, HBRUSH background);

// Destroys this thread's top-level windows of class `name` (registered by this module)
// and unregisters the class.
void destroyClassWindows(const wchar_t* name);

// The answer to WM_CTLCOLOR*: `text` on the system colour `background`.
LRESULT controlColours(HDC dc, COLORREF text, int background);

// A window's whole text.
std::wstring windowText(HWND window);

// A check box's or radio button's state.
bool isChecked(HWND button);
void setChecked(HWND button, bool on);

// WM_NEXTDLGCTL for a plain window (only dialog-class windows handle it on their
// own; a multi-line edit box sends it for Tab): focus the next or previous tab stop,
// or the given control, and select an edit box's text.
void moveFocus(HWND window, WPARAM wParam, LPARAM lParam);

// Makes a tab stop move the focus on Tab and Shift+Tab (through its parent's
// WM_NEXTDLGCTL) and, for a radio button, on the arrow keys within its group, send its
// parent IDCANCEL on Escape, and drop TAB characters, whether or not the host's loop
// calls IsDialogMessage.
void handleDialogKeys(HWND control);

}  // namespace nimbo
