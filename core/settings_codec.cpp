#include "core/settings_codec.h"

#include "common/platform.h"
#include "common/text.h"
#include "common/utf8.h"

namespace nimbo {

const wchar_t kDefaultStatusMask[] =
    L"\u03A9 Now is %curstate%:\r\n"
    L"Artist: %artist%\r\n"
    L"Title: %title%\r\n"
    L"Length: %length%\r\n"
    L"Bitrate: %bitrate%\r\n"
    L"SampleRate: %samplerate%\r\n"
    L"Channels: %channels%";

std::wstring decodeStoredText(const std::string& stored) {
    return replaceText(decodeUtf8(stored, Utf8Malformed::emptyText), L"{NextString}", L"\r\n",
                       false);
}

std::wstring decodeStoredList(const std::string& stored) {
    const std::wstring text = decodeStoredText(stored);
    if (!text.empty() || stored.empty()) return text;
    return replaceText(widen(stored), L"{NextString}", L"\r\n", false);
}

std::string encodeStoredText(const std::wstring& value) {
    // A lone CR or LF can end the ini line for a reader (the platform's takes either
    // as a line end) and lose the rest of the value: it is stored as a line break too,
    // and reads back as CR LF.
    std::wstring marked = replaceText(value, L"\r\n", L"{NextString}", true);
    marked = replaceText(marked, L"\r", L"{NextString}", true);
    return encodeUtf8(replaceText(marked, L"\n", L"{NextString}", true));
}

ProxyParts parseProxySetting(const std::string& proxySetting) {
    ProxyParts p;
    const size_t at = proxySetting.find('@');
    const std::string address =
        at == std::string::npos ? proxySetting : proxySetting.substr(at + 1);
    size_t colon = address.find(':');
    if (colon != std::string::npos) {
        p.proxyHost = address.substr(0, colon);
        p.proxyPort = address.substr(colon + 1);
    }
    if (at != std::string::npos) {
        const std::string credentials = proxySetting.substr(0, at);
        colon = credentials.find(':');
        if (colon != std::string::npos) {
            p.proxyUser = credentials.substr(0, colon);
            p.proxyPassword = credentials.substr(colon + 1);
        }
    }
    if (p.proxyUser.empty()) p.proxyPassword.clear();
    if (p.proxyPassword.empty()) p.proxyUser.clear();
    if (p.proxyHost.empty()) p.proxyPort.clear();
    if (p.proxyPort.empty()) p.proxyHost.clear();
    return p;
}

}  // namespace nimbo
