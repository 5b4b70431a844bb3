// The secure connection: a TLS session through the system's SChannel over a plain
// connection, itself a byte stream that the HTTP reply reader takes like a socket.
#pragma once

#include <memory>
#include <string>

#include "net/http.h"
#include "net/outcome.h"

namespace nimbo {

// The port TLS connections go to: 443, or a test build's own.
extern const char kSecurePort[];

// A connection to read from and send on; reads as ByteSource::read.
class Transport : public ByteSource {
  public:
    // False when the bytes could not all go out, `why` telling how it ended.
    virtual bool sendAll(const std::string& bytes, StepEnd& why) = 0;
    // True once quit has abandoned the exchange: nothing more is read or sent.
    virtual bool abandoned() const = 0;
};

// A whole handshake may take at most this long, each wait within it being bounded
// by kHttpWaitMs as ever: a peer that trickles its handshake holds nobody for long.
constexpr unsigned kMaxHandshakeMs = 20000;

// Empty records in a row that a read takes: a stack may send one before a record of
// data, never a stream of them.
constexpr int kMaxEmptyRecords = 8;

// TLS 1.2 or later over `plain`, which must outlive the session.
class TlsSession : public Transport {
  public:
    explicit TlsSession(Transport& plain);
    ~TlsSession() override;
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // The handshake with `host` as the server name, then the check of the site's
    // certificate (chain to a trusted root for server authentication, and the host
    // name). Done only when both passed; untrustedSite when the certificate did not,
    // otherwise noConnection at NetStep::handshake. Time and quit are checked on every
    // round, the bound in all being kMaxHandshakeMs (StepEnd::tooLong).
    Outcome handshake(const std::string& host);

    // Reads from here on end with kReadTooLong once `deadline` has passed, checked on
    // every pass inside a read too: a record trickled in holds no reply past its bound.
    void limitReads(const Deadline& deadline);

    bool sendAll(const std::string& bytes, StepEnd& why) override;
    bool abandoned() const override;
    // Quit and the deadline are checked on every pass; more than kMaxEmptyRecords empty
    // records in a row end the read as failed.
    int read(char* buffer, int max) override;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace nimbo
