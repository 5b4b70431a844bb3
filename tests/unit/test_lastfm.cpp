// The Last.fm 2.0 requests (signature base, form body, addresses) and the reading of
// its JSON and XML replies.
#include <gtest/gtest.h>

#include "net/lastfm.h"
#include "net/lastfm_reply.h"

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

// What was read, in one line; a row's expectation reads the same way.
std::wstring summary(const LastFmReply& r) {
    std::wstring out = r.ok ? L"ok" : L"not ok";
    if (r.error) out += L" error=" + std::to_wstring(r.error) + L" " + r.message;
    if (!r.token.empty()) out += L" token=" + r.token;
    if (!r.sessionKey.empty()) out += L" session=" + r.userName + L":" + r.sessionKey;
    if (r.accepted >= 0 || r.ignored >= 0)
        out += L" counts=" + std::to_wstring(r.accepted) + L"/" + std::to_wstring(r.ignored);
    for (int code : r.ignoredCodes) out += L" #" + std::to_wstring(code);
    if (r.nowPlayingIgnored >= 0) out += L" playing#" + std::to_wstring(r.nowPlayingIgnored);
    return out;
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
         "http://music.lan:8080/gnufm/api/auth/?api_key=K%20Y&token=T", L"music.lan"},
        // The last "2.0/" only; a root without one gets the pages below it.
        {L"https://host/2.0/gnufm/2.0/", "https", "host", "443", "/2.0/gnufm/2.0/",
         "https://host/2.0/gnufm/api/auth/?api_key=K%20Y&token=T", L"host"},
        {L"https://host/scrobbler", "https", "host", "443", "/scrobbler/",
         "https://host/scrobbler/api/auth/?api_key=K%20Y&token=T", L"host"},
        {L"https://Scrobble.Example:443", "https", "Scrobble.Example", "443", "/2.0/",
         "https://Scrobble.Example/api/auth/?api_key=K%20Y&token=T", L"Scrobble.Example"},
        // No scheme means a secure one: the session key never goes out in plain by default.
        {L"libre.fm/2.0", "https", "libre.fm", "443", "/2.0/",
         "https://libre.fm/api/auth/?api_key=K%20Y&token=T", L"Libre.fm"},
        {L"https://[::1]:8443/", "https", "::1", "8443", "/2.0/",
         "https://[::1]:8443/api/auth/?api_key=K%20Y&token=T", L"::1"},
    };
    for (const Case& c : cases) {
        const ApiRequest r = *lastFmRequest(c.server, LastFmCall::getToken, kAuth, {}, fakeMd5);
        EXPECT_EQ(r.url.scheme + " " + r.url.host + " " + r.url.port + " " + r.url.requestUri,
                  c.scheme + " " + c.host + " " + c.port + " " + c.path);
        EXPECT_EQ(lastFmAuthUrl(c.server, "K Y", "T"), c.authUrl);
        EXPECT_EQ(lastFmServerName(c.server), c.name);
    }
}

TEST(LastFmReply, BothFormsOfEachAnswer) {
    struct Case {
        std::string body;
        std::wstring read;
    } cases[] = {
        {R"({"token":"0a1b"})", L"ok token=0a1b"},
        {"<?xml version=\"1.0\"?>\n<lfm status=\"ok\"><token>0a1b</token></lfm>", L"ok token=0a1b"},
        {R"({"session":{"name":"\u041a\u0438\ud83c\udfb5","key":"k1","subscriber":0}})",
         L"ok session=\u041a\u0438\xD83C\xDFB5:k1"},  // UTF-16, as everywhere
        {"<lfm status='ok'><session><name>A&amp;B&#x41;&#66;&bogus</name><key>k1</key>"
         "<subscriber>0</subscriber></session></lfm>",
         L"ok session=A&BAB&bogus:k1"},
        {R"({"error":13,"message":"Invalid method signature supplied"})",
         L"not ok error=13 Invalid method signature supplied"},
        {"<lfm status=\"failed\">\n  <error code=\"9\">Invalid session key</error>\n</lfm>",
         L"not ok error=9 Invalid session key"},
        // One scrobble is an object, more an array; codes are strings in JSON.
        {R"({"scrobbles":{"scrobble":{"track":{"#text":"T"},"ignoredMessage":{"code":"0","#text":""}},"@attr":{"accepted":1,"ignored":0}}})",
         L"ok counts=1/0 #0"},
        {R"({"scrobbles":{"@attr":{"accepted":1,"ignored":2},"scrobble":[{"ignoredMessage":{"code":"3"}},{"ignoredMessage":{"code":"0"}},{"ignoredMessage":{"code":"5"}}]}})",
         L"ok counts=1/2 #3 #0 #5"},
        {"<lfm status=\"ok\"><scrobbles accepted=\"1\" ignored=\"1\"><scrobble><track "
         "corrected=\"0\">A &gt; B</track><ignoredMessage code=\"1\">Artist was ignored"
         "</ignoredMessage></scrobble><scrobble><ignoredMessage code=\"0\"/></scrobble>"
         "</scrobbles></lfm>",
         L"ok counts=1/1 #1 #0"},
        {R"({"nowplaying":{"artist":{"corrected":"0","#text":"A"},"ignoredMessage":{"code":"2","#text":"x"}}})",
         L"ok playing#2"},
        // Broken or foreign bodies give what came before the fault, and never "ok".
        {R"({"token":"0a1b","x":[1,2)", L"not ok token=0a1b"},
        {R"({"token":"0a1b"}])", L"ok token=0a1b"},
        {"<html><body>502 Bad Gateway</body></html>", L"not ok"},
        {"<lfm status=\"ok\"><token>0a1b</token>", L"not ok token=0a1b"},
        {R"({"error":"13","message":"x"})", L"not ok error=13 x"},
        {R"({"status":"ok","token":"0a1b")", L"not ok token=0a1b"},
        {"", L"not ok"},
    };
    for (const Case& c : cases) EXPECT_EQ(summary(readLastFmReply(c.body)), c.read) << c.body;
}

// A batch of three leaves the queue, and a playing-now counts as published, only on the
// service's own account of it; any other JSON, however whole, is none.
TEST(LastFmReply, OnlyTheServicesOwnAccountCounts) {
    const std::string three = R"({"scrobbles":{"@attr":{"accepted":2,"ignored":1},"scrobble":[]}})";
    struct Case {
        std::string body;
        bool scrobbles, nowPlaying;
    } cases[] = {
        {three, true, false},
        {"<lfm status=\"ok\"><scrobbles accepted=\"3\" ignored=\"0\"></scrobbles></lfm>", true,
         false},
        {R"({"nowplaying":{"ignoredMessage":{"code":"0","#text":""}}})", false, true},
        {"<lfm status=\"ok\"><nowplaying><track>T</track></nowplaying></lfm>", false, true},
        {R"({"scrobbles":{"@attr":{"accepted":1,"ignored":1}}})", false, false},
        {"<lfm status=\"failed\"><scrobbles accepted=\"3\" ignored=\"0\"/></lfm>", false, false},
        {"<lfm status=\"ok\"><scrobbles accepted=\"3\" ignored=\"0\"></scrobbles>", false, false},
        {R"({"error":6,"message":"Invalid parameters","scrobbles":{"@attr":{"accepted":3,"ignored":0}}})",
         false, false},
        {"{}", false, false},
        {R"({"message":"Service Unavailable"})", false, false},
        {R"({"detail":"Internal Server Error"})", false, false},
        {R"({"status":"failed"})", false, false},
        {R"({"status":"ok",)", false, false},
        {three.substr(0, three.size() - 1), false, false},
        {R"({"code":503,"error":"The service is down"})", false, false},
    };
    for (const Case& c : cases) {
        const LastFmReply reply = readLastFmReply(c.body);
        EXPECT_EQ(reply.accountsFor(3), c.scrobbles) << c.body;
        EXPECT_EQ(reply.answersNowPlaying(), c.nowPlaying) << c.body;
    }
}

TEST(LastFmReply, DepthAndTextBounds) {
    // Nesting up to the bound is passed over; one level more ends the read there.
    for (size_t inner : {kMaxLastFmDepth - 1, kMaxLastFmDepth}) {
        const bool within = inner < kMaxLastFmDepth;
        const std::string json =
            "{\"a\":" + std::string(inner, '[') + std::string(inner, ']') + ",\"token\":\"t\"}";
        EXPECT_EQ(summary(readLastFmReply(json)), within ? L"ok token=t" : L"not ok");
        std::string xml = "<lfm status=\"ok\">";
        for (size_t i = 0; i < inner; ++i) xml += "<a>";
        for (size_t i = 0; i < inner; ++i) xml += "</a>";
        EXPECT_EQ(summary(readLastFmReply(xml + "<token>t</token></lfm>")),
                  within ? L"ok token=t" : L"not ok");
    }
    const std::string longText(3 * kMaxLastFmReplyText, 'm');
    EXPECT_EQ(readLastFmReply("{\"error\":6,\"message\":\"" + longText + "\"}").message.size(),
              kMaxLastFmReplyText);
    std::string many = "{\"scrobbles\":{\"scrobble\":[";
    for (size_t i = 0; i <= kMaxLastFmScrobbleCodes; ++i)
        many += "{\"ignoredMessage\":{\"code\":\"1\"}},";
    EXPECT_EQ(readLastFmReply(many).ignoredCodes.size(), kMaxLastFmScrobbleCodes);
}
