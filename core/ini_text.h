// An 8-bit ini file's text, read and edited as bytes. The platform's private-profile
// calls pass every value through the ANSI code page, which does not give UTF-8 bytes
// back on double-byte code pages; these functions never convert anything.
#pragma once

#include <string>

namespace nimbo {

// The value of `key` in `section` (names compared without regard to ASCII case; the
// first section of that name and its first such key count), with blanks around it
// and one pair of enclosing quotes dropped, as the platform's reader does. False when
// the key is absent.
bool readIniValue(const std::string& file, const std::string& section, const std::string& key,
                  std::string& value);

// The file with `key` in `section` set to `value`: the key's line is replaced, or a
// line is added at the end of the section, or the section is added at the end of the
// file. Every other byte stays as it was.
std::string writeIniValue(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& value);

// Whether a section of that name (ASCII case ignored) stands in the file.
bool hasIniSection(const std::string& file, const std::string& section);

// Whether the bytes start with a UTF-16 byte-order mark (such a file is Unicode
// text, which only the platform's calls understand).
bool isUtf16Text(const std::string& file);

}  // namespace nimbo
