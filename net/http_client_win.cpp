#include <windows.h>
#include <winsock2.h>

#include <cstring>
#include <new>

#include "common/critical_section.h"
#include "common/platform.h"
#include "core/settings.h"
#include "net/http_client.h"

namespace nimbo {

namespace {

// A connect gets as long as one wait for data, so an unreachable service costs a
// caller about that much per request instead of the system's much longer default.
constexpr int kConnectWaitMs = 5000;

// Built when the module loads, before any request can run. Serialises Winsock
// start-up and host look-ups (gethostbyname hands out shared data).
CriticalSection gLookupLock;
bool gWinsockStarted = false;

// Started once, on first use, and left running: the plugin is never unloaded
// before the process ends, and WSACleanup may not be called from DllMain.
bool startWinsock() {
    Locked lock(gLookupLock);
    if (!gWinsockStarted) {
        WSADATA data;
        gWinsockStarted = WSAStartup(MAKEWORD(1, 1), &data) == 0;
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

bool resolve(const std::string& host, const std::string& port, sockaddr_in& address) {
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    if (host.find('\0') != std::string::npos || port.find('\0') != std::string::npos) {
        return false;
    }

    Locked lock(gLookupLock);
    unsigned long ip = inet_addr(host.c_str());
    if (ip == INADDR_NONE) {
        hostent* entry = gethostbyname(host.c_str());
        if (!entry || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
            !entry->h_addr_list[0]) {
            return false;
        }
        std::memcpy(&ip, entry->h_addr_list[0], 4);
    }
    address.sin_addr.s_addr = ip;

    if (allDigits(port)) {
        if (port.size() > 5) return false;
        unsigned long number = std::stoul(port);
        if (number == 0 || number > 65535) return false;
        address.sin_port = htons(u_short(number));
    } else {
        servent* service = getservbyname(port.c_str(), "tcp");
        if (!service) return false;
        address.sin_port = service->s_port;
    }
    return true;
}

bool waitFor(SOCKET socket, bool forWrite, int milliseconds) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket, &ready);
    FD_SET(socket, &failed);
    timeval limit;
    limit.tv_sec = milliseconds / 1000;
    limit.tv_usec = (milliseconds % 1000) * 1000;
    // A connect that fails is reported in the exception set (Windows semantics).
    if (!forWrite) FD_ZERO(&failed);
    int n = select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &limit);
    return n > 0 && FD_ISSET(socket, &ready) && !FD_ISSET(socket, &failed);
}

// One TCP connection; shut down for sending and closed on every path.
class Connection {
  public:
    Connection() = default;
    ~Connection() {
        if (socket_ != INVALID_SOCKET) {
            shutdown(socket_, SD_SEND);
            closesocket(socket_);
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool open(const sockaddr_in& target) {
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (socket_ == INVALID_SOCKET) return false;
        sockaddr_in local;
        std::memset(&local, 0, sizeof(local));
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = 0;
        if (bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
            return false;
        }
        // Non-blocking for the connect only, so its wait can be bounded.
        u_long nonBlocking = 1;
        if (ioctlsocket(socket_, FIONBIO, &nonBlocking) != 0) return false;
        if (connect(socket_, reinterpret_cast<const sockaddr*>(&target), sizeof(target)) != 0) {
            if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
            if (!waitFor(socket_, true, kConnectWaitMs)) return false;
            int error = 0;
            int size = sizeof(error);
            if (getsockopt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) !=
                    0 ||
                error != 0) {
                return false;
            }
        }
        nonBlocking = 0;
        return ioctlsocket(socket_, FIONBIO, &nonBlocking) == 0;
    }

    bool sendAll(const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            int n = send(socket_, bytes.data() + sent, int(bytes.size() - sent), 0);
            if (n == SOCKET_ERROR || n <= 0) return false;
            sent += size_t(n);
        }
        return true;
    }

    SOCKET handle() const { return socket_; }

  private:
    SOCKET socket_ = INVALID_SOCKET;
};

class SocketSource : public ByteSource {
  public:
    explicit SocketSource(SOCKET socket) : socket_(socket) {}
    int read(char* buffer, int max) override {
        if (!waitFor(socket_, false, kHttpWaitMs)) return -1;
        int n = recv(socket_, buffer, max, 0);
        return n == SOCKET_ERROR ? -1 : n;
    }

  private:
    SOCKET socket_;
};

ProxyParts configuredProxy() {
    const ProxyConfig& config = proxyConfig();
    return config.proxySetting.empty() ? ProxyParts() : config.parts;
}

std::string cookieText() {
    return narrow(currentSettings().Cookie + L"; remixlang=0");
}

}  // namespace

bool httpExchange(const std::string& url, const std::optional<std::string>& cookie,
                  const ProxyParts& proxy, HttpReply& reply) {
    try {
        const ParsedUrl parsed = parseUrl(url);
        const std::string request = buildRequest(parsed, proxy, cookie);
        const bool viaProxy = !proxy.proxyHost.empty();

        if (!startWinsock()) return false;
        sockaddr_in target;
        if (!resolve(viaProxy ? proxy.proxyHost : parsed.host,
                     viaProxy ? proxy.proxyPort : parsed.port, target)) {
            return false;
        }
        Connection connection;
        if (!connection.open(target) || !connection.sendAll(request)) return false;
        SocketSource socketSource(connection.handle());
        TimeLimitedSource source(socketSource, kMaxReplyMs, [] { return unsigned(GetTickCount()); });
        reply = readReply(source);
        return true;
    } catch (...) {
        // Only memory exhaustion can get here; the caller sees a failed exchange.
        return false;
    }
}

std::string httpGetPage(const std::string& url) {
    HttpReply reply;
    if (!httpExchange(url, cookieText(), configuredProxy(), reply)) return "err";
    return streamToText(reply.body);
}

bool httpGetToStream(const std::string& url, std::string& stream) {
    HttpReply reply;
    if (!httpExchange(url, cookieText(), configuredProxy(), reply)) return false;
    stream.swap(reply.body);
    return true;
}

aDeltaOne httpLogin(const std::string& url) {
    aDeltaOne result;
    HttpReply reply;
    if (!httpExchange(url, std::nullopt, configuredProxy(), reply)) {
        result.cookie = "err";
        return result;
    }
    result.body = streamToText(reply.body);
    result.cookie = loginCookie(reply.headers);
    return result;
}

}  // namespace nimbo
