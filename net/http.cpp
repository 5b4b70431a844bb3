#include "net/http.h"

#include <algorithm>
#include <cstdint>

#include "common/hex.h"
#include "common/text.h"
#include "common/utf8.h"
#include "common/version.h"

namespace nimbo {

const char kUserAgent[] = "Opera/9.20 (Windows NT 5.1; U; ru)";

namespace {

// How a reply ended whose read failed (n < 0).
ReplyEnd failedRead(int n) {
    return n == kReadTimedOut  ? ReplyEnd::timedOut
           : n == kReadTooLong ? ReplyEnd::tooLong
                               : ReplyEnd::reset;
}

// A CR or LF inside a header value would end the line early and let the rest pose
// as a header of its own, so none goes out.
std::string withoutLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '\r' && c != '\n') out.push_back(c);
    }
    return out;
}

// Digits in `base` (10 or 16) only, at least one. Large values saturate, which is
// enough here: every size is checked against far smaller bounds.
bool parseNumber(const std::string& text, unsigned base, uint64_t& value) {
    if (text.empty()) return false;
    const uint64_t kCap = uint64_t(1) << 48;
    value = 0;
    for (char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0 || unsigned(digit) >= base) return false;
        value = std::min(kCap, value * base + unsigned(digit));
    }
    return true;
}

// The text after the first space of a line, or nothing when there is no space.
std::string afterFirstSpace(const std::string& line) {
    size_t space = line.find(' ');
    return space == std::string::npos ? std::string() : line.substr(space + 1);
}

int statusCodeOf(const std::string& statusLine) {
    std::string rest = afterFirstSpace(statusLine);
    rest = rest.substr(0, rest.find(' '));
    uint64_t code = 0;
    if (rest.size() > 9 || !parseNumber(rest, 10, code)) return 0;
    return int(code);
}

// Bytes from a source with the line rules of the reply: a line ends at CR LF, LF CR,
// a lone CR or a lone LF. Once the source has closed, failed or timed out, or a
// bound has been passed, it is never asked again.
class ReplyReader {
  public:
    explicit ReplyReader(ByteSource& source) : source_(source) {}

    // How the read ended, once it has: the source's last word, or a bound of ours.
    // `complete` while it has not.
    ReplyEnd endedBy() const { return endedBy_; }

    // False when the read ended first; the line is then empty.
    bool readLine(std::string& line) {
        line.clear();
        for (;;) {
            int c = next();
            if (c < 0) {
                line.clear();
                return false;
            }
            if (c == '\r' || c == '\n') {
                // The partner of this end is dropped only if it is the very next
                // byte, whenever that arrives; so a pair split across two reads is
                // one line end, and nobody waits just to look for it.
                pendingPartner_ = (c == '\r') ? '\n' : '\r';
                return true;
            }
            if (line.size() >= kMaxHeaderLineBytes) {
                stop(ReplyEnd::overBound);
                line.clear();
                return false;
            }
            line.push_back(char(c));
        }
    }

    // Appends up to `count` bytes; returns how many arrived.
    size_t readBytes(std::string& out, size_t count) {
        size_t got = 0;
        while (got < count) {
            if (pos_ == len_ && !fill()) break;
            if (dropPartner()) continue;
            size_t take = std::min(count - got, len_ - pos_);
            out.append(buffer_ + pos_, take);
            pos_ += take;
            got += take;
        }
        return got;
    }

    // Ends the read as if the connection had ended here, for the reason given.
    void stop(ReplyEnd why) {
        if (!ended_) endedBy_ = why;
        ended_ = true;
        pos_ = len_ = 0;
    }

  private:
    bool fill() {
        if (ended_ || taken_ >= kMaxReplyBytes) {
            stop(ReplyEnd::overBound);
            return false;
        }
        int max = int(std::min(sizeof(buffer_), kMaxReplyBytes - taken_));
        int n = source_.read(buffer_, max);
        if (n <= 0) {
            // A close is no fault in itself; the caller knows whether more was due.
            stop(n == 0 ? ReplyEnd::complete : failedRead(n));
            return false;
        }
        pos_ = 0;
        len_ = std::min(size_t(n), size_t(max));
        taken_ += len_;
        return true;
    }

    // Drops the byte at the read position when it completes the last line end.
    bool dropPartner() {
        int partner = pendingPartner_;
        pendingPartner_ = -1;
        if (partner >= 0 && buffer_[pos_] == char(partner)) {
            ++pos_;
            return true;
        }
        return false;
    }

    int next() {
        for (;;) {
            if (pos_ == len_ && !fill()) return -1;
            if (dropPartner()) continue;
            return static_cast<unsigned char>(buffer_[pos_++]);
        }
    }

    ByteSource& source_;
    char buffer_[4096];
    size_t pos_ = 0, len_ = 0;
    size_t taken_ = 0;
    bool ended_ = false;
    ReplyEnd endedBy_ = ReplyEnd::complete;
    int pendingPartner_ = -1;
};

enum class BodyMode { toClose, length, chunked };

// How a reply ended that stopped before the end its framing announced: a plain
// close counts as closing early there.
ReplyEnd endedEarly(const ReplyReader& reader) {
    const ReplyEnd end = reader.endedBy();
    return end == ReplyEnd::complete ? ReplyEnd::closedEarly : end;
}

ReplyEnd readChunkedBody(ReplyReader& reader, std::string& body) {
    std::string line;
    for (;;) {
        if (!reader.readLine(line)) return endedEarly(reader);
        if (line.empty()) continue;
        uint64_t size = 0;
        // A size line that is no number ends the body like a close would.
        if (!parseNumber(line.substr(0, line.find(' ')), 16, size)) return ReplyEnd::closedEarly;
        if (size == 0) return ReplyEnd::complete;
        size_t room = kMaxBodyBytes - body.size();
        if (size > room) {
            reader.readBytes(body, room);
            reader.stop(ReplyEnd::overBound);
            return ReplyEnd::overBound;
        }
        if (reader.readBytes(body, size_t(size)) < size) return endedEarly(reader);
    }
}

}  // namespace

ParsedUrl parseUrl(const std::string& url) {
    ParsedUrl parsed;
    std::string rest = url;
    size_t mark = url.find("://");
    if (mark != std::string::npos) {
        parsed.scheme = trimControls(url.substr(0, mark), true);
        rest = url.substr(mark + 3);
    }
    size_t slash = rest.find('/');
    size_t at = rest.find('@');
    if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
        rest = rest.substr(at + 1);
        slash = rest.find('/');
    }
    std::string hostPort = trimControls(rest.substr(0, slash), true);
    std::string path =
        slash == std::string::npos ? std::string() : trimControls(rest.substr(slash + 1), true);
    size_t colon = hostPort.find(':');
    parsed.host = trimControls(hostPort.substr(0, colon), true);
    if (colon != std::string::npos) {
        std::string port = trimControls(hostPort.substr(colon + 1), true);
        if (!port.empty()) parsed.port = port;
    }
    if (parsed.host.empty()) parsed.host = "localhost";
    parsed.requestUri = "/" + path;
    return parsed;
}

std::string base64Encode(const std::string& bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t group = uint32_t(static_cast<unsigned char>(bytes[i])) << 16;
        if (n > 1) group |= uint32_t(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (n > 2) group |= uint32_t(static_cast<unsigned char>(bytes[i + 2]));
        out.push_back(kAlphabet[(group >> 18) & 63]);
        out.push_back(kAlphabet[(group >> 12) & 63]);
        out.push_back(n > 1 ? kAlphabet[(group >> 6) & 63] : '=');
        out.push_back(n > 2 ? kAlphabet[group & 63] : '=');
    }
    return out;
}

namespace {

// The request line and Host, then Proxy-Authorization when the request goes in plain
// through a proxy with credentials. `defaultPort` is the one Host leaves out.
std::string requestHead(const char* method, const ParsedUrl& url, const ProxyParts& proxy,
                        const char* defaultPort) {
    const bool viaProxy = !proxy.proxyHost.empty();
    std::string out = method;
    out += ' ';
    const std::string host = hostInUrl(url.host);
    if (viaProxy) out.append(url.scheme).append("://").append(host).append(":").append(url.port);
    out.append(url.requestUri);
    out = withoutLineBreaks(out);
    out += " HTTP/1.0\r\nHost: ";
    out.append(withoutLineBreaks(url.port != defaultPort ? host + ":" + url.port : host))
        .append("\r\n");
    if (viaProxy && !proxy.proxyUser.empty()) {
        out.append("Proxy-Authorization: Basic ")
            .append(base64Encode(proxy.proxyUser + ":" + proxy.proxyPassword))
            .append("\r\n");
    }
    return out;
}

void appendHeader(std::string& out, const char* name, const std::string& value) {
    out.append(name).append(": ").append(withoutLineBreaks(value)).append("\r\n");
}

}  // namespace

std::string buildRequest(const ParsedUrl& url, const ProxyParts& proxy,
                         const std::optional<std::string>& cookie) {
    std::string request = requestHead("GET", url, proxy, "80");
    if (cookie) appendHeader(request, "Cookie", *cookie);
    appendHeader(request, "User-Agent", kUserAgent);
    return request.append("\r\n");
}

std::wstring quotedReply(const std::string& body) {
    std::string text = body;
    const size_t title = text.find("<title>");
    if (title != std::string::npos)
        text = text.substr(title + 7, text.find("</title>") - title - 7);
    if (text.size() > 120) text.resize(120);
    std::wstring line = decodeUtf8(text, Utf8Malformed::replaceEach);
    for (wchar_t& c : line)
        if (c < L' ') c = L' ';
    line = trimBlanks(line);
    return line.empty() ? line : L": \"" + line + L"\"";
}

std::string apiUserAgent() {
    std::string version = NIMBO_VERSION;
    for (char& c : version)
        if (c == ' ') c = '-';
    return "Nimbo/" + version + " (Winamp plugin that publishes what plays)";
}

std::string buildApiRequest(const ApiRequest& request, const ProxyParts& proxy) {
    const bool post = request.method == "POST";
    std::string out =
        requestHead(post ? "POST" : "GET", request.url, proxy,
                    equalsNoCase(request.url.scheme, std::string("https")) ? "443" : "80");
    appendHeader(out, "User-Agent", request.userAgent);
    for (const auto& header : request.headers)
        appendHeader(out, header.first.c_str(), header.second);
    if (post) appendHeader(out, "Content-Length", std::to_string(request.body.size()));
    return out.append("\r\n").append(request.body);
}

std::string buildConnectRequest(const std::string& host, const std::string& port,
                                const ProxyParts& proxy) {
    const std::string target = withoutLineBreaks(hostInUrl(host) + ":" + port);
    std::string request = "CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n";
    if (!proxy.proxyUser.empty()) {
        request += "Proxy-Authorization: Basic " +
                   base64Encode(proxy.proxyUser + ":" + proxy.proxyPassword) + "\r\n";
    }
    return request + "\r\n";
}

TunnelReply readTunnelReply(ByteSource& source) {
    TunnelReply reply;
    std::string line;
    size_t lines = 0;
    bool statusSeen = false;
    for (;;) {
        char c = 0;
        const int n = source.read(&c, 1);
        if (n <= 0) {
            reply.end = n == 0 ? ReplyEnd::closedEarly : failedRead(n);
            return reply;
        }
        if (c != '\n') {
            if (line.size() >= kMaxHeaderLineBytes) return (reply.end = ReplyEnd::overBound), reply;
            line.push_back(c);
            continue;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (++lines > kMaxHeaderLines) return (reply.end = ReplyEnd::overBound), reply;
        if (statusSeen && line.empty()) return reply;
        if (!statusSeen && !line.empty()) {
            statusSeen = true;
            if (startsWithNoCase(line, "HTTP/")) reply.statusCode = statusCodeOf(line);
        }
        line.clear();
    }
}

namespace {

// The header lines after the status line, up to the empty one, and how the body is
// framed. False when the reply ended (or passed its bound) first; `reply.end` says how.
bool readHeaderLines(ReplyReader& reader, HttpReply& reply, BodyMode& mode, uint64_t& length) {
    std::string line;
    for (;;) {
        if (reply.headers.size() > kMaxHeaderLines) {
            reader.stop(ReplyEnd::overBound);
            reply.end = ReplyEnd::overBound;
            return false;
        }
        if (!reader.readLine(line)) {
            reply.end = endedEarly(reader);
            return false;
        }
        reply.headers.push_back(line);
        if (line.empty()) return true;
        if (startsWithNoCase(line, "CONTENT-LENGTH:")) {
            uint64_t value = 0;
            if (parseNumber(trimControls(afterFirstSpace(line), true), 10, value)) {
                length = value;
                mode = BodyMode::length;
            }
        } else if (startsWithNoCase(line, "TRANSFER-ENCODING:")) {
            if (containsNoCase(afterFirstSpace(line), "CHUNKED")) mode = BodyMode::chunked;
        }
    }
}

void readBody(ReplyReader& reader, BodyMode mode, uint64_t length, HttpReply& reply) {
    switch (mode) {
        case BodyMode::length: {
            const size_t want = size_t(std::min<uint64_t>(length, kMaxBodyBytes));
            if (reader.readBytes(reply.body, want) < want) {
                reply.end = endedEarly(reader);
            } else if (length > want) {
                reply.end = ReplyEnd::overBound;
            }
            break;
        }
        case BodyMode::chunked:
            reply.end = readChunkedBody(reader, reply.body);
            break;
        case BodyMode::toClose:
            reader.readBytes(reply.body, kMaxBodyBytes);
            if (reply.body.size() == kMaxBodyBytes) reader.stop(ReplyEnd::overBound);
            reply.end = reader.endedBy();
            break;
    }
}

}  // namespace

bool headerNumber(const HttpReply& reply, const std::string& nameWithColon, uint64_t& value) {
    bool found = false;
    for (const std::string& line : reply.headers) {
        if (startsWithNoCase(line, nameWithColon))
            found = parseNumber(trimControls(line.substr(nameWithColon.size()), true), 10, value);
    }
    return found;
}

HttpReply readReply(ByteSource& source) {
    HttpReply reply;
    ReplyReader reader(source);
    std::string line;

    // Status line: the first non-empty line. Blank lines before it count against
    // the header line bound.
    size_t blankLines = 0;
    bool wholeLine = false;
    while ((wholeLine = reader.readLine(line)) && line.empty()) {
        if (++blankLines > kMaxHeaderLines) {
            reader.stop(ReplyEnd::overBound);
            break;
        }
    }
    if (!startsWithNoCase(line, "HTTP/")) {
        // No status: what came is the start of a body that runs to the close.
        reply.body = line + "\r\n";
        reader.readBytes(reply.body, kMaxBodyBytes - reply.body.size());
        if (reply.body.size() == kMaxBodyBytes) reader.stop(ReplyEnd::overBound);
        reply.end = reader.endedBy();
        // Closed before one whole line arrived: nothing of an answer came, which is a
        // reply cut short (a service dropping connections), not a complete one.
        if (!wholeLine && blankLines == 0) reply.end = endedEarly(reader);
        return reply;
    }
    reply.statusCode = statusCodeOf(line);
    reply.headers.push_back(line);

    BodyMode mode = BodyMode::toClose;
    uint64_t length = 0;
    if (!readHeaderLines(reader, reply, mode, length)) return reply;
    if (reply.statusCode == 204 || reply.statusCode == 304) return reply;
    readBody(reader, mode, length, reply);
    return reply;
}

Deadline::Deadline(unsigned limitMs, MsClock nowMs)
    : limitMs_(limitMs), nowMs_(nowMs), startMs_(nowMs()) {}

bool Deadline::passed() const {
    // Unsigned difference: right across a wrap of the clock.
    return nowMs_() - startMs_ >= limitMs_;
}

TimeLimitedSource::TimeLimitedSource(ByteSource& inner, Deadline deadline)
    : inner_(inner), deadline_(deadline) {}

int TimeLimitedSource::read(char* buffer, int max) {
    if (deadline_.passed()) return kReadTooLong;
    return inner_.read(buffer, max);
}

}  // namespace nimbo
