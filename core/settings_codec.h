// How settings texts look inside winamp.ini, and how Winamp's proxy text splits.
#pragma once

#include <string>

namespace nimbo {

// The status mask of a fresh installation (also what a missing key gives).
extern const wchar_t kDefaultStatusMask[];

// The file's bytes -> setting: UTF-8 under the stored rule (anything malformed gives an
// empty text, see Utf8Malformed::emptyText), then "{NextString}" in any letter case ->
// CR LF. No code page is involved: the bytes are read from the file as they are.
std::wstring decodeStoredText(const std::string& stored);

// A list of entries (PrivateWords): as decodeStoredText, but bytes that are no UTF-8
// are text in the system code page, as a plain text editor saves it, so the entries
// still match instead of reading as no entry at all.
std::wstring decodeStoredList(const std::string& stored);

// Setting -> the file's bytes: CR LF, and a lone CR or LF, -> "{NextString}", then
// UTF-8. Decoding gives the text back, every line break as CR LF, for every text
// that does not itself hold the marker. The bytes never hold a CR or LF.
std::string encodeStoredText(const std::wstring& value);

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
