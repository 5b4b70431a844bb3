// A URL in parts, and the rule for the one address a user types: the ListenBrainz server
// setting. Here rather than in net/ because the options window checks it as well.
#pragma once

#include <string>

namespace nimbo {

// User information in a URL is skipped, and a scheme chooses no port: the site's URLs
// carry neither, and its secure connection takes its port from the build. A host that
// holds ':' is an IPv6 address, written here without its brackets.
struct ParsedUrl {
    std::string scheme = "http";
    std::string host;
    std::string port = "80";
    std::string requestUri = "/";  // "/" + path part, query included
};

// The host as a Host header, an absolute URL or a CONNECT target writes it: an IPv6
// address (hex digits, ':' and '.', one ':' at least) in brackets, anything else as it is.
std::string hostInUrl(const std::string& host);

// The service's own server, which an empty setting means.
extern const wchar_t kListenBrainzRoot[];

// What the server setting comes to: `url` when it can be used (its requestUri the path
// before the API's own, without a last "/", so possibly empty), else why not, in words
// that fit after "Not valid: ".
struct ServerAddress {
    bool ok = false;
    ParsedUrl url;
    std::wstring why;
};

// Blanks around the setting are dropped; an empty one is kListenBrainzRoot. No scheme
// means https; only http and https are taken (any letter case). The port follows any
// user information (which is skipped), is the scheme's own when empty, else 1..65535.
// An IPv6 address goes in brackets. A query or fragment is refused: the API's paths
// follow the address.
ServerAddress readServerAddress(const std::wstring& setting);

}  // namespace nimbo
