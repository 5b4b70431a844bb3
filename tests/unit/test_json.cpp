// The JSON string writer, the reply reader and the ListenBrainz bodies built on them.
#include <gtest/gtest.h>

#include "common/version.h"
#include "net/json.h"
#include "net/listenbrainz.h"
#include "net/listenbrainz_body.h"

using namespace nimbo;

namespace {

// UTF-16 units one by one: lone surrogates have no literal.
template <typename... Unit>
std::wstring units(Unit... values) {
    return {wchar_t(values)...};
}

// The members read, in one line; a row's expectation reads the same way.
std::wstring summary(const JsonReply& r) {
    std::wstring out;
    auto text = [&](const wchar_t* name, const std::optional<std::wstring>& v) {
        if (v) out += std::wstring(L" ") + name + L"=" + *v;
    };
    if (r.code) out += L" code=" + std::to_wstring(*r.code);
    text(L"error", r.error);
    if (r.valid) out += *r.valid ? L" valid" : L" not valid";
    text(L"user", r.userName);
    return out;
}

}  // namespace

TEST(JsonString, EscapesAndUtf8) {
    struct Case {
        std::wstring text;
        std::string json;
    } cases[] = {
        {L"a\"b\\c/", "\"a\\\"b\\\\c/\""},
        {units(1, 9, 10, 0x1F, 0x20, 0x7F), "\"\\u0001\\u0009\\u000A\\u001F \x7F\""},
        {std::wstring(L"a\0b\0", 4), "\"ab\""},
        {units(0xDFB5, 0xD83C, '"', 0xDFB5, 'x', 0xD83C),
         "\"\xEF\xBF\xBD\xEF\xBF\xBD\\\"\xEF\xBF\xBDx\xEF\xBF\xBD\""},
        {units(0xD83C, 0xDFB5), "\"\xF0\x9F\x8E\xB5\""},
        // The zero goes first, so the halves around it still make one character.
        {units(0xD83C, 0, 0xDFB5), "\"\xF0\x9F\x8E\xB5\""},
        {L"\u041F\u0440 \u97F3", "\"\xD0\x9F\xD1\x80 \xE9\x9F\xB3\""},
    };
    for (const Case& c : cases) EXPECT_EQ(jsonString(c.text), c.json) << c.json;
}

TEST(JsonReply, MembersTypesAndFaults) {
    const std::wstring capped = L" error=" + std::wstring(kMaxJsonReplyText, L'x');
    const std::wstring pairCut = L" error=" + std::wstring(1023, L'x');
    const std::string x1023 = "{\"error\":\"" + std::string(1023, 'x');
    auto nested = [](size_t levels) {
        return "{\"a\":" + std::string(levels, '[') + std::string(levels, ']') +
               ",\"user_name\":\"ok\"}";
    };
    struct Case {
        const char* name;
        std::string body;
        std::wstring reply;
    } cases[] = {
        {"token check", R"({"code":200,"message":"Token valid.","valid":true,"user_name":"al"})",
         L" code=200 valid user=al"},
        {"others passed",
         R"({"n":-1.5e3,"x":[1,{"a":null}],"y":{"z":[false,""]}, "user_name" : "ok"})",
         L" user=ok"},
        {"escapes", R"({"error":"\"\\\/\b\f\n\r\t\u00e9\uD83C\uDFB5|\ud83c|\udfb5\u0000!"})",
         L" error=" + units('"', '\\', '/', 8, 12, 10, 13, 9, 0xE9, 0xD83C, 0xDFB5, '|', 0xFFFD,
                            '|', 0xFFFD, '!')},
        {"raw UTF-8", "{\"error\":\"\xD0\x9F\xC3(\xF0\x9F\x8E\xB5\"}",
         L" error=" + units(0x41F, 0xFFFD, '(', 0xD83C, 0xDFB5)},
        {"wrong types",
         R"({"user_name":1,"code":"200","valid":"true","error":null,"user_name":["a"]})", L""},
        {"later one counts",
         R"({"user_name":"ok","valid":false,"valid":0,"code":1,"code":-2147483648,"user_name":1})",
         L" code=-2147483648"},
        {"no integer", R"({"code":2e2})", L""},
        {"past 32 bits", R"({"code":2147483648})", L""},
        {"capped", "{\"error\":\"" + std::string(5000, 'x') + "\"}", capped},
        {"cap keeps an escaped pair whole", x1023 + R"(\ud83c\udfb5"})", pairCut},
        {"cap keeps a raw pair whole", x1023 + "\xF0\x9F\x8E\xB5\"}", pairCut},
        {"nested as deep as allowed", nested(kMaxJsonDepth - 1), L" user=ok"},
        {"nested too deep", nested(kMaxJsonDepth), L""},
        {"nested past any stack", nested(100000), L""},
        {"not an object", R"(["user_name","ok"])", L""},
        {"cut number", R"({"user_name":"ok","code":40)", L" user=ok"},
        {"cut string", R"({"user_name":"ok","error":"cu)", L" user=ok"},
        {"no comma", R"({"user_name":"ok" "code":200})", L" user=ok"},
        {"raw control", "{\"error\":\"a\nb\",\"user_name\":\"ok\"}", L""},
        {"bad escape", R"({"user_name":"ok","error":"\x","code":1})", L" user=ok"},
        {"cut word", R"({"valid":tru)", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(summary(readJsonReply(c.body)), c.reply) << c.name;
}

// A 400 the service itself sent carries its code and why; a proxy's page does not.
TEST(JsonReply, TellsTheServicesOwnError) {
    const JsonReply own = readJsonReply(R"({"code":400,"error":"bad listen"})");
    EXPECT_TRUE(own.isServiceError(400));
    EXPECT_FALSE(own.isServiceError(401));
    EXPECT_FALSE(readJsonReply(R"({"code":400})").isServiceError(400));
    EXPECT_FALSE(readJsonReply("<html>400 Bad Request</html>").isServiceError(400));
}

// A listen leaves the queue only on ListenBrainz's own whole {"status":"ok"}; a gateway's,
// a framework's or a cut reply is no such word.
TEST(JsonReply, TellsTheServicesOwnOk) {
    struct Case {
        std::string body;
        bool ok;
    } cases[] = {
        {R"({"status":"ok"})", true},
        {R"( { "x" : [1, {"status":"no"}], "status" : "ok" } )", true},
        {"{}", false},
        {R"({"message":"Service Unavailable"})", false},
        {R"({"detail":"Internal Server Error"})", false},
        {R"({"status":"failed"})", false},
        {R"({"status":"ok",)", false},
        {R"({"status":"ok")", false},
        {R"({"status":"ok","x":[1,2)", false},
        {R"({"code":503,"error":"The service is down for maintenance"})", false},
        {R"({"status":1})", false},
        {"<html><title>200 OK</title></html>", false},
    };
    for (const Case& c : cases) EXPECT_EQ(readJsonReply(c.body).isServiceOk(), c.ok) << c.body;
}

TEST(ListenBrainzBody, ExactBytes) {
    const std::string info =
        R"("additional_info":{"media_player":"Winamp","submission_client":"Nimbo",)"
        R"("submission_client_version":")" NIMBO_VERSION "\"";
    const std::string fullMeta =
        R"("track_metadata":{"artist_name":"A","track_name":"T\"","release_name":"R",)" + info +
        R"(,"duration_ms":257000}})";
    const std::string bareMeta =
        R"("track_metadata":{"artist_name":"A","track_name":"T",)" + info + "}}";
    const Listen full{{L"A", L"T\"", L"R", 257}, 1700000000};
    const Listen bare{{L"A", L"T", std::wstring(L"\0", 1), 0}, 1700000001};
    EXPECT_EQ(listensBody(ListenType::playingNow, {full}),
              R"({"listen_type":"playing_now","payload":[{)" + fullMeta + "}]}");
    EXPECT_EQ(listensBody(ListenType::playingNow, {bare}),
              R"({"listen_type":"playing_now","payload":[{)" + bareMeta + "}]}");
    EXPECT_EQ(
        listensBody(ListenType::single, {bare}),
        R"({"listen_type":"single","payload":[{"listened_at":1700000001,)" + bareMeta + "}]}");
    EXPECT_EQ(listensBody(ListenType::import, {full, bare}),
              R"({"listen_type":"import","payload":[{"listened_at":1700000000,)" + fullMeta +
                  R"(},{"listened_at":1700000001,)" + bareMeta + "}]}");
    EXPECT_STREQ(kClearPlayingNowBody, R"({"client":"Nimbo"})");

    // What names the recording goes as the service's members, lists as arrays, numbers
    // as numbers; the album artist has no member.
    Listen tagged{{L"A", L"T", L"", 0}, 0};
    const wchar_t* const ids[] = {L"r", L"l",   L"a1,a2", L"g",  L"t",
                                  L"w", L"I\"", L"3",     L"12", L"AA"};
    for (int i = 0; i < kTrackIdCount; ++i) tagged.fields.ids.texts[i] = ids[i];
    tagged.fields.playerVersion = L"5.9.2";
    EXPECT_EQ(listensBody(ListenType::playingNow, {tagged}),
              R"({"listen_type":"playing_now","payload":[{"track_metadata":{"artist_name":"A",)"
              R"("track_name":"T","additional_info":{"media_player":"Winamp",)"
              R"("media_player_version":"5.9.2","submission_client":"Nimbo",)"
              R"("submission_client_version":")" NIMBO_VERSION
              R"(","recording_mbid":"r","release_mbid":"l","artist_mbids":["a1","a2"],)"
              R"("release_group_mbid":"g","track_mbid":"t","work_mbids":["w"],"isrc":"I\"",)"
              R"("tracknumber":3,"discnumber":12}}}]})");
}

// How many times `part` occurs in `text`.
static size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST(ListenBrainzBody, ALongListenIsCutToTheServiceBound) {
    const std::string head = R"({"listen_type":"single","payload":[)";
    // Texts that fit go whole, however long one of them is.
    const Listen fits{{std::wstring(4000, L'a'), std::wstring(3000, L't'), L"R", 257}, 1};
    EXPECT_NE(listensBody(ListenType::single, {fits}).find(std::string(4000, 'a')),
              std::string::npos);
    // Only the longest is cut, and only as far as needed (the blanks a separator may get
    // count too).
    const Listen longArtist{{std::wstring(20000, L'a'), std::wstring(3000, L't'), L"R", 257}, 1};
    const std::string cut = listensBody(ListenType::single, {longArtist});
    EXPECT_GT(cut.size(), kMaxListenBytes - 80);
    EXPECT_NE(cut.find("\"" + std::string(3000, 't') + "\""), std::string::npos);
    // The service refuses a body larger than its listens' count times the bound: the
    // envelope and the separators come out of the listens' share.
    for (size_t n : {size_t(1), size_t(2), kMaxListensPerRequest}) {
        const std::string body =
            listensBody(ListenType::import, std::vector<Listen>(n, longArtist));
        EXPECT_LE(body.size(), n * kMaxListenBytes) << n;
    }
    EXPECT_LE(listensBody(ListenType::playingNow, {longArtist}).size(), kMaxListenBytes);
    // Past ASCII a character counts as its escape may write it, and the cut never leaves
    // half of one behind: every note is whole and counted as twelve bytes.
    std::wstring notes;
    for (int i = 0; i < 5000; ++i) notes += units(0xD83C, 0xDFB5);
    const Listen wide{{L"x" + notes, notes, std::wstring(2000, wchar_t(1)), -1}, 0};
    const std::string body = listensBody(ListenType::playingNow, {wide});
    EXPECT_EQ(body.find("\xEF\xBF\xBD"), std::string::npos);
    const size_t kept = occurrences(body, "\xF0\x9F\x8E\xB5");
    const size_t controls = occurrences(body, "\\u0001");
    EXPECT_LE(kept * 12 + controls * 6, kMaxListenBytes);
    EXPECT_GT(kept * 12 + controls * 6, kMaxListenBytes - 600);
}

TEST(ListenBrainzBody, SubmittableNeedsArtistAndTitle) {
    EXPECT_TRUE(submittable({L"A", L"T", L"", 0}));
    EXPECT_FALSE(submittable({L" \t\r\n", L"T", L"", 0}));
    EXPECT_FALSE(submittable({L"A", std::wstring(L"\0 \0", 3), L"", 0}));
    EXPECT_FALSE(submittable({L"", L"T", L"R", 100}));
}

// The server setting as the request and the options window read it: a form that can be
// used gives scheme, host, port and the request's path; any other, why not and no host.
TEST(ListenBrainzRequest, ServerForms) {
    const std::wstring scheme = L"only http:// and https:// addresses can be used";
    const std::wstring typo = L"the address should begin with https:// (or http://)";
    const std::wstring port = L"the port must be a number from 1 to 65535";
    const std::wstring noHost = L"the address names no server";
    const struct {
        const wchar_t* server;
        const char* form;      // "scheme host port uri" when usable
        std::wstring refused;  // otherwise why
    } rows[] = {
        {L"", "https api.listenbrainz.org 443 /1/validate-token"},
        {L" https://lb.example ", "https lb.example 443 /1/validate-token"},
        {L"http://192.168.1.20:9078/", "http 192.168.1.20 9078 /1/validate-token"},
        {L"https://m.example/apis/listenbrainz",
         "https m.example 443 /apis/listenbrainz/1/validate-token"},
        {L"http://m.example", "http m.example 80 /1/validate-token"},
        // No scheme is https, a port given or not: a token never goes out in plain by default.
        {L"127.0.0.1:9078", "https 127.0.0.1 9078 /1/validate-token"},
        {L"music.example.org/apis/listenbrainz/",
         "https music.example.org 443 /apis/listenbrainz/1/validate-token"},
        {L"HTTPS://m.example:/x//", "https m.example 443 /x/1/validate-token"},
        {L"Http://m.example:08080", "http m.example 8080 /1/validate-token"},
        {L"https://u:p@m.example:8443/lb", "https m.example 8443 /lb/1/validate-token"},
        {L"https://[::1]:8443", "https ::1 8443 /1/validate-token"},
        {L"ftp://m.example", "", scheme},
        {L"https//typo.example", "", typo},
        {L"https://m.example:0", "", port},
        {L"https://m.example:65536", "", port},
        {L"https://m.example:8o", "", port},
        {L"https://", "", noHost},
        {L"https://:8443/x", "", noHost},
        {L"https://[::1", "", L"the IPv6 address in brackets is not valid"},
        {L"https://[m.example]", "", L"the IPv6 address in brackets is not valid"},
        {L"https://[::1]8443", "", L"only a port may follow the IPv6 address"},
        {L"https://::1:8443", "", L"an IPv6 address goes in brackets, as in https://[::1]:8443"},
        {L"https://m.example/x?y=1", "", L"the address cannot hold a query (?) or a fragment (#)"},
        {L"https://m example", "", L"the address cannot hold blanks or control characters"},
        {L"https://m.exa<mple", "", L"the server's name holds a character no name can hold"},
    };
    for (const auto& row : rows) {
        const ServerAddress address = readServerAddress(row.server);
        const ApiRequest r =
            listenBrainzRequest(row.server, L"tok", ListenBrainzCall::validateToken, "");
        EXPECT_EQ(address.why, row.refused) << row.form;
        EXPECT_EQ(address.ok, row.refused.empty()) << row.form;
        if (!address.ok) {
            EXPECT_EQ(r.url.host, "") << "a refused address is never sent to";
            continue;
        }
        EXPECT_EQ(r.url.scheme + " " + r.url.host + " " + r.url.port + " " + r.url.requestUri,
                  row.form);
    }
}

TEST(ListenBrainzReply, WaitAfter429IsBounded) {
    const struct {
        const char* header;
        unsigned seconds;
    } rows[] = {{"X-RateLimit-Reset-In: 7", 7},
                {"x-ratelimit-reset-in:0", 1},
                {"X-RateLimit-Reset-In: 99999999", 300},
                {"X-RateLimit-Reset-In: soon", 1},
                {"Retry-After: 9", 1}};
    for (const auto& row : rows) {
        HttpReply reply;
        reply.statusCode = 429;
        reply.headers = {"HTTP/1.1 429 Too Many Requests", row.header, ""};
        reply.body = R"({"code":429,"error":"slow down"})";
        const ListenBrainzReply read = readListenBrainzReply(reply);
        EXPECT_EQ(read.waitSeconds, row.seconds) << row.header;
        EXPECT_EQ(read.json.error.value_or(L""), L"slow down");
    }
}
