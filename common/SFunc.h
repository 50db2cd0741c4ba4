// Palette and device-independent bitmap helpers of the PNG codec.
#pragma once

#include "platform/graphics/Palette.h"
#include "platform/graphics/Types.h"

#include <cstdint>

// Bytes of one bitmap row, rounded up to a multiple of 4. Raises EOutOfResources when that
// does not fit in 32 bits.
uint32_t DIBRowBytes(uint32_t width, uint32_t bitsPerPixel);
// Index of the entry nearest to Color by the sum of channel distances; ties keep the lower
// index; 0 when Count <= 0.
int32_t NearestColorIndex(const PALETTEENTRY* entries, TColor color, int32_t count);
// -1 when the palette has no entries.
int32_t NearestPaletteIndex(HPALETTE palette, TColor color);
// A new palette of Count entries from a colour table; the caller owns it.
HPALETTE CreatePaletteFromQuads(const RGBQUAD* quads, int32_t count);
// The entry as a colour value, -1 when the palette has no such entry.
TColor PaletteEntryColor(HPALETTE palette, int32_t index);
// Up to 256 entries into Quads (blue first); returns GetPaletteEntries' count.
int32_t PaletteToQuads(HPALETTE palette, RGBQUAD* quads);
// A grey ramp for 1, 2, 4 or (any other value) 8 bits; returns its entry count.
int32_t MakeGrayPalette(RGBQUAD* quads, int32_t bits);
