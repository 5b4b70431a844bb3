#include "core/listen_queue.h"

#include <cstdlib>

#include "common/hex.h"
#include "common/utf8.h"

namespace nimbo {

namespace {

const char kTag[] = "v1";
const char kDigits[] = "0123456789abcdef";

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

// Undoes appendText's escapes; false on any other use of "\".
bool unescape(const std::string& field, std::wstring& text) {
    std::string bytes;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            bytes += field[i];
        } else if (i + 1 < field.size() && field[i + 1] == '\\') {
            bytes += field[++i];
        } else if (i + 2 < field.size() && hexDigit(field[i + 1]) >= 0 &&
                   hexDigit(field[i + 2]) >= 0) {
            bytes += char(hexDigit(field[i + 1]) * 16 + hexDigit(field[i + 2]));
            i += 2;
        } else {
            return false;
        }
    }
    text = decodeUtf8(bytes, Utf8Malformed::replaceEach);
    return true;
}

bool number(const std::string& field, long long& value) {
    if (field.empty()) return false;
    char* end = nullptr;
    value = std::strtoll(field.c_str(), &end, 10);
    return end == field.c_str() + field.size();
}

// One line without its LF (nor a CR before it).
bool parseLine(const std::string& line, QueuedListen& listen) {
    std::vector<std::string> fields(1);
    for (const char c : line) {
        if (c == '\t')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    long long at = 0, length = 0;
    if (fields.size() != 7 || fields[0] != kTag || !number(fields[1], at) ||
        !number(fields[2], length) || length < -1 || length > 0x7FFFFFFF ||
        !unescape(fields[3], listen.artist) || !unescape(fields[4], listen.title) ||
        !unescape(fields[5], listen.album))
        return false;
    listen.listenedAt = at;
    listen.lengthSeconds = int(length);
    // Only the very bytes this writer gives: no other spelling of a number or a text
    // passes, and the checksum finds a line that was damaged in the file.
    return queueLine(listen) == line + '\n';
}

}  // namespace

uint32_t queueChecksum(const std::string& bytes) {
    uint32_t hash = 2166136261u;
    for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

std::string queueLine(const QueuedListen& listen) {
    std::string line = kTag;
    line += '\t' + std::to_string(listen.listenedAt) + '\t' +
            std::to_string(listen.lengthSeconds < 0 ? -1 : listen.lengthSeconds);
    appendText(line, listen.artist);
    appendText(line, listen.title);
    appendText(line, listen.album);
    const uint32_t sum = queueChecksum(line);
    line += '\t';
    for (int shift = 28; shift >= 0; shift -= 4) line += kDigits[(sum >> shift) & 15];
    return line + '\n';
}

QueueContents readQueue(const std::string& bytes) {
    QueueContents contents;
    for (size_t start = 0; start < bytes.size();) {
        size_t end = bytes.find('\n', start);
        const bool last = end == std::string::npos || end + 1 == bytes.size();
        if (end == std::string::npos) end = bytes.size();
        size_t stop = end;
        if (stop > start && bytes[stop - 1] == '\r') --stop;
        const std::string line = bytes.substr(start, stop - start);
        start = end + 1;
        if (line.empty()) continue;
        QueuedListen listen;
        if (parseLine(line, listen))
            contents.listens.push_back(listen);
        else
            ++(last ? contents.torn : contents.skipped);
    }
    return contents;
}

}  // namespace nimbo
