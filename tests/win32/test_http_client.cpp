// The Winsock client against a loopback server thread inside this program.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

#include "common/md5.h"
#include "net/http_client.h"
#include "net/lastfm.h"
#include "core/settings.h"
#include "core/state.h"
#include "plugin/messages.h"
#include "tests/win32/service_test_util.h"

using namespace nimbo;
using testutil::closedPort;

namespace {

const char kUa[] = "User-Agent: Opera/9.20 (Windows NT 5.1; U; ru)\r\n";

using Text = std::optional<std::string>;

// A failed exchange: which step failed and how, and no value.
template <typename T>
void expectFailed(const Result<T>& result, NetStep step, StepEnd how, const char* what = "") {
    EXPECT_EQ(result.outcome.kind, OutcomeKind::noConnection) << what;
    EXPECT_EQ(result.outcome.step, step) << what;
    EXPECT_EQ(result.outcome.stepEnd, how) << what;
    EXPECT_FALSE(result.value.has_value()) << what;
}

enum class After { holdOpen, reset, neverAnswer };

// Accepts one connection, records the request up to its empty line, answers with
// `reply`, then keeps the connection open until the client closes it, or resets it.
class LoopbackServer {
  public:
    // On 127.0.0.1, or with `ipv6` on ::1.
    LoopbackServer(std::string reply, After after, bool ipv6 = false)
        : reply_(std::move(reply)), after_(after) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in6 address6 = {};
        address6.sin6_family = AF_INET6;
        address6.sin6_addr = in6addr_loopback;
        sockaddr_in address4 = {};
        address4.sin_family = AF_INET;
        address4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        auto* address =
            ipv6 ? reinterpret_cast<sockaddr*>(&address6) : reinterpret_cast<sockaddr*>(&address4);
        int size = ipv6 ? sizeof(address6) : sizeof(address4);
        bind(listener_, address, size);
        listen(listener_, 1);
        getsockname(listener_, address, &size);
        port_ = ntohs(ipv6 ? address6.sin6_port : address4.sin_port);
        thread_ = CreateThread(nullptr, 0, &LoopbackServer::run, this, 0, nullptr);
    }
    ~LoopbackServer() {
        finish();
        closesocket(listener_);
        WSACleanup();
    }

    std::string port() const { return std::to_string(port_); }
    std::string url(const std::string& path) const { return "127.0.0.1:" + port() + path; }

    // Waits for the server thread, then hands out the bytes it received.
    const std::string& request() {
        finish();
        return request_;
    }

  private:
    static DWORD WINAPI run(void* self) {
        static_cast<LoopbackServer*>(self)->serve();
        return 0;
    }

    static bool readable(SOCKET s, int milliseconds) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval limit = {milliseconds / 1000, (milliseconds % 1000) * 1000};
        return select(0, &set, nullptr, nullptr, &limit) == 1;
    }

    void serve() {
        if (!readable(listener_, 20000)) return;
        SOCKET peer = accept(listener_, nullptr, nullptr);
        if (peer == INVALID_SOCKET) return;
        char buffer[4096];
        while (request_.find("\r\n\r\n") == std::string::npos && readable(peer, 20000)) {
            int n = recv(peer, buffer, sizeof(buffer), 0);
            if (n <= 0) break;
            request_.append(buffer, n);
        }
        if (after_ != After::neverAnswer) send(peer, reply_.data(), int(reply_.size()), 0);
        if (after_ == After::reset) {
            Sleep(300);
            linger abortive = {1, 0};
            setsockopt(peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&abortive),
                       sizeof(abortive));
        } else {
            // Until the client closes: the client must not wait for us.
            while (readable(peer, 20000) && recv(peer, buffer, sizeof(buffer), 0) > 0) {
            }
        }
        closesocket(peer);
    }

    void finish() {
        if (thread_) {
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
            thread_ = nullptr;
        }
    }

    std::string reply_;
    After after_;
    SOCKET listener_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    HANDLE thread_ = nullptr;
    std::string request_;
};

// A resolver that holds every look-up until the test lets it go (20 s at most).
HANDLE gReleaseLookups = CreateEventW(nullptr, TRUE, FALSE, nullptr);
bool slowLookup(const std::string&, unsigned long&) {
    WaitForSingleObject(gReleaseLookups, 20000);
    return false;
}

// Raises the quit signal from another thread after a while, as Winamp's quit would.
class QuitLater {
  public:
    explicit QuitLater(DWORD afterMs) : afterMs_(afterMs) {
        thread_ = CreateThread(nullptr, 0, &QuitLater::run, this, 0, nullptr);
    }
    ~QuitLater() {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        setQuitRequested(false);
    }

  private:
    static DWORD WINAPI run(void* self) {
        Sleep(static_cast<QuitLater*>(self)->afterMs_);
        setQuitRequested(true);
        return 0;
    }
    DWORD afterMs_;
    HANDLE thread_;
};

class HttpClient : public testing::Test {
  protected:
    void SetUp() override {
        resetSettingsForTest();
        ResetEvent(gReleaseLookups);
        setHostLookupForTest(slowLookup);
    }
    void TearDown() override {
        SetEvent(gReleaseLookups);
        setHostLookupForTest(nullptr);
        setQuitRequested(false);
        resetSettingsForTest();
    }
};

TEST_F(HttpClient, ContentLengthReplyEndsWithoutWaitingForTheClose) {
    LoopbackServer server("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello", After::holdOpen);
    HttpReply reply;
    const Outcome outcome = httpExchange(server.url("/profile.php"),
                                         std::string("c=1; remixlang=0"), ProxyParts(), reply);
    ASSERT_TRUE(outcome.ok());
    // Complete, not timed out: the Content-Length ended it while the server held on.
    EXPECT_EQ(outcome.replyEnd, ReplyEnd::complete);
    EXPECT_EQ(reply.statusCode, 200);
    EXPECT_EQ(reply.body, "hello");
    EXPECT_EQ(server.request(), "GET /profile.php HTTP/1.0\r\nHost: 127.0.0.1:" + server.port() +
                                    "\r\nCookie: c=1; remixlang=0\r\n" + kUa + "\r\n");
}

TEST_F(HttpClient, ProxyGetsAbsoluteFormAndAuthorization) {
    LoopbackServer proxy("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", After::holdOpen);
    ProxyParts parts;
    parts.proxyHost = "127.0.0.1";
    parts.proxyPort = proxy.port();
    parts.proxyUser = "user";
    parts.proxyPassword = "pass";
    HttpReply reply;
    ASSERT_TRUE(httpExchange("vk.test/profile.php", std::nullopt, parts, reply));
    EXPECT_EQ(reply.body, "ok");
    EXPECT_EQ(proxy.request(), std::string("GET http://vk.test:80/profile.php HTTP/1.0\r\n"
                                           "Host: vk.test\r\n"
                                           "Proxy-Authorization: Basic dXNlcjpwYXNz\r\n") +
                                   kUa + "\r\n");
}

TEST_F(HttpClient, GetPageSendsTheCookieSettingWithoutLineBreaks) {
    editSettings([](Settings& s) { s.Cookie = L"remixsid=abc\r\n"; });
    LoopbackServer server("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\npage", After::holdOpen);
    EXPECT_EQ(httpGetPage(server.url("/profile.php")).value, Text("page"));
    EXPECT_NE(server.request().find("\r\nCookie: remixsid=abc; remixlang=0\r\nUser-Agent: "),
              std::string::npos)
        << server.request();
    // The stored setting keeps what the user typed.
    EXPECT_EQ(currentSettings().Cookie, L"remixsid=abc\r\n");
}

TEST_F(HttpClient, EmptyCookieSettingStillSendsRemixlang) {
    LoopbackServer server("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", After::holdOpen);
    EXPECT_EQ(httpGetPage(server.url("/x")).value, Text(""));
    EXPECT_NE(server.request().find("\r\nCookie: ; remixlang=0\r\n"), std::string::npos);
}

TEST_F(HttpClient, PageHoldsExactlyTheBodysBytes) {
    const std::string image("\xff\xd8\x00\x01\r\n\xff\xd9", 8);
    LoopbackServer server("HTTP/1.0 200 OK\r\nContent-Length: 8\r\n\r\n" + image, After::holdOpen);
    EXPECT_EQ(httpGetPage(server.url("/captcha.php?sid=1")).value, Text(image));
}

TEST_F(HttpClient, LoginGetsTheRedirectWithItsHeadersAndSendsNoCookie) {
    editSettings([](Settings& s) { s.Cookie = L"remixsid=old"; });
    LoopbackServer server(
        "HTTP/1.1 302 Found\r\nLocation: /id1\r\nSet-Cookie: remixsid=9f8e; path=/\r\n"
        "Content-Length: 0\r\n\r\n",
        After::holdOpen);
    const Result<HttpReply> result = httpLogin(server.url("/login.php?email=%61&pass=%62"));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value->statusCode, 302);
    EXPECT_EQ(result.value->headers.at(2), "Set-Cookie: remixsid=9f8e; path=/");
    EXPECT_EQ(result.value->body, "");
    EXPECT_EQ(server.request(), "GET /login.php?email=%61&pass=%62 HTTP/1.0\r\nHost: 127.0.0.1:" +
                                    server.port() + "\r\n" + kUa + "\r\n");
}

// Whatever arrived once the request went out is the page, and the outcome says
// whether that was the whole reply. No body text means failure, whatever it reads.
TEST_F(HttpClient, PageIsWhatArrivedAndTheOutcomeSaysHowItEnded) {
    const struct {
        const char* what;
        std::string reply;
        After after;
        std::string body;
        bool complete;  // how exactly a cut ends is the reply reader's business
    } cases[] = {
        {"chunks joined",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n",
         After::holdOpen, "abcde", true},
        {"reset mid-body", "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\npartial", After::reset,
         "partial", false},
        {"a page reading err", "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nerr", After::holdOpen,
         "err", true},
        {"a page reading None", "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nNone", After::holdOpen,
         "None", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LoopbackServer server(c.reply, c.after);
        const Result<std::string> page = httpGetPage(server.url("/"));
        ASSERT_TRUE(page.ok());
        EXPECT_EQ(*page.value, c.body);
        EXPECT_EQ(page.outcome.replyEnd == ReplyEnd::complete, c.complete);
    }
}

// The words for the log and the "Last:" line name the target's peer (the proxy for its
// tunnel), tell a wait that ran out from a step's time in all, each with its own bound, and
// blame Winamp's close for what quit ended; a reply past its bound is tried again.
TEST(WhyFailed, WordsNameThePeerTheBoundAndWhatEndedIt) {
    const wchar_t* site = L"the site";
    const wchar_t* server = L"the server";
    const struct {
        Outcome outcome;
        const wchar_t *peer, *words, *brief;
    } rows[] = {
        {Outcome::doneWith(ReplyEnd::tooLong), site,
         L"the site's reply took longer than 60 s in all",
         L"the site's reply took longer than 60 s"},
        {Outcome::failedAt(NetStep::handshake, StepEnd::timedOut), site,
         L"the site did not answer within 5 s (TLS handshake)", L"the site did not answer"},
        {Outcome::failedAt(NetStep::handshake, StepEnd::tooLong), site,
         L"the site took longer than 20 s in all (TLS handshake)",
         L"the site took longer than 20 s"},
        {Outcome::failedAt(NetStep::connect, StepEnd::failed), server,
         L"the server could not be reached (connect)", L"the server could not be reached"},
        {Outcome::doneWith(ReplyEnd::timedOut), server, L"the server's reply stopped for 5 s",
         L"the server's reply was cut short"},
        {Outcome::of(OutcomeKind::untrustedSite), server,
         L"the server's certificate is not trusted", L"certificate not trusted"},
        {Outcome::of(OutcomeKind::loggedOut), site,
         L"the profile page shows nobody logged in (the cookie is wrong or expired)",
         L"not logged in"},
        {Outcome::failedAt(NetStep::reply, StepEnd::abandoned), site,
         L"Winamp was closing before the site's reply was complete", L"Winamp was closing"},
        {Outcome::failedAt(NetStep::handshake, StepEnd::abandoned), server,
         L"Winamp was closing before the server answered (TLS handshake)", L"Winamp was closing"},
        {Outcome::failedAt(NetStep::tunnel, StepEnd::timedOut), site,
         L"the proxy did not answer within 5 s (proxy tunnel)", L"the proxy did not answer"},
        {Outcome::failedAt(NetStep::tunnel, StepEnd::tooLong), server,
         L"the proxy took longer than 60 s in all (proxy tunnel)",
         L"the proxy took longer than 60 s"},
    };
    for (const auto& row : rows) {
        const Why why = whyFailed(row.outcome, row.peer);
        EXPECT_EQ(why.words, row.words);
        EXPECT_EQ(why.brief, row.brief) << why.words;
    }
    EXPECT_TRUE(cutShort(Outcome::doneWith(ReplyEnd::tooLong)));
    EXPECT_TRUE(whyFailed(Outcome(), site).words.empty());
}

// A server setting's IPv6 literal connects, and the Host header keeps its brackets.
TEST_F(HttpClient, ApiExchangeReachesAnIpv6Literal) {
    LoopbackServer server("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", After::holdOpen, true);
    const std::string port = server.port();
    ApiRequest request;
    request.url = readServerAddress(std::wstring(L"http://[::1]:") +
                                    std::wstring(port.begin(), port.end()) + L"/lb/")
                      .url;
    request.url.requestUri += "/1/validate-token";
    HttpReply reply;
    EXPECT_TRUE(apiExchange(request, ProxyParts(), reply).ok());
    EXPECT_EQ(reply.body, "ok");
    const std::string head = "GET /lb/1/validate-token HTTP/1.0\r\nHost: [::1]:" + port + "\r\n";
    EXPECT_EQ(server.request().substr(0, head.size()), head);
}

// MD5 from CryptoAPI against RFC 1321's vectors, and a Last.fm api_sig as the service
// stand-in (Python's hashlib) computes it for the same request.
TEST(Md5, Rfc1321VectorsAndALastFmSignature) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        // High bytes and a zero go in as they are (from Python's hashlib).
        {std::string(8, '\xff') + '\0', "79c6ad6066739c3e916013cd3466cf76"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "0",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [bytes, expected] : cases) {
        std::string hex = "unchanged";
        ASSERT_TRUE(md5Hex(bytes, hex));
        EXPECT_EQ(hex, expected);
    }
    const LastFmAuth auth{"0123456789abcdef0123456789abcdef", "fedcba9876543210fedcba9876543210",
                          "", "nimbo-session-key-0123456789abcd"};
    LastFmTrack track;
    track.artist = L"\u041a\u0438\u043d\u043e";
    track.title = L"\u0417\u0432\u0435\u0437\u0434\u0430";
    track.timestamp = 1700000000;
    const auto request = lastFmRequest(L"", LastFmCall::scrobble, auth, {track}, md5Hex);
    ASSERT_TRUE(request);
    EXPECT_NE(request->body.find("&api_sig=8383fc671c0962e2f8278fbfa341e7eb"), std::string::npos)
        << request->body;
}

TEST_F(HttpClient, RefusedConnectionFailsEveryOperation) {
    const std::string url = "127.0.0.1:" + closedPort() + "/x";
    expectFailed(httpGetPage(url), NetStep::connect, StepEnd::failed, "page");
    expectFailed(httpLogin(url), NetStep::connect, StepEnd::failed, "login");
}

TEST_F(HttpClient, SilentServerGivesCrLfAfterOneWait) {
    LoopbackServer server("", After::neverAnswer);
    const Result<std::string> page = httpGetPage(server.url("/"));
    // The request went out, so this is an answer, one that ran out of time.
    EXPECT_EQ(page.value, Text("\r\n"));
    EXPECT_EQ(page.outcome.replyEnd, ReplyEnd::timedOut);
    EXPECT_EQ(server.request().substr(0, 16), "GET / HTTP/1.0\r\n");
}

TEST_F(HttpClient, LookUpThatNeverReturnsIsLeftBehindAfterItsLimit) {
    expectFailed(httpGetPage("slow.test/profile.php"), NetStep::lookUp, StepEnd::timedOut);
}

// Whatever a request of the tick waits for, quit wakes it at once; once quit has
// begun no such request starts, and the clear request still goes out.
TEST_F(HttpClient, QuitAbandonsTheTicksRequestsButNotTheClearRequest) {
    LoopbackServer silent("", After::neverAnswer);
    const struct {
        const char* what;
        std::string url;
        NetStep step;
    } cases[] = {
        {"waiting for a reply", silent.url("/"), NetStep::reply},
        {"waiting for a look-up", "slow.test/", NetStep::lookUp},
    };
    for (const auto& c : cases) {
        QuitLater quit(500);
        expectFailed(httpGetPage(c.url), c.step, StepEnd::abandoned, c.what);
    }

    setQuitRequested(true);
    LoopbackServer answering("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", After::holdOpen);
    expectFailed(httpGetPage(answering.url("/")), NetStep::lookUp, StepEnd::abandoned,
                 "after quit");
    EXPECT_EQ(httpGetPage(answering.url("/"), kQuitExchange).value, Text("ok"));
    // The clear's time runs out with Winamp's close, not with the site.
    LoopbackServer slow("", After::neverAnswer);
    expectFailed(httpGetPage(slow.url("/"), kQuitExchange), NetStep::reply, StepEnd::abandoned,
                 "the clear past its time");
}

// A listener whose accept queue is full drops further connection attempts, so the
// connect itself has to give up.
TEST_F(HttpClient, ConnectThatNeverCompletesGivesUpAfterAboutOneWait) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(listener, 1);
    int size = sizeof(address);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    SOCKET fillers[4];
    for (SOCKET& f : fillers) {
        f = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        u_long nonBlocking = 1;
        ioctlsocket(f, FIONBIO, &nonBlocking);
        connect(f, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    }
    Sleep(200);

    expectFailed(httpGetPage("127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/"),
                 NetStep::connect, StepEnd::timedOut);

    for (SOCKET f : fillers) closesocket(f);
    closesocket(listener);
    WSACleanup();
}

}  // namespace
