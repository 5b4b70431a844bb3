#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstring>
#include <new>

#include "common/critical_section.h"
#include "common/platform.h"
#include "common/text.h"
#include "core/activity_log.h"
#include "core/settings.h"
#include "core/state.h"
#include "net/http_client.h"
#include "net/tls.h"

namespace nimbo {

namespace {

// A connect gets as long as one wait for data, so an unreachable service costs a
// caller about that much per request instead of the system's much longer default.
constexpr DWORD kConnectWaitMs = 5000;
// A host look-up gets the same, whatever the system resolver would allow itself.
constexpr DWORD kLookupWaitMs = 5000;

// Built when the module loads, before any request can run.
CriticalSection gStartLock;
bool gWinsockStarted = false;
// Serialises host look-ups. Only look-up workers take it, never a caller that waits
// for one, so a look-up that hangs holds up no request beyond its own limit.
CriticalSection gLookupLock;

bool systemHostLookup(const std::string& host, unsigned long& ipv4) {
    hostent* entry = gethostbyname(host.c_str());
    if (!entry || entry->h_addrtype != AF_INET || entry->h_length != 4 || !entry->h_addr_list[0]) {
        return false;
    }
    std::memcpy(&ipv4, entry->h_addr_list[0], 4);
    return true;
}

std::atomic<HostLookup> gHostLookup{systemHostLookup};

// Started once, on first use, and left running: the plugin is never unloaded
// before the process ends, and WSACleanup may not be called from DllMain.
bool startWinsock() {
    Locked lock(gStartLock);
    if (!gWinsockStarted) {
        WSADATA data;
        gWinsockStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    return gWinsockStarted;
}

bool allDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// The time an exchange has left, and whether quit ends it early.
class Budget {
  public:
    explicit Budget(const ExchangeLimits& limits)
        : startMs_(GetTickCount()), totalMs_(limits.totalMs), endsAtQuit_(limits.endsAtQuit) {}

    bool abandoned() const { return endsAtQuit_ && quitRequested(); }

    // Quit ended the exchange: it began (the tick's), or the time Winamp's close allows ran
    // out during a wait (the clear at quit): either way Winamp was closing, not the peer slow.
    bool endedByQuit() const { return abandoned() || closedOut_; }

    // Waits up to `stepMs` since `sinceMs`, and never past the whole exchange's time,
    // for `event`. True once it is set; otherwise `why` says whether the time ran out,
    // quit abandoned the exchange or the wait itself failed.
    bool wait(HANDLE event, DWORD stepMs, DWORD sinceMs, StepEnd& why) const {
        if (abandoned()) return (why = StepEnd::abandoned), false;
        const DWORD now = GetTickCount();
        // Unsigned differences: right across a wrap of the clock.
        const DWORD stepUsed = now - sinceMs, totalUsed = now - startMs_;
        if (totalUsed >= totalMs_) return (why = ranOut(true)), false;
        if (stepUsed >= stepMs) return (why = StepEnd::timedOut), false;
        DWORD limit = stepMs - stepUsed;
        const bool totalBinds = totalMs_ - totalUsed <= limit;
        if (totalBinds) limit = totalMs_ - totalUsed;
        // Quit first, so it wins when both are set.
        HANDLE events[2] = {quitEvent(), event};
        const DWORD count = endsAtQuit_ ? 2 : 1;
        const DWORD woke = WaitForMultipleObjects(count, events + (2 - count), FALSE, limit);
        if (woke == WAIT_OBJECT_0 + count - 1) return true;
        why = woke == WAIT_TIMEOUT                    ? ranOut(totalBinds)
              : (count == 2 && woke == WAIT_OBJECT_0) ? StepEnd::abandoned
                                                      : StepEnd::failed;
        return false;
    }

  private:
    // A wait that ran out; the whole exchange's time running out once quit has begun is
    // Winamp's close.
    StepEnd ranOut(bool totalSpent) const {
        if (!totalSpent || !quitRequested()) return StepEnd::timedOut;
        closedOut_ = true;
        return StepEnd::abandoned;
    }

    DWORD startMs_;
    DWORD totalMs_;
    bool endsAtQuit_;
    mutable bool closedOut_ = false;
};

// One look-up on a thread of its own, so that a resolver that takes its time can be
// left behind. Shared by the caller and the worker; whichever lets go last frees it.
struct LookupJob {
    std::string host;
    HostLookup lookup = nullptr;
    HANDLE done = nullptr;
    HMODULE module = nullptr;  // keeps the code the worker runs loaded
    unsigned long ipv4 = 0;
    bool found = false;
    LONG references = 2;
};

void release(LookupJob* job) {
    if (InterlockedDecrement(&job->references) == 0) {
        CloseHandle(job->done);
        delete job;
    }
}

DWORD WINAPI lookUpOnWorker(void* context) {
    auto* job = static_cast<LookupJob*>(context);
    {
        Locked lock(gLookupLock);
        try {
            job->found = job->lookup(job->host, job->ipv4);
        } catch (...) {
            job->found = false;
        }
    }
    SetEvent(job->done);
    const HMODULE module = job->module;
    release(job);
    // An abandoned look-up may return after Winamp unloaded the plugin; the worker's
    // own reference kept this code loaded until here.
    if (module) FreeLibraryAndExitThread(module, 0);
    return 0;
}

bool lookUp(const std::string& host, unsigned long& ipv4, const Budget& budget, StepEnd& why) {
    why = StepEnd::failed;
    auto* job = new (std::nothrow) LookupJob;
    if (!job) return false;
    job->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!job->done) {
        delete job;
        return false;
    }
    job->host = host;
    job->lookup = gHostLookup;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&lookUpOnWorker), &job->module);
    HANDLE worker = CreateThread(nullptr, 0, lookUpOnWorker, job, 0, nullptr);
    if (!worker) {
        if (job->module) FreeLibrary(job->module);
        CloseHandle(job->done);
        delete job;
        return false;
    }
    CloseHandle(worker);
    const bool found = budget.wait(job->done, kLookupWaitMs, GetTickCount(), why) && job->found;
    if (found) ipv4 = job->ipv4;
    release(job);
    return found;
}

// Where a connection goes: an IPv4 address, or an IPv6 one (a literal in the URL).
struct PeerAddress {
    sockaddr_storage storage;
    int length = 0;
    int family() const { return storage.ss_family; }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

// The port in network byte order: digits 1..65535 or a service name; false when neither.
bool portNumber(const std::string& port, u_short& number) {
    if (allDigits(port)) {
        if (port.size() > 5) return false;
        const unsigned long value = std::stoul(port);
        if (value == 0 || value > 65535) return false;
        number = htons(u_short(value));
        return true;
    }
    // A local table, no network: answered at once.
    servent* service = getservbyname(port.c_str(), "tcp");
    if (!service) return false;
    number = service->s_port;
    return true;
}

// An IPv6 literal, read without any look-up.
bool ipv6Address(const std::string& host, u_short port, PeerAddress& address) {
    addrinfo hints = {};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    const bool fits = found->ai_addrlen <= sizeof(address.storage);
    if (fits) {
        std::memcpy(&address.storage, found->ai_addr, found->ai_addrlen);
        address.length = int(found->ai_addrlen);
        reinterpret_cast<sockaddr_in6*>(&address.storage)->sin6_port = port;
    }
    freeaddrinfo(found);
    return fits;
}

// False with `why` when the address cannot be had; a bad port or host is a failure. A
// host with ':' is an IPv6 literal; any other goes through the IPv4 look-up.
bool resolve(const std::string& host, const std::string& port, const Budget& budget,
             PeerAddress& address, StepEnd& why) {
    why = StepEnd::failed;
    std::memset(&address.storage, 0, sizeof(address.storage));
    u_short number = 0;
    if (host.empty() || host.find('\0') != std::string::npos ||
        port.find('\0') != std::string::npos || !portNumber(port, number)) {
        return false;
    }
    if (host.find(':') != std::string::npos) return ipv6Address(host, number, address);
    auto& v4 = *reinterpret_cast<sockaddr_in*>(&address.storage);
    v4.sin_family = AF_INET;
    v4.sin_port = number;
    address.length = sizeof(v4);
    unsigned long ip = inet_addr(host.c_str());
    if (ip == INADDR_NONE && !lookUp(host, ip, budget, why)) return false;
    v4.sin_addr.s_addr = ip;
    return true;
}

// One TCP connection, non-blocking throughout: every wait is one on the socket's
// event (and, for the tick, on quit), bounded by the exchange's budget. Closed on
// every path; the close itself ends the sending side in order. The connect binds the
// socket to a local port, so there is no explicit bind: under Wine every socket call
// is a round trip to the server, and the two saved calls are a fifth of an exchange.
class Connection : public Transport {
  public:
    explicit Connection(const Budget& budget) : budget_(budget) {}
    ~Connection() override {
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
        if (event_ != WSA_INVALID_EVENT) WSACloseEvent(event_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Each of these is false on failure, with `why` telling how the step ended.
    bool open(const PeerAddress& target, StepEnd& why) {
        why = StepEnd::failed;
        event_ = WSACreateEvent();
        if (event_ == WSA_INVALID_EVENT) return false;
        socket_ = ::socket(target.family(), SOCK_STREAM, IPPROTO_TCP);
        if (socket_ == INVALID_SOCKET) return false;
        if (WSAEventSelect(socket_, event_, FD_CONNECT | FD_WRITE | FD_READ | FD_CLOSE) != 0) {
            return false;
        }
        if (connect(socket_, target.get(), target.length) == 0) {
            return true;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
        WSANETWORKEVENTS happened;
        if (!await(FD_CONNECT, kConnectWaitMs, GetTickCount(), happened, why)) return false;
        why = StepEnd::failed;
        return happened.iErrorCode[FD_CONNECT_BIT] == 0;
    }

    bool sendAll(const std::string& bytes, StepEnd& why) override {
        size_t sent = 0;
        while (sent < bytes.size()) {
            why = StepEnd::abandoned;
            if (budget_.abandoned()) return false;
            why = StepEnd::failed;
            int n = send(socket_, bytes.data() + sent, int(bytes.size() - sent), 0);
            if (n > 0) {
                sent += size_t(n);
                continue;
            }
            WSANETWORKEVENTS happened;
            if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK ||
                !await(FD_WRITE | FD_CLOSE, kHttpWaitMs, GetTickCount(), happened, why)) {
                return false;
            }
        }
        return true;
    }

    bool abandoned() const override { return budget_.abandoned(); }

    // As ByteSource::read: each call waits up to one wait's limit for data.
    int read(char* buffer, int max) override {
        const DWORD started = GetTickCount();
        for (;;) {
            // Checked on every read, so a peer that never lets a wait happen (a fast
            // stream of bytes) cannot keep an abandoned exchange going either.
            if (budget_.abandoned()) return kReadFailed;
            int n = recv(socket_, buffer, max, 0);
            if (n >= 0) return n;
            if (WSAGetLastError() != WSAEWOULDBLOCK) return kReadFailed;
            WSANETWORKEVENTS happened;
            StepEnd why;
            if (!await(FD_READ | FD_CLOSE, kHttpWaitMs, started, happened, why)) {
                return why == StepEnd::timedOut ? kReadTimedOut : kReadFailed;
            }
        }
    }

  private:
    // Waits until one of `wanted` has happened; false when the time ran out first,
    // quit abandoned the exchange or the socket failed, `why` telling which.
    bool await(long wanted, DWORD stepMs, DWORD sinceMs, WSANETWORKEVENTS& happened, StepEnd& why) {
        for (;;) {
            if (!budget_.wait(event_, stepMs, sinceMs, why)) return false;
            if (WSAEnumNetworkEvents(socket_, event_, &happened) != 0) {
                why = StepEnd::failed;
                return false;
            }
            if (happened.lNetworkEvents & wanted) return true;
        }
    }

    const Budget& budget_;
    WSAEVENT event_ = WSA_INVALID_EVENT;
    SOCKET socket_ = INVALID_SOCKET;
};

unsigned tickNow() {
    return unsigned(GetTickCount());
}

// Opens the proxy's tunnel to host:port on `connection`: false with the outcome
// when the proxy did not answer with a 2xx.
bool openTunnel(Transport& connection, const std::string& host, const std::string& port,
                const ProxyParts& proxy, Outcome& failure) {
    StepEnd why = StepEnd::failed;
    if (!connection.sendAll(buildConnectRequest(host, port, proxy), why)) {
        failure = Outcome::failedAt(NetStep::tunnel, why);
        return false;
    }
    TimeLimitedSource source(connection, Deadline(kMaxReplyMs, tickNow));
    const TunnelReply answer = readTunnelReply(source);
    if (answer.open()) return true;
    if (answer.end == ReplyEnd::complete) {
        failure = Outcome::failedAt(NetStep::tunnel, StepEnd::refused);
        failure.proxyStatus = uint16_t(answer.statusCode);
    } else {
        failure = Outcome::failedAt(NetStep::tunnel, stepEndOf(answer.end));
    }
    return false;
}

std::string cookieText() {
    return narrow(currentSettings().Cookie + L"; remixlang=0");
}

bool secureSetting() {
    bool secure = false;
    readSettings([&secure](const Settings& s) { secure = s.Secure == 1; });
    return secure;
}

// Winamp's proxy setting, when the init read could tell it. Sent direct, a request
// would fail on a network that needs the proxy, or bypass it: so while it is unknown
// nothing goes out, the request fails as one that found no way to the site, and it is
// tried again later.
bool knownProxy(ProxyParts& parts) {
    const ProxyConfig proxy = proxyConfig();
    if (!proxy.known) {
        logActivity(
            L"request not sent: Winamp's proxy setting is not known, as winamp.ini "
            L"could not be read");
        return false;
    }
    parts = proxy.parts;
    return true;
}

// An exchange through Winamp's proxy, over TLS when the Secure setting says so.
Outcome configuredExchange(const std::string& url, const std::optional<std::string>& cookie,
                           HttpReply& reply, const ExchangeLimits& limits) {
    ProxyParts proxy;
    if (!knownProxy(proxy)) return Outcome::failedAt(NetStep::lookUp, StepEnd::failed);
    return httpExchange(url, cookie, proxy, reply, limits, secureSetting());
}

}  // namespace

void setHostLookupForTest(HostLookup lookup) {
    gHostLookup = lookup ? lookup : systemHostLookup;
}

namespace {

// One exchange: `request` to `parsed`'s host (over TLS to `securePort` when `secure`),
// directly or through `proxy`. The request's bytes were made for the proxy it sees:
// none inside TLS, where the proxy sees only the CONNECT.
Outcome exchange(const ParsedUrl& parsed, const std::string& request, const std::string& securePort,
                 const ProxyParts& proxy, HttpReply& reply, const ExchangeLimits& limits,
                 bool secure) {
    // The step under way, so that even running out of memory names where it happened.
    NetStep step = NetStep::lookUp;
    StepEnd why = StepEnd::failed;
    try {
        const Budget budget(limits);
        // Once quit has begun, only its own request starts.
        if (budget.abandoned()) return Outcome::failedAt(step, StepEnd::abandoned);
        const bool viaProxy = !proxy.proxyHost.empty();

        if (!startWinsock()) return Outcome::failedAt(step, StepEnd::failed);
        PeerAddress target;
        if (!resolve(viaProxy ? proxy.proxyHost : parsed.host,
                     viaProxy ? proxy.proxyPort
                     : secure ? securePort
                              : parsed.port,
                     budget, target, why)) {
            return Outcome::failedAt(step, why);
        }
        step = NetStep::connect;
        Connection connection(budget);
        if (!connection.open(target, why)) return Outcome::failedAt(step, why);
        TlsSession tls(connection);
        Transport* channel = &connection;
        if (secure) {
            // No way back to plain HTTP: every failure from here on ends the exchange.
            step = NetStep::handshake;
            Outcome failure;
            const bool ready =
                (!viaProxy || openTunnel(connection, parsed.host, securePort, proxy, failure)) &&
                (failure = tls.handshake(parsed.host)).ok();
            if (!ready) {
                if (budget.endedByQuit())
                    return Outcome::failedAt(failure.step, StepEnd::abandoned);
                return failure;
            }
            channel = &tls;
        }
        step = NetStep::send;
        if (!channel->sendAll(request, why)) return Outcome::failedAt(step, why);
        step = NetStep::reply;
        // Checked between reads and, over TLS, inside one: a record trickled in is no
        // way past the bound.
        const Deadline replyDeadline(kMaxReplyMs, tickNow);
        tls.limitReads(replyDeadline);
        TimeLimitedSource source(*channel, replyDeadline);
        reply = readReply(source);
        // An exchange that quit cut short is no answer from the service.
        if (budget.endedByQuit()) return Outcome::failedAt(step, StepEnd::abandoned);
        return Outcome::doneWith(reply.end);
    } catch (...) {
        // Only memory exhaustion can get here; the caller sees a failed exchange.
        return Outcome::failedAt(step, StepEnd::failed);
    }
}

}  // namespace

Outcome httpExchange(const std::string& url, const std::optional<std::string>& cookie,
                     const ProxyParts& proxy, HttpReply& reply, const ExchangeLimits& limits,
                     bool secure) {
    try {
        const ParsedUrl parsed = parseUrl(url);
        return exchange(parsed, buildRequest(parsed, secure ? ProxyParts() : proxy, cookie),
                        kSecurePort, proxy, reply, limits, secure);
    } catch (...) {
        return Outcome::failedAt(NetStep::lookUp, StepEnd::failed);
    }
}

Outcome apiExchange(const ApiRequest& request, const ProxyParts& proxy, HttpReply& reply,
                    const ExchangeLimits& limits) {
    try {
        // An address the setting could not give (see listenBrainzRequest): nothing goes out,
        // not even to the proxy.
        if (request.url.host.empty()) return Outcome::failedAt(NetStep::lookUp, StepEnd::failed);
        const bool secure = equalsNoCase(request.url.scheme, std::string("https"));
        return exchange(request.url, buildApiRequest(request, secure ? ProxyParts() : proxy),
                        request.url.port, proxy, reply, limits, secure);
    } catch (...) {
        return Outcome::failedAt(NetStep::lookUp, StepEnd::failed);
    }
}

Outcome configuredApiExchange(const ApiRequest& request, HttpReply& reply,
                              const ExchangeLimits& limits) {
    ProxyParts proxy;
    if (!knownProxy(proxy)) return Outcome::failedAt(NetStep::lookUp, StepEnd::failed);
    return apiExchange(request, proxy, reply, limits);
}

Result<std::string> httpGetPage(const std::string& url, const ExchangeLimits& limits) {
    HttpReply reply;
    const Outcome outcome = configuredExchange(url, cookieText(), reply, limits);
    if (!outcome) return Result<std::string>::failure(outcome);
    return Result<std::string>::success(std::move(reply.body), outcome.replyEnd);
}

Result<HttpReply> httpLogin(const std::string& url) {
    HttpReply reply;
    const Outcome outcome = configuredExchange(url, std::nullopt, reply, kTickExchange);
    if (!outcome) return Result<HttpReply>::failure(outcome);
    return Result<HttpReply>::success(std::move(reply), outcome.replyEnd);
}

}  // namespace nimbo
