// Settings changed while the plugin runs, with its modules linked in: a player
// stand-in without plugin plays Winamp's window (through the relay), and the service stand-in (its
// port in NIMBO_SERVICE_PORT) is reached through Winamp's proxy setting.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "net/http_client.h"
#include "plugin/plugin.h"
#include "plugin/update_cycle.h"
#include "core/settings.h"
#include "tests/win32/service_test_util.h"
#include "tests/win32/standin_process.h"
#include "tests/win32/win32_test_util.h"

using namespace nimbo;
using testutil::control;
using testutil::servicePort;

namespace {

const wchar_t kCookie[] = L"remixsid=5f2e8a91c04b";  // the value the service accepts

int occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Every logged request has one "seq" field; a set-activity one also has a
// "setactivity" parameter, the only place where that name stands in quotes.
int requestCount() {
    return occurrences(control("log"), "\"seq\":");
}
int setActivityCount() {
    return occurrences(control("log"), "\"setactivity\"");
}

int clearCount() {
    return occurrences(control("log"), "\"clearactivity\"");
}

bool waitFor(int (*count)(), int atLeast, DWORD timeoutMs) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(100)) {
        if (count() >= atLeast) return true;
    }
    return false;
}

bool waitForSetActivities(int count, DWORD timeoutMs = 10000) {
    return waitFor(setActivityCount, count, timeoutMs);
}

// More than two ticks, so a tick that would publish has had its chance.
void waitTwoTicks() {
    ASSERT_TRUE(testutil::waitForTicks(2));
}

void setEnabled(bool on) {
    editSettings([on](Settings& s) { s.Enabled = on; });
}

class RuntimeSettings : public ::testing::Test {
  protected:
    void SetUp() override {
        NIMBO_NEEDS(!servicePort().empty(), "the service stand-in (NIMBO_SERVICE_PORT)");
        ASSERT_TRUE(host_.ready());
        std::string ready;
        ASSERT_TRUE(player_.start(host_.exe(), L"--no-plugin", ready));
        relay_.reset(new standin::Relay(player_));
        ASSERT_TRUE(player_.send("add C:\\m\\one.ogg|A - One|100").ok);
        ASSERT_TRUE(player_.send("play 0").ok);
        ASSERT_NE(control("reset"), "");
    }

    void TearDown() override {
        if (running_) quit();
        player_.send("exit");
    }

    void start(const std::wstring& cookie) {
        std::string text =
            "[Winamp]\r\nproxy=127.0.0.1:" + servicePort() +
            "\r\n[Gen_Nimbo]\r\nEnabled=1\r\nNoLogin=1\r\nCookie=" + testutil::utf8(cookie) +
            "\r\nStatusMask=%title% %curstate%\r\n";
        ASSERT_TRUE(testutil::writeFile(testutil::besideIni(), text));
        ASSERT_EQ(0, init());
        running_ = true;
    }

    void pauseOrResume() { ASSERT_TRUE(player_.send("pause").ok); }

    standin::HostFolder host_{nullptr};
    standin::StandIn player_;
    std::unique_ptr<standin::Relay> relay_;  // Winamp's window, as the plugin sees it
    bool running_ = false;
};

TEST_F(RuntimeSettings, EnabledOffAndOnDuringOneTrackPublishesNothing) {
    start(kCookie);
    ASSERT_TRUE(waitForSetActivities(1));
    const int requests = requestCount();

    setEnabled(false);
    waitTwoTicks();
    setEnabled(true);
    waitTwoTicks();
    EXPECT_EQ(requests, requestCount());

    // The ticks run again: the next change publishes.
    pauseOrResume();
    EXPECT_TRUE(waitForSetActivities(2));
}

TEST_F(RuntimeSettings, ChangeWhileDisabledIsPublishedOnceEnabledAgain) {
    start(kCookie);
    ASSERT_TRUE(waitForSetActivities(1));

    setEnabled(false);
    pauseOrResume();
    waitTwoTicks();
    EXPECT_EQ(1, setActivityCount());

    // The remembered track and state were left alone, so the change still counts.
    setEnabled(true);
    EXPECT_TRUE(waitForSetActivities(2));
}

// What Winamp's menu item does: the switch, then publishingSwitched on the same thread.
TEST_F(RuntimeSettings, SwitchingOffClearsAtOnceAndSwitchingOnPublishesPastTheInterval) {
    start(kCookie);  // MinInterval: the default 5 s
    ASSERT_TRUE(waitForSetActivities(1));

    setEnabled(false);
    publishingSwitched(false);
    EXPECT_TRUE(waitFor(clearCount, 1, 2500));
    waitTwoTicks();
    EXPECT_EQ(1, clearCount());
    EXPECT_EQ(1, setActivityCount());

    // Same track, same state, a clear less than 5 s ago: it goes out all the same.
    setEnabled(true);
    publishingSwitched(true);
    EXPECT_TRUE(waitForSetActivities(2, 2500));
    waitTwoTicks();
    EXPECT_EQ(2, setActivityCount());
}

TEST_F(RuntimeSettings, EmptyCookiePublishesNothingUntilTheNextChangeAfterItIsSet) {
    start(L"");
    waitTwoTicks();
    EXPECT_EQ(0, requestCount());

    editSettings([](Settings& s) { s.Cookie = kCookie; });
    waitTwoTicks();
    EXPECT_EQ(0, requestCount());

    pauseOrResume();
    EXPECT_TRUE(waitForSetActivities(1));
    EXPECT_EQ(2, requestCount());  // the hash, then the status
    EXPECT_NE(std::string::npos, control("status").find("\"status\": \"One paused\""));
}

}  // namespace
