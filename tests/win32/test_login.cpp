// The login against the service stand-in (its port in NIMBO_SERVICE_PORT, reached
// through Winamp's proxy setting) under Windows-1251. A helper thread plays the user:
// it answers the security-code dialog, and catches any message box, which the login
// itself must never show: the update cycle turns its outcome into one.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/platform.h"
#include "net/http_client.h"
#include "net/login.h"
#include "plugin/messages.h"
#include "core/settings.h"
#include "core/state.h"
#include "tests/win32/service_test_util.h"
#include "tests/win32/win32_test_util.h"
#include "ui/security_code_dialog.h"

using namespace nimbo;
using testutil::closedPort;
using testutil::control;
using testutil::servicePort;
using testutil::useProxy;

namespace {

const char kFirstLogin[] =
    "/login.php?email=%75%73%65%72%40%65%78%61%6D%70%6C%65%2E%63%6F%6D"
    "&pass=%73%65%63%72%65%74";
const char kCodeLoginStart[] =
    "/login.php?success_url=&fail_url=&try_to_login=1"
    "&email=%75%73%65%72%40%65%78%61%6D%70%6C%65%2E%63%6F%6D&pass=%73%65%63%72%65%74";
const char kCaptcha[] = "/captcha.php?sid=123456";
const wchar_t kServiceCookie[] = L"remixsid=5f2e8a91c04b";

// Path and query of every logged request (the proxy sees the absolute form; how the
// client writes scheme, host and port is not the login's business), JSON escapes
// undone (the targets are ASCII).
std::vector<std::string> loggedTargets() {
    const std::string log = control("log");
    const std::string key = "\"target\": \"";
    std::vector<std::string> targets;
    for (size_t at = log.find(key); at != std::string::npos; at = log.find(key, at)) {
        std::string target;
        for (at += key.size(); at < log.size() && log[at] != '"'; ++at) {
            if (log[at] == '\\' && at + 1 < log.size()) ++at;
            target += log[at];
        }
        const size_t scheme = target.find("://");
        if (scheme != std::string::npos) target.erase(0, target.find('/', scheme + 3));
        targets.push_back(target);
    }
    return targets;
}

// What the user does when the security-code dialog comes up.
enum class Answer { closeEmpty, type };

// Plays the user while logIn runs on the test's thread: answers the security-code
// dialog, and reads and dismisses every message box that thread shows.
class User {
  public:
    explicit User(Answer answer = Answer::closeEmpty, const wchar_t* code = L"")
        : answer_(answer), code_(code), loginThread_(GetCurrentThreadId()) {
        done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, run, this, 0, nullptr);
    }
    void finish() {
        SetEvent(done_);
        WaitForSingleObject(thread_, 30000);
        CloseHandle(thread_);
        CloseHandle(done_);
    }
    std::vector<std::wstring> boxes;
    int dialogs = 0;

  private:
    static DWORD WINAPI run(void* self) {
        static_cast<User*>(self)->watch();
        return 0;
    }
    static BOOL CALLBACK findBox(HWND window, LPARAM found) {
        wchar_t name[16] = {0};
        GetClassNameW(window, name, 16);
        if (wcscmp(name, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    void watch() {
        HWND answered = nullptr;
        while (WaitForSingleObject(done_, 20) == WAIT_TIMEOUT) {
            HWND dialog = securityCodeWindow();
            if (dialog && dialog != answered) {
                answered = dialog;
                ++dialogs;
                testutil::answerSecurityCode(dialog, answer_ == Answer::type ? code_ : nullptr);
            }
            HWND box = nullptr;
            EnumThreadWindows(loginThread_, findBox, reinterpret_cast<LPARAM>(&box));
            if (box) {
                wchar_t text[256] = {0};
                GetDlgItemTextW(box, 0xFFFF, text, 256);  // a message box's text control
                boxes.push_back(text);
                SendMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
                while (IsWindow(box)) Sleep(20);
            }
        }
    }

    Answer answer_;
    const wchar_t* code_;
    DWORD loginThread_;
    HANDLE done_ = nullptr;
    HANDLE thread_ = nullptr;
};

class Login : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(ansiCodePage(), 1251u) << "run under LC_ALL=ru_RU.UTF-8";
        NIMBO_NEEDS(!servicePort().empty(), "the service stand-in (NIMBO_SERVICE_PORT)");
        ASSERT_NE(control("reset"), "");
        useProxy("127.0.0.1:" + servicePort());
        setCredentials(L"user@example.com", L"secret", false);
    }
    void TearDown() override {
        EXPECT_FALSE(securityCodePending);
        EXPECT_EQ(securityCodeWindow(), nullptr);
    }

    void setCredentials(const std::wstring& email, const std::wstring& password, bool showErrors) {
        editSettings([&](Settings& s) {
            s.NoLogin = false;
            s.Cookie.clear();
            s.AuthLogin = email;
            s.AuthPass = password;
            s.ShowErrors = showErrors;
        });
    }

    // logIn with a user at hand, through the security-code window; never a box.
    Outcome logInAs(User& user) {
        // The prompt gets the picture's bytes, fetched by the login itself.
        const Outcome result = logIn([this](const std::string& bytes) {
            pictures.push_back(bytes);
            return askSecurityCode(bytes);
        });
        user.finish();
        EXPECT_TRUE(user.boxes.empty());
        return result;
    }

    // The message the update cycle shows for a login outcome, or "" for none.
    static std::wstring messageAfter(const Outcome& outcome) {
        const wchar_t* text =
            messageFor(ReportedStep::logIn, outcome, currentSettings().ShowErrors);
        return text ? text : L"";
    }

    std::vector<std::string> pictures;

    void expectUnchanged(const std::wstring& password = L"secret") {
        const Settings s = currentSettings();
        EXPECT_FALSE(s.NoLogin);
        EXPECT_EQ(s.Cookie, L"");
        EXPECT_EQ(s.AuthLogin, L"user@example.com");
        EXPECT_EQ(s.AuthPass, password);
    }

    void expectLoggedIn() {
        const Settings s = currentSettings();
        EXPECT_TRUE(s.NoLogin);
        EXPECT_EQ(s.Cookie, kServiceCookie);
        EXPECT_EQ(s.AuthLogin, L"");
        EXPECT_EQ(s.AuthPass, L"");
    }
};

struct CookieCase {
    const char* name;
    std::vector<std::string> headers;
    const char* cookie;  // null: no usable cookie
};

// The site's session cookie out of a login reply's header lines.
TEST(LoginCookie, Rules) {
    const CookieCase cases[] = {
        {"redirect with cookie",
         {"HTTP/1.1 302 Found", "Location: /id1",
          "Set-Cookie: remixsid=0123abcd; expires=Mon, 01-Jan-2030 00:00:00 GMT; path=/", ""},
         "remixsid=0123abcd"},
        {"value trimmed", {"HTTP/1.1 200 OK", "Set-Cookie: remixsid= v1 ;", ""}, "remixsid=v1"},
        {"deleted", {"HTTP/1.1 302 Found", "Set-Cookie: remixsid=deleted; path=/", ""}, nullptr},
        {"lower-case header", {"HTTP/1.1 302", "set-cookie: remixsid=abc;", ""}, nullptr},
        {"missing", {"HTTP/1.1 200 OK", "Content-Type: text/html", ""}, nullptr},
        {"no '='", {"HTTP/1.1 200", "Set-Cookie: remixsid", "X: =v;", ""}, nullptr},
        // The value ends at its line's end when no ";" comes first.
        {"no ';' in the last line", {"HTTP/1.1 200", "Set-Cookie: remixsid=abc"}, "remixsid=abc"},
        {"no ';', another cookie after",
         {"HTTP/1.1 302", "Set-Cookie: remixsid=V", "Set-Cookie: remixlang=0; path=/", ""},
         "remixsid=V"},
        {"an old session removed first",
         {"HTTP/1.1 302", "Set-Cookie: remixsid=deleted; expires=Thu, 01-Jan-1970 00:00:01 GMT",
          "Set-Cookie: remixsid=5f2e; path=/", ""},
         "remixsid=5f2e"},
        {"empty value", {"HTTP/1.1 302", "Set-Cookie: remixsid=; path=/"}, nullptr},
        {"a cookie whose name only begins so",
         {"HTTP/1.1 302", "Set-Cookie: remixsidx=1;"},
         nullptr},
        {"removed last",
         {"HTTP/1.1 302", "Set-Cookie: remixsid=5f2e;", "Set-Cookie: remixsid=deleted;"},
         nullptr},
        {"<br> is no line break",
         {"HTTP/1.1 302", "Set-Cookie: remixsid=a<br>b;"},
         "remixsid=a<br>b"},
        // Values that read like the old failure texts are values.
        {"value None", {"HTTP/1.1 302", "Set-Cookie: remixsid=None;", ""}, "remixsid=None"},
        {"value err", {"HTTP/1.1 302", "Set-Cookie: remixsid=err;", ""}, "remixsid=err"},
        {"only Set-Cookie lines count",
         {"HTTP/1.1 200", "X-Note: remixsid=first;", "Set-Cookie: remixsid=2;"},
         "remixsid=2"},
    };
    for (const CookieCase& c : cases) {
        const std::optional<std::string> expected =
            c.cookie ? std::optional<std::string>(c.cookie) : std::nullopt;
        EXPECT_EQ(loginCookie(c.headers), expected) << c.name;
    }
}

const wchar_t kIncorrect[] = L"Vkontakte tags updating error : Incorrect login data";
const wchar_t kNoConnectionText[] = L"Vkontakte tags updating error : No connection";

}  // namespace

TEST_F(Login, RightCredentialsStoreTheCookieAfterOneRequest) {
    User user;
    const Outcome outcome = logInAs(user);
    EXPECT_EQ(outcome.kind, OutcomeKind::done);
    EXPECT_EQ(messageAfter(outcome), L"");
    EXPECT_EQ(loggedTargets(), std::vector<std::string>{kFirstLogin});
    EXPECT_EQ(user.dialogs, 0);
    EXPECT_TRUE(pictures.empty());
    expectLoggedIn();
}

TEST_F(Login, CyrillicPasswordGoesOutAsItsCp1251Bytes) {
    // "пароль" in UTF-8 for the control request; the service compares cp1251 bytes.
    ASSERT_NE(control("config?password=%D0%BF%D0%B0%D1%80%D0%BE%D0%BB%D1%8C"), "");
    setCredentials(L"user@example.com", L"\u043F\u0430\u0440\u043E\u043B\u044C", false);
    User user;
    EXPECT_TRUE(logInAs(user));
    const std::vector<std::string> targets = loggedTargets();
    ASSERT_EQ(targets.size(), 1u);
    const std::string tail = "&pass=%EF%E0%F0%EE%EB%FC";
    EXPECT_EQ(targets[0].substr(targets[0].size() - tail.size()), tail);
    expectLoggedIn();
}

TEST_F(Login, WrongPasswordIsReportedOnlyWhenErrorsAreShown) {
    const struct {
        const char* wrongLogin;  // how the service refuses
        bool showErrors;
        int boxes;
    } cases[] = {
        {"deleted", false, 0},
        {"deleted", true, 1},
        {"none", false, 0},
        {"none", true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.wrongLogin) + (c.showErrors ? " shown" : " hidden"));
        ASSERT_NE(control(std::string("reset")), "");
        ASSERT_NE(control(std::string("config?wrong_login=") + c.wrongLogin), "");
        setCredentials(L"user@example.com", L"wrong pass", c.showErrors);
        User user;
        const Outcome outcome = logInAs(user);
        EXPECT_EQ(outcome.kind, OutcomeKind::loginRejected);
        EXPECT_EQ(messageAfter(outcome), c.boxes ? kIncorrect : L"");
        EXPECT_EQ(loggedTargets().size(), 1u);
        expectUnchanged(L"wrong pass");
    }
}

TEST_F(Login, ServiceDownIsAlwaysReported) {
    useProxy("127.0.0.1:" + closedPort());
    setCredentials(L"user@example.com", L"secret", false);
    User user;
    const Outcome outcome = logInAs(user);
    EXPECT_EQ(outcome.kind, OutcomeKind::noConnection);
    EXPECT_EQ(outcome.step, NetStep::connect);
    EXPECT_EQ(outcome.stepEnd, StepEnd::failed);
    EXPECT_EQ(messageAfter(outcome), kNoConnectionText);
    expectUnchanged();
}

// A picture that shows nothing is as good as a dialog closed empty.
TEST_F(Login, SecurityCodeNotGivenEndsTheAttemptQuietly) {
    const struct {
        const char* what;
        const char* pictureRule;  // a misbehaviour rule for the picture request, or none
        int dialogs;
    } cases[] = {
        {"dialog closed empty", nullptr, 1},
        {"picture with an empty body", "mode?mode=empty&path=/captcha.php", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NE(control("reset"), "");
        ASSERT_NE(control("config?captcha=1"), "");
        if (c.pictureRule) {
            ASSERT_NE(control(c.pictureRule), "");
        }
        pictures.clear();
        User user(Answer::closeEmpty);
        const Outcome outcome = logInAs(user);
        EXPECT_EQ(outcome.kind, OutcomeKind::codeCancelled);
        EXPECT_EQ(messageAfter(outcome), L"");
        EXPECT_EQ(user.dialogs, c.dialogs);
        EXPECT_EQ(pictures.size(), 1u);
        EXPECT_EQ(loggedTargets(), (std::vector<std::string>{kFirstLogin, kCaptcha}));
        expectUnchanged();
    }
}

TEST_F(Login, WrongSecurityCodeEndsTheAttemptQuietly) {
    ASSERT_NE(control("config?captcha=1"), "");
    User user(Answer::type, L"a b&c#d");
    const Outcome outcome = logInAs(user);
    EXPECT_EQ(outcome.kind, OutcomeKind::wrongCode);
    EXPECT_EQ(messageAfter(outcome), L"");
    const std::vector<std::string> targets = loggedTargets();
    ASSERT_EQ(targets.size(), 3u);
    // A typed code goes whole, its bytes other than letters, digits and -._~ encoded.
    EXPECT_EQ(targets[2], std::string(kCodeLoginStart) + "&csid=\"987\"&ccode=a%20b%26c%23d");
    expectUnchanged();

    // Nothing survives: the next attempt starts over with the first login request.
    User again(Answer::type, L"4821");
    EXPECT_TRUE(logInAs(again));
    const std::vector<std::string> later = loggedTargets();
    ASSERT_EQ(later.size(), 6u);
    EXPECT_EQ(later[3], kFirstLogin);
}

TEST_F(Login, RightSecurityCodeLogsIn) {
    ASSERT_NE(control("config?captcha=1"), "");
    User user(Answer::type, L"4821");
    EXPECT_TRUE(logInAs(user));
    // The prompt got the picture itself: a whole JPEG, start and end markers included.
    ASSERT_EQ(pictures.size(), 1u);
    ASSERT_GT(pictures[0].size(), 4u);
    EXPECT_EQ(pictures[0].substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(pictures[0].substr(pictures[0].size() - 2), "\xFF\xD9");
    const std::vector<std::string> targets = loggedTargets();
    ASSERT_EQ(targets.size(), 3u);
    EXPECT_EQ(targets[0], kFirstLogin);
    EXPECT_EQ(targets[1], kCaptcha);
    // csid goes in with the quotes the page wrote around it, the code as typed.
    EXPECT_EQ(targets[2], std::string(kCodeLoginStart) + "&csid=\"987\"&ccode=4821");
    expectLoggedIn();
}
