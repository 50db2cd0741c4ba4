// Palette objects of the graphics interface, reached through opaque handles.
#pragma once

#include "platform/graphics/Types.h"

#include <cstdint>
#include <vector>

struct RGBQUAD {
    uint8_t rgbBlue = 0;
    uint8_t rgbGreen = 0;
    uint8_t rgbRed = 0;
    uint8_t rgbReserved = 0;
    friend bool operator==(const RGBQUAD&, const RGBQUAD&) = default;
};
static_assert(sizeof(RGBQUAD) == 4);

struct PALETTEENTRY {
    uint8_t peRed = 0;
    uint8_t peGreen = 0;
    uint8_t peBlue = 0;
    uint8_t peFlags = 0;
    friend bool operator==(const PALETTEENTRY&, const PALETTEENTRY&) = default;
};
static_assert(sizeof(PALETTEENTRY) == 4);

// The platform's LOGPALETTE: a version, a count and the entries.
struct LOGPALETTE {
    uint16_t palVersion = 0x300;
    std::vector<PALETTEENTRY> palPalEntry;
};

using HPALETTE = uintptr_t; // 0 is no palette

// A new palette object with the given entries (any count, none included); the caller frees it
// with DeleteObject unless it hands it to a bitmap, which then owns it.
HPALETTE CreatePalette(const LOGPALETTE& palette);
// Copies up to Count entries from Start into Entries and returns how many; with Entries
// null, returns the palette's entry count. 0 for an unknown handle.
uint32_t GetPaletteEntries(HPALETTE palette, uint32_t start, uint32_t count, PALETTEENTRY* entries);
// Frees a palette made by CreatePalette. Handles owned by a bitmap are left to it.
bool DeleteObject(HPALETTE palette);
// Entries of a palette as a colour table (blue first).
std::vector<RGBQUAD> PaletteQuads(HPALETTE palette);

// Layer-internal: palette objects that belong to a bitmap.
namespace palette_internal {
HPALETTE CreateOwned(const std::vector<RGBQUAD>& quads);
void DeleteOwned(HPALETTE palette);
bool IsOwned(HPALETTE palette);
// Makes a caller's palette a bitmap's; False for an unknown or already owned handle.
bool Adopt(HPALETTE palette);
} // namespace palette_internal
