// One check of a table-built window (ui/control_table.h) against the product's own
// table, plus invariants that a table compared with itself cannot catch: every control
// inside the client area (a text cell may run past the right edge), no visible
// controls over each other (two text cells may), rows and columns aligned, and the
// Tab key following the table's places.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/win32/win32_test_util.h"
#include "ui/control_table.h"
#include "ui/window_util.h"

namespace testutil {

inline RECT rectIn(HWND control, HWND window) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

inline bool isLabel(const nimbo::ControlRow& row) {
    return lstrcmpiW(row.className, L"STATIC") == 0 && (row.style & SS_TYPEMASK) != SS_OWNERDRAW;
}

// A label, a check box or a radio button: its cell is wider than the text it shows.
inline bool isTextCell(const nimbo::ControlRow& row) {
    const DWORD type = row.style & BS_TYPEMASK;
    return isLabel(row) || (lstrcmpiW(row.className, L"BUTTON") == 0 &&
                            (type == BS_AUTOCHECKBOX || type == BS_AUTORADIOBUTTON));
}

// The stops the Tab key visits, in order: the visible and enabled rows by Tab place, a
// radio group entered at its checked button only (as Windows' dialog manager does).
inline std::vector<HWND> tabOrder(HWND window, const nimbo::TableWindow& table) {
    std::vector<const nimbo::ControlRow*> rows;
    for (int i = 0; i < table.count; ++i) {
        if (table.rows[i].tab != nimbo::kNoTab) rows.push_back(&table.rows[i]);
    }
    std::sort(rows.begin(), rows.end(), [](auto a, auto b) { return a->tab < b->tab; });
    std::vector<HWND> order;
    for (const nimbo::ControlRow* row : rows) {
        HWND c = GetDlgItem(window, row->id);
        const bool radio = (row->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON &&
                           lstrcmpiW(row->className, L"BUTTON") == 0;
        if (!IsWindowVisible(c) || !IsWindowEnabled(c)) continue;
        if (radio && SendMessageW(c, BM_GETCHECK, 0, 0) != BST_CHECKED) continue;
        order.push_back(c);
    }
    return order;
}

inline void expectControlAsItsRow(HWND window, const nimbo::TableWindow& table,
                                  const nimbo::ControlRow& row) {
    SCOPED_TRACE("control " + std::to_string(row.id));
    HWND c = GetDlgItem(window, row.id);
    ASSERT_NE(c, nullptr);
    wchar_t cls[16] = {0};
    GetClassNameW(c, cls, 16);
    EXPECT_EQ(lstrcmpiW(cls, row.className), 0);
    if (row.text) {
        EXPECT_EQ(textOf(c), row.text);
    }
    const RECT r = rectIn(c, window);
    EXPECT_EQ(r.left, row.x);
    EXPECT_EQ(r.top, row.y);
    EXPECT_EQ(r.right - r.left, row.width);
    EXPECT_EQ(r.bottom - r.top, row.height);
    // A list shows its scroll bars only while it needs them.
    const DWORD own = lstrcmpiW(row.className, L"LISTBOX") == 0 ? WS_HSCROLL | WS_VSCROLL : 0;
    const DWORD style = DWORD(GetWindowLongW(c, GWL_STYLE)) | WS_VISIBLE | own;
    EXPECT_EQ(style & row.style, row.style);
    EXPECT_EQ(DWORD(GetWindowLongW(c, GWL_EXSTYLE)) & row.exStyle, row.exStyle);
    LOGFONTW lf = {};
    ASSERT_TRUE(
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0)), sizeof lf, &lf));
    EXPECT_STREQ(lf.lfFaceName, table.fontFace);
    EXPECT_EQ(lf.lfHeight, table.fontHeight);
    EXPECT_EQ(lf.lfWeight, row.look == nimbo::Look::Bold ? FW_BOLD : FW_NORMAL);
    EXPECT_EQ(lf.lfUnderline != 0, row.look == nimbo::Look::Underlined);
    const bool edit = lstrcmpiW(row.className, L"EDIT") == 0;
    HDC dc = CreateCompatibleDC(nullptr);
    SendMessageW(window, edit ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(c));
    EXPECT_EQ(GetTextColor(dc), row.colour);
    EXPECT_EQ(GetBkColor(dc), GetSysColor(edit ? COLOR_WINDOW : COLOR_BTNFACE));
    DeleteDC(dc);
}

// The window as the table gives it, in the mode it shows now.
inline void expectTableWindow(HWND window, const nimbo::TableWindow& table) {
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(textOf(window), table.caption);
    RECT outer;
    GetWindowRect(window, &outer);
    EXPECT_EQ(outer.right - outer.left, table.width);
    EXPECT_EQ(outer.bottom - outer.top, table.height);
    const POINT centred = nimbo::centredOrigin(table.width, table.height);
    EXPECT_EQ(outer.left, centred.x);
    EXPECT_EQ(outer.top, centred.y);
    int children = 0;
    for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) ++children;
    EXPECT_EQ(children, table.count);
    for (int i = 0; i < table.count; ++i) expectControlAsItsRow(window, table, table.rows[i]);

    RECT client;
    GetClientRect(window, &client);
    std::vector<int> shown;
    for (int i = 0; i < table.count; ++i) {
        if (IsWindowVisible(GetDlgItem(window, table.rows[i].id))) shown.push_back(i);
    }
    for (size_t a = 0; a < shown.size(); ++a) {
        const nimbo::ControlRow& p = table.rows[shown[a]];
        const RECT pr = rectIn(GetDlgItem(window, p.id), window);
        // A text cell may run past the right edge (its text is left-aligned in it).
        const bool inside = pr.left >= 0 && pr.top >= 0 && pr.bottom <= client.bottom &&
                            (pr.right <= client.right || (isTextCell(p) && pr.left < client.right));
        EXPECT_TRUE(inside) << "control " << p.id << " leaves the client area: " << pr.left << ","
                            << pr.top << " to " << pr.right << "," << pr.bottom << " in "
                            << client.right << "x" << client.bottom;
        for (size_t b = a + 1; b < shown.size(); ++b) {
            const nimbo::ControlRow& q = table.rows[shown[b]];
            const RECT qr = rectIn(GetDlgItem(window, q.id), window);
            RECT both;
            // Two text cells may share the room their texts leave blank.
            if (!(isTextCell(p) && isTextCell(q))) {
                EXPECT_FALSE(IntersectRect(&both, &pr, &qr))
                    << "controls " << p.id << " and " << q.id << " overlap";
            }
            // A few pixels apart is a slip: a row shares its top, a column its left.
            const int dy = std::abs(p.y - q.y), dx = std::abs(p.x - q.x);
            EXPECT_FALSE(dy > 0 && dy < 4) << "controls " << p.id << " and " << q.id << " rows";
            EXPECT_FALSE(dx > 0 && dx < 4) << "controls " << p.id << " and " << q.id << " columns";
        }
    }

    const std::vector<HWND> order = tabOrder(window, table);
    ASSERT_FALSE(order.empty());
    HWND at = order.back();
    for (HWND expected : order) {
        at = GetNextDlgTabItem(window, at, FALSE);
        EXPECT_EQ(at, expected) << "Tab to control " << GetDlgCtrlID(expected);
    }
}

}  // namespace testutil
