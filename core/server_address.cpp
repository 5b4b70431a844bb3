#include "core/server_address.h"

#include "common/text.h"
#include "common/utf8.h"

namespace nimbo {

const wchar_t kListenBrainzRoot[] = L"https://api.listenbrainz.org";

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

ServerAddress refused(const wchar_t* why) {
    ServerAddress address;
    address.why = why;
    return address;
}

// The scheme and what follows it; no "://" means https, but a word that looks like a
// scheme written wrong ("https//", "http:/") is no host name.
bool splitScheme(const std::string& text, std::string& scheme, std::string& rest,
                 const wchar_t*& why) {
    size_t letters = 0;
    while (letters < text.size() && isLetter(text[letters])) ++letters;
    if (letters > 0 && text.compare(letters, 3, "://") == 0) {
        scheme = text.substr(0, letters);
        rest = text.substr(letters + 3);
        for (char& c : scheme)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (scheme == "https" || scheme == "http") return true;
        why = L"only http:// and https:// addresses can be used";
        return false;
    }
    if (text.find("://") != std::string::npos) {
        why = L"only http:// and https:// addresses can be used";
        return false;
    }
    if (letters > 0 &&
        (text.compare(letters, 2, "//") == 0 || text.compare(letters, 2, ":/") == 0)) {
        why = L"the address should begin with https:// (or http://)";
        return false;
    }
    scheme = "https";
    rest = text;
    return true;
}

// A host name's bytes: letters, digits, '-', '.', '_' and anything past ASCII (an
// international name).
bool nameHost(const std::string& host) {
    for (const char c : host) {
        const bool fine = isLetter(c) || isDigit(c) || c == '-' || c == '.' || c == '_' ||
                          static_cast<unsigned char>(c) >= 0x80;
        if (!fine) return false;
    }
    return !host.empty();
}

bool ipv6Host(const std::string& host) {
    if (host.find(':') == std::string::npos) return false;
    for (const char c : host)
        if (!(isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
              c == '.'))
            return false;
    return true;
}

// "host", "host:port", "[v6]" or "[v6]:port", user information already gone.
bool readHostPort(const std::string& authority, ParsedUrl& url, const wchar_t*& why) {
    size_t colon = authority.rfind(':');
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        url.host = close == std::string::npos ? std::string() : authority.substr(1, close - 1);
        if (!ipv6Host(url.host)) return (why = L"the IPv6 address in brackets is not valid"), false;
        colon = close + 1;
        if (colon < authority.size() && authority[colon] != ':')
            return (why = L"only a port may follow the IPv6 address"), false;
    } else {
        url.host = authority.substr(0, colon);
        if (url.host.empty()) return (why = L"the address names no server"), false;
        if (url.host.find(':') != std::string::npos)
            return (why = L"an IPv6 address goes in brackets, as in https://[::1]:8443"), false;
        if (!nameHost(url.host))
            return (why = L"the server's name holds a character no name can hold"), false;
    }
    url.port = url.scheme == "https" ? "443" : "80";
    const std::string port = colon < authority.size() ? authority.substr(colon + 1) : "";
    if (port.empty()) return true;
    long number = 0;
    for (const char c : port) {
        if (!isDigit(c) || number > 65535)
            return (why = L"the port must be a number from 1 to 65535"), false;
        number = number * 10 + (c - '0');
    }
    if (number < 1 || number > 65535)
        return (why = L"the port must be a number from 1 to 65535"), false;
    url.port = std::to_string(number);
    return true;
}

}  // namespace

std::string hostInUrl(const std::string& host) {
    return ipv6Host(host) ? "[" + host + "]" : host;
}

ServerAddress readServerAddress(const std::wstring& setting) {
    const std::wstring trimmed = trimBlanks(setting);
    const std::string text = encodeUtf8(trimmed.empty() ? kListenBrainzRoot : trimmed);
    ServerAddress address;
    std::string rest;
    const wchar_t* why = nullptr;
    if (!splitScheme(text, address.url.scheme, rest, why)) return refused(why);
    if (rest.find_first_of("?#") != std::string::npos)
        return refused(L"the address cannot hold a query (?) or a fragment (#)");
    for (const char c : rest)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F)
            return refused(L"the address cannot hold blanks or control characters");
    const size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) authority = authority.substr(at + 1);
    if (!readHostPort(authority, address.url, why)) return refused(why);
    std::string path = slash == std::string::npos ? std::string() : rest.substr(slash);
    // The API's paths follow with their own "/".
    while (!path.empty() && path.back() == '/') path.pop_back();
    address.url.requestUri = path;
    address.ok = true;
    return address;
}

}  // namespace nimbo
