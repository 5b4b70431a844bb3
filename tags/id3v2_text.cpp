#include "tags/id3v2_text.h"

#include <cstring>

#include "common/hex.h"
#include "common/platform.h"
#include "common/text.h"
#include "common/utf8.h"

namespace nimbo {
namespace id3v2 {
namespace {

constexpr unsigned kByteOrderMark = 0xFEFF;
constexpr unsigned kSwappedMark = 0xFFFE;
constexpr wchar_t kReplacement = 0xFFFD;

// Units up to 0x20 (blanks, zeros, controls) go at both ends of every frame's text.
std::wstring trimWide(const std::wstring& text) {
    return trimEnds(text, [](wchar_t unit) { return unsigned(unit) <= 0x20; });
}

// Appends one UTF-16 unit; a surrogate without its partner becomes U+FFFD, so the status
// never carries a half character onto the wire.
void appendUnit(std::wstring& out, unsigned unit, bool& pendingHigh) {
    if (pendingHigh && !isLowSurrogate(unit)) {
        out.back() = kReplacement;
        pendingHigh = false;
    }
    if (isLowSurrogate(unit) && !pendingHigh) {
        out.push_back(kReplacement);
        return;
    }
    out.push_back(static_cast<wchar_t>(unit));
    pendingHigh = isHighSurrogate(unit) && !pendingHigh;
}

// Units after the encoding byte. A leading byte-order mark decides the order (FF FE after
// a big-endian default flips it too); a mark later on is dropped.
std::wstring utf16Text(const std::string& content, bool bigEndian) {
    std::wstring out;
    bool pendingHigh = false;
    const size_t units = (content.size() - 1) / 2;
    for (size_t i = 0; i < units; ++i) {
        const unsigned char first = static_cast<unsigned char>(content[1 + 2 * i]);
        const unsigned char second = static_cast<unsigned char>(content[2 + 2 * i]);
        const unsigned unit = bigEndian ? (first << 8) | second : first | (second << 8);
        if (i == 0 && unit == kSwappedMark) {
            bigEndian = !bigEndian;
            continue;
        }
        if (unit == 0) break;
        if (unit == kByteOrderMark) continue;
        appendUnit(out, unit, pendingHigh);
    }
    if (pendingHigh) out.back() = kReplacement;
    return trimWide(out);
}

// UTF-8 up to the first zero byte, after an optional byte-order mark; each malformed
// sequence becomes one U+FFFD.
std::wstring utf8Text(const std::string& content) {
    size_t begin = 1;
    if (content.compare(1, 3, "\xEF\xBB\xBF") == 0) begin = 4;
    const void* zero = std::memchr(content.data() + begin, 0, content.size() - begin);
    const size_t end =
        zero ? size_t(static_cast<const char*>(zero) - content.data()) : content.size();
    return trimWide(decodeUtf8(content.data() + begin, end - begin, Utf8Malformed::replaceEach));
}

}  // namespace

std::wstring frameText(const std::string& content) {
    if (content.empty()) return std::wstring();
    switch (content[0]) {
        case 1:
            return utf16Text(content, false);
        case 2:
            return utf16Text(content, true);
        case 3:
            return utf8Text(content);
        // Trimmed as bytes first, encoding byte included, then widened: a zero byte
        // inside the text stays.
        default:
            return widen(trimControls(content));
    }
}

namespace {

// Where the text of a described frame starts in `content`, past the description and
// its terminator (`descriptionEnd` is where the terminator sits). Without a terminator
// the description cannot be told from the text, so all of it is text, in any encoding.
size_t describedTextAt(const std::string& content, size_t descriptionAt, size_t& descriptionEnd) {
    const char encoding = content[0];
    descriptionEnd = descriptionAt;
    if (encoding == 1 || encoding == 2) {
        for (size_t i = descriptionAt; i + 1 < content.size(); i += 2) {
            if (content[i] == 0 && content[i + 1] == 0) {
                descriptionEnd = i;
                return i + 2;
            }
        }
    } else {
        const size_t zero = content.find('\0', descriptionAt);
        if (zero != std::string::npos) {
            descriptionEnd = zero;
            return zero + 1;
        }
    }
    return descriptionAt;
}

}  // namespace

std::wstring describedText(const std::string& content, bool withLanguage) {
    if (content.empty()) return std::wstring();
    const char encoding = content[0];
    const size_t descriptionAt = withLanguage ? 4 : 1;
    if (content.size() <= descriptionAt) return frameText(std::string(1, encoding));
    size_t descriptionEnd = 0;
    const size_t textAt = describedTextAt(content, descriptionAt, descriptionEnd);
    return frameText(std::string(1, encoding) + content.substr(textAt));
}

std::wstring userTextDescription(const std::string& content) {
    if (content.size() < 2) return std::wstring();
    size_t descriptionEnd = 0;
    describedTextAt(content, 1, descriptionEnd);
    return frameText(content.substr(0, descriptionEnd));
}

std::wstring userTextValues(const std::string& content) {
    if (content.size() < 2) return std::wstring();
    const std::string encoding(1, content[0]);
    const size_t unit = content[0] == 1 || content[0] == 2 ? 2 : 1;
    size_t descriptionEnd = 0;
    size_t start = describedTextAt(content, 1, descriptionEnd);
    std::wstring values;
    for (size_t i = start; i + unit <= content.size(); i += unit) {
        const bool zero = content[i] == 0 && content[i + unit - 1] == 0;
        const bool last = i + 2 * unit > content.size();
        if (!zero && !last) continue;
        const std::wstring value =
            frameText(encoding + content.substr(start, (zero ? i : content.size()) - start));
        if (!value.empty()) values += (values.empty() ? L"" : L"/") + value;
        start = i + unit;
    }
    return values;
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

bool parseInt32(const std::wstring& text, int32_t& out) {
    std::string ascii;
    for (wchar_t unit : text) {
        if (unsigned(unit) >= 0x80) return false;  // no digit, sign or space lies up there
        ascii.push_back(static_cast<char>(unit));
    }
    return parseInt32(ascii, out);
}

std::string resynchronise(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] == '\xFF' && i + 1 < bytes.size() && bytes[i + 1] == 0) ++i;
    }
    return out;
}

}  // namespace id3v2
}  // namespace nimbo
