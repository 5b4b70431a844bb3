#include "ui/control_table.h"

namespace nimbo {

const ControlRow* findRow(const ControlRow* rows, int count, int id) {
    for (int i = 0; i < count; ++i) {
        if (rows[i].id == id) return &rows[i];
    }
    return nullptr;
}

COLORREF rowColour(const ControlRow* rows, int count, int id) {
    const ControlRow* row = findRow(rows, count, id);
    return row ? row->colour : kTextColour;
}

LRESULT tableColours(UINT message, WPARAM dc, COLORREF text) {
    return controlColours(reinterpret_cast<HDC>(dc), text,
                          message == WM_CTLCOLOREDIT ? COLOR_WINDOW : COLOR_BTNFACE);
}

void makeLookFonts(Font (&fonts)[kLookCount], const wchar_t* face, int height) {
    for (Look look : {Look::Regular, Look::Bold, Look::Underlined}) {
        fonts[static_cast<int>(look)] = makeFont(
            face, height, look == Look::Bold ? FW_BOLD : FW_NORMAL, look == Look::Underlined);
    }
}

bool createControls(HWND parent, const ControlRow* rows, int count, const Font (&fonts)[kLookCount],
                    const wchar_t* const* texts, HWND* made) {
    HINSTANCE instance = moduleInstance();
    for (int i = 0; i < count; ++i) {
        const ControlRow& row = rows[i];
        const wchar_t* text = texts && texts[i] ? texts[i] : row.text ? row.text : L"";
        DWORD style = row.style;
        if (row.tab != kNoTab) {
            style |= WS_TABSTOP;
            const bool joinsGroup = row.style == kRadio && i > 0 && rows[i - 1].style == kRadio;
            if (!joinsGroup) style |= WS_GROUP;
        }
        HWND control = CreateWindowExW(
            row.exStyle, row.className, text, style, row.x, row.y, row.width, row.height, parent,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)), instance, nullptr);
        if (!control) return false;
        if (made) made[i] = control;
        if (row.tab != kNoTab) handleDialogKeys(control);
        SendMessageW(control, WM_SETFONT,
                     reinterpret_cast<WPARAM>(fonts[static_cast<int>(row.look)].get()), FALSE);
    }
    return true;
}

void arrangeTabOrder(HWND parent, const ControlRow* rows, int count) {
    HWND previous = HWND_TOP;
    for (int place = 0; place < count; ++place) {
        for (int i = 0; i < count; ++i) {
            if (rows[i].tab != place) continue;
            HWND control = GetDlgItem(parent, rows[i].id);
            SetWindowPos(control, previous, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
            previous = control;
        }
    }
}

}  // namespace nimbo
