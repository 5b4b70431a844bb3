// The Last.fm 2.0 requests (signature base, form body, addresses) and the reading of
// its JSON and XML replies.
#include <gtest/gtest.h>

#include "net/lastfm.h"

using namespace nimbo;

namespace {

// Stands in for CryptoAPI's MD5: keeps what it was asked to hash.
std::string gHashed;
bool fakeMd5(const std::string& bytes, std::string& hex) {
    gHashed = bytes;
    hex = "0123456789abcdef0123456789abcdef";
    return true;
}
bool failingMd5(const std::string&, std::string&) {
    return false;
}

const LastFmAuth kAuth{"KEY", "SECRET", "TOKEN", "SK"};

LastFmTrack track(const std::wstring& title, int64_t at) {
    LastFmTrack t;
    t.artist = L"Кино";
    t.title = title;
    t.timestamp = at;
    return t;
}

}  // namespace

TEST(LastFmSignature, SortedByNameBytesWithoutUnsignedOnes) {
    const LastFmParams params{{"track[0]", "T"},
                              {"format", "json"},
                              {"album[0]", "Al"},
                              {"api_sig", "x"},
                              {"albumArtist[0]", "\xD0\x9A"},
                              {"callback", "f"},
                              {"api_key", "KEY"}};
    // "A" sorts before "[", so albumArtist[0] comes before album[0].
    EXPECT_EQ(lastFmSignatureBase(params, "S"),
              "albumArtist[0]\xD0\x9A"
              "album[0]Alapi_keyKEYtrack[0]TS");
}

TEST(LastFmRequest, BodiesOfEachCall) {
    LastFmTrack full = track(L"Звезда по имени Солнце", 1700000000);
    full.album = L"A & B=C";
    full.lengthSeconds = 225;
    full.mbid = L"m-1";
    full.trackNumber = 3;
    full.albumArtist = std::wstring(L"V\0A", 3);
    struct Case {
        LastFmCall call;
        std::vector<LastFmTrack> tracks;
        std::string body;
    } cases[] = {
        {LastFmCall::getToken, {}, "method=auth.getToken&api_key=KEY&format=json&api_sig="},
        {LastFmCall::getSession,
         {},
         "method=auth.getSession&api_key=KEY&token=TOKEN&format=json&api_sig="},
        {LastFmCall::updateNowPlaying,
         {track(L"a b", 5)},
         "method=track.updateNowPlaying&api_key=KEY&sk=SK&artist=%D0%9A%D0%B8%D0%BD%D0%BE"
         "&track=a%20b&format=json&api_sig="},
        {LastFmCall::scrobble,
         {full, track(L"x", 7)},
         "method=track.scrobble&api_key=KEY&sk=SK&artist%5B0%5D=%D0%9A%D0%B8%D0%BD%D0%BE&track%5B0%"
         "5D="
         "%D0%97%D0%B2%D0%B5%D0%B7%D0%B4%D0%B0%20%D0%BF%D0%BE%20%D0%B8%D0%BC%D0%B5%D0%BD%D0%B8%20"
         "%D0%A1%D0%BE%D0%BB%D0%BD%D1%86%D0%B5&timestamp%5B0%5D=1700000000&album%5B0%5D=A%20%26%"
         "20B%3DC"
         "&duration%5B0%5D=225&mbid%5B0%5D=m-1&trackNumber%5B0%5D=3&albumArtist%5B0%5D=VA"
         "&artist%5B1%5D=%D0%9A%D0%B8%D0%BD%D0%BE&track%5B1%5D=x&timestamp%5B1%5D=7&format=json&"
         "api_sig="},
    };
    for (const Case& c : cases) {
        const auto request = lastFmRequest(L"", c.call, kAuth, c.tracks, fakeMd5);
        ASSERT_TRUE(request) << c.body;
        EXPECT_EQ(request->body, c.body + "0123456789abcdef0123456789abcdef");
        EXPECT_EQ(gHashed, lastFmSignatureBase(lastFmParams(c.call, kAuth, c.tracks), "SECRET"));
        EXPECT_EQ(request->method, "POST");
        EXPECT_EQ(request->headers.back().second, "application/x-www-form-urlencoded");
    }
    std::vector<LastFmTrack> many(51, track(L"t", 1));
    const std::string body = lastFmRequest(L"", LastFmCall::scrobble, kAuth, many, fakeMd5)->body;
    EXPECT_NE(body.find("track%5B49%5D="), std::string::npos);
    EXPECT_EQ(body.find("track%5B50%5D="), std::string::npos);
    EXPECT_FALSE(lastFmRequest(L"", LastFmCall::scrobble, kAuth, {}, fakeMd5));
    EXPECT_FALSE(lastFmRequest(L"", LastFmCall::getToken, kAuth, {}, failingMd5));
}

TEST(LastFmRequest, ServersAddressesAndNames) {
    struct Case {
        std::wstring server;
        std::string scheme, host, port, path, authUrl;
        std::wstring name;
    } cases[] = {
        {L"", "https", "ws.audioscrobbler.com", "443", "/2.0/",
         "https://www.last.fm/api/auth/?api_key=K%20Y&token=T", L"Last.fm"},
        {L" https://libre.fm/2.0/ ", "https", "libre.fm", "443", "/2.0/",
         "https://libre.fm/api/auth/?api_key=K%20Y&token=T", L"Libre.fm"},
        {L"http://music.lan:8080/gnufm/2.0", "http", "music.lan", "8080", "/gnufm/2.0/",
         "http://music.lan:8080/api/auth/?api_key=K%20Y&token=T", L"music.lan"},
        {L"https://Scrobble.Example:443", "https", "Scrobble.Example", "443", "/2.0/",
         "https://Scrobble.Example/api/auth/?api_key=K%20Y&token=T", L"Scrobble.Example"},
    };
    for (const Case& c : cases) {
        const ApiRequest r = *lastFmRequest(c.server, LastFmCall::getToken, kAuth, {}, fakeMd5);
        EXPECT_EQ(r.url.scheme + " " + r.url.host + " " + r.url.port + " " + r.url.requestUri,
                  c.scheme + " " + c.host + " " + c.port + " " + c.path);
        EXPECT_EQ(lastFmAuthUrl(c.server, "K Y", "T"), c.authUrl);
        EXPECT_EQ(lastFmServerName(c.server), c.name);
    }
}
