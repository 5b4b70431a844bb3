// The plugin's table-built windows: one constant row per control (class, text, pixel
// rectangle in client coordinates, styles, Tab place, look, text colour), created in
// table order.
#pragma once

#include <windows.h>

#include "ui/window_util.h"

namespace nimbo {

enum class Look { Regular, Bold, Underlined };
constexpr int kLookCount = 3;

const DWORD kLabel = WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_NOTIFY;
// A text that can outgrow its cell (a result, a server's answer) ends in "..." instead
// of being cut off mid-letter.
const DWORD kLongLabel = kLabel | SS_ENDELLIPSIS;
// A short count at a row's right end, clear of the check box that starts the row.
const DWORD kRightLabel = WS_CHILD | WS_VISIBLE | SS_RIGHT | SS_NOPREFIX | SS_NOTIFY;
const DWORD kRadio = WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON;
const DWORD kCheck = WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX;
const DWORD kPush = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON;
const DWORD kLineEdit = WS_CHILD | WS_VISIBLE | ES_LEFT | ES_AUTOHSCROLL;
const DWORD kNumberEdit = kLineEdit | ES_NUMBER;
const DWORD kSecretEdit = kLineEdit | ES_PASSWORD;
// ES_WANTRETURN: Enter starts a new line instead of looking for a default button.
const DWORD kBoxEdit =
    WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
const int kNoTab = -1;

struct ControlRow {
    int id;  // one of the window's enum in ui/control_ids.h
    const wchar_t* className;
    const wchar_t* text;  // null: filled in by the window
    int x, y, width, height;
    DWORD style;
    DWORD exStyle;
    int tab;  // place in the Tab order, or kNoTab
    Look look;
    COLORREF colour;
};

// A table window's look: its class, caption, font, outer size and controls.
struct TableWindow {
    const wchar_t* className;
    const wchar_t* caption;
    const wchar_t* fontFace;
    int fontHeight;
    int width, height;
    const ControlRow* rows;
    int count;
};

// The row of this id, or null.
const ControlRow* findRow(const ControlRow* rows, int count, int id);

// The row's colour for this control id, else kTextColour.
COLORREF rowColour(const ControlRow* rows, int count, int id);

// The answer to WM_CTLCOLORSTATIC, WM_CTLCOLORBTN and WM_CTLCOLOREDIT: `text` on the
// face colour, or on the window colour for an edit box.
LRESULT tableColours(UINT message, WPARAM dc, COLORREF text);

// One font per Look, by face and height.
void makeLookFonts(Font (&fonts)[kLookCount], const wchar_t* face, int height);

// Creates the rows' controls on `parent` in table order, each in its look's font. A
// tab stop starts its own group, except a radio button right after another, which
// joins that one's group; its keys go through handleDialogKeys. `texts`, when given,
// holds one text a row that overrides the row's own (null entries keep it); `made`,
// when given, receives the handles in table order. False when a control could not be
// made.
bool createControls(HWND parent, const ControlRow* rows, int count, const Font (&fonts)[kLookCount],
                    const wchar_t* const* texts = nullptr, HWND* made = nullptr);

// The Tab key follows the Z order of the tab stops, so they are stacked on top in the
// order of their places; the plain labels stay below them.
void arrangeTabOrder(HWND parent, const ControlRow* rows, int count);

}  // namespace nimbo
