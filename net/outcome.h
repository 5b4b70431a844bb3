// What a request, a login or a publish step came to, as values rather than marker
// texts: a page that happens to read "err" or "None" is then just a page. Every part
// is an enumeration, so a later reader (a log, a message) maps each to its own words.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

namespace nimbo {

enum class OutcomeKind : uint8_t {
    done,           // the step did what it was for
    noConnection,   // no exchange with the service: see `step` and `stepEnd`
    loggedOut,      // the site answered, but not as a logged-in user
    noHash,         // the profile page carried no activity hash
    loginRejected,  // the login reply carried no usable cookie
    wrongCode,      // the service refused the typed security code
    codeCancelled,  // no code to send: the prompt closed empty, or its picture was not to be had
    untrustedSite,  // the site's certificate failed the check; nothing of the request went out
};

// The part of an exchange that failed (noConnection) or, for a done exchange, none.
// `tunnel` is the proxy's CONNECT and `handshake` the TLS one, both only with Secure.
enum class NetStep : uint8_t { none, lookUp, connect, tunnel, handshake, send, reply };

// How a failed step ended.
enum class StepEnd : uint8_t {
    failed,     // refused, reset or impossible (bad port, no memory, no such host)
    timedOut,   // a wait ran out
    abandoned,  // quit began
    refused,    // the proxy answered the CONNECT with `proxyStatus`, not a 2xx
    protocol,   // the peer's TLS went wrong (an alert, no TLS at all, no common version)
    tooLong,    // the step's time in all ran out (kMaxHandshakeMs, kMaxReplyMs)
};

// How the reply of an exchange that went out ended. Anything but `complete` still
// counts as an answer (the body is what arrived), but a caller may want to know.
enum class ReplyEnd : uint8_t {
    complete,     // the reply ended where it said it would, or the peer closed after it
    timedOut,     // a wait ran out before the reply's end
    reset,        // the connection failed before the reply's end
    closedEarly,  // the peer closed before the announced body or the last chunk
    overBound,    // the reply passed one of our size bounds and was cut there
    tooLong,      // the whole reply took longer than kMaxReplyMs and was cut there
};

struct Outcome {
    OutcomeKind kind = OutcomeKind::done;
    NetStep step = NetStep::none;            // noConnection: where
    StepEnd stepEnd = StepEnd::failed;       // noConnection: how
    ReplyEnd replyEnd = ReplyEnd::complete;  // done after a request: how its reply ended
    uint16_t proxyStatus = 0;                // refused: the proxy's status code (0: none)

    bool ok() const { return kind == OutcomeKind::done; }
    explicit operator bool() const { return ok(); }

    static Outcome doneWith(ReplyEnd end = ReplyEnd::complete) {
        Outcome o;
        o.replyEnd = end;
        return o;
    }
    static Outcome failedAt(NetStep where, StepEnd how) {
        Outcome o;
        o.kind = OutcomeKind::noConnection;
        o.step = where;
        o.stepEnd = how;
        return o;
    }
    static Outcome of(OutcomeKind kind) {
        Outcome o;
        o.kind = kind;
        return o;
    }
};

// A reply that ended before it was whole: the request may not have reached the site,
// and a page cut short may read as logged out, without a hash or without a cookie.
inline bool cutShort(const Outcome& outcome) {
    return outcome.replyEnd == ReplyEnd::timedOut || outcome.replyEnd == ReplyEnd::tooLong ||
           outcome.replyEnd == ReplyEnd::reset || outcome.replyEnd == ReplyEnd::closedEarly;
}

// A step whose answer was cut short, as a failed step: a wait or the time in all ran out,
// or it failed.
inline StepEnd stepEndOf(ReplyEnd end) {
    return end == ReplyEnd::timedOut  ? StepEnd::timedOut
           : end == ReplyEnd::tooLong ? StepEnd::tooLong
                                      : StepEnd::failed;
}

// An outcome and, when it is done, the value the step produced.
template <typename T>
struct Result {
    Outcome outcome;
    std::optional<T> value;

    bool ok() const { return outcome.ok() && value.has_value(); }

    static Result success(T v, ReplyEnd end = ReplyEnd::complete) {
        return Result{Outcome::doneWith(end), std::optional<T>(std::move(v))};
    }
    static Result failure(const Outcome& why) { return Result{why, std::nullopt}; }
};

}  // namespace nimbo
