// JPEG files written by libjpeg itself, for the tests and for the hostile files' generator.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>
// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

namespace test_support {

struct JpegEncoding {
    int width = 0;
    int height = 0;
    J_COLOR_SPACE input = JCS_RGB;
    J_COLOR_SPACE stored = JCS_YCbCr;
    int quality = 100;
    bool fullChroma = true; // every component at full size
    bool progressive = false;
    bool adobeMarker = true;
    std::vector<jpeg_scan_info> scans; // a scan script of its own when not empty
};

// Sample gives the input components of the pixel at x, y.
inline std::vector<uint8_t> EncodeJpeg(const JpegEncoding& e,
                                       const std::function<void(int, int, uint8_t*)>& sample) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = static_cast<JDIMENSION>(e.width);
    c.image_height = static_cast<JDIMENSION>(e.height);
    c.input_components = e.input == JCS_GRAYSCALE ? 1 : e.input == JCS_CMYK ? 4 : 3;
    c.in_color_space = e.input;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, e.stored);
    jpeg_set_quality(&c, e.quality, TRUE);
    for (int i = 0; e.fullChroma && i < c.num_components; ++i)
        c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    if (e.progressive) jpeg_simple_progression(&c);
    if (!e.scans.empty()) {
        c.scan_info = e.scans.data();
        c.num_scans = static_cast<int>(e.scans.size());
    }
    c.write_Adobe_marker = e.adobeMarker ? TRUE : FALSE;
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(e.width * c.input_components));
    while (c.next_scanline < c.image_height) {
        for (int x = 0; x < e.width; ++x)
            sample(x, static_cast<int>(c.next_scanline),
                   &row[static_cast<size_t>(x * c.input_components)]);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> result(out, out + outSize);
    std::free(out);
    return result;
}

} // namespace test_support
