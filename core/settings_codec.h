// How settings texts look inside winamp.ini, and how Winamp's proxy text splits.
#pragma once

#include <string>

namespace nimbo {

// Stored text -> setting: narrow through the code page, decode UTF-8 (one to three
// bytes a character; anything malformed gives an empty text), "{NextString}" in
// any letter case -> CR LF.
std::wstring decodeStoredText(const std::wstring& stored);

// Setting -> stored text: CR LF -> "{NextString}", UTF-8, widened byte by byte
// through the code page (so an 8-bit ini file holds the UTF-8 bytes).
std::wstring encodeStoredText(const std::wstring& value);

struct ProxyParts {
    std::string proxyHost;
    std::string proxyPort;
    std::string proxyUser;
    std::string proxyPassword;
};

// [user ":" password "@"] host ":" port; only the first "@" and, on each side,
// the first ":" count; incomplete pairs are dropped. Nothing is trimmed.
ProxyParts parseProxySetting(const std::string& proxySetting);

}  // namespace nimbo
