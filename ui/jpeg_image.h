// A JPEG picture held in memory, decoded into pixels a Windows DIB can use as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nimbo {

struct JpegPicture {
    int width = 0;
    int height = 0;
    // Each row padded to a multiple of four bytes, as a 24-bit DIB lays it out.
    int rowBytes = 0;
    // Rows top to bottom, three bytes per pixel in the order blue, green, red.
    std::vector<uint8_t> pixels;

    bool empty() const { return width == 0 || height == 0; }
};

// A security-code picture is small; a header announcing more than this many pixels
// is refused rather than letting a hostile reply make us allocate gigabytes.
constexpr int64_t kMaxJpegPixels = 16 * 1024 * 1024;

// Decodes the whole buffer from its first byte with the decoder's defaults (scale 1:1,
// natural output colours, accurate integer inverse transform). Empty, damaged,
// truncated or non-JPEG input gives an empty picture; nothing is thrown.
JpegPicture decodeJpeg(const std::string& bytes);

}  // namespace nimbo
