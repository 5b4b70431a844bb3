#include "common/utf8.h"

namespace nimbo {

std::wstring decodeUtf8(const char* data, size_t size, Utf8Malformed rule) {
    static const uint32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
    const bool strict = rule == Utf8Malformed::replaceEach;
    std::wstring out;
    out.reserve(size);
    size_t i = 0;
    while (i < size) {
        const unsigned lead = bytes[i++];
        if (lead < 0x80) {
            out.push_back(wchar_t(lead));
            continue;
        }
        int follow;
        uint32_t value;
        if (strict) {
            // 80..BF and F8..FF start nothing.
            follow = lead >= 0xF8 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
            value = lead & (0x3Fu >> follow);
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            follow = 3;
            value = lead & 0x07;
        } else if (lead & 0x20) {
            follow = 2;
            value = lead & 0x0F;
        } else {
            follow = 1;
            value = lead & 0x1F;
        }
        int got = 0;
        while (got < follow && i < size && (bytes[i] & 0xC0) == 0x80) {
            value = (value << 6) | (bytes[i++] & 0x3F);
            ++got;
        }
        bool bad = got < follow || value > 0x10FFFF;
        if (strict)
            bad = bad || follow == 0 || value < kSmallest[follow] ||
                  (value >= 0xD800 && value < 0xE000);
        if (bad) {
            if (!strict) return std::wstring();
            out.push_back(wchar_t(0xFFFD));
        } else if (value >= 0x10000) {
            wchar_t high, low;
            toSurrogatePair(value, high, low);
            out.push_back(high);
            out.push_back(low);
        } else {
            out.push_back(wchar_t(value));
        }
    }
    return out;
}

std::string encodeUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = unsigned(text[i]);
        if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(unsigned(text[i + 1]))) {
            c = fromSurrogatePair(c, unsigned(text[i + 1]));
            ++i;
        } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(char(c));
        } else if (c < 0x800) {
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(char(0xE0 | (c >> 12)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (c >> 18)));
            out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::wstring leadingUnits(const std::wstring& text, size_t units) {
    if (text.size() <= units) return text;
    if (units > 0 && isHighSurrogate(unsigned(text[units - 1]))) --units;
    return text.substr(0, units);
}

std::wstring bufferText(const wchar_t* buffer, size_t units) {
    size_t length = 0;
    while (length < units && buffer[length] != L'\0') ++length;
    if (length == units && length > 0 && isHighSurrogate(unsigned(buffer[length - 1]))) --length;
    return std::wstring(buffer, length);
}

}  // namespace nimbo
