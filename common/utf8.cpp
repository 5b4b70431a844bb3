#include "common/utf8.h"

namespace nimbo {

std::wstring decodeUtf8(const std::string& bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        unsigned char lead = bytes[i++];
        if (lead < 0x80) {
            out.push_back(wchar_t(lead));
            continue;
        }
        // F0..F4 start four bytes (beyond U+FFFF); otherwise bit 0x20 of the lead
        // byte chooses between two and three bytes, as files written before have it.
        int follow;
        unsigned value;
        if (lead >= 0xF0 && lead <= 0xF4) {
            follow = 3;
            value = lead & 0x07;
        } else if (lead & 0x20) {
            follow = 2;
            value = lead & 0x0F;
        } else {
            follow = 1;
            value = lead & 0x1F;
        }
        for (int k = 0; k < follow; ++k) {
            if (i >= bytes.size()) return std::wstring();
            unsigned char b = bytes[i++];
            if ((b & 0xC0) != 0x80) return std::wstring();
            value = (value << 6) | (b & 0x3F);
        }
        if (value > 0x10FFFF) return std::wstring();
        if (value >= 0x10000) {
            // The plugin's wide text is UTF-16: a surrogate pair.
            value -= 0x10000;
            out.push_back(wchar_t(0xD800 + (value >> 10)));
            out.push_back(wchar_t(0xDC00 + (value & 0x3FF)));
        } else {
            // Surrogates that arrive as three bytes each (older files) stay as they are.
            out.push_back(wchar_t(value));
        }
    }
    return out;
}

std::string encodeUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned c = unsigned(text[i]);
        // A UTF-16 surrogate pair (Windows) joins into one code point.
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && unsigned(text[i + 1]) >= 0xDC00 &&
            unsigned(text[i + 1]) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unsigned(text[i + 1]) - 0xDC00);
            ++i;
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

}  // namespace nimbo
