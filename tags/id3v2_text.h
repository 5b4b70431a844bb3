// Decoding of ID3v2 frame contents into UTF-16 text. Kept apart from the frame walk so
// tests can feed contents directly.
#pragma once

#include <cstdint>
#include <string>

namespace nimbo {
namespace id3v2 {

// A frame's content (encoding byte first) as UTF-16 text, trimmed of units up to 0x20 at
// both ends. Encoding 0 is text of the system code page (ISO-8859-1 in the standard, but
// writers put the local code page there, Windows-1251 in Russian files); 1 is UTF-16 with
// an optional byte-order mark (little-endian without one); 2 is UTF-16BE; 3 is UTF-8.
// The wide encodings end at their first zero unit; any other encoding byte gives bytes
// widened as encoding 0 does.
std::wstring frameText(const std::string& content);

// The text of a frame that puts a description (and, `withLanguage`, a 3-byte language
// code) before it, as COMM and WXXX do.
std::wstring describedText(const std::string& content, bool withLanguage);

// A TXXX frame's description, and its value. Version 2.4 writes several values one
// after another, each ended by a zero; they come back joined by "/", the way version
// 2.3 writes such a list.
std::wstring userTextDescription(const std::string& content);
std::wstring userTextValues(const std::string& content);

// Integer conversion in the manner of Delphi's StrToInt: leading spaces, a sign, then
// decimal digits or hexadecimal ones after "$" or "0x". False on any other character,
// on empty input and outside the signed 32-bit range.
bool parseInt32(const std::string& text, int32_t& out);
bool parseInt32(const std::wstring& text, int32_t& out);

// Undoes unsynchronisation: every FF 00 becomes FF.
std::string resynchronise(const std::string& bytes);

}  // namespace id3v2
}  // namespace nimbo
