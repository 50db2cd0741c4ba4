#include "common/SFunc.h"

#include "platform/rtl/Exceptions.h"

#include <array>
#include <gtest/gtest.h>

namespace {

// Frees a palette made by CreatePalette when the test ends.
struct OwnedPalette {
    HPALETTE handle;
    ~OwnedPalette() { DeleteObject(handle); }
};

} // namespace

TEST(DIBRowBytes, RoundsRowsUpToFourBytes) {
    EXPECT_EQ(DIBRowBytes(1, 1), 4u);
    EXPECT_EQ(DIBRowBytes(3, 24), 12u);
    EXPECT_EQ(DIBRowBytes(5, 24), 16u);
    EXPECT_EQ(DIBRowBytes(0, 24), 0u);
    EXPECT_EQ(DIBRowBytes(33, 1), 8u);
    EXPECT_EQ(DIBRowBytes(3, 4), 4u);
    EXPECT_EQ(DIBRowBytes(9, 4), 8u);
    EXPECT_EQ(DIBRowBytes(0x3FFFFFFF, 32), 0xFFFFFFFCu);
    // Rows whose size does not fit in 32 bits are refused rather than wrapped to a small size.
    EXPECT_THROW(DIBRowBytes(0x40000000, 32), EOutOfResources);
    EXPECT_THROW(DIBRowBytes(0xFFFFFFFF, 64), EOutOfResources);
}

TEST(NearestColorIndex, SumOfChannelDistancesLowerIndexOnTies) {
    const std::array<PALETTEENTRY, 4> entries{
        {{10, 10, 10, 0}, {20, 20, 20, 0}, {0, 0, 0, 0}, {15, 15, 15, 0}}};
    EXPECT_EQ(NearestColorIndex(entries.data(), RGB(15, 15, 15), 2), 0); // tie
    EXPECT_EQ(NearestColorIndex(entries.data(), RGB(15, 15, 15), 4), 3); // exact match
    EXPECT_EQ(NearestColorIndex(entries.data(), RGB(16, 16, 16), 3), 1);
    EXPECT_EQ(NearestColorIndex(entries.data(), RGB(1, 0, 0), 4), 2);
    EXPECT_EQ(NearestColorIndex(entries.data(), RGB(1, 1, 1), 0), 0);
    EXPECT_EQ(NearestColorIndex(entries.data(), RGB(1, 1, 1), -3), 0);

    // Channels are matched by name: red against red, blue against blue.
    const std::array<PALETTEENTRY, 2> reds{{{255, 0, 0, 0}, {0, 0, 255, 0}}};
    EXPECT_EQ(NearestColorIndex(reds.data(), clRed, 2), 0);
    EXPECT_EQ(NearestColorIndex(reds.data(), clBlue, 2), 1);
    // The full distance range: 765 is still closer than nothing.
    const std::array<PALETTEENTRY, 1> black{{{0, 0, 0, 0}}};
    EXPECT_EQ(NearestColorIndex(black.data(), clWhite, 1), 0);
}

TEST(PaletteHelpers, RoundTripThroughAPaletteObject) {
    std::array<RGBQUAD, 3> quads{{{1, 2, 3, 9}, {40, 50, 60, 9}, {200, 100, 0, 9}}};
    const OwnedPalette palette{CreatePaletteFromQuads(quads.data(), 3)};
    ASSERT_NE(palette.handle, 0u);

    std::array<PALETTEENTRY, 3> entries{};
    ASSERT_EQ(GetPaletteEntries(palette.handle, 0, 3, entries.data()), 3u);
    EXPECT_EQ(entries[1], (PALETTEENTRY{60, 50, 40, 0})); // red first, flags 0

    std::array<RGBQUAD, 256> back{};
    EXPECT_EQ(PaletteToQuads(palette.handle, back.data()), 3);
    EXPECT_EQ(back[0], (RGBQUAD{1, 2, 3, 0})); // reserved written as 0
    EXPECT_EQ(back[2], (RGBQUAD{200, 100, 0, 0}));

    EXPECT_EQ(PaletteEntryColor(palette.handle, 1), RGB(60, 50, 40));
    EXPECT_EQ(PaletteEntryColor(palette.handle, 3), -1);
    EXPECT_EQ(PaletteEntryColor(palette.handle, -1), -1);
    EXPECT_EQ(NearestPaletteIndex(palette.handle, RGB(58, 52, 40)), 1);
}

TEST(PaletteHelpers, EmptyAndUnknownPalettes) {
    const OwnedPalette empty{CreatePaletteFromQuads(nullptr, 0)};
    EXPECT_EQ(NearestPaletteIndex(empty.handle, clWhite), -1);
    EXPECT_EQ(NearestPaletteIndex(0, clWhite), -1);
    EXPECT_EQ(PaletteEntryColor(empty.handle, 0), -1);
    std::array<RGBQUAD, 256> quads{};
    quads[0] = {7, 7, 7, 7};
    EXPECT_EQ(PaletteToQuads(0, quads.data()), 0);
    EXPECT_EQ(quads[0], (RGBQUAD{7, 7, 7, 7})); // left unchanged
}

TEST(MakeGrayPalette, RampsForEachDepth) {
    std::array<RGBQUAD, 256> quads{};
    EXPECT_EQ(MakeGrayPalette(quads.data(), 1), 2);
    EXPECT_EQ(quads[1], (RGBQUAD{255, 255, 255, 0}));
    EXPECT_EQ(MakeGrayPalette(quads.data(), 2), 4);
    EXPECT_EQ(quads[1], (RGBQUAD{85, 85, 85, 0}));
    EXPECT_EQ(quads[3], (RGBQUAD{255, 255, 255, 0}));
    EXPECT_EQ(MakeGrayPalette(quads.data(), 4), 16);
    EXPECT_EQ(quads[15], (RGBQUAD{255, 255, 255, 0}));
    EXPECT_EQ(quads[7], (RGBQUAD{119, 119, 119, 0}));
    quads.fill({9, 9, 9, 9});
    EXPECT_EQ(MakeGrayPalette(quads.data(), 3), 256); // any other depth is 8 bits
    for (int i = 0; i < 256; ++i) {
        const auto level = static_cast<uint8_t>(i);
        ASSERT_EQ(quads[static_cast<size_t>(i)], (RGBQUAD{level, level, level, 0}));
    }
    EXPECT_EQ(MakeGrayPalette(quads.data(), 8), 256);
    EXPECT_EQ(quads[255].rgbRed, 255);
}
