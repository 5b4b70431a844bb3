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
#include "tests/win32/service_test_util.h"
#include "tests/win32/table_window_check.h"
#include "tests/win32/win32_test_util.h"
#include "ui/control_ids.h"
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

// What the helper thread saw while the dialog was up.
struct Seen {
    bool found = false;
    bool pendingWhileShown = false;
    bool pendingAtAnyTime = false;
    bool closedByDriver = false;  // the window was still up 10 s after `act`
    HWND dialog = nullptr, owner = nullptr;
};

// Runs `act` on a helper thread once the dialog is up, and closes the dialog itself
// should `act` leave it open, so a failing test cannot hang.
class Driver {
  public:
    explicit Driver(std::function<void(HWND)> act) : act_(std::move(act)) {
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
        HWND dialog = testutil::waitForSecurityCodeWindow(20000, done_, &seen_.pendingAtAnyTime);
        if (!dialog) return;
        seen_.found = true;
        seen_.dialog = dialog;
        seen_.owner = GetWindow(dialog, GW_OWNER);
        seen_.pendingWhileShown = securityCodePending;
        EXPECT_EQ(findOurWindow(L"Security code"), dialog);
        act_(dialog);
        if (WaitForSingleObject(done_, 10000) == WAIT_TIMEOUT && IsWindow(dialog)) {
            seen_.closedByDriver = true;
            PostMessageW(dialog, WM_CLOSE, 0, 0);
        }
    }

    std::function<void(HWND)> act_;
    Seen seen_;
    HANDLE done_ = nullptr;
    HANDLE thread_ = nullptr;
};

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

TEST_F(SecurityCode, FollowsItsTableAndReturnsTheTypedCode) {
    Driver driver([](HWND dialog) {
        testutil::expectTableWindow(dialog, securityCodeWindowTable());
        const LONG style = GetWindowLongW(dialog, GWL_STYLE);
        EXPECT_TRUE(style & WS_CAPTION);
        EXPECT_FALSE(style & (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
        EXPECT_EQ(testutil::textOf(GetWindow(dialog, GW_OWNER)), L"");
        testutil::answerSecurityCode(dialog, L"Ab 12&x ");
    });
    const std::string code = askSecurityCode(picture());
    const Seen seen = driver.finish();

    EXPECT_EQ(code, "Ab 12&x ");
    ASSERT_TRUE(seen.found);
    EXPECT_TRUE(seen.pendingWhileShown);
    ASSERT_NE(seen.owner, nullptr);
    EXPECT_FALSE(IsWindow(seen.dialog));
    EXPECT_FALSE(IsWindow(seen.owner));
}

namespace {

COLORREF pictureAt(const JpegPicture& p, int x, int y) {
    const uint8_t* px = &p.pixels[size_t(y * p.rowBytes + x * 3)];
    return RGB(px[2], px[1], px[0]);
}

// Of a grid over the part of the picture that fits `area`, the points that `shot` (the
// client area) does not show pixel for pixel from the area's top-left corner.
int mismatches(const testutil::Pixels& shot, const JpegPicture& picture, const RECT& area) {
    const int w = std::min<int>(picture.width, area.right - area.left),
              h = std::min<int>(picture.height, area.bottom - area.top);
    int wrong = 0;
    for (int gy = 0; gy < 5; ++gy) {
        for (int gx = 0; gx < 7; ++gx) {
            const int x = gx * (w - 1) / 6, y = gy * (h - 1) / 4;
            if (shot.data.empty() ||
                shot.at(area.left + x, area.top + y) != pictureAt(picture, x, y))
                ++wrong;
        }
    }
    return wrong;
}

}  // namespace

// The first paint is awaited by its outcome: the grid shows the picture, within 10 s.
TEST_F(SecurityCode, PaintsThePictureUnscaledFromTheAreasTopLeft) {
    for (const char* size : {"130x50", "200x70", "100x30"}) {
        SCOPED_TRACE(size);
        const std::string bytes = picture(size);
        const JpegPicture decoded = decodeJpeg(bytes);
        ASSERT_FALSE(decoded.empty());

        int wrong = -1;
        Driver driver([&](HWND dialog) {
            RECT area;
            GetWindowRect(GetDlgItem(dialog, kCodePicture), &area);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&area), 2);
            RECT client;
            GetClientRect(dialog, &client);
            const DWORD start = GetTickCount();
            do {
                HDC dc = GetDC(dialog);
                wrong = mismatches(testutil::capture(dc, 0, 0, client.right, client.bottom),
                                   decoded, area);
                ReleaseDC(dialog, dc);
            } while (wrong != 0 && GetTickCount() - start < 10000 && (Sleep(20), true));
            testutil::saveScreenshot(dialog,
                                     testutil::exeFolder() + "security_code_" + size + ".bmp");
            PostMessageW(dialog, WM_CLOSE, 0, 0);
        });
        EXPECT_EQ(askSecurityCode(bytes), "");
        ASSERT_TRUE(driver.finish().found);
        EXPECT_EQ(wrong, 0) << "picture pixels not shown where they belong";
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
         [](HWND dialog) { testutil::answerSecurityCode(dialog, nullptr); }, ""},
        {"close request from another thread", L"77x",
         [](HWND) { PostMessageW(securityCodeWindow(), WM_CLOSE, 0, 0); }, "77x"},
        {"close request without a code", nullptr,
         [](HWND) { PostMessageW(securityCodeWindow(), WM_CLOSE, 0, 0); }, ""},
        {"text beyond the ANSI code page", L"a\u4E2Db",
         [](HWND dialog) { testutil::answerSecurityCode(dialog, nullptr); }, "a?b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        Driver driver([&c](HWND dialog) {
            if (c.typed)
                SendMessageW(GetDlgItem(dialog, kCodeEdit), WM_SETTEXT, 0, LPARAM(c.typed));
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
    Driver driver([](HWND dialog) {
        SendMessageW(GetDlgItem(dialog, kCodeEdit), WM_SETTEXT, 0, LPARAM(L"12"));
        // What quit does first; no tick runs in this program, so it returns at once.
        stopUpdateTimer(0);
    });
    const std::string code = askSecurityCode(picture());
    const bool quitSeen = quitRequested();
    // Back to "not quitting" for the tests that follow.
    timeKillEvent(startUpdateTimer());
    const Seen seen = driver.finish();
    EXPECT_TRUE(seen.found);
    EXPECT_FALSE(seen.closedByDriver) << "the dialog waited on for a message";
    EXPECT_TRUE(quitSeen);
    EXPECT_EQ(code, "12");
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
        Driver driver([](HWND dialog) { PostMessageW(dialog, WM_CLOSE, 0, 0); });
        EXPECT_EQ(askSecurityCode(c.bytes), "");
        const Seen seen = driver.finish();
        EXPECT_FALSE(seen.found);
        EXPECT_FALSE(seen.pendingAtAnyTime);
    }
}
