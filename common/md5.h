// MD5 as the Last.fm 2.0 interface's request signatures need it. Only the Windows build
// has it (md5_win.cpp, from the system's CryptoAPI); portable code takes it as a function.
#pragma once

#include <string>

namespace nimbo {

// Lower-case hexadecimal MD5 of `bytes` into `hex`; false (and `hex` untouched) when
// the system cannot give it.
bool md5Hex(const std::string& bytes, std::string& hex);

}  // namespace nimbo
