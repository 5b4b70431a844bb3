// The reply reader over canned bytes, handed out in pieces of every size.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "net/http.h"

using namespace nimbo;

namespace {

// Hands out `data` in pieces of at most `chunk` bytes, then answers `endResult`
// (0: the peer closed, kReadTimedOut: a wait ran out, kReadFailed: a reset) to every
// further read.
class CannedSource : public ByteSource {
  public:
    CannedSource(std::string data, size_t chunk, int endResult = 0)
        : data_(std::move(data)), chunk_(chunk), endResult_(endResult) {}
    int read(char* buffer, int max) override {
        ++reads;
        if (pos_ == data_.size()) {
            ++readsAtEnd;
            return endResult_;
        }
        size_t n = std::min({chunk_, size_t(max), data_.size() - pos_});
        std::copy(data_.begin() + pos_, data_.begin() + pos_ + n, buffer);
        pos_ += n;
        return int(n);
    }
    size_t consumed() const { return pos_; }
    int reads = 0;
    int readsAtEnd = 0;

  private:
    std::string data_;
    size_t chunk_;
    int endResult_;
    size_t pos_ = 0;
};

// The same text forever, never closing.
class EndlessSource : public ByteSource {
  public:
    explicit EndlessSource(std::string prefix, std::string unit)
        : prefix_(std::move(prefix)), unit_(std::move(unit)) {}
    int read(char* buffer, int max) override {
        for (int i = 0; i < max; ++i, ++pos_) {
            buffer[i] = pos_ < prefix_.size() ? prefix_[pos_]
                                              : unit_[(pos_ - prefix_.size()) % unit_.size()];
        }
        total += size_t(max);
        return max;
    }
    size_t total = 0;

  private:
    std::string prefix_, unit_;
    size_t pos_ = 0;
};

const size_t kChunkSizes[] = {1, 2, 3, 7, 4096};

HttpReply readIn(const std::string& wire, size_t chunk, int endResult = 0) {
    CannedSource source(wire, chunk, endResult);
    return readReply(source);
}

using Lines = std::vector<std::string>;

TEST(ReadReply, EveryLineEndInEveryPieceSize) {
    for (const char* end : {"\r\n", "\n\r", "\r", "\n"}) {
        const std::string e = end;
        const std::string wire = "HTTP/1.0 200 OK" + e + "Content-Length: 3" + e + e + "xyz!";
        for (size_t chunk : kChunkSizes) {
            SCOPED_TRACE(testing::Message()
                         << "end " << int(e[0]) << e.size() << " chunk " << chunk);
            HttpReply r = readIn(wire, chunk);
            EXPECT_EQ(r.statusCode, 200);
            EXPECT_EQ(r.headers, (Lines{"HTTP/1.0 200 OK", "Content-Length: 3", ""}));
            EXPECT_EQ(r.body, "xyz");
        }
    }
}

TEST(ReadReply, MixedLineEndsSplitAtTheEarliestEnd) {
    // CR LF, then a lone CR followed by CR LF (two ends), then LF CR, then LF LF.
    const std::string wire = "HTTP/1.0 200 OK\r\nA: 1\r\r\n";
    for (size_t chunk : kChunkSizes) {
        EXPECT_EQ(readIn(wire, chunk).headers, (Lines{"HTTP/1.0 200 OK", "A: 1", ""}));
    }
    const std::string wire2 = "HTTP/1.0 200 OK\n\rA: 1\n\n";
    for (size_t chunk : kChunkSizes) {
        EXPECT_EQ(readIn(wire2, chunk).headers, (Lines{"HTTP/1.0 200 OK", "A: 1", ""}));
    }
}

TEST(ReadReply, StatusLine) {
    struct Case {
        std::string wire;
        int status;
        Lines headers;
        std::string body;
        ReplyEnd end;
    };
    const ReplyEnd complete = ReplyEnd::complete, early = ReplyEnd::closedEarly;
    const Case cases[] = {
        {"\r\n\r\nHTTP/1.1 404 Not Found\r\n\r\nnope",
         404,
         {"HTTP/1.1 404 Not Found", ""},
         "nope",
         complete},
        {"http/1.0 200\r\n\r\nok", 200, {"http/1.0 200", ""}, "ok", complete},
        {"HTTP/1.0 abc\r\n\r\nb", 0, {"HTTP/1.0 abc", ""}, "b", complete},
        // No status line: the line and CR LF start a body read to the close.
        {"<html>hi</html>\nmore\r\n", 0, {}, "<html>hi</html>\r\nmore\r\n", complete},
        {"\r\nHTTX/1.0 200 OK\r\nA: 1\r\n\r\n", 0, {}, "HTTX/1.0 200 OK\r\nA: 1\r\n\r\n", complete},
        // Nothing, or not one whole line, before the close: the body reads as CR LF,
        // and the reply ended early.
        {"", 0, {}, "\r\n", early},
        {"HTTP/1.0 200 O", 0, {}, "\r\n", early},
        // Closed within the header block: what came is kept, but it ended early.
        {"HTTP/1.0 200 OK\r\nA: 1\r\n", 200, {"HTTP/1.0 200 OK", "A: 1"}, "", early},
        // Bodies that read like the old failure texts are bodies.
        {"HTTP/1.0 200 OK\r\n\r\nerr", 200, {"HTTP/1.0 200 OK", ""}, "err", complete},
        {"HTTP/1.0 200 OK\r\n\r\nNone", 200, {"HTTP/1.0 200 OK", ""}, "None", complete},
    };
    for (const Case& c : cases) {
        for (size_t chunk : kChunkSizes) {
            SCOPED_TRACE(c.wire + " / chunk " + std::to_string(chunk));
            HttpReply r = readIn(c.wire, chunk);
            EXPECT_EQ(r.statusCode, c.status);
            EXPECT_EQ(r.headers, c.headers);
            EXPECT_EQ(r.body, c.body);
            EXPECT_EQ(r.end, c.end);
        }
    }
}

TEST(ReadReply, SilentServerGivesCrLfAfterOneWait) {
    CannedSource source("", 1, kReadTimedOut);
    HttpReply r = readReply(source);
    EXPECT_EQ(r.body, "\r\n");
    EXPECT_TRUE(r.headers.empty());
    EXPECT_EQ(r.end, ReplyEnd::timedOut);
    // A wait that ran out ends the read; nobody waits a second time.
    EXPECT_EQ(source.reads, 1);
}

TEST(ReadReply, BodyModesFromHeadersInAnyCase) {
    const std::string chunked = "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n";
    struct Case {
        std::string headers;
        std::string rest;
        std::string body;
        ReplyEnd end;
    };
    const ReplyEnd complete = ReplyEnd::complete;
    const Case cases[] = {
        {"Content-Length: 3\r\n", "abcdef", "abc", complete},
        {"CONTENT-LENGTH:    3  \r\n", "abcdef", "abc", complete},
        {"Content-Length: 0\r\n", "abcdef", "", complete},
        // Shorter than announced: kept, and known to be short.
        {"Content-Length: 10\r\n", "abc", "abc", ReplyEnd::closedEarly},
        // No space, or no number: the body runs to the close.
        {"Content-Length:3\r\n", "abcdef", "abcdef", complete},
        {"Content-Length: -1\r\n", "abcdef", "abcdef", complete},
        {"", "abcdef", "abcdef", complete},
        {"Transfer-Encoding: chunked\r\n", chunked, "abcde", complete},
        {"transfer-encoding: gzip, CHUNKED\r\n", chunked, "abcde", complete},
        // The later of the two lines decides.
        {"Content-Length: 2\r\nTransfer-Encoding: chunked\r\n", chunked, "abcde", complete},
        {"Transfer-Encoding: chunked\r\nContent-Length: 2\r\n", chunked, "3\r", complete},
        {"Transfer-Encoding: chunked\r\nContent-Length: nope\r\n", chunked, "abcde", complete},
    };
    for (const Case& c : cases) {
        for (size_t chunk : kChunkSizes) {
            SCOPED_TRACE(c.headers + " / chunk " + std::to_string(chunk));
            HttpReply r = readIn("HTTP/1.0 200 OK\r\n" + c.headers + "\r\n" + c.rest, chunk);
            EXPECT_EQ(r.body, c.body);
            EXPECT_EQ(r.headers.back(), "");
            EXPECT_EQ(r.end, c.end);
        }
    }
}

TEST(ReadReply, ChunkedBodies) {
    const struct {
        std::string wire, body;
        ReplyEnd end;
    } cases[] = {
        {"3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n", "abcde", ReplyEnd::complete},
        {"a\r\n0123456789\r\nA\r\nabcdefghij\r\n0\r\n", "0123456789abcdefghij", ReplyEnd::complete},
        {"3 ; note\r\nabc\r\n0\r\n", "abc", ReplyEnd::complete},
        {"\r\n\r\n3\nabc\n\n2\rde\r0\r\n", "abcde", ReplyEnd::complete},
        // Text that is not hexadecimal ends the body, and so does the close; neither
        // is the last chunk.
        {"3\r\nabc\r\n3;x=1\r\ndef\r\n0\r\n", "abc", ReplyEnd::closedEarly},
        {"3\r\nabc\r\n5\r\nde", "abcde", ReplyEnd::closedEarly},
        {"3\r\nabc\r\n", "abc", ReplyEnd::closedEarly},
    };
    for (const auto& c : cases) {
        for (size_t chunk : kChunkSizes) {
            SCOPED_TRACE(c.wire + " / chunk " + std::to_string(chunk));
            HttpReply r =
                readIn("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + c.wire, chunk);
            EXPECT_EQ(r.body, c.body);
            EXPECT_EQ(r.end, c.end);
        }
    }
}

// A reply whose length or chunks say it is complete never waits for more data.
TEST(ReadReply, CompleteBodyNeedsNoFurtherRead) {
    const std::string replies[] = {
        "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello",
        "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n",
        "HTTP/1.0 204 No Content\r\nContent-Length: 5\r\n\r\n",
        "HTTP/1.0 304 Not Modified\r\n\r\n",
    };
    for (const std::string& wire : replies) {
        for (size_t chunk : kChunkSizes) {
            SCOPED_TRACE(wire);
            CannedSource source(wire, chunk, kReadTimedOut);
            EXPECT_EQ(readReply(source).end, ReplyEnd::complete);
            EXPECT_EQ(source.readsAtEnd, 0);
        }
    }
}

TEST(ReadReply, NoBodyFor204And304) {
    for (const char* status : {"204 No Content", "304 Not Modified"}) {
        HttpReply r =
            readIn(std::string("HTTP/1.0 ") + status + "\r\nContent-Length: 3\r\n\r\nabc", 4096);
        EXPECT_EQ(r.body, "");
        EXPECT_EQ(r.headers.size(), 3u);
    }
    EXPECT_EQ(readIn("HTTP/1.0 205 Reset\r\n\r\nabc", 4096).body, "abc");
}

// A time-out (a wait's or the reply's in all) or a reset before the reply's end keeps
// what arrived and says which.
TEST(ReadReply, TimeOutOrResetMidWayKeepsWhatArrived) {
    const std::pair<int, ReplyEnd> ends[] = {{kReadTimedOut, ReplyEnd::timedOut},
                                             {kReadTooLong, ReplyEnd::tooLong},
                                             {kReadFailed, ReplyEnd::reset}};
    for (const auto& [endResult, want] : ends) {
        SCOPED_TRACE(endResult);
        HttpReply body = readIn("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc", 2, endResult);
        EXPECT_EQ(body.body, "abc");
        EXPECT_EQ(body.statusCode, 200);
        EXPECT_EQ(body.end, want);

        CannedSource source("HTTP/1.0 200 OK\r\nContent-Len", 3, endResult);
        HttpReply headers = readReply(source);
        EXPECT_EQ(headers.headers, (Lines{"HTTP/1.0 200 OK"}));
        EXPECT_EQ(headers.body, "");
        EXPECT_EQ(headers.end, want);
        EXPECT_EQ(source.readsAtEnd, 1);

        HttpReply chunked =
            readIn("HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab", 1, endResult);
        EXPECT_EQ(chunked.body, "ab");
        EXPECT_EQ(chunked.end, want);

        // Without framing the body runs to the close, so anything else cuts it short.
        EXPECT_EQ(readIn("HTTP/1.0 200 OK\r\n\r\nabc", 4096, endResult).end, want);
    }
}

TEST(ReadReply, HeaderLineBound) {
    const std::string fits(kMaxHeaderLineBytes, 'a');
    HttpReply ok = readIn("HTTP/1.0 200 OK\r\nX: " + fits.substr(3) + "\r\n\r\nbody", 4096);
    EXPECT_EQ(ok.headers.size(), 3u);
    EXPECT_EQ(ok.headers[1].size(), kMaxHeaderLineBytes);
    EXPECT_EQ(ok.body, "body");

    CannedSource source("HTTP/1.0 200 OK\r\nX: " + fits + "\r\n\r\nbody", 4096);
    HttpReply tooLong = readReply(source);
    EXPECT_EQ(tooLong.headers, (Lines{"HTTP/1.0 200 OK"}));
    EXPECT_EQ(tooLong.body, "");
    EXPECT_EQ(tooLong.end, ReplyEnd::overBound);
    EXPECT_LT(source.consumed(), kMaxHeaderLineBytes + 4096 + 100);

    // An over-long first line is no status line, and the read ends there.
    HttpReply longStatus = readIn("HTTP/1.0 " + fits + "\r\n\r\nbody", 4096);
    EXPECT_EQ(longStatus.statusCode, 0);
    EXPECT_EQ(longStatus.body, "\r\n");
    EXPECT_EQ(longStatus.end, ReplyEnd::overBound);
}

TEST(ReadReply, HeaderCountBound) {
    auto replyWith = [](size_t headerCount) {
        std::string wire = "HTTP/1.0 200 OK\r\n";
        for (size_t i = 0; i < headerCount; ++i) wire += "X-" + std::to_string(i) + ": v\r\n";
        return readIn(wire + "\r\nbody", 4096);
    };
    HttpReply atBound = replyWith(kMaxHeaderLines - 1);
    EXPECT_EQ(atBound.headers.size(), kMaxHeaderLines + 1);  // status + lines + empty line
    EXPECT_EQ(atBound.body, "body");
    EXPECT_EQ(atBound.end, ReplyEnd::complete);

    HttpReply past = replyWith(kMaxHeaderLines);
    EXPECT_EQ(past.headers.size(), kMaxHeaderLines + 1);
    EXPECT_NE(past.headers.back(), "");
    EXPECT_EQ(past.body, "");
    EXPECT_EQ(past.end, ReplyEnd::overBound);

    EndlessSource blanks("", "\r\n");
    HttpReply r = readReply(blanks);
    EXPECT_EQ(r.body, "\r\n");
    EXPECT_LT(blanks.total, 8192u);

    EndlessSource headers("HTTP/1.0 200 OK\r\n", "X: y\r\n");
    EXPECT_EQ(readReply(headers).headers.size(), kMaxHeaderLines + 1);
}

TEST(ReadReply, BodyBoundInEveryMode) {
    const std::string big(kMaxBodyBytes + 10, 'b');
    const std::string lengthHeader = "Content-Length: " + std::to_string(big.size()) + "\r\n";
    for (const std::string& headers : {lengthHeader, std::string()}) {
        CannedSource source("HTTP/1.0 200 OK\r\n" + headers + "\r\n" + big, 1 << 16);
        HttpReply r = readReply(source);
        EXPECT_EQ(r.body.size(), kMaxBodyBytes);
        EXPECT_EQ(r.end, ReplyEnd::overBound);
        EXPECT_EQ(source.readsAtEnd, 0);
    }

    EndlessSource chunks("HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
                         "400\r\n" + std::string(0x400, 'c') + "\r\n");
    HttpReply manyChunks = readReply(chunks);
    EXPECT_EQ(manyChunks.body.size(), kMaxBodyBytes);
    EXPECT_EQ(manyChunks.end, ReplyEnd::overBound);

    EndlessSource huge("HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFF\r\n",
                       "z");
    HttpReply hugeChunk = readReply(huge);
    EXPECT_EQ(hugeChunk.body.size(), kMaxBodyBytes);
    EXPECT_EQ(hugeChunk.end, ReplyEnd::overBound);

    // Framing alone never grows the body, yet the read still ends.
    EndlessSource framing("HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "\r\n");
    HttpReply onlyFraming = readReply(framing);
    EXPECT_EQ(onlyFraming.body, "");
    EXPECT_EQ(onlyFraming.end, ReplyEnd::overBound);
    EXPECT_LE(framing.total, kMaxReplyBytes);
}

// The proxy's answer to CONNECT: read up to its empty line and not a byte further,
// since the tunnel's first bytes follow it.
TEST(ReadTunnelReply, StopsAtTheEmptyLine) {
    const std::string tunnel = "\x16\x03\x03";  // what follows: the first bytes of TLS
    const struct {
        std::string head;
        int status;
        ReplyEnd end;
        bool open;
        int endResult;
    } cases[] = {
        {"HTTP/1.0 200 Connection established\r\n\r\n", 200, ReplyEnd::complete, true, 0},
        {"HTTP/1.1 200 OK\r\nProxy-Agent: x\r\n\r\n", 200, ReplyEnd::complete, true, 0},
        {"\r\nHTTP/1.0 204 Fine\n\n", 204, ReplyEnd::complete, true, 0},
        {"HTTP/1.0 407 Proxy Authentication Required\r\nA: b\r\n\r\n", 407, ReplyEnd::complete,
         false, 0},
        {"HTTP/1.0 302 Found\r\n\r\n", 302, ReplyEnd::complete, false, 0},
        {"SSH-2.0-x\r\n\r\n", 0, ReplyEnd::complete, false, 0},
        // Cut off before the empty line: never open, whatever the status said.
        {"HTTP/1.0 200 OK\r\n", 200, ReplyEnd::closedEarly, false, 0},
        {"HTTP/1.0 200 OK\r\n", 200, ReplyEnd::timedOut, false, kReadTimedOut},
        {"HTTP/1.0 200 OK\r\n", 200, ReplyEnd::tooLong, false, kReadTooLong},
        {"HTTP/1.0 200", 0, ReplyEnd::reset, false, kReadFailed},
        {std::string(200, '\n') + "HTTP/1.0 200 OK\r\n\r\n", 0, ReplyEnd::overBound, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.head);
        const bool whole = c.end == ReplyEnd::complete;
        CannedSource source(c.head + (whole ? tunnel : std::string()), 4096, c.endResult);
        const TunnelReply r = readTunnelReply(source);
        EXPECT_EQ(r.statusCode, c.status);
        EXPECT_EQ(r.end, c.end);
        EXPECT_EQ(r.open(), c.open);
        if (whole) EXPECT_EQ(source.consumed(), c.head.size()) << "took bytes of the tunnel";
    }
    CannedSource longLine("HTTP/1.0 200 " + std::string(kMaxHeaderLineBytes, 'x'), 4096);
    EXPECT_EQ(readTunnelReply(longLine).end, ReplyEnd::overBound);
}

}  // namespace

TEST(ReadReply, AWholeReplyIsBoundInTime) {
    // A peer that trickles forever: every read takes a second of the fake clock,
    // which starts just below the wrap of a 32-bit millisecond counter.
    EndlessSource trickle("HTTP/1.0 200 OK\r\n\r\n", "x");
    TimeLimitedSource limited(trickle, Deadline(10000, [] {
                                  static unsigned now = 0xFFFFFFFFu - 2500;
                                  return (now += 1000) - 1000;
                              }));
    HttpReply reply = readReply(limited);
    EXPECT_EQ(reply.statusCode, 200);
    EXPECT_EQ(reply.end, ReplyEnd::tooLong);
    EXPECT_GT(trickle.total, 0u);
    // About ten reads got through before the limit; the rest answered as too long.
    EXPECT_LE(trickle.total, 10u * 4096u);
    EXPECT_EQ(limited.read(nullptr, 0), kReadTooLong);
}
