// Text conversions at the stand-in's edges: UTF-8 on the command pipe, the ANSI code
// page in the playlist, UTF-16 at the window calls.
#pragma once

#include <string>
#include <vector>

namespace player {

std::wstring fromUtf8(const std::string& text);
std::string toUtf8(const std::wstring& text);
// Through the system ANSI code page (CP_ACP).
std::string toAnsi(const std::wstring& text);
std::wstring fromAnsi(const std::string& text);

// The raw-bytes form of a command argument: "\xNN" is the byte NN, "\\" a backslash;
// any other backslash stands for itself, so ordinary Windows paths pass unchanged.
// False when a "\x" is not followed by two hexadecimal digits.
bool decodeRawBytes(const std::string& text, std::string& bytes);

// One output field: backslash, CR, LF, tab and other control characters escaped, so
// a reply line never breaks and the driver can restore the exact text.
std::string escapeField(const std::string& utf8);

// The same for 8-bit bytes of any code page: bytes from 0x80 up become \xNN too.
std::string escapeBytes(const std::string& bytes);

std::vector<std::string> splitText(const std::string& text, char separator);

// Whole-text decimal number (optionally signed); false for anything else.
bool parseInt(const std::string& text, long long& value);

}  // namespace player
