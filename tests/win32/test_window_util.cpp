// The pieces both windows share, on their own: the half rule and centring, fonts,
// class registration, control colours and texts, and the keys of a plain window's
// tab stops (a host loop without IsDialogMessage).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/win32/win32_test_util.h"
#include "ui/window_util.h"

using namespace nimbo;
using testutil::press;
using testutil::pump;
using testutil::setShift;

namespace {

TEST(Half, TakesExactHalvesToTheEvenNeighbour) {
    // clang-format off
    const struct { int n, half; } cases[] = {
        {0, 0}, {1, 0}, {2, 1}, {3, 2}, {5, 2}, {7, 4}, {175, 88}, {297, 148}, {298, 149},
        {377, 188}, {378, 189}, {379, 190}, {-1, 0}, {-3, -2}, {-5, -2}, {-7, -4},
    };
    // clang-format on
    for (auto c : cases) EXPECT_EQ(half(c.n), c.half) << c.n;
    for (int n = -2001; n <= 2001; ++n) {
        const int h = half(n);
        ASSERT_LE(std::abs(2 * h - n), 1) << n;
        if (n % 2 != 0) {
            ASSERT_EQ(h % 2, 0) << n << " is an exact half away from " << h;
        }
    }
}

// The Wine session's screen is 1024 x 768, so the origins are figures worked by hand:
// 512 - half(width), 384 - half(height).
TEST(CentredOrigin, CentresByTheHalfRule) {
    ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    ASSERT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
    // clang-format off
    const struct { int width, height, x, y; } cases[] = {
        {378, 298, 323, 235}, {377, 297, 324, 236}, {379, 175, 322, 296}, {201, 175, 412, 296},
        {1024, 768, 0, 0}, {1100, 800, -38, -16},
    };
    // clang-format on
    for (auto c : cases) {
        const POINT origin = centredOrigin(c.width, c.height);
        EXPECT_EQ(origin.x, c.x) << c.width;
        EXPECT_EQ(origin.y, c.y) << c.height;
    }
}

TEST(MakeFont, GivesTheAskedFontAndFreesIt) {
    const std::wstring longFace(40, L'x');  // longer than a LOGFONT holds
    const struct {
        const wchar_t* face;
        int height, weight;
        bool underline;
    } cases[] = {{L"MS Shell Dlg 2", 15, FW_BOLD, true},
                 {L"MS Sans Serif", 13, FW_NORMAL, false},
                 {longFace.c_str(), 20, FW_NORMAL, false}};
    for (auto c : cases) {
        Font font = makeFont(c.face, c.height, c.weight, c.underline);
        ASSERT_NE(font.get(), nullptr);
        LOGFONTW lf = {};
        ASSERT_EQ(GetObjectW(font.get(), sizeof lf, &lf), int(sizeof lf));
        EXPECT_EQ(std::wstring(lf.lfFaceName), std::wstring(c.face).substr(0, LF_FACESIZE - 1));
        EXPECT_EQ(lf.lfHeight, c.height);
        EXPECT_EQ(lf.lfWeight, c.weight);
        EXPECT_EQ(lf.lfUnderline != 0, c.underline);
        EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
        HFONT handle = font.get();
        font.reset();
        EXPECT_EQ(GetObjectType(handle), 0u) << "the font outlived its owner";
    }
}

TEST(ControlColours, SetTheTextOnASystemBackgroundWithoutANewBrush) {
    for (int background : {COLOR_BTNFACE, COLOR_WINDOW}) {
        HDC dc = CreateCompatibleDC(nullptr);
        LRESULT brush = controlColours(dc, RGB(1, 2, 3), background);
        EXPECT_EQ(GetTextColor(dc), RGB(1, 2, 3));
        EXPECT_EQ(GetBkColor(dc), GetSysColor(background));
        // The system's own brush: nothing for the window to free.
        EXPECT_EQ(reinterpret_cast<HBRUSH>(brush), GetSysColorBrush(background));
        DeleteDC(dc);
    }
}

LRESULT CALLBACK firstProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return DefWindowProcW(w, m, wp, lp);
}
LRESULT CALLBACK secondProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return DefWindowProcW(w, m, wp, lp);
}

// A class left registered (by a module that kept its windows, or an earlier open) is
// replaced while no window uses it, and kept while one does.
TEST(RegisterWindowClass, ReplacesAnUnusedClassAndKeepsOneInUse) {
    const wchar_t name[] = L"NimboUtilClass";
    ASSERT_TRUE(registerWindowClass(name, firstProc, nullptr));
    ASSERT_TRUE(registerWindowClass(name, secondProc, nullptr));
    HWND w = CreateWindowExW(0, name, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             moduleInstance(), nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(GetWindowLongPtrW(w, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(secondProc));
    EXPECT_TRUE(registerWindowClass(name, firstProc, nullptr)) << "in use: kept, not failed";
    EXPECT_EQ(GetClassLongPtrW(w, GCLP_WNDPROC), reinterpret_cast<ULONG_PTR>(secondProc));
    EXPECT_EQ(GetClassLongPtrW(w, GCLP_HCURSOR),
              reinterpret_cast<ULONG_PTR>(LoadCursorW(nullptr, MAKEINTRESOURCEW(32512))));
    DestroyWindow(w);
    EXPECT_TRUE(UnregisterClassW(name, moduleInstance()));
}

const wchar_t kHostClass[] = L"NimboTabStopsHost";

// A plain window answers WM_NEXTDLGCTL through moveFocus, as both windows do.
LRESULT CALLBACK hostProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_NEXTDLGCTL) {
        moveFocus(w, wp, lp);
        return 0;
    }
    return DefWindowProcW(w, m, wp, lp);
}

// A line box, a radio pair, a multi-line box and a button, each a tab stop handled by
// handleDialogKeys, pumped by a loop that never calls IsDialogMessage.
class TabStops : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(registerWindowClass(kHostClass, hostProc, nullptr));
        host = CreateWindowExW(0, kHostClass, L"tab stops", WS_OVERLAPPED | WS_VISIBLE, 10, 10, 300,
                               200, nullptr, nullptr, moduleInstance(), nullptr);
        ASSERT_NE(host, nullptr);
        line = add(L"EDIT", ES_AUTOHSCROLL | WS_GROUP, 0);
        first = add(L"BUTTON", BS_AUTORADIOBUTTON | WS_GROUP, 30);
        second = add(L"BUTTON", BS_AUTORADIOBUTTON, 60);
        box = add(L"EDIT", ES_MULTILINE | ES_WANTRETURN | WS_VSCROLL | WS_GROUP, 90);
        button = add(L"BUTTON", BS_PUSHBUTTON | WS_GROUP, 130);
        // Tab and the arrows follow the Z order: stack the stops in their order.
        HWND above = HWND_TOP;
        for (HWND c : {line, first, second, box, button}) {
            handleDialogKeys(c);
            SetWindowPos(c, above, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            above = c;
        }
        // Checking moves WS_TABSTOP to the checked radio button and off the other.
        setChecked(first, true);
        setChecked(second, false);
        SetForegroundWindow(host);
        pump();
    }
    void TearDown() override {
        setShift(false);
        DestroyWindow(host);
        UnregisterClassW(kHostClass, moduleInstance());
    }

    HWND add(const wchar_t* cls, DWORD style, int top) {
        return CreateWindowExW(0, cls, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 5, top, 200,
                               25, host, nullptr, moduleInstance(), nullptr);
    }
    std::string name(HWND w) const {
        const HWND all[] = {line, first, second, box, button};
        const char* names[] = {"line", "first", "second", "box", "button"};
        for (int i = 0; i < 5; ++i) {
            if (all[i] == w) return names[i];
        }
        return "another window";
    }
    HWND host = nullptr, line = nullptr, first = nullptr, second = nullptr, box = nullptr,
         button = nullptr;
};

TEST_F(TabStops, TabAndShiftTabMoveThroughTheStopsOutOfAMultiLineBoxToo) {
    SetFocus(line);
    // The radio group is entered at its checked button.
    for (HWND next : {first, box, button, line}) {
        press(VK_TAB);
        EXPECT_EQ(name(GetFocus()), name(next));
    }
    setShift(true);
    for (HWND next : {button, box, first, line}) {
        press(VK_TAB);
        EXPECT_EQ(name(GetFocus()), name(next));
    }
    setShift(false);
    // Handled twice, a control still moves the focus once per Tab.
    handleDialogKeys(line);
    press(VK_TAB);
    EXPECT_EQ(name(GetFocus()), "first");
}

TEST_F(TabStops, ArrowsMoveWithinTheRadioGroupAndCheck) {
    SetFocus(first);
    const struct {
        int key;
        HWND focus;
    } steps[] = {{VK_RIGHT, second}, {VK_DOWN, first}, {VK_UP, second}, {VK_LEFT, first}};
    for (auto s : steps) {
        press(s.key);
        EXPECT_EQ(GetFocus(), s.focus) << s.key;
        EXPECT_TRUE(isChecked(s.focus)) << s.key;
        EXPECT_FALSE(isChecked(s.focus == first ? second : first)) << s.key;
    }
    // Outside a radio group the arrows are the control's own.
    SetFocus(box);
    press(VK_DOWN);
    EXPECT_EQ(GetFocus(), box);
}

TEST_F(TabStops, TabCharactersAreNeverTyped) {
    for (HWND edit : {line, box}) {
        SetWindowTextW(edit, L"");
        SetFocus(edit);
        for (wchar_t ch : {L'a', L'\t', L'b'}) PostMessageW(edit, WM_CHAR, ch, 1);
        pump();
        EXPECT_EQ(windowText(edit), L"ab");
    }
}

TEST_F(TabStops, MovingToAGivenBoxSelectsItsWholeText) {
    // Longer than any buffer a reader might guess.
    const std::wstring longText(70000, L'x');
    SendMessageW(line, EM_SETLIMITTEXT, 0, 0);
    SetWindowTextW(line, longText.c_str());
    EXPECT_EQ(windowText(line), longText);
    SetWindowTextW(box, L"first\r\nsecond");
    EXPECT_EQ(windowText(button), L"");

    SetFocus(button);
    for (HWND edit : {line, box}) {
        SendMessageW(host, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
        EXPECT_EQ(GetFocus(), edit);
        DWORD start = 1, end = 0;
        SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                     reinterpret_cast<LPARAM>(&end));
        EXPECT_EQ(start, 0u);
        EXPECT_EQ(end, DWORD(windowText(edit).size()));
    }
    SendMessageW(host, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
    EXPECT_EQ(GetFocus(), button);
}

}  // namespace
