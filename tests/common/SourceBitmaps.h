// Source bitmaps of every pixel format for the PNG writer's tests, and what each pixel means.
#pragma once

#include "platform/graphics/Bitmap.h"

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace source_bitmaps {

inline bool IsPaletteFormat(TPixelFormat format) {
    return BitsFromPixelFormat(format) <= 8;
}

// A bitmap whose rows are smooth on the left and noise on the right, so that every filter has
// rows to win; palette formats get a full palette of random colours.
inline std::unique_ptr<TBitmap> Make(TPixelFormat format, int width, int height, uint32_t seed) {
    std::mt19937 random(seed);
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(format);
    bitmap->SetSize(width, height);
    if (IsPaletteFormat(format)) {
        std::vector<RGBQUAD> colors(size_t{1} << BitsFromPixelFormat(format));
        for (RGBQUAD& q : colors)
            q = {static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                 static_cast<uint8_t>(random()), 0};
        bitmap->SetColorTable(colors);
    }
    const int rowBytes = (width * bitmap->BitsPerPixel() + 7) / 8;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap->ScanLine(y);
        for (int i = 0; i < rowBytes; ++i)
            row[i] = i < rowBytes / 2 ? static_cast<uint8_t>(i * 3 + y * 5)
                                      : static_cast<uint8_t>(random());
    }
    return bitmap;
}

// A 24-bit bitmap of random bytes.
inline std::unique_ptr<TBitmap> Noise24(int width, int height, uint32_t seed) {
    std::mt19937 random(seed);
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < 3 * width; ++i)
            bitmap->ScanLine(y)[i] = static_cast<uint8_t>(random());
    return bitmap;
}

inline void SetRGB(TBitmap& bitmap, int x, int y, uint8_t r, uint8_t g, uint8_t b) {
    uint8_t* p = bitmap.ScanLine(y) + 3 * x;
    p[0] = b;
    p[1] = g;
    p[2] = r;
}

// An 8-bit alpha bitmap (255 minus alpha) of random bytes.
inline std::unique_ptr<TBitmap> Alpha(int width, int height, uint32_t seed) {
    std::mt19937 random(seed);
    auto alpha = std::make_unique<TBitmap>();
    alpha->SetPixelFormat(pf8bit);
    alpha->SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            alpha->ScanLine(y)[x] = static_cast<uint8_t>(random());
    return alpha;
}

inline uint32_t Index(const TBitmap& bitmap, int x, int y) {
    const uint8_t* row = bitmap.ScanLine(y);
    switch (bitmap.BitsPerPixel()) {
    case 1:
        return (row[x / 8] >> (7 - x % 8)) & 1u;
    case 4:
        return x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 15u;
    default:
        return row[x];
    }
}

struct Rgb {
    uint32_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline uint32_t Widen(uint32_t v, int bits) {
    return bits == 5 ? (v << 3) | (v >> 2) : (v << 2) | (v >> 4);
}

// The colour a source pixel stands for, with 5- and 6-bit channels widened to 8 bits.
inline Rgb Color(const TBitmap& bitmap, int x, int y) {
    const int bits = BitsFromPixelFormat(bitmap.PixelFormat());
    if (bits <= 8) {
        const RGBQUAD q = bitmap.ColorTable().at(Index(bitmap, x, y));
        return {q.rgbRed, q.rgbGreen, q.rgbBlue};
    }
    const uint8_t* p = bitmap.ScanLine(y) + x * (bitmap.BitsPerPixel() / 8);
    if (bits == 15 || bits == 16) {
        const uint32_t w = p[0] | (uint32_t{p[1]} << 8);
        if (bits == 15)
            return {Widen((w >> 10) & 31, 5), Widen((w >> 5) & 31, 5), Widen(w & 31, 5)};
        return {Widen(w >> 11, 5), Widen((w >> 5) & 63, 6), Widen(w & 31, 5)};
    }
    return {p[2], p[1], p[0]};
}

inline uint32_t Gray(const Rgb& c) {
    return (c.r * 77 + c.g * 150 + c.b * 29) >> 8;
}

} // namespace source_bitmaps
