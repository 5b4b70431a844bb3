#include "net/json.h"

#include <algorithm>
#include <cstdint>

#include "common/hex.h"
#include "common/utf8.h"

namespace nimbo {

std::string jsonString(const std::wstring& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::wstring kept;
    kept.reserve(text.size());
    for (wchar_t c : text)
        if (c != L'\0') kept.push_back(c);
    // Runs between escapes go through the UTF-8 encoder whole, so a pair stays joined;
    // every escaped character is ASCII and so never half of one.
    std::string out = "\"";
    size_t run = 0;
    for (size_t i = 0; i <= kept.size(); ++i) {
        const unsigned c = i < kept.size() ? unsigned(kept[i]) : 0;
        if (i < kept.size() && c != '"' && c != '\\' && c >= 0x20) continue;
        out += encodeUtf8(kept.substr(run, i - run));
        run = i + 1;
        if (i == kept.size()) break;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    out += '"';
    return out;
}

namespace {

// A single forward pass over the bytes: every byte is looked at a bounded number of
// times, and nesting is bounded, so neither time nor the stack grows past the input.
class ReplyReader {
  public:
    explicit ReplyReader(const std::string& body)
        : p_(body.data()), end_(body.data() + body.size()) {}

    JsonReply read() {
        JsonReply reply;
        if (!take('{')) return reply;
        if (take('}')) return reply.whole = true, reply;
        for (;;) {
            std::wstring key;
            skipBlanks();
            if (!readString(&key, kMaxKey) || !take(':') || !readMember(key, reply)) return reply;
            if (!take(',')) return reply.whole = take('}'), reply;
        }
    }

  private:
    // Longer than any name read here, so a longer key is no match.
    static constexpr size_t kMaxKey = 16;

    bool atEnd() const { return p_ == end_; }

    void skipBlanks() {
        while (!atEnd() && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r' || *p_ == '\n')) ++p_;
    }

    bool take(char c) {
        skipBlanks();
        if (atEnd() || *p_ != c) return false;
        ++p_;
        return true;
    }

    bool readMember(const std::wstring& key, JsonReply& reply) {
        skipBlanks();
        const char first = atEnd() ? '\0' : *p_;
        std::optional<std::wstring>* text = key == L"error"       ? &reply.error
                                            : key == L"user_name" ? &reply.userName
                                            : key == L"status"    ? &reply.status
                                                                  : nullptr;
        if (text) {
            text->reset();
            if (first != '"') return skipValue(2);
            std::wstring value;
            if (!readString(&value, kMaxJsonReplyText)) return false;
            *text = std::move(value);
            return true;
        }
        if (key == L"code") {
            reply.code.reset();
            if (first != '-' && (first < '0' || first > '9')) return skipValue(2);
            // A number that meets the end of the bytes may have been cut: 40 of 400.
            std::optional<long> code;
            if (!readNumber(&code) || atEnd()) return false;
            reply.code = code;
            return true;
        }
        if (key == L"valid") {
            reply.valid.reset();
            if (first != 't' && first != 'f') return skipValue(2);
            const bool value = first == 't';
            if (!readWord(value ? "true" : "false")) return false;
            reply.valid = value;
            return true;
        }
        return skipValue(2);
    }

    // `depth` is the level the value takes if it is an object or an array; the
    // top-level object is level 1.
    bool skipValue(int depth) {
        skipBlanks();
        if (atEnd()) return false;
        switch (*p_) {
            case '"':
                return readString(nullptr, 0);
            case 't':
                return readWord("true");
            case 'f':
                return readWord("false");
            case 'n':
                return readWord("null");
            case '{':
            case '[':
                break;
            default:
                return readNumber(nullptr);
        }
        if (depth > kMaxJsonDepth) return false;
        const char close = *p_++ == '{' ? '}' : ']';
        if (take(close)) return true;
        for (;;) {
            if (close == '}') {
                skipBlanks();
                if (!readString(nullptr, 0) || !take(':')) return false;
            }
            if (!skipValue(depth + 1)) return false;
            if (!take(',')) return take(close);
        }
    }

    bool readWord(const char* word) {
        for (; *word; ++word, ++p_)
            if (atEnd() || *p_ != *word) return false;
        return true;
    }

    // An integer within 32 bits goes to `integer`; a fraction, an exponent or a larger
    // value leaves it empty. Either way the number is passed.
    bool readNumber(std::optional<long>* integer) {
        const bool negative = !atEnd() && *p_ == '-';
        if (negative) ++p_;
        if (!digitNext()) return false;
        int64_t value = 0;
        if (*p_ == '0') {
            ++p_;
        } else {
            for (; digitNext(); ++p_)
                if (value <= INT32_MAX) value = value * 10 + (*p_ - '0');
        }
        bool whole = true;
        if (!atEnd() && *p_ == '.') {
            ++p_;
            whole = false;
            if (!skipDigits()) return false;
        }
        if (!atEnd() && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            whole = false;
            if (!atEnd() && (*p_ == '+' || *p_ == '-')) ++p_;
            if (!skipDigits()) return false;
        }
        if (negative) value = -value;
        if (integer && whole && value >= INT32_MIN && value <= INT32_MAX) *integer = long(value);
        return true;
    }

    bool digitNext() const { return !atEnd() && *p_ >= '0' && *p_ <= '9'; }

    // One digit at least.
    bool skipDigits() {
        if (!digitNext()) return false;
        while (digitNext()) ++p_;
        return true;
    }

    bool readHex4(unsigned& unit) {
        if (end_ - p_ < 4) return false;
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hexDigit(p_[i]);
            if (digit < 0) return false;
            unit = unit * 16 + unsigned(digit);
        }
        p_ += 4;
        return true;
    }

    // What a string keeps: up to `cap` units and one more, so the cut can tell there were more.
    struct Kept {
        std::wstring* out;  // null: the string is only passed
        size_t cap;
        std::wstring text;

        bool full() const { return !out || text.size() > cap; }
        void add(unsigned unit) {
            if (!full()) text.push_back(wchar_t(unit));
        }
        // Each unit takes at most four bytes, so this many always give one unit past the
        // cap, and a sequence the limit cuts never lands within it.
        void addBytes(const char* from, const char* to) {
            if (full()) return;
            const size_t room = (cap + 1 - text.size()) * 4 + 4;
            text += decodeUtf8(from, std::min(size_t(to - from), room), Utf8Malformed::replaceEach);
        }
    };

    // The unit an escape stands for, p_ just past its backslash; false for no escape.
    bool readEscape(unsigned& unit) {
        if (atEnd()) return false;
        switch (*p_++) {
            case '"':
            case '\\':
            case '/':
                unit = unsigned(char(p_[-1]));
                return true;
            case 'b':
                unit = '\b';
                return true;
            case 'f':
                unit = '\f';
                return true;
            case 'n':
                unit = '\n';
                return true;
            case 'r':
                unit = '\r';
                return true;
            case 't':
                unit = '\t';
                return true;
            case 'u':
                return readHex4(unit);
            default:
                return false;
        }
    }

    // An escaped unit: a surrogate only as half of an escaped pair, else U+FFFD.
    void keepEscaped(unsigned unit, Kept& kept) {
        if (isHighSurrogate(unit)) {
            const char* mark = p_;
            unsigned low = 0;
            if (end_ - p_ >= 6 && p_[0] == '\\' && p_[1] == 'u' && (p_ += 2, readHex4(low)) &&
                isLowSurrogate(low)) {
                kept.add(unit);
                kept.add(low);
            } else {
                p_ = mark;
                kept.add(0xFFFD);
            }
        } else if (isLowSurrogate(unit)) {
            kept.add(0xFFFD);
        } else if (unit != 0) {
            // U+0000 would end the text in every C string it reaches.
            kept.add(unit);
        }
    }

    // A string at p_ into `out` (null: passed), kept to `cap` units without splitting a
    // pair. Past the cap the bytes are only scanned, so a long text costs no memory.
    bool readString(std::wstring* out, size_t cap) {
        if (atEnd() || *p_ != '"') return false;
        ++p_;
        Kept kept{out, cap, std::wstring()};
        const char* run = p_;
        while (!atEnd()) {
            const unsigned char c = static_cast<unsigned char>(*p_);
            if (c == '"') {
                kept.addBytes(run, p_);
                ++p_;
                if (out) *out = leadingUnits(kept.text, cap);
                return true;
            }
            if (c < 0x20) return false;
            if (c != '\\') {
                ++p_;
                continue;
            }
            kept.addBytes(run, p_);
            ++p_;
            unsigned unit = 0;
            if (!readEscape(unit)) return false;
            keepEscaped(unit, kept);
            run = p_;
        }
        return false;
    }

    const char* p_;
    const char* end_;
};

}  // namespace

JsonReply readJsonReply(const std::string& body) {
    return ReplyReader(body).read();
}

}  // namespace nimbo
