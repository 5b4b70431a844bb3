#include "core/listen_queue.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "common/hex.h"
#include "common/utf8.h"

namespace nimbo {

namespace {

const char kDigits[] = "0123456789abcdef";

void appendNumber(std::string& line, int64_t value) {
    char digits[24];
    int n = 0;
    uint64_t rest = value < 0 ? 0 - uint64_t(value) : uint64_t(value);
    do digits[n++] = char('0' + rest % 10);
    while (rest /= 10);
    if (value < 0) digits[n++] = '-';
    line += '\t';
    while (n > 0) line += digits[--n];
}

void appendText(std::string& line, const std::wstring& text) {
    line += '\t';
    for (const char c : encodeUtf8(text)) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            line += "\\\\";
        } else if (byte < 0x20) {
            line += '\\';
            line += kDigits[byte >> 4];
            line += kDigits[byte & 15];
        } else {
            line += c;
        }
    }
}

// Undoes appendText's escapes, leniently: the caller compares the line written back.
std::wstring unescape(const char* p, const char* end) {
    std::string bytes;
    for (; p < end; ++p) {
        if (*p == '\\' && end - p > 2 && hexDigit(p[1]) >= 0 && hexDigit(p[2]) >= 0) {
            bytes += char(hexDigit(p[1]) * 16 + hexDigit(p[2]));
            p += 2;
        } else {
            bytes += *p;
            if (*p == '\\' && end - p > 1 && p[1] == '\\') ++p;
        }
    }
    return decodeUtf8(bytes, Utf8Malformed::replaceEach);
}

int64_t number(const char* p, const char* end) {
    const bool negative = p < end && *p == '-';
    uint64_t value = 0;
    for (p += negative; p < end; ++p) value = value * 10 + uint64_t(*p - '0');
    return int64_t(negative ? 0 - value : value);
}

constexpr int kV1Fields = 7, kV2Fields = 18;

// A v2 line's fields after the album; `field` as parseLine finds them.
void parseIds(const char* const* field, QueuedListen& listen) {
    for (int i = 0; i < kTrackIdCount; ++i)
        listen.ids.texts[i] = unescape(field[6 + i], field[7 + i] - 1);
    listen.playerVersion = unescape(field[kV2Fields - 2], field[kV2Fields - 1] - 1);
}

// One line, without its LF (nor a CR before it).
bool parseLine(const char* begin, const char* end, QueuedListen& listen) {
    const char* field[kV2Fields + 1];
    int fields = 0;
    field[fields++] = begin;
    for (const char* p = begin; p < end && fields <= kV2Fields; ++p)
        if (*p == '\t') field[fields++] = p + 1;
    if (fields != kV1Fields && fields != kV2Fields) return false;
    // field[i + 1] - 1 is the tab that ends field i.
    listen.listenedAt = number(field[1], field[2] - 1);
    listen.lengthSeconds = int(number(field[2], field[3] - 1));
    listen.artist = unescape(field[3], field[4] - 1);
    listen.title = unescape(field[4], field[5] - 1);
    listen.album = unescape(field[5], field[6] - 1);
    if (fields == kV2Fields) parseIds(field, listen);
    // Only the very bytes this writer gives count: no other spelling of a number or a
    // text passes, and the checksum finds a line that was damaged in the file.
    const std::string line = queueLine(listen);
    return line.size() == size_t(end - begin) + 1 &&
           line.compare(0, line.size() - 1, begin, end - begin) == 0;
}

}  // namespace

uint32_t queueChecksum(const std::string& bytes) {
    uint32_t hash = 2166136261u;
    for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

std::string queueLine(const QueuedListen& listen) {
    const TrackIds& ids = listen.ids;
    const bool v2 = !ids.empty() || !listen.playerVersion.empty();
    std::string line = v2 ? "v2" : "v1";
    appendNumber(line, listen.listenedAt);
    appendNumber(line, listen.lengthSeconds < 0 ? -1 : listen.lengthSeconds);
    appendText(line, listen.artist);
    appendText(line, listen.title);
    appendText(line, listen.album);
    if (v2) {
        for (const std::wstring& text : ids.texts) appendText(line, text);
        appendText(line, listen.playerVersion);
    }
    const uint32_t sum = queueChecksum(line);
    line += '\t';
    for (int shift = 28; shift >= 0; shift -= 4) line += kDigits[(sum >> shift) & 15];
    return line += '\n';
}

namespace {

// The lines of `gone` without their LF, sorted so that each line of the file is looked
// up, not compared with every one: 1,000 gone from 10,000 lines stay one pass. A batch
// comes oldest first, and its lines (the time leads) are nearly in order already, so an
// insertion sort is about one pass too, and far less code in the DLL than the library's.
std::vector<std::string> sortedLines(const std::vector<QueuedListen>& gone) {
    std::vector<std::string> lines;
    for (const QueuedListen& l : gone) {
        lines.push_back(queueLine(l));
        lines.back().pop_back();
    }
    for (size_t i = 1; i < lines.size(); ++i)
        for (size_t j = i; j > 0 && lines[j] < lines[j - 1]; --j) lines[j].swap(lines[j - 1]);
    return lines;
}

}  // namespace

QueueRewrite rewriteQueue(const std::string& bytes, const std::vector<QueuedListen>& gone,
                          size_t most) {
    const std::vector<std::string> goneLines = sortedLines(gone);
    std::vector<char> taken(gone.size());
    struct Line {
        size_t start, end;  // up to its LF: a CR before it stays
        bool listen;
    };
    std::vector<Line> kept;
    size_t listens = 0;
    QueueRewrite out;
    for (size_t start = 0; start < bytes.size();) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        const size_t size = (end > start && bytes[end - 1] == '\r' ? end - 1 : end) - start;
        const std::string_view line(bytes.data() + start, size);
        size_t i = size_t(std::lower_bound(goneLines.begin(), goneLines.end(), line,
                                           [](const std::string& a, std::string_view b) {
                                               return std::string_view(a) < b;
                                           }) -
                          goneLines.begin());
        while (i < goneLines.size() && taken[i] && goneLines[i] == line) ++i;
        if (i < goneLines.size() && goneLines[i] == line) {
            taken[i] = true;
            ++out.removed;
        } else if (size > 0) {  // blank lines go
            QueuedListen listen;
            kept.push_back(
                {start, end,
                 most != kAllListens && parseLine(line.data(), line.data() + size, listen)});
            listens += kept.back().listen;
        }
        start = end + 1;
    }
    const size_t drop = listens > most ? listens - most : 0;
    for (const Line& line : kept) {
        if (line.listen && out.dropped < drop) {
            ++out.dropped;
            continue;
        }
        out.bytes.append(bytes, line.start, line.end - line.start);
        out.bytes += '\n';
    }
    return out;
}

QueueContents readQueue(const std::string& bytes) {
    QueueContents contents;
    const char* const all = bytes.data();
    for (size_t start = 0; start < bytes.size();) {
        size_t end = bytes.find('\n', start);
        const bool last = end == std::string::npos || end + 1 == bytes.size();
        if (end == std::string::npos) end = bytes.size();
        size_t stop = end;
        if (stop > start && all[stop - 1] == '\r') --stop;
        QueuedListen listen;
        if (stop == start)
            ;  // a blank line
        else if (parseLine(all + start, all + stop, listen))
            contents.listens.push_back(std::move(listen));
        else
            ++(last ? contents.torn : contents.skipped);
        start = end + 1;
    }
    return contents;
}

}  // namespace nimbo
