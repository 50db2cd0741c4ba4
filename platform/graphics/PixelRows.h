// Layer-internal row conversions between the bitmap formats and blue, green, red bytes.
#pragma once

#include "platform/graphics/Bitmap.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace pixel_rows {

// Largest pixel buffer the layer makes; beyond it the platform runs out of resources.
inline constexpr int64_t MaxPixelBytes = int64_t{1} << 31;

// The high byte of a colour that names a palette entry (0x01000000 + index).
inline constexpr TColor PaletteIndexColor = 0x01000000;

bool IsPaletteFormat(TPixelFormat f);
size_t PaletteCapacity(TPixelFormat f);

// Maps colours to the nearest entry of a colour table, remembering earlier answers.
class NearestIndex {
public:
    explicit NearestIndex(const std::vector<RGBQUAD>& colors) : colors_(colors) {}
    uint8_t operator()(uint8_t b, uint8_t g, uint8_t r);

private:
    const std::vector<RGBQUAD>& colors_;
    std::unordered_map<uint32_t, uint8_t> cache_;
};

// The colour as blue, green, red; a palette entry's colour from Colors (black past its end).
RGBQUAD ColorQuad(TColor color, const std::vector<RGBQUAD>& colors);

uint32_t PixelIndexAt(const uint8_t* row, int x, TPixelFormat f);
void SetPixelIndexAt(uint8_t* row, int x, TPixelFormat f, uint32_t value);
// Any format's raw value of pixel X (an index, a 16-bit word or 0x00RRGGBB-ordered bytes).
uint32_t PixelValueAt(const uint8_t* row, int x, TPixelFormat f);
void SetPixelValueAt(uint8_t* row, int x, TPixelFormat f, uint32_t v);

// Width pixels of a row into blue, green, red bytes, and back.
void DecodeRow(const uint8_t* src, int width, TPixelFormat f, const std::vector<RGBQUAD>& colors,
               uint8_t* bgr);
void EncodeRow(const uint8_t* bgr, int width, TPixelFormat f, NearestIndex& nearest, uint8_t* dst);

} // namespace pixel_rows
