#include "net/listenbrainz.h"

#include "common/text.h"
#include "common/utf8.h"

namespace nimbo {

namespace {

const char* pathOf(ListenBrainzCall call) {
    switch (call) {
        case ListenBrainzCall::submitListens:
            return "/1/submit-listens";
        case ListenBrainzCall::clearPlayingNow:
            return "/1/playing-now/delete";
        case ListenBrainzCall::validateToken:
            break;
    }
    return "/1/validate-token";
}

}  // namespace

ApiRequest listenBrainzRequest(const std::wstring& server, const std::wstring& token,
                               ListenBrainzCall call, const std::string& body) {
    ApiRequest request;
    const ServerAddress address = readServerAddress(server);
    if (address.ok) {
        request.url = address.url;
        request.url.requestUri += pathOf(call);
    } else {
        request.url.host.clear();
    }
    request.userAgent = apiUserAgent();
    request.headers.emplace_back("Authorization", "Token " + encodeUtf8(trimBlanks(token)));
    if (call != ListenBrainzCall::validateToken) {
        request.method = "POST";
        request.headers.emplace_back("Content-Type", "application/json");
        request.body = body;
    }
    return request;
}

ListenBrainzReply readListenBrainzReply(const HttpReply& reply) {
    ListenBrainzReply read;
    read.status = reply.statusCode;
    read.json = readJsonReply(reply.body);
    if (read.status != 429) return read;
    // Missing or unreadable: a second, the least a wait can be.
    uint64_t seconds = 1;
    if (!headerNumber(reply, "X-RateLimit-Reset-In:", seconds)) seconds = 1;
    read.waitSeconds = unsigned(seconds < 1 ? 1 : seconds > 300 ? 300 : seconds);
    return read;
}

}  // namespace nimbo
