#include "common/SFunc.h"

#include "platform/rtl/Exceptions.h"

#include <array>
#include <gtest/gtest.h>

TEST(DIBRowBytes, RoundsRowsUpToFourBytesAndRefusesWrapping) {
    EXPECT_EQ(DIBRowBytes(1, 1), 4u);
    EXPECT_EQ(DIBRowBytes(3, 24), 12u);
    EXPECT_EQ(DIBRowBytes(5, 24), 16u);
    EXPECT_EQ(DIBRowBytes(0, 24), 0u);
    EXPECT_EQ(DIBRowBytes(33, 1), 8u);
    EXPECT_EQ(DIBRowBytes(0x3FFFFFFF, 32), 0xFFFFFFFCu);
    EXPECT_THROW(DIBRowBytes(0x40000000, 32), EOutOfResources);
    EXPECT_THROW(DIBRowBytes(0xFFFFFFFF, 64), EOutOfResources);
}

TEST(NearestColorIndex, SumOfChannelDistancesLowerIndexOnTies) {
    const std::array<PALETTEENTRY, 4> entries{
        {{10, 10, 10, 0}, {20, 20, 20, 0}, {255, 0, 0, 0}, {15, 15, 15, 0}}};
    EXPECT_EQ(NearestColorIndex(entries.data(), RGB(15, 15, 15), 2), 0); // tie
    EXPECT_EQ(NearestColorIndex(entries.data(), RGB(15, 15, 15), 4), 3); // exact match
    EXPECT_EQ(NearestColorIndex(entries.data(), RGB(16, 16, 16), 3), 1);
    EXPECT_EQ(NearestColorIndex(entries.data(), clRed, 4), 2);
    EXPECT_EQ(NearestColorIndex(entries.data(), clBlue, 1), 0); // 765 away, still the best
    EXPECT_EQ(NearestColorIndex(entries.data(), clWhite, 0), 0);
}

TEST(PaletteHelpers, RoundTripThroughAPaletteObject) {
    const std::array<RGBQUAD, 3> quads{{{1, 2, 3, 9}, {40, 50, 60, 9}, {200, 100, 0, 9}}};
    const HPALETTE palette = CreatePaletteFromQuads(quads.data(), 3);
    std::array<PALETTEENTRY, 3> entries{};
    ASSERT_EQ(GetPaletteEntries(palette, 0, 3, entries.data()), 3u);
    EXPECT_EQ(entries[1], (PALETTEENTRY{60, 50, 40, 0})); // red first, flags 0
    std::array<RGBQUAD, 256> back{};
    EXPECT_EQ(PaletteToQuads(palette, back.data()), 3);
    EXPECT_EQ(back[0], (RGBQUAD{1, 2, 3, 0})); // reserved written as 0
    EXPECT_EQ(PaletteEntryColor(palette, 1), RGB(60, 50, 40));
    EXPECT_EQ(PaletteEntryColor(palette, 3), -1);
    EXPECT_EQ(NearestPaletteIndex(palette, RGB(58, 52, 40)), 1);
    DeleteObject(palette);

    const HPALETTE empty = CreatePaletteFromQuads(nullptr, 0);
    EXPECT_EQ(NearestPaletteIndex(empty, clWhite), -1);
    EXPECT_EQ(PaletteEntryColor(empty, 0), -1);
    back[0] = {7, 7, 7, 7};
    EXPECT_EQ(PaletteToQuads(empty, back.data()), 0);
    EXPECT_EQ(back[0], (RGBQUAD{7, 7, 7, 7})); // left unchanged
    DeleteObject(empty);
}

TEST(MakeGrayPalette, RampsForEachDepth) {
    std::array<RGBQUAD, 256> quads{};
    EXPECT_EQ(MakeGrayPalette(quads.data(), 1), 2);
    EXPECT_EQ(quads[1], (RGBQUAD{255, 255, 255, 0}));
    EXPECT_EQ(MakeGrayPalette(quads.data(), 2), 4);
    EXPECT_EQ(quads[1], (RGBQUAD{85, 85, 85, 0}));
    EXPECT_EQ(MakeGrayPalette(quads.data(), 4), 16);
    EXPECT_EQ(quads[15], (RGBQUAD{255, 255, 255, 0}));
    EXPECT_EQ(MakeGrayPalette(quads.data(), 3), 256); // any other depth is 8 bits
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(quads[static_cast<size_t>(i)].rgbGreen, i);
    EXPECT_EQ(quads[255], (RGBQUAD{255, 255, 255, 0}));
}
