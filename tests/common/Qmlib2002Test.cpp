#include "common/Qmlib2002.h"

#include "TestBitmaps.h"
#include "platform/rtl/Exceptions.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

using namespace test_bitmaps;

namespace {

std::unique_ptr<TBitmap> Mask(int width, int height) {
    auto mask = std::make_unique<TBitmap>();
    mask->SetPixelFormat(pf8bit);
    mask->SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            mask->ScanLine(y)[x] = static_cast<uint8_t>(100 + 10 * y + x);
    return mask;
}

// A 32 x 32 sprite whose pixel (0, 0) is the key colour; every other pixel is unique, except
// the ones that Keys marks, which carry the key colour too.
constexpr uint32_t Key = 0x102030;
std::unique_ptr<TBitmap> Sprite(int size = 32) {
    auto sprite = Solid(size, size, 0, 0, 0);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            SetPixel(*sprite, x, y, 0x800000u | static_cast<uint32_t>(y << 8 | x));
    SetPixel(*sprite, 0, 0, Key);
    return sprite;
}

// Keyed copy worked out from the source side: every source pixel of the clipped rectangle lands
// at (X, Y) plus its offset from the rectangle's clipped corner.
void ReferenceKeyedCopy(int X, int Y, TRect r, TBitmap& dest, const TBitmap& src) {
    const uint32_t key = Pixel(src, 0, 0);
    r = {std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, src.Width() - 1),
         std::min(r.Bottom, src.Height() - 1)};
    for (int v = r.Top; v <= r.Bottom; ++v)
        for (int u = r.Left; u <= r.Right; ++u) {
            const int x = X + u - r.Left, y = Y + v - r.Top;
            if (x < 0 || y < 0 || x >= dest.Width() || y >= dest.Height()) continue;
            if (Pixel(src, u, v) != key) SetPixel(dest, x, y, Pixel(src, u, v));
        }
}

// The blend formula with a true floor division.
uint8_t ReferenceBlend(int b, int o, int level) {
    const auto shift = static_cast<int>(std::floor(level * (b - o) / 256.0));
    return static_cast<uint8_t>((o + shift) & 0xFF);
}

} // namespace

TEST(GetMaskValue, ReadsInsideAndGivesZeroOutside) {
    const auto mask = Mask(5, 4);
    EXPECT_EQ(GetMaskValue(*mask, 0, 0), 100);
    EXPECT_EQ(GetMaskValue(*mask, 4, 3), 134);
    mask->ScanLine(2)[1] = 250; // read as unsigned
    EXPECT_EQ(GetMaskValue(*mask, 1, 2), 250);
    for (const auto& [x, y] : {std::pair{5, 0}, {0, 4}, {-1, 0}, {0, -1}, {INT32_MIN, INT32_MAX}})
        EXPECT_EQ(GetMaskValue(*mask, x, y), 0) << x << "," << y;
    EXPECT_EQ(GetMaskValue(TBitmap(), 0, 0), 0);
}

TEST(KeyedCopy, ClipsAtTheDestinationEdges) {
    const auto sprite = Sprite();
    auto dest = Solid(40, 30, 1, 1, 1);
    KeyedCopy(39, 5, Rect(0, 0, 31, 31), *dest, *sprite);
    // Only the sprite's first column lands, in the last column.
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool drawn = x == 39 && y >= 5 && (y - 5) != 0;
            EXPECT_EQ(Pixel(*dest, x, y), drawn ? Pixel(*sprite, 0, y - 5) : 0x010101u)
                << x << "," << y;
        }

    dest = Solid(40, 30, 1, 1, 1);
    KeyedCopy(3, -31, Rect(0, 0, 31, 31), *dest, *sprite);
    // Only the sprite's last row lands, in the first row.
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool drawn = y == 0 && x >= 3 && x < 35;
            EXPECT_EQ(Pixel(*dest, x, y), drawn ? Pixel(*sprite, x - 3, 31) : 0x010101u);
        }
}

TEST(KeyedCopy, SourceRectClippedAtLeftStillLandsAtX) {
    const auto sprite = Sprite();
    auto dest = Solid(64, 64, 1, 1, 1);
    KeyedCopy(10, 20, Rect(-5, 0, 31, 31), *dest, *sprite);
    auto expected = Solid(64, 64, 1, 1, 1);
    ReferenceKeyedCopy(10, 20, Rect(0, 0, 31, 31), *expected, *sprite);
    EXPECT_EQ(Bytes(*dest), Bytes(*expected));
    EXPECT_EQ(Pixel(*dest, 10, 20), 0x010101u); // the key pixel itself is skipped
    EXPECT_EQ(Pixel(*dest, 11, 20), Pixel(*sprite, 1, 0));
}

TEST(KeyedCopy, KeyIsPixelZeroZeroEvenOutsideTheRect) {
    auto sprite = Sprite();
    SetPixel(*sprite, 5, 5, Key);
    SetPixel(*sprite, 6, 5, Key ^ 0x000001); // differs in the blue byte only
    SetPixel(*sprite, 7, 5, Key ^ 0x010000); // in the red byte only
    auto dest = Solid(10, 10, 9, 9, 9);
    KeyedCopy(0, 0, Rect(5, 5, 7, 5), *dest, *sprite);
    EXPECT_EQ(Pixel(*dest, 0, 0), 0x090909u);
    EXPECT_EQ(Pixel(*dest, 1, 0), Key ^ 0x000001);
    EXPECT_EQ(Pixel(*dest, 2, 0), Key ^ 0x010000);
    EXPECT_EQ(Pixel(*dest, 3, 0), 0x090909u);

    // An inclusive one-pixel rectangle copies one pixel.
    KeyedCopy(4, 4, Rect(9, 9, 9, 9), *dest, *sprite);
    EXPECT_EQ(Pixel(*dest, 4, 4), Pixel(*sprite, 9, 9));
    EXPECT_EQ(Pixel(*dest, 5, 4), 0x090909u);
    EXPECT_EQ(Pixel(*dest, 4, 5), 0x090909u);
}

TEST(KeyedCopy, MatchesSourceSideModelOnRandomPlacements) {
    std::mt19937 random(7);
    auto sprite = Sprite();
    for (int i = 0; i < 200; ++i) // many key pixels
        SetPixel(*sprite, static_cast<int>(random() % 32), static_cast<int>(random() % 32), Key);
    std::uniform_int_distribution<int> place(-45, 60), corner(-12, 44);
    for (int trial = 0; trial < 2000; ++trial) {
        const int x = place(random), y = place(random);
        const TRect r = Rect(corner(random), corner(random), corner(random), corner(random));
        auto dest = Solid(50, 40, 7, 7, 7);
        auto expected = Solid(50, 40, 7, 7, 7);
        KeyedCopy(x, y, r, *dest, *sprite);
        ReferenceKeyedCopy(x, y, r, *expected, *sprite);
        ASSERT_EQ(Bytes(*dest), Bytes(*expected)) << x << "," << y << " rect " << r.Left << ","
                                                  << r.Top << "," << r.Right << "," << r.Bottom;
    }
}

TEST(KeyedCopy, FarOffPlacementsDrawNothing) {
    const auto sprite = Sprite();
    auto dest = Solid(8, 8, 3, 3, 3);
    const auto before = Bytes(*dest);
    KeyedCopy(INT32_MAX, 0, Rect(0, 0, 31, 31), *dest, *sprite);
    KeyedCopy(INT32_MIN, INT32_MIN, Rect(0, 0, 31, 31), *dest, *sprite);
    KeyedCopy(0, 0, Rect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX), *dest, TBitmap());
    EXPECT_EQ(Bytes(*dest), before);
}

TEST(CopyBitmap24, CopiesDestSizedRowsOnly) {
    std::mt19937 random(3);
    const auto src = Noise(9, 7, random);
    auto dest = Solid(5, 4, 0, 0, 0);
    dest->ScanLine(0)[15] = 0xEE; // row padding is not part of the picture
    CopyBitmap24(*dest, *src);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(Pixel(*dest, x, y), Pixel(*src, x, y));
    EXPECT_EQ(dest->ScanLine(0)[15], 0xEE);

    TBitmap empty;
    empty.SetPixelFormat(pf24bit);
    empty.SetWidth(5);
    EXPECT_NO_THROW(CopyBitmap24(empty, TBitmap()));
}

TEST(BlendBitmap24, LevelEndsAndMidpoints) {
    auto base = Solid(4, 1, 200, 100, 0);
    SetPixel(*base, 1, 0, 0xFF00FF);
    auto overlay = Solid(4, 1, 100, 200, 255);
    SetPixel(*overlay, 1, 0, 0x00FF00);

    auto dest = Solid(4, 1, 9, 9, 9);
    BlendBitmap24(0, 0, *dest, *base, *overlay, 0);
    EXPECT_EQ(Bytes(*dest), Bytes(*Solid(4, 1, 9, 9, 9)));

    BlendBitmap24(0, 0, *dest, *base, *overlay, 256);
    EXPECT_EQ(Bytes(*dest), Bytes(*base));

    BlendBitmap24(0, 0, *dest, *base, *overlay, 128);
    EXPECT_EQ(Pixel(*dest, 0, 0), 0x7F9696u); // 200 over 100 and 100 over 200 give 150

    BlendBitmap24(0, 0, *dest, *base, *overlay, 1);
    EXPECT_EQ(Pixel(*dest, 0, 0) >> 16, 254u); // base 0 over overlay 255: floor(-0.996) = -1
    EXPECT_EQ(Pixel(*dest, 1, 0), 0x00FE00u);  // 255 over 0 gives 0, 0 over 255 gives 254
}

TEST(BlendBitmap24, EveryByteAndLevelFollowsTheFloorFormula) {
    // Base bytes run along x, overlay bytes along y; 85 columns leave a row tail that is not
    // a multiple of 16 bytes.
    auto base = Solid(85, 256, 0, 0, 0);
    auto overlay = Solid(85, 256, 0, 0, 0);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 85; ++x) {
            const auto b = static_cast<uint32_t>(3 * x);
            SetPixel(*base, x, y, b | (b + 1) << 8 | (b + 2) << 16);
            SetPixel(*overlay, x, y, static_cast<uint32_t>(y * 0x010101));
        }
    for (const int level : {1, 2, 3, 127, 128, 129, 255, 256, 257, 300, 511, 4097, 65535}) {
        auto dest = Solid(85, 256, 0, 0, 0);
        BlendBitmap24(0, 0, *dest, *base, *overlay, static_cast<uint16_t>(level));
        for (int y = 0; y < 256; ++y)
            for (int i = 0; i < 255; ++i)
                ASSERT_EQ(dest->ScanLine(y)[i], ReferenceBlend(i, y, level))
                    << "level " << level << " base " << i << " overlay " << y;
    }
}

TEST(BlendBitmap24, PlacesAndClipsTheOverlay) {
    std::mt19937 random(11);
    const auto base = Noise(20, 12, random);
    const auto overlay = Noise(7, 5, random);
    for (const auto& [X, Y] : {std::pair{-3, -2}, {16, 9}, {19, 0}, {0, 11}, {-6, -4}, {5, 5}}) {
        auto dest = Solid(20, 12, 1, 2, 3);
        BlendBitmap24(X, Y, *dest, *base, *overlay, 100);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 20; ++x) {
                const bool inside = x >= X && x < X + 7 && y >= Y && y < Y + 5;
                for (int c = 0; c < 3; ++c) {
                    const int expected =
                        inside ? ReferenceBlend(base->ScanLine(y)[3 * x + c],
                                                overlay->ScanLine(y - Y)[3 * (x - X) + c], 100)
                               : (c == 0   ? 1
                                  : c == 1 ? 2
                                           : 3);
                    ASSERT_EQ(dest->ScanLine(y)[3 * x + c], expected)
                        << "at " << X << "," << Y << " pixel " << x << "," << y;
                }
            }
    }
    // Wholly outside: nothing changes.
    auto dest = Solid(20, 12, 1, 2, 3);
    const auto before = Bytes(*dest);
    for (const auto& [X, Y] : {std::pair{20, 0}, {0, 12}, {-7, 0}, {0, -5}, {INT32_MAX, INT32_MAX}})
        BlendBitmap24(X, Y, *dest, *base, *overlay, 100);
    EXPECT_EQ(Bytes(*dest), before);
}

TEST(BlendBitmap24, InPlaceEqualsSeparateDest) {
    std::mt19937 random(5);
    const auto base = Noise(67, 9, random);
    const auto overlay = Noise(40, 9, random);
    auto separate = Solid(67, 9, 0, 0, 0);
    CopyBitmap24(*separate, *base);
    BlendBitmap24(13, 2, *separate, *base, *overlay, 77);
    auto inPlace = Solid(67, 9, 0, 0, 0);
    CopyBitmap24(*inPlace, *base);
    BlendBitmap24(13, 2, *inPlace, *inPlace, *overlay, 77);
    EXPECT_EQ(Bytes(*inPlace), Bytes(*separate));
}

TEST(BitmapOperations, BitmapsTooSmallForTheirPixelsAreRefusedBeforeAnyWrite) {
    std::mt19937 random(21);
    const auto base = Noise(40, 30, random);
    const auto overlay = Noise(40, 30, random);
    auto narrow = Solid(20, 30, 5, 5, 5);
    auto shallow = Solid(40, 10, 5, 5, 5);
    const auto narrowBefore = Bytes(*narrow), shallowBefore = Bytes(*shallow);
    EXPECT_THROW(BlendBitmap24(0, 0, *narrow, *base, *overlay, 100), EInvalidGraphicOperation);
    EXPECT_THROW(BlendBitmap24(0, 0, *shallow, *base, *overlay, 100), EInvalidGraphicOperation);
    EXPECT_EQ(Bytes(*narrow), narrowBefore);
    EXPECT_EQ(Bytes(*shallow), shallowBefore);

    // An 8-bit bitmap has a third of the row bytes the 24-bit loops need.
    auto mask = Mask(40, 30);
    EXPECT_THROW(BlendBitmap24(0, 0, *mask, *base, *overlay, 100), EInvalidGraphicOperation);
    EXPECT_THROW(BlendBitmap24(0, 0, *narrow, *narrow, *mask, 100), EInvalidGraphicOperation);
    EXPECT_THROW(KeyedCopy(30, 0, Rect(0, 0, 9, 9), *mask, *base), EInvalidGraphicOperation);
    EXPECT_THROW(KeyedCopy(0, 0, Rect(0, 0, 39, 9), *narrow, *mask), EInvalidGraphicOperation);
    EXPECT_THROW(CopyBitmap24(*mask, *base), EInvalidGraphicOperation);
    EXPECT_THROW(CopyBitmap24(*base, *narrow), EInvalidGraphicOperation);

    // A 1-bit mask holds 8 pixels a byte: a column past its row bytes is refused.
    TBitmap bits;
    bits.SetPixelFormat(pf1bit);
    bits.SetSize(64, 2);
    EXPECT_NO_THROW(GetMaskValue(bits, 3, 1));
    EXPECT_THROW(GetMaskValue(bits, 63, 1), EInvalidGraphicOperation);
}
