// The security-code picture comes straight off the wire into the JPEG decoder.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ui/jpeg_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const nimbo::JpegPicture p =
        nimbo::decodeJpeg(std::string(reinterpret_cast<const char*>(data), size));
    if (p.empty()) {
        if (!p.pixels.empty()) __builtin_trap();
        return 0;
    }
    // A picture handed to the dialog must describe exactly the buffer it comes with.
    if (p.width < 0 || p.height < 0 || p.rowBytes % 4 != 0 || p.rowBytes < p.width * 3 ||
        p.pixels.size() != size_t(p.rowBytes) * size_t(p.height) ||
        int64_t(p.width) * p.height > nimbo::kMaxJpegPixels)
        __builtin_trap();
    return 0;
}
