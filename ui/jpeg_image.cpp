#include "ui/jpeg_image.h"

#include <csetjmp>
#include <cstdio>
#include <new>

// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

namespace nimbo {

namespace {

// libjpeg's default error_exit ends the process; ours jumps back to the decode call.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void jumpBack(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

// Warnings stay silent, except that data ending before the last row counts as damage:
// libjpeg would fill the rest with grey, and half a code is no use to the user. A file
// that lacks only its end marker still shows.
void onMessage(j_common_ptr info, int level) {
    if (level >= 0 || info->err->msg_code != JWRN_JPEG_EOF || !info->is_decompressor) return;
    const auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->output_scanline < decompress->output_height) jumpBack(info);
}

void silent(j_common_ptr) {}

void noText(j_common_ptr, char* buffer) {
    buffer[0] = '\0';
}

void resetErrors(j_common_ptr info) {
    info->err->num_warnings = 0;
    info->err->msg_code = 0;
}

inline uint8_t ink(int inverted, int black) {
    return uint8_t(inverted * black / 255);
}

// One decoded row in libjpeg's output colours to BGR. Four components come from CMYK
// or YCCK files, which in practice store inverted values (the Adobe convention).
void toBgr(const JSAMPLE* in, int components, int width, uint8_t* out) {
    for (int x = 0; x < width; ++x, out += 3) {
        const JSAMPLE* p = in + x * components;
        if (components == 1) {
            out[0] = out[1] = out[2] = p[0];
        } else if (components == 3) {
            out[0] = p[2];
            out[1] = p[1];
            out[2] = p[0];
        } else {
            out[0] = ink(p[2], p[3]);
            out[1] = ink(p[1], p[3]);
            out[2] = ink(p[0], p[3]);
        }
    }
}

// Only C frames lie between the setjmp here and any longjmp, and `picture` lives in
// the caller, so jumping back skips no destructor.
bool decodeInto(const unsigned char* data, unsigned long size, JpegPicture& picture) {
    jpeg_decompress_struct info = {};
    // Filled here rather than by jpeg_std_error: no message is ever written out, and
    // that call alone would link the library's table of message texts (some 7 KB).
    ErrorManager errors;
    errors.base = {};
    errors.base.error_exit = jumpBack;
    errors.base.emit_message = onMessage;
    errors.base.output_message = silent;
    errors.base.format_message = noText;
    errors.base.reset_error_mgr = resetErrors;
    info.err = &errors.base;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, const_cast<unsigned char*>(data), size);
    jpeg_read_header(&info, TRUE);
    if (int64_t(info.image_width) * info.image_height > kMaxJpegPixels) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    const int width = int(info.output_width);
    const int height = int(info.output_height);
    const int components = info.output_components;
    if (components != 1 && components != 3 && components != 4) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    const int rowBytes = (width * 3 + 3) & ~3;
    try {
        picture.pixels.assign(size_t(rowBytes) * size_t(height), 0);
    } catch (const std::bad_alloc&) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    JSAMPARRAY row = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                               JDIMENSION(width * components), 1);
    while (info.output_scanline < info.output_height) {
        const int y = int(info.output_scanline);
        if (jpeg_read_scanlines(&info, row, 1) != 1) break;
        toBgr(row[0], components, width, &picture.pixels[size_t(y) * size_t(rowBytes)]);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    picture.width = width;
    picture.height = height;
    picture.rowBytes = rowBytes;
    return true;
}

}  // namespace

JpegPicture decodeJpeg(const std::string& bytes) {
    JpegPicture picture;
    if (bytes.empty()) return picture;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (!decodeInto(data, static_cast<unsigned long>(bytes.size()), picture) || picture.empty()) {
        return JpegPicture();
    }
    return picture;
}

}  // namespace nimbo
