#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "ui/jpeg_image.h"

using nimbo::decodeJpeg;
using nimbo::JpegPicture;

namespace {

// The service stand-in's pictures, from the folder the build names (a compiler cache
// may make this file's own path relative).
std::string standinPicture(const std::string& size) {
    std::ifstream in(std::string(NIMBO_PICTURE_DIR) + "/captcha_" + size + ".jpg",
                     std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Encodes a picture with libjpeg at top quality: `sample(x, y, c)` gives each value.
std::string encode(int width, int height, int components, J_COLOR_SPACE space,
                   const std::function<int(int, int, int)>& sample, bool progressive = false) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = components;
    info.in_color_space = space;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    // No chroma subsampling, so colours survive to within a few levels.
    for (int c = 0; c < info.num_components; ++c)
        info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
    if (progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(size_t(width * components));
    while (info.next_scanline < info.image_height) {
        const int y = int(info.next_scanline);
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c)
                row[size_t(x * components + c)] = JSAMPLE(sample(x, y, c));
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string bytes(reinterpret_cast<char*>(out), size);
    std::free(out);
    return bytes;
}

// Blue, green, red of one pixel.
std::vector<int> bgrAt(const JpegPicture& p, int x, int y) {
    const uint8_t* px = &p.pixels[size_t(y * p.rowBytes + x * 3)];
    return {px[0], px[1], px[2]};
}

void expectNear(const std::vector<int>& got, const std::vector<int>& want, const char* where) {
    for (size_t i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], 6) << where << " byte " << i;
}

// Four quadrants in distinct colours (RGB): a swapped channel order, bottom-up rows
// or a wrong row stride each put a wrong colour into some quadrant.
int quadrantRgb(int x, int y, int c, int width, int height) {
    static const int colours[4][3] = {{220, 30, 30}, {30, 200, 40}, {20, 40, 210}, {240, 230, 20}};
    const int q = (y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1);
    return colours[q][c];
}

}  // namespace

TEST(JpegImage, DecodesTheServicePicturesAtTheirOwnSize) {
    const struct {
        const char* size;
        int width, height;
    } cases[] = {{"130x50", 130, 50}, {"200x70", 200, 70}, {"100x30", 100, 30}};
    for (const auto& c : cases) {
        const std::string bytes = standinPicture(c.size);
        ASSERT_FALSE(bytes.empty()) << c.size;
        const JpegPicture p = decodeJpeg(bytes);
        EXPECT_EQ(p.width, c.width) << c.size;
        EXPECT_EQ(p.height, c.height) << c.size;
        EXPECT_EQ(p.rowBytes % 4, 0) << c.size;
        EXPECT_GE(p.rowBytes, c.width * 3) << c.size;
        EXPECT_LT(p.rowBytes, c.width * 3 + 4) << c.size;
        EXPECT_EQ(p.pixels.size(), size_t(p.rowBytes) * size_t(c.height)) << c.size;
    }
}

TEST(JpegImage, ColourPicturesComeOutAsTopDownBgrRows) {
    // Odd widths make the rows need padding; a progressive file takes another path.
    for (int width : {37, 40}) {
        for (bool progressive : {false, true}) {
            const int height = 22;
            const auto sample = [&](int x, int y, int c) {
                return quadrantRgb(x, y, c, width, height);
            };
            const JpegPicture p =
                decodeJpeg(encode(width, height, 3, JCS_RGB, sample, progressive));
            ASSERT_EQ(p.width, width);
            ASSERT_EQ(p.height, height);
            for (int y : {2, height - 3}) {
                for (int x : {2, width - 3}) {
                    const std::vector<int> want = {sample(x, y, 2), sample(x, y, 1),
                                                   sample(x, y, 0)};
                    expectNear(bgrAt(p, x, y), want, progressive ? "progressive" : "baseline");
                }
            }
        }
    }
}

TEST(JpegImage, GreyscaleFillsAllThreeChannels) {
    const JpegPicture p = decodeJpeg(
        encode(16, 16, 1, JCS_GRAYSCALE, [](int x, int, int) { return x < 8 ? 30 : 200; }));
    ASSERT_EQ(p.width, 16);
    expectNear(bgrAt(p, 2, 5), {30, 30, 30}, "dark");
    expectNear(bgrAt(p, 13, 5), {200, 200, 200}, "light");
}

TEST(JpegImage, InvertedCmykBecomesItsRgbColours) {
    // Stored inverted, as Adobe writes it: 255 is no ink. Left: pure cyan ink
    // (C=255 stored 0), right: no ink at all.
    const auto sample = [](int x, int, int c) { return (x < 8 && c == 0) ? 0 : 255; };
    const JpegPicture p = decodeJpeg(encode(16, 16, 4, JCS_CMYK, sample));
    ASSERT_EQ(p.width, 16);
    expectNear(bgrAt(p, 2, 5), {255, 255, 0}, "cyan");
    expectNear(bgrAt(p, 13, 5), {255, 255, 255}, "white");
}

TEST(JpegImage, AMissingEndMarkerStillShows) {
    const std::string good = standinPicture("130x50");
    ASSERT_EQ(good.substr(good.size() - 2), "\xFF\xD9");
    const JpegPicture whole = decodeJpeg(good);
    const JpegPicture cut = decodeJpeg(good.substr(0, good.size() - 2));
    EXPECT_EQ(cut.width, 130);
    EXPECT_EQ(cut.height, 50);
    EXPECT_EQ(cut.pixels, whole.pixels);
}

TEST(JpegImage, UnusableInputGivesAnEmptyPicture) {
    const std::string good = standinPicture("130x50");
    ASSERT_GT(good.size(), 1000u);
    // A header that announces 60000 x 60000 pixels (bytes of the SOF0 segment).
    std::string huge = good;
    const size_t sof = huge.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    huge[sof + 5] = huge[sof + 7] = char(0xEA);
    huge[sof + 6] = huge[sof + 8] = char(0x60);

    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"html error page", "<html><body>404 Not Found</body></html>"},
        {"start-of-image marker only", "\xFF\xD8"},
        {"cut inside the header", good.substr(0, 100)},
        {"cut inside the picture data", good.substr(0, good.size() / 2)},
        {"header beyond the pixel limit", huge},
    };
    for (const auto& c : cases) {
        const JpegPicture p = decodeJpeg(c.bytes);
        EXPECT_TRUE(p.empty()) << c.what;
        EXPECT_EQ(p.width, 0) << c.what;
        EXPECT_EQ(p.height, 0) << c.what;
        EXPECT_TRUE(p.pixels.empty()) << c.what;
    }
}
