// ListenBrainz's web API as the plugin speaks it: the requests (a user token in the
// Authorization header, JSON bodies) and what a reply means. Portable: the exchange
// itself is apiExchange's.
#pragma once

#include <string>

#include "net/http.h"
#include "net/json.h"

namespace nimbo {

enum class ListenBrainzCall { submitListens, clearPlayingNow, validateToken };

// The request for `call` to `server`, the setting as readServerAddress takes it. An
// address it refuses gives a request without a host, which apiExchange never sends.
ApiRequest listenBrainzRequest(const std::wstring& server, const std::wstring& token,
                               ListenBrainzCall call, const std::string& body);

// What a reply says, beyond its status code.
struct ListenBrainzReply {
    int status = 0;
    JsonReply json;
    unsigned waitSeconds = 0;  // 429: X-RateLimit-Reset-In, kept within 1..300
};
ListenBrainzReply readListenBrainzReply(const HttpReply& reply);

}  // namespace nimbo
