#include "net/lastfm_reply.h"

#include <algorithm>
#include <cstdint>

#include "common/hex.h"
#include "common/utf8.h"

namespace nimbo {

namespace {

// Bytes kept of one text or name while reading: enough for the units kept in the end.
constexpr size_t kMaxRawText = 4 * kMaxLastFmReplyText;
// An XML text may spell each character as a reference of up to ten bytes.
constexpr size_t kMaxRawXml = 10 * kMaxLastFmReplyText;
constexpr size_t kMaxName = 32;
// Paths are built only this many levels down: every member read lies within.
constexpr size_t kMaxPathLevels = 6;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void appendBounded(std::string& out, char c, size_t bound) {
    if (out.size() < bound) out.push_back(c);
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
    char bytes[4];
    int n = 0;
    if (cp < 0x80) {
        bytes[n++] = char(cp);
    } else if (cp < 0x800) {
        bytes[n++] = char(0xC0 | cp >> 6);
    } else if (cp < 0x10000) {
        bytes[n++] = char(0xE0 | cp >> 12);
    } else {
        bytes[n++] = char(0xF0 | cp >> 18);
        bytes[n++] = char(0x80 | ((cp >> 12) & 0x3F));
    }
    if (cp >= 0x10000) bytes[n++] = char(0x80 | ((cp >> 6) & 0x3F));
    if (cp >= 0x800 && cp < 0x10000) bytes[n++] = char(0x80 | ((cp >> 6) & 0x3F));
    if (cp >= 0x80) bytes[n++] = char(0x80 | (cp & 0x3F));
    for (int k = 0; k < n; ++k) appendBounded(out, bytes[k], kMaxRawText);
}

// A code of a few digits; anything else is none.
bool smallNumber(const std::string& text, int& value) {
    if (text.empty() || text.size() > 9) return false;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    value = n;
    return true;
}

std::wstring replyText(const std::string& bytes) {
    return leadingUnits(decodeUtf8(bytes, Utf8Malformed::replaceEach), kMaxLastFmReplyText);
}

// One member of either form by its path: names from the top joined by "/", without
// the XML root and JSON's "@attr" and "#text"; an attribute is a member of its element.
void take(LastFmReply& r, const std::string& path, const std::string& value) {
    int number = 0;
    const bool isNumber = smallNumber(value, number);
    if (path == "status") r.ok = value == "ok";
    if (path == "error/code" && isNumber) r.error = number;
    if (path == "error") r.message = replyText(value);
    if (path == "token") r.token = replyText(value);
    if (path == "session/key") r.sessionKey = replyText(value);
    if (path == "session/name") r.userName = replyText(value);
    if (path == "scrobbles/accepted" && isNumber) r.accepted = number;
    if (path == "scrobbles/ignored" && isNumber) r.ignored = number;
    if (path == "nowplaying" || path.compare(0, 11, "nowplaying/") == 0) r.nowPlaying = true;
    if (path == "nowplaying/ignoredMessage/code" && isNumber) r.nowPlayingIgnored = number;
    if (path == "scrobbles/scrobble/ignoredMessage/code" && isNumber &&
        r.ignoredCodes.size() < kMaxLastFmScrobbleCodes)
        r.ignoredCodes.push_back(number);
}

// ---- JSON

struct JsonFrame {
    bool array = false;
    std::string key;  // the member being read, in an object
};

// Four hexadecimal digits at s[i]; -1 when they are not there.
long hex4(const std::string& s, size_t i) {
    if (i + 4 > s.size()) return -1;
    long v = 0;
    for (size_t k = i; k < i + 4; ++k) {
        const int d = hexDigit(s[k]);
        if (d < 0) return -1;
        v = v * 16 + d;
    }
    return v;
}

// The escape after a backslash at s[i - 1]; i moves past it. False on a bad one.
bool readEscape(const std::string& s, size_t& i, std::string& out) {
    static const char kFrom[] = "\"\\/bfnrt";
    static const char kTo[] = "\"\\/\b\f\n\r\t";
    if (i >= s.size()) return false;
    const char c = s[i++];
    for (size_t k = 0; k < sizeof kFrom - 1; ++k)
        if (c == kFrom[k]) return appendBounded(out, kTo[k], kMaxRawText), true;
    if (c != 'u') return false;
    long unit = hex4(s, i);
    if (unit < 0) return false;
    i += 4;
    const bool pair = unit >= 0xD800 && unit < 0xDC00 && i + 1 < s.size() && s[i] == '\\' &&
                      s[i + 1] == 'u' && hex4(s, i + 2) >= 0xDC00 && hex4(s, i + 2) < 0xE000;
    if (pair) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (hex4(s, i + 2) - 0xDC00);
        i += 6;
    }
    appendUtf8(out, uint32_t(unit));
    return true;
}

// The string that opens at s[i] (a quote); i moves past its end. False when it breaks off.
bool readString(const std::string& s, size_t& i, std::string& out, size_t bound) {
    for (++i; i < s.size();) {
        const char c = s[i++];
        if (c == '"') return true;
        if (c != '\\') {
            appendBounded(out, c, bound);
        } else if (!readEscape(s, i, out)) {
            return false;
        }
    }
    return false;
}

std::string jsonPath(const std::vector<JsonFrame>& frames) {
    std::string path;
    for (const JsonFrame& f : frames) {
        if (f.array || f.key == "@attr" || f.key == "#text") continue;
        if (!path.empty()) path += '/';
        path += f.key;
    }
    // An error is {"error": N, "message": "..."}: the names the XML form gives.
    if (path == "error") return "error/code";
    if (path == "message") return "error";
    return path;
}

bool isWordChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A number or a literal: the run of its characters at s[i].
std::string bareWord(const std::string& s, size_t& i) {
    std::string word;
    while (i < s.size() && (isWordChar(s[i]) || s[i] == '-' || s[i] == '+' || s[i] == '.'))
        appendBounded(word, s[i++], kMaxName);
    return word;
}

struct JsonReader {
    const std::string& s;
    LastFmReply& r;
    std::vector<JsonFrame> frames;
    bool expectKey = false;
    bool whole = false;  // the top-level object closed
    size_t i = 0;

    // One container bracket; false at a fault or at the end of the top-level value.
    bool bracket(char c) {
        if (c == '{' || c == '[') {
            if (frames.size() >= kMaxLastFmDepth) return false;
            frames.push_back({c == '[', {}});
            expectKey = c == '{';
            return true;
        }
        if (frames.empty() || frames.back().array != (c == ']')) return false;
        frames.pop_back();
        expectKey = false;
        if (frames.empty()) whole = c == '}';
        return !frames.empty();
    }

    // One string or bare word: a key or a value. False at a fault.
    bool scalar() {
        std::string text;
        const bool isKey = expectKey && !frames.empty() && !frames.back().array;
        if (s[i] == '"') {
            if (!readString(s, i, text, isKey ? kMaxName : kMaxRawText)) return false;
        } else {
            text = bareWord(s, i);
            if (text.empty()) return false;
        }
        if (frames.empty()) return false;  // a bare value at the top says nothing here
        if (isKey) {
            frames.back().key = text;
            expectKey = false;
        } else if (frames.size() <= kMaxPathLevels) {
            take(r, jsonPath(frames), text);
        }
        return true;
    }

    void run() {
        while (i < s.size()) {
            const char c = s[i];
            if (isBlank(c) || c == ':' || c == ',') {
                if (c == ',' && !frames.empty()) expectKey = !frames.back().array;
                ++i;
            } else if (c == '{' || c == '[' || c == '}' || c == ']') {
                ++i;
                if (!bracket(c)) return;
            } else if (!scalar()) {
                return;
            }
        }
    }
};

// ---- XML

// The character reference or entity after a "&" at raw[i - 1]; i moves past it. False
// when there is none to read there (the "&" then stands for itself).
bool readEntity(const std::string& raw, size_t& i, std::string& out) {
    static const char* const kNames[][2] = {
        {"lt;", "<"}, {"gt;", ">"}, {"amp;", "&"}, {"quot;", "\""}, {"apos;", "'"}};
    for (const auto& name : kNames) {
        const size_t length = std::char_traits<char>::length(name[0]);
        if (raw.compare(i, length, name[0]) != 0) continue;
        appendBounded(out, name[1][0], kMaxRawText);
        i += length;
        return true;
    }
    // "&#" and at most eight digits, searched no further: many a lone "&" stays linear.
    if (raw.compare(i, 1, "#") != 0) return false;
    const auto limit = raw.begin() + std::min(raw.size(), i + 11);
    const size_t semi = size_t(std::find(raw.begin() + i, limit, ';') - raw.begin());
    if (semi >= size_t(limit - raw.begin())) return false;
    const bool hex = raw.compare(i + 1, 1, "x") == 0;
    uint32_t cp = 0;
    for (size_t k = i + (hex ? 2 : 1); k < semi; ++k) {
        const int d = hex ? hexDigit(raw[k]) : (raw[k] >= '0' && raw[k] <= '9' ? raw[k] - '0' : -1);
        cp = d < 0 || cp > 0x10FFFF ? 0x110000 : cp * (hex ? 16 : 10) + uint32_t(d);
    }
    appendUtf8(out, cp > 0x10FFFF || semi == i + (hex ? 2 : 1) ? 0xFFFD : cp);
    i = semi + 1;
    return true;
}

std::string decodeEntities(const std::string& raw) {
    std::string out;
    for (size_t i = 0; i < raw.size();) {
        const char c = raw[i++];
        if (c != '&' || !readEntity(raw, i, out)) appendBounded(out, c, kMaxRawText);
    }
    return out;
}

struct XmlReader {
    const std::string& s;
    LastFmReply& r;
    std::vector<std::string> names;  // the open elements, outermost first
    std::string text;                // the innermost element's text so far
    size_t i = 0;
    bool rootClosed = false;  // a reply cut short is not "ok", whatever its status said

    std::string path(const std::string& last) const {
        std::string out;
        for (size_t k = names.size() && names[0] == "lfm" ? 1 : 0; k < names.size(); ++k)
            out += names[k] + "/";
        return last.empty() && !out.empty() ? out.substr(0, out.size() - 1) : out + last;
    }

    // The attributes of a start tag in s[from, end).
    void attributes(size_t from, size_t end) {
        while (from < end) {
            // Searched within the tag alone, so the read stays linear.
            const size_t eq = size_t(std::find(s.begin() + from, s.begin() + end, '=') - s.begin());
            if (eq + 1 >= end) return;
            const char quote = s[eq + 1];
            const size_t close =
                size_t(std::find(s.begin() + eq + 2, s.begin() + end, quote) - s.begin());
            if ((quote != '"' && quote != '\'') || close >= end) return;
            size_t nameStart = from;
            while (nameStart < eq && isBlank(s[nameStart])) ++nameStart;
            const std::string name = s.substr(nameStart, std::min(eq - nameStart, kMaxName));
            if (names.size() <= kMaxPathLevels)
                take(r, path(name),
                     decodeEntities(s.substr(eq + 2, std::min(close - eq - 2, kMaxRawXml))));
            from = close + 1;
        }
    }

    // A tag that opens at s[i]; false at a fault.
    bool tag() {
        if (s.compare(i, 9, "<![CDATA[") == 0) {
            const size_t end = s.find("]]>", i);
            if (end == std::string::npos) return false;
            text.append(s, i + 9,
                        std::min(end - i - 9, kMaxRawXml - std::min(text.size(), kMaxRawXml)));
            i = end + 3;
            return true;
        }
        const char* closer = s.compare(i, 4, "<!--") == 0 ? "-->"
                             : s.compare(i, 2, "<?") == 0 ? "?>"
                                                          : ">";
        size_t end = s.find(closer, i);
        if (end == std::string::npos) return false;
        const size_t next = end + std::char_traits<char>::length(closer);
        if (s[i + 1] == '!' || s[i + 1] == '?') return i = next, true;
        if (s[i + 1] == '/') {
            if (names.empty()) return false;
            if (names.size() <= kMaxPathLevels) take(r, path(""), decodeEntities(text));
            rootClosed = names.size() == 1 && names[0] == "lfm";
            names.pop_back();
            text.clear();
            return i = next, true;
        }
        return startTag(end, next);
    }

    bool startTag(size_t end, size_t next) {
        if (names.size() >= kMaxLastFmDepth) return false;
        const bool empty = s[end - 1] == '/';
        size_t nameEnd = i + 1;
        while (nameEnd < end && !isBlank(s[nameEnd]) && s[nameEnd] != '/') ++nameEnd;
        names.push_back(s.substr(i + 1, std::min(nameEnd - i - 1, kMaxName)));
        text.clear();
        attributes(nameEnd, empty ? end - 1 : end);
        if (empty) {
            if (names.size() <= kMaxPathLevels) take(r, path(""), "");
            names.pop_back();
        }
        i = next;
        return true;
    }

    void run() {
        while (i < s.size()) {
            const size_t lt = s.find('<', i);
            if (lt == std::string::npos) return;
            text.append(s, i, std::min(lt - i, kMaxRawXml - std::min(text.size(), kMaxRawXml)));
            i = lt;
            if (!tag()) return;
        }
    }
};

}  // namespace

BatchOutcome scrobbleOutcome(int status, const LastFmReply& reply, size_t count) {
    BatchOutcome outcome;
    if (status >= 200 && status < 300 && reply.accountsFor(count)) {
        outcome.kind = BatchOutcome::Kind::taken;
        outcome.leaving = count;
        const std::vector<int>& codes = reply.ignoredCodes;
        for (size_t i = 0; i < codes.size() && i < count; ++i) {
            if (codes[i] != 5) continue;
            outcome.leaving = i;
            outcome.holdMs = kDailyLimitWaitMs;
            break;
        }
        return outcome;
    }
    const int e = reply.error;
    if (status != 0 && (e == 29 || e == 9 || e == 4 || e == 10 || e == 13 || e == 26))
        outcome.kind = BatchOutcome::Kind::held;
    return outcome;
}

LastFmReply readLastFmReply(const std::string& body) {
    LastFmReply reply;
    const size_t first = body.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && body[first] == '{') {
        JsonReader reader{body, reply, {}};
        reader.i = first;
        reader.run();
        // Only the close of the object says it was whole: a "status" member of a reply
        // cut short says nothing.
        reply.ok = reader.whole && reply.error == 0;
    } else {
        XmlReader reader{body, reply, {}, {}};
        reader.run();
        reply.ok = reply.ok && reader.rootClosed;
    }
    return reply;
}

}  // namespace nimbo
