// The security-code dialog given the service's pictures as bytes (the stand-in's
// files), driven from a helper thread the way a user or the settings dialog would.
// mmsystem.h needs windows.h first.
// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "core/state.h"
#include "plugin/update_cycle.h"
#include "tests/win32/win32_test_util.h"
#include "ui/jpeg_image.h"
#include "ui/security_code_dialog.h"

using namespace nimbo;

namespace {

// One of the service stand-in's pictures, as the service would send it.
std::string picture(const std::string& size = "130x50") {
    std::string bytes;
    testutil::readFile(std::string("Z:") + NIMBO_PICTURE_DIR + "/captcha_" + size + ".jpg", bytes);
    return bytes;
}

// Only this process's windows: other test programs share the Wine desktop.
HWND findOurWindow(const wchar_t* caption) {
    HWND found = nullptr;
    while ((found = FindWindowExW(nullptr, found, nullptr, caption))) {
        DWORD process = 0;
        GetWindowThreadProcessId(found, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(found)) return found;
    }
    return nullptr;
}

RECT rectIn(HWND window, HWND parent) {
    RECT r;
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

struct ChildSeen {
    std::wstring className, text;
    RECT rect;
    DWORD style, exStyle;
    LOGFONTW font;
};

// What the helper thread saw while the dialog was up.
struct Seen {
    bool found = false;
    bool pendingWhileShown = false;
    bool pendingAtAnyTime = false;
    HWND dialog = nullptr, owner = nullptr, published = nullptr;
    RECT window = {};
    DWORD style = 0;
    std::wstring caption, ownerCaption;
    std::vector<ChildSeen> children;
    bool tabEditToButton = false, tabButtonToEdit = false;
};

std::wstring textOf(HWND window) {
    wchar_t buffer[256] = {0};
    GetWindowTextW(window, buffer, 256);
    return buffer;
}

void describe(HWND dialog, Seen& seen) {
    seen.dialog = dialog;
    seen.published = securityCodeWindow();
    seen.pendingWhileShown = securityCodePending;
    GetWindowRect(dialog, &seen.window);
    seen.style = DWORD(GetWindowLongW(dialog, GWL_STYLE));
    seen.caption = textOf(dialog);
    seen.owner = GetWindow(dialog, GW_OWNER);
    seen.ownerCaption = textOf(seen.owner);
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        ChildSeen child = {};
        wchar_t name[64] = {0};
        GetClassNameW(c, name, 64);
        child.className = name;
        child.text = textOf(c);
        child.rect = rectIn(c, dialog);
        child.style = DWORD(GetWindowLongW(c, GWL_STYLE));
        child.exStyle = DWORD(GetWindowLongW(c, GWL_EXSTYLE));
        HFONT font = reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0));
        GetObjectW(font, sizeof child.font, &child.font);
        seen.children.push_back(child);
    }
}

// Runs `act` on a helper thread once the dialog is up, and closes the dialog itself
// should `act` leave it open, so a failing test cannot hang.
class Driver {
  public:
    explicit Driver(std::function<void(HWND, Seen&)> act) : act_(std::move(act)) {
        done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, run, this, 0, nullptr);
    }
    // Call after askSecurityCode returned.
    Seen finish() {
        SetEvent(done_);
        WaitForSingleObject(thread_, 30000);
        CloseHandle(thread_);
        CloseHandle(done_);
        return seen_;
    }

  private:
    static DWORD WINAPI run(void* self) {
        static_cast<Driver*>(self)->watch();
        return 0;
    }
    void watch() {
        const DWORD start = GetTickCount();
        HWND dialog = nullptr;
        while (!dialog && GetTickCount() - start < 20000) {
            if (securityCodePending) seen_.pendingAtAnyTime = true;
            if (WaitForSingleObject(done_, 20) == WAIT_OBJECT_0) return;
            dialog = findOurWindow(L"Security code");
        }
        if (!dialog) return;
        seen_.found = true;
        describe(dialog, seen_);
        act_(dialog, seen_);
        if (WaitForSingleObject(done_, 10000) == WAIT_TIMEOUT && IsWindow(dialog))
            PostMessageW(dialog, WM_CLOSE, 0, 0);
    }

    std::function<void(HWND, Seen&)> act_;
    Seen seen_;
    HANDLE done_ = nullptr;
    HANDLE thread_ = nullptr;
};

HWND child(HWND dialog, int index) {
    HWND c = GetWindow(dialog, GW_CHILD);
    for (int i = 0; c && i < index; ++i) c = GetWindow(c, GW_HWNDNEXT);
    return c;
}
HWND editOf(HWND dialog) {
    return child(dialog, 2);
}
HWND buttonOf(HWND dialog) {
    return child(dialog, 3);
}

void expectRect(const RECT& r, int left, int top, int width, int height, const char* what) {
    EXPECT_EQ(r.left, left) << what;
    EXPECT_EQ(r.top, top) << what;
    EXPECT_EQ(r.right - r.left, width) << what;
    EXPECT_EQ(r.bottom - r.top, height) << what;
}

class SecurityCode : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(picture().empty()) << NIMBO_PICTURE_DIR; }
    void TearDown() override {
        EXPECT_FALSE(securityCodePending);
        EXPECT_EQ(securityCodeWindow(), nullptr);
        EXPECT_EQ(findOurWindow(L"Security code"), nullptr);
    }
};

}  // namespace

TEST_F(SecurityCode, ShowsTheFixedLayoutAndReturnsTheTypedCode) {
    ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    ASSERT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
    Driver driver([](HWND dialog, Seen& seen) {
        seen.tabEditToButton = GetNextDlgTabItem(dialog, editOf(dialog), FALSE) == buttonOf(dialog);
        seen.tabButtonToEdit = GetNextDlgTabItem(dialog, buttonOf(dialog), FALSE) == editOf(dialog);
        SendMessageW(editOf(dialog), WM_SETTEXT, 0, LPARAM(L"Ab 12&x "));
        PostMessageW(buttonOf(dialog), BM_CLICK, 0, 0);
    });
    const std::string code = askSecurityCode(picture());
    const Seen seen = driver.finish();

    EXPECT_EQ(code, "Ab 12&x ");
    ASSERT_TRUE(seen.found);
    EXPECT_TRUE(seen.pendingWhileShown);
    EXPECT_EQ(seen.published, seen.dialog);
    EXPECT_EQ(seen.caption, L"Security code");
    expectRect(seen.window, 412, 296, 201, 175, "dialog");
    EXPECT_TRUE(seen.style & WS_CAPTION);
    EXPECT_FALSE(seen.style & (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    ASSERT_NE(seen.owner, nullptr);
    EXPECT_EQ(seen.ownerCaption, L"");
    EXPECT_FALSE(IsWindow(seen.dialog));
    EXPECT_FALSE(IsWindow(seen.owner));

    ASSERT_EQ(seen.children.size(), 4u);
    const struct {
        const wchar_t* className;
        const wchar_t* text;
        int left, top, width, height;
        LONG weight;
        bool tabStop;
    } want[] = {
        {L"Static", L"Please, enter security code:", 18, 8, 201, 16, FW_BOLD, false},
        {L"Static", L"", 32, 32, 130, 50, FW_NORMAL, false},
        {L"Edit", L"", 32, 88, 129, 21, FW_NORMAL, true},
        {L"Button", L"Ok", 56, 120, 81, 25, FW_NORMAL, true},
    };
    for (size_t i = 0; i < 4; ++i) {
        const ChildSeen& c = seen.children[i];
        const std::string what = "control " + std::to_string(i + 1);
        EXPECT_EQ(_wcsicmp(c.className.c_str(), want[i].className), 0) << what;
        EXPECT_EQ(c.text, want[i].text) << what;
        expectRect(c.rect, want[i].left, want[i].top, want[i].width, want[i].height, what.c_str());
        EXPECT_STREQ(c.font.lfFaceName, L"MS Sans Serif") << what;
        EXPECT_EQ(c.font.lfHeight, 15) << what;
        EXPECT_EQ(c.font.lfWeight, want[i].weight) << what;
        EXPECT_EQ((c.style & WS_TABSTOP) != 0, want[i].tabStop) << what;
    }
    EXPECT_TRUE(seen.children[0].style & SS_NOPREFIX);
    EXPECT_EQ(seen.children[0].style & SS_TYPEMASK, DWORD(SS_LEFTNOWORDWRAP));
    EXPECT_TRUE(seen.children[2].exStyle & WS_EX_CLIENTEDGE);
    EXPECT_TRUE(seen.children[2].style & ES_AUTOHSCROLL);
    EXPECT_FALSE(seen.children[2].style & (ES_PASSWORD | ES_MULTILINE));
    EXPECT_TRUE(seen.tabEditToButton);
    EXPECT_TRUE(seen.tabButtonToEdit);
}

namespace {

// The dialog's client area as it is on the screen (each test program has a display of
// its own session, so nothing else covers the centre), as top-down 32-bit pixels.
struct Capture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;

    COLORREF atClient(int x, int y) const {
        const uint32_t p = pixels[size_t(y * width + x)];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
};

BITMAPINFOHEADER header32(int width, int height) {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = -height;  // top-down
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    return header;
}

Capture capture(HWND dialog) {
    Capture c;
    RECT r;
    GetClientRect(dialog, &r);
    c.width = r.right;
    c.height = r.bottom;
    BITMAPINFO info = {};
    info.bmiHeader = header32(c.width, c.height);
    void* bits = nullptr;
    HDC window = GetDC(dialog);
    HDC memory = CreateCompatibleDC(window);
    HBITMAP bitmap = CreateDIBSection(window, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, c.width, c.height, window, 0, 0, SRCCOPY);
    GdiFlush();
    const auto* p = static_cast<const uint32_t*>(bits);
    c.pixels.assign(p, p + size_t(c.width) * size_t(c.height));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(dialog, window);
    return c;
}

// Kept beside the test program as a build artefact.
void saveBitmap(const Capture& c, const std::string& name) {
    const BITMAPINFOHEADER header = header32(c.width, c.height);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = DWORD(file.bfOffBits + c.pixels.size() * 4);
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&header), sizeof header);
    bytes.append(reinterpret_cast<const char*>(c.pixels.data()), c.pixels.size() * 4);
    testutil::writeFile(testutil::exeFolder() + name, bytes);
}

COLORREF pictureAt(const JpegPicture& p, int x, int y) {
    const uint8_t* px = &p.pixels[size_t(y * p.rowBytes + x * 3)];
    return RGB(px[2], px[1], px[0]);
}

}  // namespace

TEST_F(SecurityCode, PaintsThePictureUnscaledFromTheAreasTopLeft) {
    const int kAreaLeft = 32, kAreaTop = 32, kAreaWidth = 130, kAreaHeight = 50;
    for (const char* size : {"130x50", "200x70", "100x30"}) {
        SCOPED_TRACE(size);
        const std::string bytes = picture(size);
        const JpegPicture decoded = decodeJpeg(bytes);
        ASSERT_FALSE(decoded.empty());

        Capture shot;
        Driver driver([&shot](HWND dialog, Seen&) {
            Sleep(500);  // let the first paint happen
            shot = capture(dialog);
            PostMessageW(dialog, WM_CLOSE, 0, 0);
        });
        EXPECT_EQ(askSecurityCode(bytes), "");
        ASSERT_TRUE(driver.finish().found);
        ASSERT_FALSE(shot.pixels.empty());
        saveBitmap(shot, std::string("security_code_") + size + ".bmp");

        // A grid over the part of the picture that fits the area, pixel for pixel.
        const int w = std::min(decoded.width, kAreaWidth),
                  h = std::min(decoded.height, kAreaHeight);
        int mismatches = 0;
        for (int gy = 0; gy < 5; ++gy) {
            for (int gx = 0; gx < 7; ++gx) {
                const int x = gx * (w - 1) / 6, y = gy * (h - 1) / 4;
                if (shot.atClient(kAreaLeft + x, kAreaTop + y) != pictureAt(decoded, x, y)) {
                    ++mismatches;
                    ADD_FAILURE() << "pixel " << x << "," << y;
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

TEST_F(SecurityCode, EveryWayOfClosingReturnsTheTextTypedSoFar) {
    const struct {
        const char* how;
        const wchar_t* typed;
        std::function<void(HWND)> close;
        const char* want;
    } cases[] = {
        {"Ok with an empty edit box", nullptr,
         [](HWND dialog) { PostMessageW(buttonOf(dialog), BM_CLICK, 0, 0); }, ""},
        {"close request from another thread", L"77x",
         [](HWND) { PostMessageW(securityCodeWindow(), WM_CLOSE, 0, 0); }, "77x"},
        {"close request without a code", nullptr,
         [](HWND) { PostMessageW(securityCodeWindow(), WM_CLOSE, 0, 0); }, ""},
        {"text beyond the ANSI code page", L"a\u4E2Db",
         [](HWND dialog) { PostMessageW(buttonOf(dialog), BM_CLICK, 0, 0); }, "a?b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        Driver driver([&c](HWND dialog, Seen&) {
            if (c.typed) SendMessageW(editOf(dialog), WM_SETTEXT, 0, LPARAM(c.typed));
            c.close(dialog);
        });
        EXPECT_EQ(askSecurityCode(picture()), c.want);
        const Seen seen = driver.finish();
        EXPECT_TRUE(seen.found);
        EXPECT_FALSE(securityCodePending);
        EXPECT_FALSE(IsWindow(seen.dialog));
        EXPECT_FALSE(IsWindow(seen.owner));
    }
}

TEST_F(SecurityCode, QuitEndsTheDialogWithoutAnyMessage) {
    Driver driver([](HWND dialog, Seen&) {
        SendMessageW(editOf(dialog), WM_SETTEXT, 0, LPARAM(L"12"));
        // What quit does first; no tick runs in this program, so it returns at once.
        stopUpdateTimer(0);
    });
    const DWORD start = GetTickCount();
    const std::string code = askSecurityCode(picture());
    const bool quitSeen = quitRequested();
    // Back to "not quitting" for the tests that follow.
    timeKillEvent(startUpdateTimer());
    EXPECT_TRUE(driver.finish().found);
    EXPECT_TRUE(quitSeen);
    EXPECT_EQ(code, "12");
    EXPECT_LT(GetTickCount() - start, 8000u);
}

TEST_F(SecurityCode, NoWindowWhenThereIsNoPicture) {
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"an HTML page", "<html><body>login.php?op=logout</body></html>"},
        {"an empty body", ""},
        {"garbage", "\r\n\x01\x02 no picture here \xFF\xD8"},
        {"cut off in the middle", picture().substr(0, 400)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Driver driver([](HWND dialog, Seen&) { PostMessageW(dialog, WM_CLOSE, 0, 0); });
        EXPECT_EQ(askSecurityCode(c.bytes), "");
        const Seen seen = driver.finish();
        EXPECT_FALSE(seen.found);
        EXPECT_FALSE(seen.pendingAtAnyTime);
    }
}
