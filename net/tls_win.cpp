// TLS through SChannel (SSPI in secur32) and the certificate check through crypt32:
// both are part of Windows, so nothing is linked in and no other DLL is needed.
#define SECURITY_WIN32
#include <windows.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "common/critical_section.h"
#include "common/platform.h"
#include "net/tls.h"

namespace nimbo {

struct TlsSession::State {
    explicit State(Transport& plain) : plain(plain) {}
    ~State() {
        if (haveContext) DeleteSecurityContext(&context);
        if (haveCredentials) FreeCredentialsHandle(&credentials);
    }

    Transport& plain;
    CredHandle credentials{};
    CtxtHandle context{};
    bool haveCredentials = false;
    bool haveContext = false;
    SecPkgContext_StreamSizes sizes{};
    std::string received;   // bytes from the peer not yet decrypted
    std::string plainText;  // decrypted bytes not yet handed out
    size_t plainPos = 0;
    bool closed = false;  // the peer ended the session (close_notify)
    std::optional<Deadline> readDeadline;
};

namespace {

// What a handshake may make us hold at once: a certificate chain is a few KiB, so a
// peer that sends more without a whole message in it is no TLS server.
constexpr size_t kMaxHandshakeBytes = 256 * 1024;

constexpr DWORD kRequestFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_USE_SUPPLIED_CREDS;

// A token SChannel allocated, freed on every path.
struct OutToken {
    SecBuffer buffer{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc desc{SECBUFFER_VERSION, 1, &buffer};
    ~OutToken() {
        if (buffer.pvBuffer) FreeContextBuffer(buffer.pvBuffer);
    }
    std::string bytes() const {
        return buffer.pvBuffer
                   ? std::string(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer)
                   : std::string();
    }
};

// How a read of the plain connection ended, as a failed handshake.
StepEnd endOfRead(int n) {
    return n == kReadTimedOut ? StepEnd::timedOut : StepEnd::failed;
}

unsigned tickNow() {
    return unsigned(GetTickCount());
}

// The chain to a trusted root for server authentication, and the host name. Both the
// chain's own status and the SSL policy must pass: the policy alone lets a chain
// through whose root is not trusted on some systems (the status shows the partial chain).
bool certificateTrusted(PCCERT_CONTEXT certificate, const std::string& host) {
    LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA chainPara;
    std::memset(&chainPara, 0, sizeof chainPara);
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara,
                                 0, nullptr, &chain) ||
        !chain) {
        return false;
    }
    bool trusted = chain->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR;
    if (trusted) {
        std::wstring name = widen(host);
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl;
        std::memset(&ssl, 0, sizeof ssl);
        ssl.cbSize = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.pwszServerName = &name[0];
        CERT_CHAIN_POLICY_PARA policyPara;
        std::memset(&policyPara, 0, sizeof policyPara);
        policyPara.cbSize = sizeof policyPara;
        policyPara.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS status;
        std::memset(&status, 0, sizeof status);
        status.cbSize = sizeof status;
        trusted =
            CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policyPara, &status) &&
            status.dwError == 0;
    }
    CertFreeCertificateChain(chain);
    return trusted;
}

// The chain check costs a signature check per certificate in the chain, about a
// millisecond under Wine, and a site sends the same certificate on every connection.
// So the last certificate that passed is remembered with its host for a while: the
// very same bytes for the same host, still within their validity, pass without a new
// chain check. A refusal is never remembered.
constexpr DWORD kRememberTrustMs = 10 * 60 * 1000;

struct TrustMemory {
    CriticalSection lock;
    std::string host;
    std::string encoded;  // empty: nothing remembered
    DWORD checkedAt = 0;
};

TrustMemory gTrustMemory;

TrustMemory& trustMemory() {
    return gTrustMemory;
}

bool sameBytes(const std::string& remembered, PCCERT_CONTEXT certificate) {
    return remembered.size() == certificate->cbCertEncoded &&
           std::memcmp(remembered.data(), certificate->pbCertEncoded, remembered.size()) == 0;
}

bool trustedBefore(PCCERT_CONTEXT certificate, const std::string& host) {
    if (CertVerifyTimeValidity(nullptr, certificate->pCertInfo) != 0) return false;
    TrustMemory& memory = trustMemory();
    Locked lock(memory.lock);
    return !memory.encoded.empty() && memory.host == host &&
           GetTickCount() - memory.checkedAt < kRememberTrustMs &&
           sameBytes(memory.encoded, certificate);
}

void rememberTrusted(PCCERT_CONTEXT certificate, const std::string& host) {
    TrustMemory& memory = trustMemory();
    Locked lock(memory.lock);
    try {
        memory.host = host;
        memory.encoded.assign(reinterpret_cast<const char*>(certificate->pbCertEncoded),
                              certificate->cbCertEncoded);
        memory.checkedAt = GetTickCount();
    } catch (...) {
        memory.encoded.clear();  // out of memory: the next connection checks the chain
    }
}

bool siteTrusted(PCCERT_CONTEXT certificate, const std::string& host) {
    if (trustedBefore(certificate, host)) return true;
    if (!certificateTrusted(certificate, host)) return false;
    rememberTrusted(certificate, host);
    return true;
}

}  // namespace

TlsSession::TlsSession(Transport& plain) : state_(new State(plain)) {}

TlsSession::~TlsSession() = default;

namespace {

Outcome handshakeFailed(StepEnd how) {
    return Outcome::failedAt(NetStep::handshake, how);
}

// More of the server's handshake; false (with why) when none came in time.
bool receiveMore(TlsSession::State& s, StepEnd& why) {
    if (s.received.size() > kMaxHandshakeBytes) {
        why = StepEnd::protocol;
        return false;
    }
    char chunk[4096];
    const int n = s.plain.read(chunk, sizeof chunk);
    if (n <= 0) {
        why = endOfRead(n);
        return false;
    }
    s.received.append(chunk, size_t(n));
    return true;
}

bool acquireCredentials(TlsSession::State& s) {
    SCHANNEL_CRED cred;
    std::memset(&cred, 0, sizeof cred);
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    cred.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    // The certificate is checked by the session itself, after the handshake and before
    // any request byte.
    cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    wchar_t package[] = UNISP_NAME_W;
    s.haveCredentials =
        AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &cred, nullptr,
                                  nullptr, &s.credentials, nullptr) == SEC_E_OK;
    return s.haveCredentials;
}

// The handshake's rounds, with the server name (SNI) in the hello.
Outcome exchangeHandshake(TlsSession::State& s, const std::string& host) {
    std::wstring target = widen(host);
    const Deadline deadline(kMaxHandshakeMs, tickNow);
    bool first = true;
    for (;;) {
        // Every round, the one that asks for no more bytes included.
        if (s.plain.abandoned()) return handshakeFailed(StepEnd::abandoned);
        if (deadline.passed()) return handshakeFailed(StepEnd::tooLong);
        SecBuffer in[2] = {{DWORD(s.received.size()), SECBUFFER_TOKEN, &s.received[0]},
                           {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, in};
        OutToken out;
        ULONG granted = 0;
        const SECURITY_STATUS status =
            InitializeSecurityContextW(&s.credentials, first ? nullptr : &s.context, &target[0],
                                       kRequestFlags, 0, 0, first ? nullptr : &inDesc, 0,
                                       first ? &s.context : nullptr, &out.desc, &granted, nullptr);
        if (first) s.haveContext = status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK;
        first = false;

        StepEnd why = StepEnd::failed;
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            if (!receiveMore(s, why)) return handshakeFailed(why);
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED &&
            status != SEC_I_INCOMPLETE_CREDENTIALS) {
            return handshakeFailed(StepEnd::protocol);
        }
        const std::string token = out.bytes();
        if (!token.empty() && !s.plain.sendAll(token, why)) return handshakeFailed(why);

        // Bytes behind the handshake message just taken stay for the next round.
        if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer <= s.received.size()) {
            s.received.erase(0, s.received.size() - in[1].cbBuffer);
        } else if (status != SEC_I_INCOMPLETE_CREDENTIALS) {
            s.received.clear();
        }
        if (status == SEC_E_OK) return Outcome();
        if (status == SEC_I_INCOMPLETE_CREDENTIALS) continue;  // no client certificate: go on
        if (s.received.empty() && !receiveMore(s, why)) return handshakeFailed(why);
    }
}

// The site's certificate, then the sizes the stream's records take.
Outcome checkPeer(TlsSession::State& s, const std::string& host) {
    PCCERT_CONTEXT certificate = nullptr;
    const bool trusted = QueryContextAttributesW(&s.context, SECPKG_ATTR_REMOTE_CERT_CONTEXT,
                                                 &certificate) == SEC_E_OK &&
                         certificate && siteTrusted(certificate, host);
    if (certificate) CertFreeCertificateContext(certificate);
    if (!trusted) {
        Outcome untrusted = Outcome::of(OutcomeKind::untrustedSite);
        untrusted.step = NetStep::handshake;
        return untrusted;
    }
    if (QueryContextAttributesW(&s.context, SECPKG_ATTR_STREAM_SIZES, &s.sizes) != SEC_E_OK ||
        s.sizes.cbMaximumMessage == 0) {
        return handshakeFailed(StepEnd::protocol);
    }
    return Outcome();
}

}  // namespace

Outcome TlsSession::handshake(const std::string& host) {
    State& s = *state_;
    if (!acquireCredentials(s)) return handshakeFailed(StepEnd::failed);
    const Outcome exchanged = exchangeHandshake(s, host);
    if (!exchanged) return exchanged;
    return checkPeer(s, host);
}

bool TlsSession::sendAll(const std::string& bytes, StepEnd& why) {
    State& s = *state_;
    why = StepEnd::failed;
    const SecPkgContext_StreamSizes& z = s.sizes;
    for (size_t done = 0; done < bytes.size();) {
        const size_t take = std::min<size_t>(bytes.size() - done, z.cbMaximumMessage);
        std::string record(z.cbHeader + take + z.cbTrailer, '\0');
        std::memcpy(&record[z.cbHeader], bytes.data() + done, take);
        SecBuffer parts[4] = {{z.cbHeader, SECBUFFER_STREAM_HEADER, &record[0]},
                              {DWORD(take), SECBUFFER_DATA, &record[z.cbHeader]},
                              {z.cbTrailer, SECBUFFER_STREAM_TRAILER, &record[z.cbHeader + take]},
                              {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, parts};
        if (EncryptMessage(&s.context, 0, &desc, 0) != SEC_E_OK) return false;
        record.resize(parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer);
        if (!s.plain.sendAll(record, why)) return false;
        done += take;
    }
    return true;
}

void TlsSession::limitReads(const Deadline& deadline) {
    state_->readDeadline = deadline;
}

bool TlsSession::abandoned() const {
    return state_->plain.abandoned();
}

int TlsSession::read(char* buffer, int max) {
    State& s = *state_;
    int emptyRecords = 0;
    for (;;) {
        if (s.plainPos < s.plainText.size()) {
            const size_t n = std::min(size_t(max), s.plainText.size() - s.plainPos);
            std::memcpy(buffer, s.plainText.data() + s.plainPos, n);
            s.plainPos += n;
            return int(n);
        }
        if (s.closed) return 0;
        if (s.plain.abandoned()) return kReadFailed;
        if (s.readDeadline && s.readDeadline->passed()) return kReadTooLong;
        if (!s.received.empty()) {
            SecBuffer parts[4] = {{DWORD(s.received.size()), SECBUFFER_DATA, &s.received[0]},
                                  {0, SECBUFFER_EMPTY, nullptr},
                                  {0, SECBUFFER_EMPTY, nullptr},
                                  {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc = {SECBUFFER_VERSION, 4, parts};
            const SECURITY_STATUS status = DecryptMessage(&s.context, &desc, 0, nullptr);
            if (status == SEC_E_OK) {
                s.plainText.clear();
                s.plainPos = 0;
                std::string extra;
                for (const SecBuffer& part : parts) {
                    if (part.BufferType == SECBUFFER_DATA && part.pvBuffer)
                        s.plainText.assign(static_cast<const char*>(part.pvBuffer), part.cbBuffer);
                    if (part.BufferType == SECBUFFER_EXTRA && part.pvBuffer)
                        extra.assign(static_cast<const char*>(part.pvBuffer), part.cbBuffer);
                }
                s.received.swap(extra);
                if (s.plainText.empty() && ++emptyRecords > kMaxEmptyRecords) return kReadFailed;
                continue;  // an empty record hands out nothing and reads on
            }
            if (status == SEC_I_CONTEXT_EXPIRED) {
                s.closed = true;
                return 0;
            }
            if (status != SEC_E_INCOMPLETE_MESSAGE) return kReadFailed;
        }
        char chunk[8192];
        const int n = s.plain.read(chunk, sizeof chunk);
        // Closed in the middle of a record: cut off, not ended.
        if (n == 0 && !s.received.empty()) return kReadFailed;
        if (n <= 0) return n;
        s.received.append(chunk, size_t(n));
    }
}

}  // namespace nimbo
