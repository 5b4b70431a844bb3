// Times the plugin's HTTP exchange: COUNT GET requests to URL, one connection each,
// with the cookie header the plugin sends. With --baseline a minimal Winsock GET (connect,
// send the same request bytes, read until the server closes) takes turns with it, in the
// same process against the same server, so the ratio shows what the client costs on top
// of the platform's sockets. Prints figures, not a verdict; the exit code only says
// whether every exchange went through.
//
//   http_bench.exe URL COUNT [--cookie TEXT] [--proxy HOST:PORT] [--each] [--baseline]
//                  [--breakdown]
//
// URL has no scheme, as the plugin's own URLs (e.g. 127.0.0.1:8080/profile.php); with
// --baseline its host must be a dotted address and no proxy is used.
// --breakdown adds sides: the minimal GET with each step the plugin's client takes on
// top of it (bind, timed connect, select before each read, shutdown) and with all; and
// with a leaner way to bound the waits (connect and reads non-blocking, select() only
// when a read finds nothing yet).
// --cookie is the Cookie setting; "; remixlang=0" is appended as the plugin does.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "net/http_client.h"

namespace {

struct Options {
    std::string url;
    long count = 0;
    std::string cookieSetting;
    nimbo::ProxyParts proxy;
    bool each = false;
    bool baseline = false;
    bool breakdown = false;
};

void usage() {
    std::fprintf(stderr,
                 "usage: http_bench URL COUNT [--cookie TEXT] [--proxy HOST:PORT] [--each]"
                 " [--baseline] [--breakdown]\n");
}

bool parseOptions(int argc, char** argv, Options& options) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--each") {
            options.each = true;
        } else if (arg == "--baseline") {
            options.baseline = true;
        } else if (arg == "--breakdown") {
            options.baseline = options.breakdown = true;
        } else if ((arg == "--cookie" || arg == "--proxy") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--cookie") {
                options.cookieSetting = value;
                continue;
            }
            const size_t colon = value.find(':');
            if (colon == std::string::npos || colon == 0 || colon + 1 == value.size()) {
                return false;
            }
            options.proxy.proxyHost = value.substr(0, colon);
            options.proxy.proxyPort = value.substr(colon + 1);
        } else if (arg.compare(0, 2, "--") == 0) {
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) return false;
    options.url = positional[0];
    char* end = nullptr;
    options.count = std::strtol(positional[1].c_str(), &end, 10);
    if (options.baseline && !options.proxy.proxyHost.empty()) return false;
    return *end == '\0' && options.count > 0 && options.count <= 1000000;
}

class Clock {
  public:
    Clock() { QueryPerformanceFrequency(&frequency_); }
    double nowMs() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return double(now.QuadPart) * 1000.0 / double(frequency_.QuadPart);
    }

  private:
    LARGE_INTEGER frequency_;
};

// The median of a sorted, non-empty list: the mean of the middle pair for an even count.
double median(const std::vector<double>& sorted) {
    const size_t n = sorted.size();
    return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
}

double medianOf(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return median(times);
}

double percentile(const std::vector<double>& sorted, double fraction) {
    size_t index = size_t(fraction * double(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

// The socket steps the plugin's client takes on top of a bare GET. --breakdown times a
// bare GET with each of them added, to show what each costs on this platform.
enum Extra : unsigned {
    kBind = 1,          // bind to any address, port 0, before the connect
    kTimedConnect = 2,  // non-blocking connect, select() for it, SO_ERROR, blocking again
    kWaitEachRead = 4,  // select() before every recv
    kShutdown = 8,      // shutdown(SD_SEND) before closesocket
    kAllExtras = 15,
    // Not the plugin's: a bounded connect that leaves the socket non-blocking, and
    // reads that try recv first and wait in select() only when nothing is there yet.
    kLeanBounded = 16,
};

bool waitReady(SOCKET s, bool forWrite) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval limit{5, 0};
    return select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr,
                  forWrite ? &failed : nullptr, &limit) > 0 &&
           FD_ISSET(s, &ready);
}

bool timedConnect(SOCKET s, const sockaddr_in& target, bool stayNonBlocking) {
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) return false;
    if (connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof(target)) != 0) {
        int error = 0, size = sizeof(error);
        if (WSAGetLastError() != WSAEWOULDBLOCK || !waitReady(s, true) ||
            getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0 ||
            error != 0) {
            return false;
        }
    }
    if (stayNonBlocking) return true;
    nonBlocking = 0;
    return ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}

// recv on a non-blocking socket, waiting in select() only when no byte is ready.
int recvOrWait(SOCKET s, char* buffer, int size) {
    for (;;) {
        const int n = recv(s, buffer, size, 0);
        if (n != SOCKET_ERROR || WSAGetLastError() != WSAEWOULDBLOCK) return n;
        if (!waitReady(s, false)) return SOCKET_ERROR;
    }
}

// The least a GET over Winsock can do: a blocking socket, connect, one send, read until
// the server closes, close (plus the `extras` asked for). The body is what follows the
// first empty line.
class MinimalGet {
  public:
    MinimalGet(const sockaddr_in& target, std::string request)
        : target_(target), request_(std::move(request)) {}

    bool fetch(std::string& body, unsigned extras = 0) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET) return false;
        bool ok = true;
        if (extras & kBind) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            ok = bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0;
        }
        const bool lean = extras & kLeanBounded;
        ok = ok && ((extras & (kTimedConnect | kLeanBounded))
                        ? timedConnect(s, target_, lean)
                        : connect(s, reinterpret_cast<const sockaddr*>(&target_),
                                  sizeof(target_)) == 0);
        ok = ok && send(s, request_.data(), int(request_.size()), 0) == int(request_.size());
        reply_.clear();
        int n = 0;
        while (ok && (!(extras & kWaitEachRead) || waitReady(s, false)) &&
               (n = lean ? recvOrWait(s, buffer_, sizeof(buffer_))
                         : recv(s, buffer_, sizeof(buffer_), 0)) > 0) {
            reply_.append(buffer_, size_t(n));
        }
        if (extras & kShutdown) shutdown(s, SD_SEND);
        closesocket(s);
        const size_t headerEnd = reply_.find("\r\n\r\n");
        if (!ok || n < 0 || headerEnd == std::string::npos) return false;
        body.assign(reply_, headerEnd + 4, std::string::npos);
        return true;
    }

  private:
    sockaddr_in target_;
    std::string request_;
    std::string reply_;
    char buffer_[4096];
};

struct Side {
    const char* name;
    unsigned extras;  // for the minimal GET's sides
    std::vector<double> times;
    long failed = 0, otherBody = 0;
};

void printFigures(const Side& side, long count) {
    std::printf("%s_exchanges %ld ok %u failed %ld other-body %ld\n", side.name, count,
                unsigned(side.times.size()), side.failed, side.otherBody);
    if (side.times.empty()) return;
    std::vector<double> sorted = side.times;
    std::sort(sorted.begin(), sorted.end());
    double total = 0;
    for (double t : sorted) total += t;
    const long slow = long(std::count_if(sorted.begin(), sorted.end(),
                                         [](double t) { return t >= nimbo::kHttpWaitMs / 5.0; }));
    std::printf("%s_median_ms %.3f\n", side.name, median(sorted));
    std::printf("%s_min_ms %.3f\n", side.name, sorted.front());
    std::printf("%s_max_ms %.3f\n", side.name, sorted.back());
    std::printf("%s_mean_ms %.3f\n", side.name, total / double(sorted.size()));
    std::printf("%s_p90_ms %.3f\n", side.name, percentile(sorted, 0.9));
    std::printf("%s_over_%d_ms %ld\n", side.name, nimbo::kHttpWaitMs / 5, slow);
}

int run(const Options& options) {
    const std::optional<std::string> cookie = options.cookieSetting + "; remixlang=0";
    const Clock clock;

    // One untimed exchange first: it pays for Winsock start-up and the first look-up,
    // which the plugin pays once per process, not per request.
    nimbo::HttpReply first;
    if (!nimbo::httpExchange(options.url, cookie, options.proxy, first)) {
        std::fprintf(stderr, "http_bench: cannot reach %s\n", options.url.c_str());
        return 1;
    }
    std::printf("first-reply status %d body %u bytes\n", first.statusCode,
                unsigned(first.body.size()));

    // The baseline sends the very bytes the plugin sends, to the same address.
    std::optional<MinimalGet> minimal;
    if (options.baseline) {
        const nimbo::ParsedUrl parsed = nimbo::parseUrl(options.url);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_addr.s_addr = inet_addr(parsed.host.c_str());
        target.sin_port = htons(u_short(std::atoi(parsed.port.c_str())));
        if (target.sin_addr.s_addr == INADDR_NONE) {
            std::fprintf(stderr, "http_bench: --baseline needs a dotted address\n");
            return 2;
        }
        minimal.emplace(target, nimbo::buildRequest(parsed, nimbo::ProxyParts(), cookie));
        std::string body;
        if (!minimal->fetch(body) || body != first.body) {
            std::fprintf(stderr, "http_bench: the minimal GET did not get the same page\n");
            return 1;
        }
    }

    Side plugin{"plugin", 0, {}};
    std::vector<Side> bare;  // the minimal GET, without and with the plugin's extras
    if (minimal) bare.push_back({"baseline", 0, {}});
    if (options.breakdown) {
        bare.push_back({"bare_bind", kBind, {}});
        bare.push_back({"bare_timed_connect", kTimedConnect, {}});
        bare.push_back({"bare_wait_each_read", kWaitEachRead, {}});
        bare.push_back({"bare_shutdown", kShutdown, {}});
        bare.push_back({"bare_all_extras", kAllExtras, {}});
        bare.push_back({"bare_lean_bounded", kLeanBounded, {}});
    }
    long otherStatus = 0;
    auto timePlugin = [&] {
        nimbo::HttpReply reply;
        const double start = clock.nowMs();
        const bool ok = nimbo::httpExchange(options.url, cookie, options.proxy, reply).ok();
        const double elapsed = clock.nowMs() - start;
        if (!ok) return void(++plugin.failed);
        plugin.times.push_back(elapsed);
        if (reply.statusCode != first.statusCode) ++otherStatus;
        // A body cut short (or padded) against the first reply shows a reader fault.
        if (reply.body != first.body) ++plugin.otherBody;
        if (options.each) std::printf("time_ms plugin %.3f\n", elapsed);
    };
    std::string body;
    auto timeBare = [&](Side& side) {
        const double start = clock.nowMs();
        const bool ok = minimal->fetch(body, side.extras);
        const double elapsed = clock.nowMs() - start;
        if (!ok) return void(++side.failed);
        side.times.push_back(elapsed);
        if (body != first.body) ++side.otherBody;
        if (options.each) std::printf("time_ms %s %.3f\n", side.name, elapsed);
    };
    // Each turn starts with another side, so no side always follows the same one.
    const size_t sides = 1 + bare.size();
    for (long i = 0; i < options.count; ++i) {
        for (size_t k = 0; k < sides; ++k) {
            const size_t which = (size_t(i) + k) % sides;
            if (which == 0) {
                timePlugin();
            } else {
                timeBare(bare[which - 1]);
            }
        }
    }

    printFigures(plugin, options.count);
    std::printf("other-status %ld\n", otherStatus);
    for (const Side& side : bare) printFigures(side, options.count);
    if (minimal && !plugin.times.empty() && !bare[0].times.empty()) {
        std::printf("ratio_plugin_over_baseline %.3f\n",
                    medianOf(plugin.times) / medianOf(bare[0].times));
        for (size_t k = 1; k < bare.size(); ++k) {
            if (bare[k].times.empty()) continue;
            std::printf("cost_us %s %.0f\n", bare[k].name + 5,
                        (medianOf(bare[k].times) - medianOf(bare[0].times)) * 1000.0);
        }
    }
    std::fflush(stdout);
    bool allOk = plugin.failed == 0 && otherStatus == 0 && plugin.otherBody == 0 &&
                 !plugin.times.empty();
    for (const Side& side : bare) allOk = allOk && side.failed == 0 && side.otherBody == 0;
    return allOk ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        usage();
        return 2;
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return 1;
    try {
        return run(options);
    } catch (...) {
        std::fprintf(stderr, "http_bench: out of memory\n");
        return 1;
    }
}
