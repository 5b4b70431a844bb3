// The blocking HTTP/1.0 client over Winsock and the three request operations the
// plugin makes with it. Each call opens, uses and closes its own connection.
#pragma once

#include <optional>
#include <string>

#include "net/http.h"
#include "net/outcome.h"

namespace nimbo {

// How long one exchange may take, and what ends it early. Each wait within it (the
// look-up, the connect, every wait for data) is bounded by kHttpWaitMs as well, and
// a reply by kMaxReplyMs.
struct ExchangeLimits {
    unsigned totalMs;  // the whole exchange, look-up to the reply's last byte
    bool endsAtQuit;   // never started once quit has begun, abandoned when it begins
};

// The tick's requests: quit must not wait for them.
constexpr ExchangeLimits kTickExchange = {0xFFFFFFFFu, true};
// The clear request, sent after quit has begun while Winamp's exit waits for it. When its
// time runs out the exchange fails as abandoned: Winamp's close, not the peer, ended it.
constexpr ExchangeLimits kQuitExchange = {5000, false};

// One GET exchange with explicit inputs. With `secure` it runs over TLS to kSecurePort
// (through the proxy's CONNECT tunnel when a proxy is set), the request bytes inside
// being the direct ones. Fails (noConnection, with the step and how it ended) when
// resolving, connecting, the tunnel, the handshake or sending failed, or when quit
// abandoned it, and (untrustedSite) when the site's certificate did not pass;
// anything else after the request went out (time-out, reset, short body, any
// status) still counts as done, `replyEnd` telling how the reply ended, and `reply`
// holds what arrived.
Outcome httpExchange(const std::string& url, const std::optional<std::string>& cookie,
                     const ProxyParts& proxy, HttpReply& reply,
                     const ExchangeLimits& limits = kTickExchange, bool secure = false);

// One exchange with a web API: TLS when the URL's scheme is https (to the URL's port,
// through the proxy's CONNECT tunnel when a proxy is set), otherwise plain. Ends as
// httpExchange does.
Outcome apiExchange(const ApiRequest& request, const ProxyParts& proxy, HttpReply& reply,
                    const ExchangeLimits& limits = kTickExchange);

// apiExchange through Winamp's proxy setting; nothing goes out while that is unknown
// (the ini could not be read at init, nor since).
Outcome configuredApiExchange(const ApiRequest& request, HttpReply& reply,
                              const ExchangeLimits& limits = kTickExchange);

// These take the proxy from Winamp's setting, TLS from the Secure setting and, where a cookie goes
// out, the Cookie setting followed by "; remixlang=0". Each holds a value exactly when done.

// Exactly the body's bytes (a page or a picture).
Result<std::string> httpGetPage(const std::string& url,
                                const ExchangeLimits& limits = kTickExchange);
// No cookie is sent; the whole reply comes back, headers included.
Result<HttpReply> httpLogin(const std::string& url);

// Resolves a host name to an IPv4 address in network byte order. Look-ups run on a
// worker thread that the caller leaves behind when it runs out of time or quit comes.
typedef bool (*HostLookup)(const std::string& host, unsigned long& ipv4);
// Tests put a resolver of their own in place of the system's; null restores it.
void setHostLookupForTest(HostLookup lookup);

}  // namespace nimbo
