// Decoding of ID3v2 frame contents into 8-bit text of the system code page. Kept apart
// from the frame walk so tests can feed contents directly.
#pragma once

#include <cstdint>
#include <string>

namespace nimbo {
namespace id3v2 {

// A frame's content (encoding byte first) as text. Encoding 1 is UTF-16 with an optional
// byte-order mark (little-endian without one), each unit narrowed on its own; anything
// else is taken as stored bytes.
std::string frameText(const std::string& content);

// The text of a frame that puts a description (and, `withLanguage`, a 3-byte language
// code) before it, as COMM and WXXX do.
std::string describedText(const std::string& content, bool withLanguage);

// Integer conversion in the manner of Delphi's StrToInt: leading spaces, a sign, then
// decimal digits or hexadecimal ones after "$" or "0x". False on any other character,
// on empty input and outside the signed 32-bit range.
bool parseInt32(const std::string& text, int32_t& out);

}  // namespace id3v2
}  // namespace nimbo
