// The URL and proxy-setting parsers and the requests built from them. parseUrl always
// gives a host and a port and a path starting with "/"; the server address, when it is
// taken, is http or https to a host and a port 1..65535, its path without a last "/", a
// query or a blank, and else says why; the proxy parts come in complete pairs that put
// the setting back together; and whatever the inputs, a request's only line breaks are its
// CR LF line ends, with one empty line last.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/utf8.h"
#include "core/server_address.h"
#include "core/settings_codec.h"
#include "net/http.h"
#include "tests/fuzz/check.h"

namespace {

bool hasControlEnds(const std::string& s) {
    auto control = [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; };
    return !s.empty() && (control(s.front()) || control(s.back()));
}

// Only CR LF line ends, one empty line last (before any body).
void checkLineEnds(const std::string& request) {
    const size_t end = request.find("\r\n\r\n");
    check(end != std::string::npos);
    for (size_t i = 0; i < end + 4; ++i) {
        if (request[i] == '\n') check(i > 0 && request[i - 1] == '\r');
        if (request[i] == '\r') check(i + 1 < request.size() && request[i + 1] == '\n');
    }
}

void checkServerAddress(const std::string& text, const nimbo::ProxyParts& proxy) {
    const nimbo::ServerAddress address =
        nimbo::readServerAddress(nimbo::decodeUtf8(text, nimbo::Utf8Malformed::replaceEach));
    check(address.ok == address.why.empty());
    if (!address.ok) return;
    const nimbo::ParsedUrl& url = address.url;
    check(url.scheme == "https" || url.scheme == "http");
    check(!url.host.empty() && url.host.find_first_of("/@?# ") == std::string::npos);
    check(!url.port.empty() && url.port.size() <= 5 && url.port[0] != '0');
    check(std::strtol(url.port.c_str(), nullptr, 10) <= 65535);
    check(url.requestUri.empty() || (url.requestUri[0] == '/' && url.requestUri.back() != '/'));
    check(url.requestUri.find_first_of("?# ") == std::string::npos);
    nimbo::ApiRequest request;
    request.url = url;
    request.method = "POST";
    request.body = "{}";
    checkLineEnds(nimbo::buildApiRequest(request, proxy));
}

}  // namespace

// Input: URL, NUL, proxy setting, NUL, cookie (no cookie when the second NUL is missing).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string all(reinterpret_cast<const char*>(data), size);
    const size_t first = all.find('\0');
    const std::string url = all.substr(0, first);
    const std::string proxy = first == std::string::npos ? std::string() : all.substr(first + 1);
    const size_t second = proxy.find('\0');
    const std::string proxySetting = proxy.substr(0, second);
    std::optional<std::string> cookie;
    if (second != std::string::npos) cookie = proxy.substr(second + 1);

    const nimbo::ParsedUrl parsed = nimbo::parseUrl(url);
    check(!parsed.host.empty());
    check(!parsed.port.empty());
    check(parsed.host.find(':') == std::string::npos && parsed.host.find('/') == std::string::npos);
    check(!parsed.requestUri.empty() && parsed.requestUri[0] == '/');
    for (const std::string* s : {&parsed.scheme, &parsed.host, &parsed.port})
        check(!hasControlEnds(*s));

    const nimbo::ProxyParts parts = nimbo::parseProxySetting(proxySetting);
    check(parts.proxyHost.empty() == parts.proxyPort.empty());
    check(parts.proxyUser.empty() == parts.proxyPassword.empty());
    check(parts.proxyHost.find(':') == std::string::npos);
    check(parts.proxyUser.find(':') == std::string::npos &&
          parts.proxyUser.find('@') == std::string::npos);
    const size_t at = proxySetting.find('@');
    if (!parts.proxyHost.empty()) {
        const std::string address =
            at == std::string::npos ? proxySetting : proxySetting.substr(at + 1);
        check(address == parts.proxyHost + ":" + parts.proxyPort);
    }
    if (!parts.proxyUser.empty())
        check(proxySetting.substr(0, at) == parts.proxyUser + ":" + parts.proxyPassword);

    const std::string request = nimbo::buildRequest(parsed, parts, cookie);
    check(request.compare(0, 4, "GET ") == 0);
    check(request.size() >= 4 && request.find("\r\n\r\n") == request.size() - 4);
    checkLineEnds(request);
    checkServerAddress(url, parts);
    return 0;
}
