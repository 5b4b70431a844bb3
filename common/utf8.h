// UTF-8 to and from the wide (UTF-16) text the plugin works in.
#pragma once

#include <string>

namespace nimbo {

// One to four bytes a character; four-byte ones become surrogate pairs. Anything
// malformed (a bad follower, a cut sequence, beyond U+10FFFF) gives an empty text.
std::wstring decodeUtf8(const std::string& bytes);
std::string encodeUtf8(const std::wstring& text);

}  // namespace nimbo
