// Bitmaps for the image library's tests.
#pragma once

#include "platform/graphics/Bitmap.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace test_bitmaps {

// A 24-bit bitmap of the given size filled with one colour (blue, green, red).
inline std::unique_ptr<TBitmap> Solid(int width, int height, uint8_t b, uint8_t g, uint8_t r) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap->ScanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = b;
            row[3 * x + 1] = g;
            row[3 * x + 2] = r;
        }
    }
    return bitmap;
}

// A 24-bit bitmap of random bytes.
inline std::unique_ptr<TBitmap> Noise(int width, int height, std::mt19937& random) {
    auto bitmap = Solid(width, height, 0, 0, 0);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap->ScanLine(y);
        for (int i = 0; i < width * 3; ++i)
            row[i] = static_cast<uint8_t>(byte(random));
    }
    return bitmap;
}

// The pixel bytes of a bitmap without row padding, for whole-picture comparisons.
inline std::vector<uint8_t> Bytes(const TBitmap& bitmap) {
    const auto rowBytes = static_cast<size_t>(bitmap.Width() * bitmap.BitsPerPixel() + 7) / 8;
    std::vector<uint8_t> bytes(rowBytes * static_cast<size_t>(bitmap.Height()));
    for (int y = 0; y < bitmap.Height(); ++y)
        std::memcpy(&bytes[rowBytes * static_cast<size_t>(y)], bitmap.ScanLine(y), rowBytes);
    return bytes;
}

// Blue, green, red of pixel (x, y) of a 24-bit bitmap as 0xRRGGBB.
inline uint32_t Pixel(const TBitmap& bitmap, int x, int y) {
    const uint8_t* p = bitmap.ScanLine(y) + 3 * x;
    return p[0] | (p[1] << 8) | (p[2] << 16);
}

inline void SetPixel(TBitmap& bitmap, int x, int y, uint32_t rgb) {
    uint8_t* p = bitmap.ScanLine(y) + 3 * x;
    p[0] = static_cast<uint8_t>(rgb);
    p[1] = static_cast<uint8_t>(rgb >> 8);
    p[2] = static_cast<uint8_t>(rgb >> 16);
}

} // namespace test_bitmaps
