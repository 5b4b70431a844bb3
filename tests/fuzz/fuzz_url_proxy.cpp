// The URL and proxy-setting parsers and the request built from them. parseUrl always
// gives a host and a port and a path starting with "/"; the proxy parts come in
// complete pairs that put the setting back together; and whatever the inputs, the
// request's only line breaks are its CR LF line ends, with one empty line last.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "core/settings_codec.h"
#include "net/http.h"
#include "tests/fuzz/check.h"

namespace {

bool hasControlEnds(const std::string& s) {
    auto control = [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; };
    return !s.empty() && (control(s.front()) || control(s.back()));
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
    check(request.size() >= 4 && request.compare(request.size() - 4, 4, "\r\n\r\n") == 0);
    for (size_t i = 0; i < request.size(); ++i) {
        if (request[i] == '\n') check(i > 0 && request[i - 1] == '\r');
        if (request[i] == '\r') check(i + 1 < request.size() && request[i + 1] == '\n');
    }
    check(request.find("\r\n\r\n") == request.size() - 4);
    return 0;
}
