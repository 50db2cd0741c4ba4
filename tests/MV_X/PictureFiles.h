// Picture files for import tests: bitmaps with a pattern, JPEG files written by libjpeg.
#pragma once

#include "platform/graphics/Bitmap.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>
// clang-format off
#include <jpeglib.h>
// clang-format on

// A 24-bit picture whose every pixel differs from its neighbours.
inline std::unique_ptr<TBitmap> Pattern(int w, int h) {
    auto bmp = std::make_unique<TBitmap>();
    bmp->SetPixelFormat(pf24bit);
    bmp->SetSize(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* p = bmp->ScanLine(y);
        for (int x = 0; x < w; ++x) {
            p[3 * x] = static_cast<uint8_t>(x * 7 + y);
            p[3 * x + 1] = static_cast<uint8_t>(y * 5 + 3);
            p[3 * x + 2] = static_cast<uint8_t>(x + y * 3);
        }
    }
    return bmp;
}

// A smooth picture that survives JPEG compression within a few levels.
inline uint8_t SmoothR(int x, int) {
    return static_cast<uint8_t>(40 + 3 * x);
}
inline uint8_t SmoothG(int, int y) {
    return static_cast<uint8_t>(60 + 2 * y);
}
inline uint8_t SmoothB(int x, int y) {
    return static_cast<uint8_t>(200 - x - y);
}

inline void WriteJpeg(const std::string& fileName, int w, int h) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    for (int i = 0; i < c.num_components; ++i)
        c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
    while (c.next_scanline < c.image_height) {
        const int y = static_cast<int>(c.next_scanline);
        for (int x = 0; x < w; ++x) {
            row[3 * x] = SmoothR(x, y);
            row[3 * x + 1] = SmoothG(x, y);
            row[3 * x + 2] = SmoothB(x, y);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::ofstream(fileName, std::ios::binary)
        .write(reinterpret_cast<const char*>(out), static_cast<std::streamsize>(outSize));
    std::free(out);
}

inline std::string PngSuiteFile(const char* name) {
    return std::string(MV_TESTDATA_DIR) + "/pngsuite/png/" + name;
}

// True when both are 24-bit pictures of one size with the same pixels.
inline bool SamePixels(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != pf24bit ||
        b.PixelFormat() != pf24bit)
        return false;
    for (int y = 0; y < a.Height(); ++y)
        for (int i = 0; i < a.Width() * 3; ++i)
            if (a.ScanLine(y)[i] != b.ScanLine(y)[i]) return false;
    return true;
}
