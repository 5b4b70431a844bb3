// URL parsing, Base64 and the exact request bytes.
#include <gtest/gtest.h>

#include "net/http.h"

using namespace nimbo;

namespace {

struct UrlCase {
    const char* url;
    const char* scheme;
    const char* host;
    const char* port;
    const char* requestUri;
};

const UrlCase kUrlCases[] = {
    {"vkontakte.ru/profile.php", "http", "vkontakte.ru", "80", "/profile.php"},
    {"vkontakte.ru", "http", "vkontakte.ru", "80", "/"},
    {"h/login.php?email=%61&pass=%62", "http", "h", "80", "/login.php?email=%61&pass=%62"},
    // A scheme chooses no port, and user information is skipped.
    {"https://a.b/x?y=1", "https", "a.b", "80", "/x?y=1"},
    {"HTTPS://a.b", "HTTPS", "a.b", "80", "/"},
    {"FTP://a.b/f", "FTP", "a.b", "80", "/f"},
    {"http://user:pw@h:8080/p", "http", "h", "8080", "/p"},
    {"u@h", "http", "h", "80", "/"},
    // An "@" after the first "/" belongs to the path.
    {"h/p@q", "http", "h", "80", "/p@q"},
    {"", "http", "localhost", "80", "/"},
    {"/x", "http", "localhost", "80", "/x"},
    {":8080/x", "http", "localhost", "8080", "/x"},
    {" h :81/ a b \t", "http", "h", "81", "/a b"},
    {"\thttp \x01://h\r\n", "http", "h", "80", "/"},
    {"h:/x", "http", "h", "80", "/x"},
    {"h//x", "http", "h", "80", "//x"},
};

TEST(ParseUrl, SplitsEveryPiece) {
    for (const UrlCase& c : kUrlCases) {
        SCOPED_TRACE(c.url);
        ParsedUrl u = parseUrl(c.url);
        EXPECT_EQ(u.scheme, c.scheme);
        EXPECT_EQ(u.host, c.host);
        EXPECT_EQ(u.port, c.port);
        EXPECT_EQ(u.requestUri, c.requestUri);
    }
}

TEST(Base64, EncodesStandardVectorsAndBinary) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"user:pass", "dXNlcjpwYXNz"},
        {std::string("\xff\xfe\x00", 3), "//4A"},
        {"\xfb\xff", "+/8="},
    };
    for (const auto& c : cases) EXPECT_EQ(base64Encode(c.first), c.second) << c.first;
}

ProxyParts proxy(const char* host, const char* port, const char* user, const char* password) {
    return ProxyParts{host, port, user, password};
}

TEST(BuildRequest, ExactBytes) {
    const std::string ua = "User-Agent: Opera/9.20 (Windows NT 5.1; U; ru)\r\n\r\n";
    struct Case {
        const char* name;
        const char* url;
        ProxyParts proxy;
        std::optional<std::string> cookie;
        std::string head;  // everything before the User-Agent line
    };
    const Case cases[] = {
        {"page", "vk.test/profile.php", ProxyParts(), "remixsid=abc; remixlang=0",
         "GET /profile.php HTTP/1.0\r\nHost: vk.test\r\nCookie: remixsid=abc; remixlang=0\r\n"},
        {"login", "vk.test/login.php?email=%61", ProxyParts(), std::nullopt,
         "GET /login.php?email=%61 HTTP/1.0\r\nHost: vk.test\r\n"},
        {"empty cookie setting", "vk.test/x", ProxyParts(), "; remixlang=0",
         "GET /x HTTP/1.0\r\nHost: vk.test\r\nCookie: ; remixlang=0\r\n"},
        {"proxy with user", "vk.test/profile.php", proxy("10.0.0.1", "3128", "user", "pass"), "c=1",
         "GET http://vk.test:80/profile.php HTTP/1.0\r\nHost: vk.test\r\n"
         "Proxy-Authorization: Basic dXNlcjpwYXNz\r\nCookie: c=1\r\n"},
        {"proxy without user", "vk.test/p", proxy("px", "8080", "", ""), std::nullopt,
         "GET http://vk.test:80/p HTTP/1.0\r\nHost: vk.test\r\n"},
        {"user without proxy host", "vk.test/p", proxy("", "", "u", "p"), std::nullopt,
         "GET /p HTTP/1.0\r\nHost: vk.test\r\n"},
        {"port 80 written out", "h:80/", ProxyParts(), std::nullopt,
         "GET / HTTP/1.0\r\nHost: h\r\n"},
        {"other port", "h:8080/", ProxyParts(), std::nullopt, "GET / HTTP/1.0\r\nHost: h:8080\r\n"},
        {"https through proxy", "https://h/", proxy("p", "1", "", ""), std::nullopt,
         "GET https://h:80/ HTTP/1.0\r\nHost: h\r\n"},
        // A line break inside the cookie or the URL must not split the request's headers.
        {"line breaks dropped", "h/captcha.php?sid=1\r\nX-Evil: 1", ProxyParts(),
         "remixsid=a\r\nX-Injected: 1\n; remixlang=0",
         "GET /captcha.php?sid=1X-Evil: 1 HTTP/1.0\r\nHost: h\r\n"
         "Cookie: remixsid=aX-Injected: 1; remixlang=0\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(buildRequest(parseUrl(c.url), c.proxy, c.cookie), c.head + ua) << c.name;
    }
}

// The request line and Host of an API request: the scheme's own port left out, an IPv6
// address in brackets, the absolute form through a proxy.
TEST(BuildApiRequest, HostForms) {
    const struct {
        const char *scheme, *host, *port;
        ProxyParts proxy;
        const char* head;
    } cases[] = {
        {"https", "lb.example", "443", ProxyParts(), "GET /1/x HTTP/1.0\r\nHost: lb.example\r\n"},
        {"https", "::1", "8443", ProxyParts(), "GET /1/x HTTP/1.0\r\nHost: [::1]:8443\r\n"},
        {"http", "::1", "80", proxy("px", "3128", "", ""),
         "GET http://[::1]:80/1/x HTTP/1.0\r\nHost: [::1]\r\n"},
    };
    for (const auto& c : cases) {
        ApiRequest request;
        request.url.scheme = c.scheme;
        request.url.host = c.host;
        request.url.port = c.port;
        request.url.requestUri = "/1/x";
        request.userAgent = "UA";
        EXPECT_EQ(buildApiRequest(request, c.proxy), std::string(c.head) + "User-Agent: UA\r\n\r\n")
            << c.head;
    }
}

TEST(BuildConnectRequest, ExactBytes) {
    const struct {
        const char* name;
        const char* host;
        const char* port;
        ProxyParts proxy;
        const char* bytes;
    } cases[] = {
        {"no credentials", "vkontakte.ru", "443", proxy("px", "3128", "", ""),
         "CONNECT vkontakte.ru:443 HTTP/1.0\r\nHost: vkontakte.ru:443\r\n\r\n"},
        {"credentials", "vk.test", "443", proxy("px", "3128", "user", "pass"),
         "CONNECT vk.test:443 HTTP/1.0\r\nHost: vk.test:443\r\n"
         "Proxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n"},
        {"an IPv6 address in brackets", "::1", "8443", proxy("px", "3128", "", ""),
         "CONNECT [::1]:8443 HTTP/1.0\r\nHost: [::1]:8443\r\n\r\n"},
        {"line breaks dropped", "h\r\nX: 1", "443", proxy("px", "1", "", ""),
         "CONNECT hX: 1:443 HTTP/1.0\r\nHost: hX: 1:443\r\n\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(buildConnectRequest(c.host, c.port, c.proxy), c.bytes) << c.name;
}

}  // namespace
