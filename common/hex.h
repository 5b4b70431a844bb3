// One hexadecimal digit's value, shared by the tag reader's number rule, the HTTP
// reader's sizes and the player stand-in's byte escapes.
#pragma once

namespace nimbo {

// 0..15, or -1 when `c` is no hexadecimal digit.
inline int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace nimbo
