// The requests of the Last.fm 2.0 web-service interface (Last.fm, Libre.fm and other
// servers that speak it): form-encoded POSTs signed with api_sig. Portable: the MD5 comes
// in as a function, so the native tests need no CryptoAPI.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "net/http.h"

namespace nimbo {

// The service's own API root, when the setting names no server.
extern const char kLastFmRoot[];

enum class LastFmCall { getToken, getSession, updateNowPlaying, scrobble };

// Names and values in UTF-8, in the order they go out.
using LastFmParams = std::vector<std::pair<std::string, std::string>>;

// Lower-case hexadecimal MD5 of `bytes`; false when it cannot be had.
using Md5HexFunction = bool (*)(const std::string& bytes, std::string& hex);

struct LastFmTrack {
    std::wstring artist, title, album;
    int lengthSeconds = -1;  // -1 or 0: not known, not sent
    int64_t timestamp = 0;   // when the play began, seconds since 1970 (UTC); scrobbles only
    std::wstring mbid, albumArtist;  // empty: not sent
    int trackNumber = 0;             // 0: not sent
};

// The service takes at most this many scrobbles in one request.
constexpr size_t kMaxScrobblesPerRequest = 50;

struct LastFmAuth {
    std::string apiKey, secret;
    std::string token;       // auth.getSession
    std::string sessionKey;  // track.updateNowPlaying and track.scrobble
};

// Every parameter but format, callback and api_sig, sorted by name (byte order), each
// name followed by its value, then the shared secret.
std::string lastFmSignatureBase(const LastFmParams& params, const std::string& secret);

// The signed parameters of `call`: the method, api_key, the token or session key, and
// the track fields (updateNowPlaying: the first track; scrobble: the first 50 in the
// array form artist[i], track[i], timestamp[i], ...). Fields only when known.
LastFmParams lastFmParams(LastFmCall call, const LastFmAuth& auth,
                          const std::vector<LastFmTrack>& tracks);

// The POST of `call` to `server` (its API root, "https://host[:port]/path/"; empty: the
// service's own): the parameters, format=json and api_sig, form-encoded. Nothing when
// `md5` fails or a track call has no track.
std::optional<ApiRequest> lastFmRequest(const std::wstring& server, LastFmCall call,
                                        const LastFmAuth& auth,
                                        const std::vector<LastFmTrack>& tracks, Md5HexFunction md5);

// The page where the user allows `token` in the browser, on the server's own site.
std::string lastFmAuthUrl(const std::wstring& server, const std::string& apiKey,
                          const std::string& token);

// What the browser's authorisation (the options window's "Connect...") came to.
struct LastFmConnection {
    bool ok = false;
    std::wstring session, user;
    std::wstring words;  // the window's label: "Connected as <user>", or what went wrong
};

// The target's name in the log and the windows: "Last.fm", "Libre.fm" or the host.
std::wstring lastFmServerName(const std::wstring& server);

}  // namespace nimbo
