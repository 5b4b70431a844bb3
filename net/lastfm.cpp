#include "net/lastfm.h"

#include <algorithm>

#include "common/text.h"
#include "common/utf8.h"
#include "core/server_address.h"

namespace nimbo {

const char kLastFmRoot[] = "https://ws.audioscrobbler.com/2.0/";

namespace {

const char* methodOf(LastFmCall call) {
    switch (call) {
        case LastFmCall::getToken:
            return "auth.getToken";
        case LastFmCall::getSession:
            return "auth.getSession";
        case LastFmCall::updateNowPlaying:
            return "track.updateNowPlaying";
        case LastFmCall::scrobble:
            break;
    }
    return "track.scrobble";
}

// U+0000 would end the value in many servers' C code; the rest goes as UTF-8.
std::string field(const std::wstring& text) {
    std::wstring kept;
    for (wchar_t c : text)
        if (c != L'\0') kept.push_back(c);
    return encodeUtf8(kept);
}

void addTrack(LastFmParams& params, const LastFmTrack& track, const std::string& suffix,
              bool scrobbled) {
    // The optional ones go only when known.
    const auto add = [&](const char* name, std::string value) {
        if (!value.empty()) params.emplace_back(name + suffix, std::move(value));
    };
    const auto known = [](int64_t n) { return n > 0 ? std::to_string(n) : std::string(); };
    params.emplace_back("artist" + suffix, field(track.artist));
    params.emplace_back("track" + suffix, field(track.title));
    if (scrobbled) params.emplace_back("timestamp" + suffix, std::to_string(track.timestamp));
    add("album", field(track.album));
    add("duration", known(track.lengthSeconds));
    add("mbid", field(track.mbid));
    add("trackNumber", known(track.trackNumber));
    add("albumArtist", field(track.albumArtist));
}

// The server's address by the same rule as every server the user types (no scheme
// means https; only http and https), and a path that ends in "/"; a bare host gets
// "/2.0/". An address the rule refuses has no host, and nothing is sent to it.
ParsedUrl serverUrl(const std::wstring& server) {
    const std::wstring trimmed = trimBlanks(server);
    const ServerAddress address = readServerAddress(
        trimmed.empty() ? decodeUtf8(kLastFmRoot, Utf8Malformed::replaceEach) : trimmed);
    if (!address.ok) return ParsedUrl{"https", "", "443", "/"};
    ParsedUrl url = address.url;
    url.requestUri = url.requestUri.empty() ? "/2.0/" : url.requestUri + "/";
    return url;
}

bool isHost(const ParsedUrl& url, const char* host) {
    return equalsNoCase(url.host, std::string(host));
}

std::string formEncode(const LastFmParams& params) {
    std::string body;
    for (const auto& [name, value] : params) {
        if (!body.empty()) body += '&';
        body += urlEncodeReserved(name) + "=" + urlEncodeReserved(value);
    }
    return body;
}

}  // namespace

std::string lastFmSignatureBase(const LastFmParams& params, const std::string& secret) {
    LastFmParams signedParams;
    for (const auto& param : params)
        if (param.first != "format" && param.first != "callback" && param.first != "api_sig")
            signedParams.push_back(param);
    // Sorted by name in byte order. An insertion sort: a few hundred names at most, and
    // far less code in the DLL than the library's stable sort.
    for (size_t i = 1; i < signedParams.size(); ++i)
        for (size_t j = i; j > 0 && signedParams[j].first < signedParams[j - 1].first; --j)
            signedParams[j].swap(signedParams[j - 1]);
    std::string base;
    for (const auto& [name, value] : signedParams) base += name + value;
    return base + secret;
}

LastFmParams lastFmParams(LastFmCall call, const LastFmAuth& auth,
                          const std::vector<LastFmTrack>& tracks) {
    LastFmParams params{{"method", methodOf(call)}, {"api_key", auth.apiKey}};
    if (call == LastFmCall::getSession) params.emplace_back("token", auth.token);
    if (call != LastFmCall::updateNowPlaying && call != LastFmCall::scrobble) return params;
    params.emplace_back("sk", auth.sessionKey);
    if (call == LastFmCall::updateNowPlaying && !tracks.empty())
        addTrack(params, tracks.front(), "", false);
    const size_t count = std::min(tracks.size(), kMaxScrobblesPerRequest);
    for (size_t i = 0; call == LastFmCall::scrobble && i < count; ++i)
        addTrack(params, tracks[i], "[" + std::to_string(i) + "]", true);
    return params;
}

std::optional<ApiRequest> lastFmRequest(const std::wstring& server, LastFmCall call,
                                        const LastFmAuth& auth,
                                        const std::vector<LastFmTrack>& tracks,
                                        Md5HexFunction md5) {
    const bool takesTracks = call == LastFmCall::updateNowPlaying || call == LastFmCall::scrobble;
    if (takesTracks && tracks.empty()) return std::nullopt;
    LastFmParams params = lastFmParams(call, auth, tracks);
    std::string signature;
    if (!md5 || !md5(lastFmSignatureBase(params, auth.secret), signature)) return std::nullopt;
    params.emplace_back("format", "json");
    params.emplace_back("api_sig", signature);
    ApiRequest request;
    request.method = "POST";
    request.url = serverUrl(server);
    request.userAgent = apiUserAgent();
    request.headers.emplace_back("Content-Type", "application/x-www-form-urlencoded");
    request.body = formEncode(params);
    return request;
}

std::string lastFmAuthUrl(const std::wstring& server, const std::string& apiKey,
                          const std::string& token) {
    const ParsedUrl url = serverUrl(server);
    // Last.fm's API host serves no pages: the user allows the token on the web site.
    // Elsewhere the pages sit beside the API under the same root (a server installed in
    // a folder keeps it): its last "2.0/" becomes "api/auth/".
    std::string page = "https://www.last.fm/api/auth/";
    if (!isHost(url, "ws.audioscrobbler.com")) {
        page = url.scheme + "://" + hostInUrl(url.host);
        if (url.port != (equalsNoCase(url.scheme, std::string("https")) ? "443" : "80"))
            page += ":" + url.port;
        std::string path = url.requestUri;
        const size_t version = path.rfind("2.0/");
        if (version == std::string::npos)
            path += "api/auth/";
        else
            path.replace(version, 4, "api/auth/");
        page += path;
    }
    return page + "?api_key=" + urlEncodeReserved(apiKey) + "&token=" + urlEncodeReserved(token);
}

std::wstring lastFmServerName(const std::wstring& server) {
    const ParsedUrl url = serverUrl(server);
    if (isHost(url, "ws.audioscrobbler.com")) return L"Last.fm";
    if (isHost(url, "libre.fm")) return L"Libre.fm";
    return decodeUtf8(url.host, Utf8Malformed::replaceEach);
}

}  // namespace nimbo
