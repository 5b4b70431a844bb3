// The blocking HTTP/1.0 client over Winsock and the three request operations the
// plugin makes with it. Each call opens, uses and closes its own connection.
#pragma once

#include <optional>
#include <string>

#include "net/http.h"

namespace nimbo {

// One GET exchange with explicit inputs. False when resolving, connecting or sending
// failed; anything after the request went out (time-out, reset, short body, any
// status) still counts as an exchange, and `reply` holds what arrived.
bool httpExchange(const std::string& url, const std::optional<std::string>& cookie,
                  const ProxyParts& proxy, HttpReply& reply);

// These take the proxy from Winamp's setting and, where a cookie goes out, the
// Cookie setting followed by "; remixlang=0".

// The body as text, or "err".
std::string httpGetPage(const std::string& url);
// On success `stream` holds exactly the body; on failure it is left untouched.
bool httpGetToStream(const std::string& url, std::string& stream);
// No cookie is sent; cookie "err" and an empty body when the exchange failed.
aDeltaOne httpLogin(const std::string& url);

}  // namespace nimbo
