#include "tools/player/text.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "common/hex.h"

using nimbo::hexDigit;

namespace player {

namespace {
std::wstring fromCodePage(UINT codePage, const std::string& text) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), &out[0], n);
    return out;
}

std::string toCodePage(UINT codePage, const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0, nullptr,
                                nullptr);
    if (n <= 0) return std::string();
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

std::wstring fromUtf8(const std::string& text) {
    return fromCodePage(CP_UTF8, text);
}
std::wstring fromAnsi(const std::string& text) {
    return fromCodePage(CP_ACP, text);
}
std::string toUtf8(const std::wstring& text) {
    return toCodePage(CP_UTF8, text);
}
std::string toAnsi(const std::wstring& text) {
    return toCodePage(CP_ACP, text);
}

bool decodeRawBytes(const std::string& text, std::string& bytes) {
    bytes.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            bytes += text[i];
        } else if (text[i + 1] == '\\') {
            bytes += '\\';
            ++i;
        } else if (text[i + 1] == 'x') {
            int high = i + 2 < text.size() ? hexDigit(text[i + 2]) : -1;
            int low = i + 3 < text.size() ? hexDigit(text[i + 3]) : -1;
            if (high < 0 || low < 0) return false;
            bytes += char(high * 16 + low);
            i += 3;
        } else {
            bytes += '\\';
        }
    }
    return true;
}

namespace {
std::string escapeText(const std::string& text, bool highBytes) {
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F || (highBytes && c >= 0x80)) {
                    char hex[8];
                    snprintf(hex, sizeof hex, "\\x%02X", c);
                    out += hex;
                } else {
                    out += char(c);
                }
        }
    }
    return out;
}
}  // namespace

std::string escapeField(const std::string& utf8) {
    return escapeText(utf8, false);
}
std::string escapeBytes(const std::string& bytes) {
    return escapeText(bytes, true);
}

std::vector<std::string> splitText(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

bool parseInt(const std::string& text, long long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    // Handles arrive as hex ("0x..."); everything else is decimal, leading zeros too.
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    value = strtoll(text.c_str(), &end, hex ? 16 : 10);
    return errno == 0 && end && *end == '\0';
}

}  // namespace player
