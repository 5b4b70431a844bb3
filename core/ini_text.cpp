#include "core/ini_text.h"

#include <algorithm>

#include "common/text.h"

namespace nimbo {
namespace {

// The blanks the platform's reader trims; 0x1A is the old end-of-file mark.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == 0x1A;
}

std::string trimmed(const std::string& text, size_t begin, size_t end) {
    return trimEnds(text.substr(begin, end - begin), isBlank);
}

// Where `c` first stands in [begin, end), or `end`: searches stay within one line, so
// a large file costs one pass.
size_t findIn(const std::string& text, char c, size_t begin, size_t end) {
    return size_t(std::find(text.begin() + begin, text.begin() + end, c) - text.begin());
}

// One line of the file: [begin, end) without its line break, `next` after it.
struct Line {
    size_t begin, end, next;
};

Line lineAt(const std::string& file, size_t begin) {
    size_t lf = file.find('\n', begin);
    size_t next = lf == std::string::npos ? file.size() : lf + 1;
    if (lf == std::string::npos) return {begin, file.size(), next};
    // CR LF ends a line; a CR without LF is part of it.
    size_t end = lf > begin && file[lf - 1] == '\r' ? lf - 1 : lf;
    return {begin, end, next};
}

// A section header's name, or false when the line is no header.
bool sectionName(const std::string& file, const Line& line, std::string& name) {
    size_t p = line.begin;
    while (p < line.end && isBlank(file[p])) ++p;
    if (p == line.end || file[p] != '[') return false;
    name = trimmed(file, p + 1, findIn(file, ']', p, line.end));
    return true;
}

// Where the wanted key's line is, where the section's last non-blank line ends, and
// whether the section exists at all.
struct Place {
    bool section = false;
    bool key = false;
    Line keyLine = {0, 0, 0};
    size_t sectionEnd = 0;  // just after the section's last non-blank line
};

Place find(const std::string& file, const std::string& section, const std::string& key) {
    Place place;
    bool inside = false;
    for (size_t at = 0; at < file.size();) {
        Line line = lineAt(file, at);
        at = line.next;
        std::string name;
        if (sectionName(file, line, name)) {
            if (inside) break;  // only the first section of that name counts
            inside = equalsNoCase(name, section);
            if (inside) {
                place.section = true;
                place.sectionEnd = line.next;
            }
            continue;
        }
        if (!inside) continue;
        const std::string text = trimmed(file, line.begin, line.end);
        if (text.empty()) continue;
        place.sectionEnd = line.next;
        const size_t eq = findIn(file, '=', line.begin, line.end);
        if (!place.key && equalsNoCase(trimmed(file, line.begin, eq), key)) {
            place.key = true;
            place.keyLine = line;
        }
    }
    return place;
}

}  // namespace

bool readIniValue(const std::string& file, const std::string& section, const std::string& key,
                  std::string& value) {
    const Place place = find(file, section, key);
    if (!place.key) return false;
    const Line& line = place.keyLine;
    // A key without "=" has no value; the platform gives the default for it.
    const size_t eq = findIn(file, '=', line.begin, line.end);
    if (eq == line.end) return false;
    value = trimmed(file, eq + 1, line.end);
    if (value.size() > 1 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
    return true;
}

std::string writeIniValue(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& value) {
    const std::string entry = key + "=" + value;
    const Place place = find(file, section, key);
    if (place.key) {
        return file.substr(0, place.keyLine.begin) + entry + file.substr(place.keyLine.end);
    }
    if (place.section) {
        std::string head = file.substr(0, place.sectionEnd);
        // The section's last line may be the file's last, without a line break.
        if (!head.empty() && head.back() != '\n') head += "\r\n";
        return head + entry + "\r\n" + file.substr(place.sectionEnd);
    }
    std::string out = file;
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    return out + "[" + section + "]\r\n" + entry + "\r\n";
}

bool hasIniSection(const std::string& file, const std::string& section) {
    return find(file, section, std::string()).section;
}

bool isUtf16Text(const std::string& file) {
    return file.size() >= 2 &&
           ((file[0] == '\xFF' && file[1] == '\xFE') || (file[0] == '\xFE' && file[1] == '\xFF'));
}

}  // namespace nimbo
