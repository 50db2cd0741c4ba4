#include "common/Qmlib2002.h"

#include "TestBitmaps.h"
#include "platform/rtl/Exceptions.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

using namespace test_bitmaps;

namespace {

// A 32 x 32 sprite of unique colours whose pixel (0, 0), the key, recurs at a few places.
constexpr uint32_t Key = 0x102030;
std::unique_ptr<TBitmap> Sprite() {
    auto sprite = Solid(32, 32, 0);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            SetPixel(*sprite, x, y, 0x800000u | (y << 8) | x);
    for (const auto& [x, y] : {std::pair{0, 0}, {5, 5}, {31, 31}, {17, 3}})
        SetPixel(*sprite, x, y, Key);
    SetPixel(*sprite, 6, 5, Key ^ 0x000001); // differs in the blue byte only
    return sprite;
}

// Keyed copy worked out from the source side: each source pixel of the clipped rectangle lands
// at (X, Y) plus its offset from the clipped rectangle's corner.
void ModelKeyedCopy(int X, int Y, TRect r, TBitmap& dest, const TBitmap& src) {
    r = {std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, src.Width() - 1),
         std::min(r.Bottom, src.Height() - 1)};
    for (int v = r.Top; v <= r.Bottom; ++v)
        for (int u = r.Left; u <= r.Right; ++u) {
            const int64_t x = int64_t{X} + u - r.Left, y = int64_t{Y} + v - r.Top;
            if (x >= 0 && y >= 0 && x < dest.Width() && y < dest.Height() &&
                Pixel(src, u, v) != Pixel(src, 0, 0))
                SetPixel(dest, static_cast<int>(x), static_cast<int>(y), Pixel(src, u, v));
        }
}

// The blend formula with a true floor division, byte by byte.
uint8_t ModelBlend(int b, int o, int level) {
    return static_cast<uint8_t>(o + static_cast<int>(std::floor(level * (b - o) / 256.0)));
}

} // namespace

TEST(GetMaskValue, ReadsInsideAndGivesZeroOutside) {
    TBitmap mask;
    mask.SetPixelFormat(pf8bit);
    mask.SetSize(5, 4);
    mask.ScanLine(3)[4] = 250;
    EXPECT_EQ(GetMaskValue(mask, 4, 3), 250); // unsigned
    for (const auto& [x, y] : {std::pair{5, 0}, {0, 4}, {-1, 0}, {0, -1}, {INT32_MIN, INT32_MAX}})
        EXPECT_EQ(GetMaskValue(mask, x, y), 0) << x << "," << y;
}

TEST(KeyedCopy, MatchesTheSourceSideModel) {
    const auto sprite = Sprite();
    // One column at the right edge, one row at the top, a rectangle clipped at the left (still
    // landing at X), one pixel, the key outside the rectangle, far-off places; then random ones.
    std::vector<std::tuple<int, int, TRect>> cases = {{39, 5, Rect(0, 0, 31, 31)},
                                                      {3, -31, Rect(0, 0, 31, 31)},
                                                      {10, 2, Rect(-5, 0, 31, 31)},
                                                      {4, 4, Rect(9, 9, 9, 9)},
                                                      {0, 0, Rect(5, 5, 7, 5)},
                                                      {INT32_MAX, 0, Rect(0, 0, 31, 31)},
                                                      {INT32_MIN, INT32_MIN, Rect(0, 0, 31, 31)},
                                                      {0, 0, Rect(INT32_MIN, 0, INT32_MAX, 31)}};
    std::mt19937 random(7);
    std::uniform_int_distribution<int> place(-45, 60), corner(-12, 44);
    for (int i = 0; i < 2000; ++i)
        cases.emplace_back(place(random), place(random),
                           Rect(corner(random), corner(random), corner(random), corner(random)));
    for (const auto& [x, y, r] : cases) {
        auto dest = Solid(40, 30, 0x070707), expected = Solid(40, 30, 0x070707);
        KeyedCopy(x, y, r, *dest, *sprite);
        ModelKeyedCopy(x, y, r, *expected, *sprite);
        ASSERT_EQ(Bytes(*dest), Bytes(*expected)) << x << "," << y << " rect " << r.Left << ","
                                                  << r.Top << "," << r.Right << "," << r.Bottom;
    }
}

TEST(CopyBitmap24, CopiesDestSizedRowsOnly) {
    std::mt19937 random(3);
    const auto src = Noise(9, 7, random);
    auto dest = Solid(5, 4, 0);
    dest->ScanLine(0)[15] = 0xEE; // row padding is not part of the picture
    CopyBitmap24(*dest, *src);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(Pixel(*dest, x, y), Pixel(*src, x, y));
    EXPECT_EQ(dest->ScanLine(0)[15], 0xEE);
    TBitmap empty;
    EXPECT_NO_THROW(CopyBitmap24(empty, TBitmap()));
}

TEST(BlendBitmap24, WorkedLevels) {
    auto base = Solid(2, 1, 0x0064C8), overlay = Solid(2, 1, 0xFFC864);
    SetPixel(*base, 1, 0, 0xFF00FF);
    SetPixel(*overlay, 1, 0, 0x00FF00);
    auto dest = Solid(2, 1, 0x090909);
    BlendBitmap24(0, 0, *dest, *base, *overlay, 0);
    EXPECT_EQ(Bytes(*dest), Bytes(*Solid(2, 1, 0x090909)));
    BlendBitmap24(0, 0, *dest, *base, *overlay, 256);
    EXPECT_EQ(Bytes(*dest), Bytes(*base));
    BlendBitmap24(0, 0, *dest, *base, *overlay, 128);
    EXPECT_EQ(Pixel(*dest, 0, 0), 0x7F9696u); // 200 over 100 and 100 over 200 give 150
    BlendBitmap24(0, 0, *dest, *base, *overlay, 1);
    EXPECT_EQ(Pixel(*dest, 0, 0) >> 16, 254u); // 0 over 255: floor(-0.996) is -1
    EXPECT_EQ(Pixel(*dest, 1, 0), 0x00FE00u);  // 255 over 0 gives 0
}

TEST(BlendBitmap24, FollowsTheFloorFormulaForEveryPlacementAndLevel) {
    std::mt19937 random(11);
    const auto base = Noise(85, 40, random), overlay = Noise(70, 30, random);
    for (const int level : {1, 2, 127, 128, 129, 255, 256, 257, 511, 4097, 65535})
        for (const auto& [X, Y] : {std::pair{0, 0},
                                   {-3, -2},
                                   {84, 0},
                                   {0, 39},
                                   {-69, -29},
                                   {30, 20},
                                   {85, 0},
                                   {0, -30}}) {
            auto dest = Solid(85, 40, 0x030201);
            BlendBitmap24(X, Y, *dest, *base, *overlay, static_cast<uint16_t>(level));
            for (int y = 0; y < 40; ++y)
                for (int i = 0; i < 85 * 3; ++i) {
                    const int x = i / 3;
                    const bool inside = x >= X && x < X + 70 && y >= Y && y < Y + 30;
                    const int expected =
                        inside ? ModelBlend(base->ScanLine(y)[i],
                                            overlay->ScanLine(y - Y)[i - 3 * X], level)
                               : i % 3 + 1;
                    ASSERT_EQ(dest->ScanLine(y)[i], expected) << level << " at " << X << "," << Y;
                }
        }
    // In place, as the player blends: the same as into a separate bitmap.
    auto inPlace = Solid(85, 40, 0), separate = Solid(85, 40, 0);
    CopyBitmap24(*inPlace, *base);
    CopyBitmap24(*separate, *base);
    BlendBitmap24(13, 2, *inPlace, *inPlace, *overlay, 77);
    BlendBitmap24(13, 2, *separate, *base, *overlay, 77);
    EXPECT_EQ(Bytes(*inPlace), Bytes(*separate));
}

TEST(BitmapOperations, BitmapsTooSmallForTheirPixelsAreRefusedBeforeAnyWrite) {
    std::mt19937 random(21);
    const auto base = Noise(40, 30, random);
    auto narrow = Solid(20, 30, 0x050505), shallow = Solid(40, 10, 0x050505);
    const auto narrowBefore = Bytes(*narrow), shallowBefore = Bytes(*shallow);
    EXPECT_THROW(BlendBitmap24(0, 0, *narrow, *base, *base, 100), EInvalidGraphicOperation);
    EXPECT_THROW(BlendBitmap24(0, 0, *shallow, *base, *base, 100), EInvalidGraphicOperation);
    EXPECT_EQ(Bytes(*narrow), narrowBefore);
    EXPECT_EQ(Bytes(*shallow), shallowBefore);
    // An 8-bit bitmap has a third of the row bytes the 24-bit loops need.
    TBitmap mask;
    mask.SetPixelFormat(pf8bit);
    mask.SetSize(40, 30);
    EXPECT_THROW(BlendBitmap24(0, 0, mask, *base, *base, 100), EInvalidGraphicOperation);
    EXPECT_THROW(BlendBitmap24(0, 0, *narrow, *narrow, mask, 100), EInvalidGraphicOperation);
    EXPECT_THROW(KeyedCopy(30, 0, Rect(0, 0, 9, 9), mask, *base), EInvalidGraphicOperation);
    EXPECT_THROW(KeyedCopy(0, 0, Rect(0, 0, 39, 9), *narrow, mask), EInvalidGraphicOperation);
    EXPECT_THROW(CopyBitmap24(mask, *base), EInvalidGraphicOperation);
    EXPECT_THROW(CopyBitmap24(*base, *narrow), EInvalidGraphicOperation);
    // A 1-bit mask holds 8 pixels a byte: a column past its row bytes is refused.
    mask.SetPixelFormat(pf1bit);
    EXPECT_NO_THROW(GetMaskValue(mask, 3, 1));
    EXPECT_THROW(GetMaskValue(mask, 39, 1), EInvalidGraphicOperation);
}
