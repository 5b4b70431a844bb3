// Times the plugin's HTTP exchange: COUNT GET requests to URL, one connection each,
// with the cookie header the plugin sends. With --baseline a minimal Winsock GET (connect,
// send the same request bytes, read until the server closes) takes turns with it, in the
// same process against the same server, so the ratio shows what the client costs on top
// of the platform's sockets. Prints figures, not a verdict; the exit code only says
// whether every exchange went through.
//
//   http_bench.exe URL COUNT [--cookie TEXT] [--proxy HOST:PORT] [--each] [--baseline]
//                  [--breakdown] [--secure [--trust-ca FILE]]
//   http_bench.exe https://HOST:PORT COUNT --playing-now [--token TEXT] [--trust-ca FILE]
//
// URL has no scheme, as the plugin's own URLs (e.g. 127.0.0.1:8080/profile.php); with
// --baseline its host must be a dotted address and no proxy is used.
// --breakdown adds sides: the minimal GET with each step the plugin's client takes on
// top of it (bind, timed connect, select before each read, shutdown) and with all; and
// with a leaner way to bound the waits (connect and reads non-blocking, select() only
// when a read finds nothing yet).
// --cookie is the Cookie setting; "; remixlang=0" is appended as the plugin does.
// --secure: the plugin's exchange runs over TLS (to the build's kSecurePort) and the
// baseline is a minimal SChannel GET to the same port (one credentials handle for all
// requests, no certificate check); --trust-ca first adds a CA (PEM) to this Wine
// prefix's trusted roots, so the plugin's certificate check can pass.
// --playing-now: the plugin's exchange is a ListenBrainz playing-now (`apiExchange`) to
// the server at the URL, with the user token --token (the service stand-in's own by
// default), and the baseline is the minimal SChannel client sending the very same bytes
// as a POST; the URL's host must be a dotted address.
// --scrobble: the same, with a Last.fm scrobble (`lastFmRequest`, signed with MD5 from
// CryptoAPI for every request, as the plugin signs each) to the URL's "/2.0/" with the
// service stand-in's test account.
#define SECURITY_WIN32
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/platform.h"
#include "net/http_client.h"
#include "common/md5.h"
#include "net/lastfm.h"
#include "net/listenbrainz.h"
#include "net/listenbrainz_body.h"
#include "net/tls.h"

namespace {

struct Options {
    std::string url;
    long count = 0;
    std::string cookieSetting;
    nimbo::ProxyParts proxy;
    bool each = false;
    bool baseline = false;
    bool breakdown = false;
    bool secure = false;
    bool playingNow = false;
    bool scrobble = false;
    std::string token = "lb-test-token";
    std::string trustCa;
};

void usage() {
    std::fprintf(stderr,
                 "usage: http_bench URL COUNT [--cookie TEXT] [--proxy HOST:PORT] [--each]"
                 " [--baseline] [--breakdown] [--secure [--trust-ca FILE]]\n"
                 "       http_bench https://HOST:PORT COUNT --playing-now [--token TEXT]"
                 " [--trust-ca FILE]\n"
                 "       http_bench https://HOST:PORT COUNT --scrobble [--trust-ca FILE]\n");
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
        } else if (arg == "--secure") {
            options.secure = options.baseline = true;
        } else if (arg == "--playing-now" || arg == "--scrobble") {
            options.playingNow = options.secure = options.baseline = true;
            options.scrobble = arg == "--scrobble";
        } else if (arg == "--trust-ca" && i + 1 < argc) {
            options.trustCa = argv[++i];
        } else if (arg == "--token" && i + 1 < argc) {
            options.token = argv[++i];
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
    if (options.secure && options.breakdown) return false;
    if (options.playingNow && options.url.compare(0, 8, "https://") != 0) return false;
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
        ok = ok &&
             ((extras & (kTimedConnect | kLeanBounded))
                  ? timedConnect(s, target_, lean)
                  : connect(s, reinterpret_cast<const sockaddr*>(&target_), sizeof(target_)) == 0);
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

bool sendBytes(SOCKET s, const char* data, size_t size) {
    while (size > 0) {
        const int n = send(s, data, int(size), 0);
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// The least an exchange over SChannel can do (a GET or a POST: `request` holds the
// whole request): one credentials handle for every request, the host looked up
// (gethostbyname, as the URL names it), a blocking socket, the TLS 1.2 handshake, the
// request in one record, the reply decrypted until the server closes; no certificate
// check.
class MinimalTlsExchange {
  public:
    MinimalTlsExchange(const sockaddr_in& target, const std::string& host, std::string request)
        : target_(target),
          name_(host),
          host_(host.begin(), host.end()),
          request_(std::move(request)) {
        SCHANNEL_CRED cred{};
        cred.dwVersion = SCHANNEL_CRED_VERSION;
        cred.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        wchar_t package[] = UNISP_NAME_W;
        ready_ = AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &cred,
                                           nullptr, nullptr, &credentials_, nullptr) == SEC_E_OK;
    }
    ~MinimalTlsExchange() {
        if (ready_) FreeCredentialsHandle(&credentials_);
    }
    bool ready() const { return ready_; }

    bool fetch(std::string& body) {
        const hostent* entry = gethostbyname(name_.c_str());
        if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list[0]) return false;
        std::memcpy(&target_.sin_addr, entry->h_addr_list[0], 4);
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET) return false;
        CtxtHandle context;
        bool haveContext = false;
        std::string reply;
        const bool ok =
            connect(s, reinterpret_cast<const sockaddr*>(&target_), sizeof(target_)) == 0 &&
            handshake(s, context, haveContext) && exchange(s, context, reply);
        if (haveContext) DeleteSecurityContext(&context);
        closesocket(s);
        const size_t headerEnd = reply.find("\r\n\r\n");
        if (!ok || headerEnd == std::string::npos) return false;
        body.assign(reply, headerEnd + 4, std::string::npos);
        return true;
    }

  private:
    bool receive(SOCKET s) {
        const int n = recv(s, buffer_, sizeof(buffer_), 0);
        if (n <= 0) return false;
        in_.append(buffer_, size_t(n));
        return true;
    }

    bool handshake(SOCKET s, CtxtHandle& context, bool& haveContext) {
        const DWORD flags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                            ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
        in_.clear();
        for (bool first = true;; first = false) {
            SecBuffer in[2] = {{DWORD(in_.size()), SECBUFFER_TOKEN, &in_[0]},
                               {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, in};
            SecBuffer out = {0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, &out};
            ULONG granted = 0;
            const SECURITY_STATUS status =
                InitializeSecurityContextW(&credentials_, first ? nullptr : &context, &host_[0],
                                           flags, 0, 0, first ? nullptr : &inDesc, 0,
                                           first ? &context : nullptr, &outDesc, &granted, nullptr);
            if (first) haveContext = status == SEC_I_CONTINUE_NEEDED;
            if (out.pvBuffer) {
                const bool sent =
                    sendBytes(s, static_cast<const char*>(out.pvBuffer), out.cbBuffer);
                FreeContextBuffer(out.pvBuffer);
                if (!sent) return false;
            }
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                if (!receive(s)) return false;
                continue;
            }
            if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) return false;
            if (in[1].BufferType == SECBUFFER_EXTRA) {
                in_.erase(0, in_.size() - in[1].cbBuffer);
            } else {
                in_.clear();
            }
            if (status == SEC_E_OK) return true;
            if (in_.empty() && !receive(s)) return false;
        }
    }

    bool exchange(SOCKET s, CtxtHandle& context, std::string& reply) {
        SecPkgContext_StreamSizes sizes;
        if (QueryContextAttributesW(&context, SECPKG_ATTR_STREAM_SIZES, &sizes) != SEC_E_OK)
            return false;
        std::string record(sizes.cbHeader + request_.size() + sizes.cbTrailer, '\0');
        request_.copy(&record[sizes.cbHeader], request_.size());
        SecBuffer parts[4] = {
            {sizes.cbHeader, SECBUFFER_STREAM_HEADER, &record[0]},
            {DWORD(request_.size()), SECBUFFER_DATA, &record[sizes.cbHeader]},
            {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, &record[sizes.cbHeader + request_.size()]},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, parts};
        if (EncryptMessage(&context, 0, &desc, 0) != SEC_E_OK ||
            !sendBytes(s, record.data(),
                       parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer)) {
            return false;
        }
        for (;;) {
            if (!in_.empty()) {
                SecBuffer data[4] = {{DWORD(in_.size()), SECBUFFER_DATA, &in_[0]},
                                     {0, SECBUFFER_EMPTY, nullptr},
                                     {0, SECBUFFER_EMPTY, nullptr},
                                     {0, SECBUFFER_EMPTY, nullptr}};
                SecBufferDesc dataDesc = {SECBUFFER_VERSION, 4, data};
                const SECURITY_STATUS status = DecryptMessage(&context, &dataDesc, 0, nullptr);
                if (status == SEC_E_OK) {
                    std::string extra;
                    for (const SecBuffer& part : data) {
                        if (part.BufferType == SECBUFFER_DATA)
                            reply.append(static_cast<const char*>(part.pvBuffer), part.cbBuffer);
                        if (part.BufferType == SECBUFFER_EXTRA)
                            extra.assign(static_cast<const char*>(part.pvBuffer), part.cbBuffer);
                    }
                    in_.swap(extra);
                    continue;
                }
                if (status == SEC_I_CONTEXT_EXPIRED) return true;
                if (status != SEC_E_INCOMPLETE_MESSAGE) return false;
            }
            if (!receive(s)) return in_.empty();
        }
    }

    sockaddr_in target_;
    std::string name_;
    std::wstring host_;
    std::string request_;
    CredHandle credentials_{};
    bool ready_ = false;
    std::string in_;
    char buffer_[16384];
};

// Adds the CA certificate in `path` (PEM) to the trusted roots of this Wine prefix.
bool trustCertificate(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    std::string pem(65536, '\0');
    pem.resize(std::fread(&pem[0], 1, pem.size(), file));
    std::fclose(file);
    std::string der(pem.size(), '\0');
    DWORD size = DWORD(der.size());
    return CryptStringToBinaryA(pem.data(), DWORD(pem.size()), CRYPT_STRING_BASE64HEADER,
                                reinterpret_cast<BYTE*>(&der[0]), &size, nullptr, nullptr) &&
           CertAddEncodedCertificateToSystemStoreA("Root",
                                                   reinterpret_cast<const BYTE*>(der.data()), size);
}

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

// A scrobble as the plugin sends it for a tagged track, signed anew as each is.
std::optional<nimbo::ApiRequest> scrobbleRequest(const std::string& url) {
    nimbo::LastFmAuth auth;
    auth.apiKey = "0123456789abcdef0123456789abcdef";
    auth.secret = "fedcba9876543210fedcba9876543210";
    auth.sessionKey = "nimbo-session-key-0123456789abcd";
    nimbo::LastFmTrack track;
    track.artist = L"Artist";
    track.title = L"Title";
    track.album = L"Album";
    track.lengthSeconds = 245;
    track.timestamp = 1796716800;
    return nimbo::lastFmRequest(nimbo::widen(url + "/2.0/"), nimbo::LastFmCall::scrobble, auth,
                                {track}, nimbo::md5Hex);
}

int run(const Options& options) {
    const std::optional<std::string> cookie = options.cookieSetting + "; remixlang=0";
    const Clock clock;
    if (!options.trustCa.empty() && !trustCertificate(options.trustCa)) {
        std::fprintf(stderr, "http_bench: cannot trust %s\n", options.trustCa.c_str());
        return 2;
    }
    const bool secure = options.secure;
    // A playing-now as the plugin sends it for a tagged track.
    std::optional<nimbo::ApiRequest> playingNow;
    if (options.scrobble) {
        playingNow = scrobbleRequest(options.url);
    } else if (options.playingNow) {
        const nimbo::ListenFields fields{L"Artist", L"Title", L"Album", 245};
        playingNow = nimbo::listenBrainzRequest(
            nimbo::widen(options.url), nimbo::widen(options.token),
            nimbo::ListenBrainzCall::submitListens,
            nimbo::listensBody(nimbo::ListenType::playingNow, {nimbo::Listen{fields, 0}}));
    }
    const auto exchange = [&](nimbo::HttpReply& reply) {
        // A scrobble is built and signed for each request, as the plugin does.
        if (options.scrobble) playingNow = scrobbleRequest(options.url);
        if (playingNow) return nimbo::apiExchange(*playingNow, options.proxy, reply);
        return nimbo::httpExchange(options.url, cookie, options.proxy, reply, nimbo::kTickExchange,
                                   secure);
    };

    // One untimed exchange first: it pays for Winsock start-up and the first look-up,
    // which the plugin pays once per process, not per request.
    nimbo::HttpReply first;
    if (!exchange(first)) {
        std::fprintf(stderr, "http_bench: cannot reach %s\n", options.url.c_str());
        return 1;
    }
    std::printf("first-reply status %d body %u bytes\n", first.statusCode,
                unsigned(first.body.size()));
    // A refused playing-now is answered as quickly and would time nothing of use.
    if (playingNow && first.statusCode != 200) {
        std::fprintf(stderr, "http_bench: the playing-now was refused (%d): %s\n", first.statusCode,
                     first.body.c_str());
        return 1;
    }

    // The baseline sends the very bytes the plugin sends, to the same address.
    std::optional<MinimalGet> minimal;
    std::optional<MinimalTlsExchange> minimalTls;
    if (options.baseline) {
        const nimbo::ParsedUrl parsed = playingNow ? playingNow->url : nimbo::parseUrl(options.url);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_addr.s_addr = inet_addr(parsed.host.c_str());
        target.sin_port = htons(u_short(std::atoi(parsed.port.c_str())));
        if (secure && !playingNow) {
            // The server name goes out as SNI, so the URL names the host (looked up on
            // each GET like the plugin does).
            target.sin_addr.s_addr = inet_addr("127.0.0.1");
            target.sin_port = htons(u_short(std::atoi(nimbo::kSecurePort)));
        }
        if (target.sin_addr.s_addr == INADDR_NONE) {
            std::fprintf(stderr, "http_bench: --baseline needs a dotted address\n");
            return 2;
        }
        const std::string request = playingNow
                                        ? nimbo::buildApiRequest(*playingNow, nimbo::ProxyParts())
                                        : nimbo::buildRequest(parsed, nimbo::ProxyParts(), cookie);
        std::string body;
        if (secure) minimalTls.emplace(target, parsed.host, request);
        if (minimalTls &&
            (!minimalTls->ready() || !minimalTls->fetch(body) || body != first.body)) {
            std::fprintf(stderr,
                         "http_bench: the minimal SChannel client did not get the same reply\n");
            return 1;
        }
        minimal.emplace(target, request);
        if (!secure && (!minimal->fetch(body) || body != first.body)) {
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
        const bool ok = exchange(reply).ok();
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
        const bool ok = minimalTls ? minimalTls->fetch(body) : minimal->fetch(body, side.extras);
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
    bool allOk =
        plugin.failed == 0 && otherStatus == 0 && plugin.otherBody == 0 && !plugin.times.empty();
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
