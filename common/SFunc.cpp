#include "common/SFunc.h"

#include "platform/rtl/Exceptions.h"

#include <array>
#include <cstdlib>

namespace {

// |a - b| of two bytes, indexed by the difference modulo 512.
constexpr std::array<uint8_t, 512> MakeDistanceTable() {
    std::array<uint8_t, 512> t{};
    for (int d = 0; d < 512; ++d)
        t[static_cast<size_t>(d)] = static_cast<uint8_t>(d < 256 ? d : (512 - d) & 0xFF);
    return t;
}
constexpr std::array<uint8_t, 512> Distance = MakeDistanceTable();

int ByteDistance(int a, int b) {
    return Distance[static_cast<size_t>((a - b) & 511)];
}

} // namespace

uint32_t DIBRowBytes(uint32_t width, uint32_t bitsPerPixel) {
    // A product that wrapped around 32 bits would size a buffer far smaller than the row.
    const uint64_t bytes = ((uint64_t{width} * bitsPerPixel + 7) / 8 + 3) & ~uint64_t{3};
    if (bytes > UINT32_MAX) throw EOutOfResources(Msg::BitmapTooLarge);
    return static_cast<uint32_t>(bytes);
}

int32_t NearestColorIndex(const PALETTEENTRY* entries, TColor color, int32_t count) {
    const int cr = GetRValue(color), cg = GetGValue(color), cb = GetBValue(color);
    int32_t best = 0;
    int bestDistance = 766;
    for (int32_t i = 0; i < count; ++i) {
        const int d = ByteDistance(entries[i].peRed, cr) + ByteDistance(entries[i].peGreen, cg) +
                      ByteDistance(entries[i].peBlue, cb);
        if (d == 0) return i;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

int32_t NearestPaletteIndex(HPALETTE palette, TColor color) {
    std::array<PALETTEENTRY, 256> entries;
    const auto n = static_cast<int32_t>(GetPaletteEntries(palette, 0, 256, entries.data()));
    if (n <= 0) return -1;
    return NearestColorIndex(entries.data(), color, n);
}

HPALETTE CreatePaletteFromQuads(const RGBQUAD* quads, int32_t count) {
    LOGPALETTE log;
    log.palVersion = 0x300;
    log.palPalEntry.resize(static_cast<size_t>(count > 0 ? count : 0));
    for (size_t i = 0; i < log.palPalEntry.size(); ++i)
        log.palPalEntry[i] = {quads[i].rgbRed, quads[i].rgbGreen, quads[i].rgbBlue, 0};
    return CreatePalette(log);
}

TColor PaletteEntryColor(HPALETTE palette, int32_t index) {
    PALETTEENTRY entry;
    if (index < 0 || GetPaletteEntries(palette, static_cast<uint32_t>(index), 1, &entry) == 0)
        return -1;
    return entry.peRed + entry.peGreen * 256 + entry.peBlue * 65536;
}

int32_t PaletteToQuads(HPALETTE palette, RGBQUAD* quads) {
    std::array<PALETTEENTRY, 256> entries;
    const auto n = static_cast<int32_t>(GetPaletteEntries(palette, 0, 256, entries.data()));
    for (int32_t i = 0; i < n; ++i)
        quads[i] = {entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0};
    return n;
}

int32_t MakeGrayPalette(RGBQUAD* quads, int32_t bits) {
    int32_t count = 256, step = 1;
    if (bits == 1) {
        count = 2;
        step = 255;
    } else if (bits == 2) {
        count = 4;
        step = 85;
    } else if (bits == 4) {
        count = 16;
        step = 17;
    }
    for (int32_t i = 0; i < count; ++i) {
        const auto level = static_cast<uint8_t>(i * step);
        quads[i] = {level, level, level, 0};
    }
    return count;
}
