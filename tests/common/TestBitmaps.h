// Bitmaps for the image library's tests.
#pragma once

#include "platform/graphics/Bitmap.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace test_bitmaps {

// A 24-bit bitmap filled with one colour (0xRRGGBB), or with random bytes.
inline std::unique_ptr<TBitmap> Solid(int width, int height, uint32_t rgb) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * 3; ++i)
            bitmap->ScanLine(y)[i] = (rgb >> (8 * (i % 3))) & 0xFF;
    return bitmap;
}
inline std::unique_ptr<TBitmap> Noise(int width, int height, std::mt19937& random) {
    auto bitmap = Solid(width, height, 0);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * 3; ++i)
            bitmap->ScanLine(y)[i] = random() & 0xFF;
    return bitmap;
}

// The pixel bytes without row padding, for whole-picture comparisons.
inline std::vector<uint8_t> Bytes(const TBitmap& bitmap) {
    const auto rowBytes = static_cast<size_t>(bitmap.Width() * bitmap.BitsPerPixel() + 7) / 8;
    std::vector<uint8_t> bytes;
    for (int y = 0; y < bitmap.Height(); ++y)
        bytes.insert(bytes.end(), bitmap.ScanLine(y), bitmap.ScanLine(y) + rowBytes);
    return bytes;
}

// Pixel (x, y) of a 24-bit bitmap as 0xRRGGBB.
inline uint32_t Pixel(const TBitmap& bitmap, int x, int y) {
    const uint8_t* p = bitmap.ScanLine(y) + 3 * x;
    return p[0] | (p[1] << 8) | (p[2] << 16);
}
inline void SetPixel(TBitmap& bitmap, int x, int y, uint32_t rgb) {
    std::memcpy(bitmap.ScanLine(y) + 3 * x, &rgb, 3); // little-endian: blue first
}

} // namespace test_bitmaps
