// UTF-8 to and from the wide (UTF-16) text the plugin works in.
#pragma once

#include <string>

namespace nimbo {

std::wstring decodeUtf8(const std::string& bytes);  // empty when malformed
std::string encodeUtf8(const std::wstring& text);

}  // namespace nimbo
