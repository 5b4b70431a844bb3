// The portable half of the HTTP/1.0 client: URL parsing, the request bytes and the
// reply reader over a byte source. The socket half lives in
// http_client_win.cpp, so everything here runs in the DLL, the unit tests and the fuzzer.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/server_address.h"
#include "core/settings_codec.h"
#include "net/outcome.h"

namespace nimbo {

extern const char kUserAgent[];

// Each wait for incoming data is limited to this.
constexpr int kHttpWaitMs = 5000;

// Bounds on what a reply may make us hold. Past a bound the read ends as if the
// connection had ended there.
constexpr size_t kMaxHeaderLineBytes = 64 * 1024;
constexpr size_t kMaxHeaderLines = 100;
constexpr size_t kMaxBodyBytes = 16 * 1024 * 1024;
// Every byte taken from the connection, framing included: stops a peer that streams
// blank lines or chunk framing forever without ever growing the body.
constexpr size_t kMaxReplyBytes = 4 * kMaxBodyBytes;

// The site's URLs: no scheme means http, and only the first ':' splits host and port.
ParsedUrl parseUrl(const std::string& url);

// RFC 4648 Base64, standard alphabet with "=" padding.
std::string base64Encode(const std::string& bytes);

// The whole GET request, CR LF line ends, up to and including the empty line.
// The request line takes the absolute form when `proxy.proxyHost` is set; a
// "Cookie" header goes out only when `cookie` holds a value.
std::string buildRequest(const ParsedUrl& url, const ProxyParts& proxy,
                         const std::optional<std::string>& cookie);

// A request to a web API (HTTP/1.0): Host (with the port when it is not the scheme's
// own, an IPv6 address in brackets), Proxy-Authorization when it goes in plain through a proxy with
// credentials, User-Agent, `headers` in their order, then Content-Length for a POST. CR LF line
// ends, the body after the empty line.
struct ApiRequest {
    std::string method = "GET";
    ParsedUrl url;
    std::string userAgent;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
};
std::string buildApiRequest(const ApiRequest& request, const ProxyParts& proxy);

// The plugin's User-Agent for the listening services, which block clients that do not
// name themselves; a product token holds no blank, so the version's becomes a hyphen.
std::string apiUserAgent();

// A reply that is not the service's own, quoted for the log: ": \"...\"" with its title
// when it is a page, else its first 120 bytes, on one line; empty for an empty body.
std::wstring quotedReply(const std::string& body);

// The request that asks a proxy for a tunnel to host:port, Host header alike, with
// the proxy's credentials when it has some. CR LF line ends, the empty line included.
std::string buildConnectRequest(const std::string& host, const std::string& port,
                                const ProxyParts& proxy);

// Where the reply bytes come from: a socket in the plugin, a buffer in tests.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Up to `max` bytes into `buffer`: the count (> 0), 0 when the peer closed,
    // kReadTimedOut when the wait ran out, kReadTooLong when the step's time in all
    // ran out, any other negative value on an error.
    virtual int read(char* buffer, int max) = 0;
};

constexpr int kReadFailed = -1;
constexpr int kReadTimedOut = -2;
constexpr int kReadTooLong = -3;

// A whole reply may take at most this long. Each wait is bounded, but a peer that
// trickles a byte now and then would otherwise hold the caller (and so Winamp's exit
// at quit) almost without end.
constexpr unsigned kMaxReplyMs = 60000;

// A millisecond clock that may wrap.
using MsClock = unsigned (*)();

// The end of a step's time in all: `limitMs` after it was made. A copy keeps the
// same end.
class Deadline {
  public:
    Deadline(unsigned limitMs, MsClock nowMs);
    bool passed() const;

  private:
    unsigned limitMs_;
    MsClock nowMs_;
    unsigned startMs_;
};

// Passes reads through until `deadline` has passed, then answers every read with
// kReadTooLong.
class TimeLimitedSource : public ByteSource {
  public:
    TimeLimitedSource(ByteSource& inner, Deadline deadline);
    int read(char* buffer, int max) override;

  private:
    ByteSource& inner_;
    Deadline deadline_;
};

struct HttpReply {
    int statusCode = 0;                // 0 when there is no status line
    std::vector<std::string> headers;  // status line first, the closing empty line included
    std::string body;
    ReplyEnd end = ReplyEnd::complete;  // whether the reply ended where it meant to
};

// The number a header of `reply` carries ("Name:" given with its colon, any letter
// case; the last such line counts); false when there is none or it holds no number.
bool headerNumber(const HttpReply& reply, const std::string& nameWithColon, uint64_t& value);

// Reads one reply from `source`. Never fails: whatever arrived is the reply, and
// `end` says whether that is all the peer meant to send.
HttpReply readReply(ByteSource& source);

// The proxy's answer to a CONNECT, up to its empty line.
struct TunnelReply {
    int statusCode = 0;                 // 0 when the first line is no status line
    ReplyEnd end = ReplyEnd::complete;  // complete once the empty line has arrived
    bool open() const { return end == ReplyEnd::complete && statusCode >= 200 && statusCode < 300; }
};

// Reads the answer one byte at a time, so that nothing of the tunnel behind its empty
// line is taken. A line ends at LF, a CR before it dropped; the header bounds apply.
TunnelReply readTunnelReply(ByteSource& source);

}  // namespace nimbo
