// Times the plugin's HTTP exchange: COUNT GET requests to URL, one connection each,
// with the cookie header the plugin sends. Prints figures, not a verdict; the exit
// code only says whether every exchange went through.
//
//   http_bench.exe URL COUNT [--cookie TEXT] [--proxy HOST:PORT] [--each]
//
// URL has no scheme, as the plugin's own URLs (e.g. 127.0.0.1:8080/profile.php).
// --cookie is the Cookie setting; "; remixlang=0" is appended as the plugin does.
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
};

void usage() {
    std::fprintf(stderr,
                 "usage: http_bench URL COUNT [--cookie TEXT] [--proxy HOST:PORT] [--each]\n");
}

bool parseOptions(int argc, char** argv, Options& options) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--each") {
            options.each = true;
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

double percentile(const std::vector<double>& sorted, double fraction) {
    size_t index = size_t(fraction * double(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
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

    std::vector<double> times;
    times.reserve(size_t(options.count));
    long failed = 0, otherStatus = 0, otherBody = 0;
    for (long i = 0; i < options.count; ++i) {
        nimbo::HttpReply reply;
        const double start = clock.nowMs();
        const bool ok = nimbo::httpExchange(options.url, cookie, options.proxy, reply);
        const double elapsed = clock.nowMs() - start;
        if (!ok) {
            ++failed;
            continue;
        }
        times.push_back(elapsed);
        if (reply.statusCode != first.statusCode) ++otherStatus;
        // A body cut short (or padded) against the first reply shows a reader fault.
        if (reply.body != first.body) ++otherBody;
        if (options.each) std::printf("time_ms %.3f\n", elapsed);
    }

    std::printf("exchanges %ld ok %u failed %ld other-status %ld other-body %ld\n", options.count,
                unsigned(times.size()), failed, otherStatus, otherBody);
    if (times.empty()) return 1;
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    double total = 0;
    for (double t : times) total += t;
    const long slow = long(std::count_if(times.begin(), times.end(),
                                         [](double t) { return t >= nimbo::kHttpWaitMs / 5.0; }));
    std::printf("median_ms %.3f\n", median(sorted));
    std::printf("min_ms %.3f\n", sorted.front());
    std::printf("max_ms %.3f\n", sorted.back());
    std::printf("mean_ms %.3f\n", total / double(times.size()));
    std::printf("p90_ms %.3f\n", percentile(sorted, 0.9));
    std::printf("over_%d_ms %ld\n", nimbo::kHttpWaitMs / 5, slow);
    std::fflush(stdout);
    return failed == 0 && otherStatus == 0 && otherBody == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        usage();
        return 2;
    }
    try {
        return run(options);
    } catch (...) {
        std::fprintf(stderr, "http_bench: out of memory\n");
        return 1;
    }
}
