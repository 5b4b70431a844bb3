#include "tags/id3v2_text.h"

#include "common/hex.h"
#include "common/platform.h"
#include "common/text.h"

namespace nimbo {
namespace id3v2 {
namespace {

constexpr unsigned kByteOrderMark = 0xFEFF;
constexpr unsigned kSwappedMark = 0xFFFE;

std::string utf16Text(const std::string& content) {
    std::string out;
    const size_t units = (content.size() - 1) / 2;
    // ID3v2.3 allows either byte order behind a BOM; a text without one is taken as
    // little-endian, which is what the common writers produce.
    bool bigEndian = false;
    for (size_t i = 0; i < units; ++i) {
        const unsigned char first = static_cast<unsigned char>(content[1 + 2 * i]);
        const unsigned char second = static_cast<unsigned char>(content[2 + 2 * i]);
        unsigned unit = bigEndian ? (first << 8) | second : first | (second << 8);
        if (i == 0 && unit == kSwappedMark) {
            bigEndian = true;
            continue;
        }
        if (unit == 0) break;
        if (unit == kByteOrderMark) continue;
        out += narrow(std::wstring(1, static_cast<wchar_t>(unit)));
    }
    return trimControls(out);
}

}  // namespace

std::string frameText(const std::string& content) {
    if (!content.empty() && content[0] == 1) return utf16Text(content);
    return trimControls(content);
}

std::string describedText(const std::string& content, bool withLanguage) {
    if (content.empty()) return std::string();
    const char encoding = content[0];
    const size_t descriptionAt = withLanguage ? 4 : 1;
    if (content.size() <= descriptionAt) return frameText(std::string(1, encoding));
    const std::string rest = content.substr(descriptionAt);

    // Without a terminator the description cannot be told from the text, so all of it
    // is kept, in either encoding.
    size_t textAt = 0;
    if (encoding == 1) {
        for (size_t i = 0; i + 1 < rest.size(); i += 2) {
            if (rest[i] == 0 && rest[i + 1] == 0) {
                textAt = i + 2;
                break;
            }
        }
    } else {
        const size_t zero = rest.find('\0');
        if (zero != std::string::npos) textAt = zero + 1;
    }
    return frameText(std::string(1, encoding) + rest.substr(textAt));
}

bool parseInt32(const std::string& text, int32_t& out) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    unsigned base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size()) return false;

    const int64_t limit = negative ? int64_t(INT32_MAX) + 1 : int64_t(INT32_MAX);
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = hexDigit(text[i]);
        if (digit < 0 || unsigned(digit) >= base) return false;
        value = value * base + digit;
        if (value > limit) return false;
    }
    out = static_cast<int32_t>(negative ? -value : value);
    return true;
}

}  // namespace id3v2
}  // namespace nimbo
