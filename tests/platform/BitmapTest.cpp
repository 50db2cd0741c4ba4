#include "platform/graphics/Bitmap.h"

#include "BmpBytes.h"
#include "platform/graphics/Canvas.h"
#include "platform/rtl/Exceptions.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr TPixelFormat AllFormats[] = {pf1bit,  pf4bit,  pf8bit,  pf15bit,
                                       pf16bit, pf24bit, pf32bit, pfDevice};

bool HoldsPrimaries(TPixelFormat f) {
    return f != pf1bit;
}

// An 8-bit picture of Width x Height, white but for a red pixel at X, Y, transparent in blue.
void MakeMarked(TBitmap& a, int width, int height, int x, int y) {
    a.SetPixelFormat(pf8bit);
    a.SetSize(width, height);
    a.SetPixelColor(x, y, clRed);
    a.SetTransparent(true);
    a.SetTransparentColor(clBlue);
}

} // namespace

TEST(BitmapFormats, ConversionsBetweenEveryPairKeepColoursTheTargetHolds) {
    // Black and white fit every format; pure red, green and blue every format but 1 bit
    // (the default 4- and 8-bit tables hold them, 5 and 6 bits expand back to 255).
    const std::vector<TColor> all = {clBlack, clWhite, clRed, clLime, clBlue};
    for (const TPixelFormat from : AllFormats)
        for (const TPixelFormat to : AllFormats) {
            SCOPED_TRACE(testing::Message() << from << " -> " << to);
            const size_t n = HoldsPrimaries(from) && HoldsPrimaries(to) ? all.size() : 2;
            TBitmap b;
            b.SetPixelFormat(from);
            b.SetSize(static_cast<int>(n), 3);
            for (size_t i = 0; i < n; ++i)
                b.SetPixelColor(static_cast<int>(i), 1, all[i]);
            b.SetPixelFormat(to);
            EXPECT_EQ(b.PixelFormat(), to);
            ASSERT_EQ(b.Width(), static_cast<int>(n));
            for (size_t i = 0; i < n; ++i)
                EXPECT_EQ(b.PixelColor(static_cast<int>(i), 1), all[i]);
        }
}

TEST(BitmapFormats, PaletteThatFitsIsKeptWithItsIndexes) {
    TBitmap b;
    b.SetPixelFormat(pf8bit);
    std::vector<RGBQUAD> odd(16);
    for (uint8_t i = 0; i < 16; ++i)
        odd[i] = {static_cast<uint8_t>(i + 1), 2, 3, 0};
    b.SetColorTable(odd);
    b.SetSize(16, 1);
    for (int x = 0; x < 16; ++x)
        b.ScanLine(0)[x] = static_cast<uint8_t>(15 - x);
    b.SetPixelFormat(pf4bit);
    EXPECT_EQ(b.ColorTable(), odd);
    for (int x = 0; x < 16; ++x)
        EXPECT_EQ(b.PixelColor(x, 0), RGB(3, 2, 16 - x));
}

TEST(BitmapSize, ResizingKeepsTheTopLeftAndFillsWithTheBrush) {
    for (const TPixelFormat f : {pf4bit, pf24bit, pf16bit}) {
        SCOPED_TRACE(f);
        TBitmap b;
        b.SetPixelFormat(f);
        b.SetSize(4, 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                b.SetPixelColor(x, y, (x + y) % 2 ? clRed : clBlue);
        b.SetWidth(6);
        b.SetHeight(5);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) {
                const TColor expected = x >= 4 || y >= 3 ? clWhite : (x + y) % 2 ? clRed : clBlue;
                ASSERT_EQ(b.PixelColor(x, y), expected) << x << "," << y;
            }
        b.Canvas().Brush.Color = clLime;
        b.SetSize(2, 6);
        EXPECT_EQ(b.PixelColor(1, 0), clRed);
        EXPECT_EQ(b.PixelColor(1, 4), clWhite);
        EXPECT_EQ(b.PixelColor(0, 5), clLime);
    }
}

namespace {

// Every bit of a row past its last pixel is zero.
void ExpectZeroPadding(const TBitmap& b) {
    const auto bits = static_cast<size_t>(b.Width()) * static_cast<size_t>(b.BitsPerPixel());
    for (int y = 0; y < b.Height(); ++y) {
        const uint8_t* row = b.ScanLine(y);
        if (bits % 8 != 0) {
            ASSERT_EQ(row[bits / 8] & (0xFF >> bits % 8), 0) << y;
        }
        for (auto i = (bits + 7) / 8; i < static_cast<size_t>(b.RowBytes()); ++i)
            ASSERT_EQ(row[i], 0) << y << "," << i;
    }
}

} // namespace

// A new picture is the brush colour in every pixel and zero in every padding bit, whatever the
// memory held before.
TEST(BitmapSize, ANewPictureIsFilledWholePaddingIncluded) {
    for (const TPixelFormat f : AllFormats) {
        SCOPED_TRACE(f);
        bmp_bytes::LeaveDirtyMemory(f, 5, 40);
        TBitmap b;
        b.SetPixelFormat(f);
        b.Canvas().Brush.Color = clRed;
        b.SetSize(5, 40);
        for (int y = 0; y < 40; ++y)
            ASSERT_EQ(std::memcmp(b.ScanLine(y), b.ScanLine(0), static_cast<size_t>(b.RowBytes())),
                      0)
                << y;
        ExpectZeroPadding(b);
        EXPECT_EQ(b.PixelColor(4, 39), b.PixelColor(0, 0));

        // Grown, the kept part stays and the rest is new picture, padding zero again.
        const TColor kept = b.PixelColor(0, 0);
        b.Canvas().Brush.Color = clBlue;
        bmp_bytes::LeaveDirtyMemory(f, 7, 41);
        b.SetSize(7, 41);
        ExpectZeroPadding(b);
        EXPECT_EQ(b.PixelColor(4, 39), kept);
        EXPECT_EQ(b.PixelColor(6, 0), b.PixelColor(0, 40));

        // Converted, into memory that held other bytes: the padding is zero too.
        const TPixelFormat other = f == pf4bit ? pf1bit : pf4bit;
        bmp_bytes::LeaveDirtyMemory(other, 7, 41);
        b.SetPixelFormat(other);
        ExpectZeroPadding(b);
    }
}

TEST(BitmapSize, LimitsAndScanLines) {
    TBitmap b;
    EXPECT_TRUE(b.Empty());
    EXPECT_THROW(b.ScanLine(0), EInvalidGraphicOperation);
    b.SetPixelFormat(pf32bit);
    EXPECT_THROW(b.SetSize(INT32_MAX, INT32_MAX), EOutOfResources);
    EXPECT_TRUE(b.Empty()); // a refused size leaves the bitmap as it was
    b.SetSize(3, 2);
    EXPECT_EQ(b.RowBytes(), 12);
    EXPECT_THROW(b.ScanLine(2), EInvalidGraphicOperation);
    EXPECT_THROW(b.ScanLine(-1), EInvalidGraphicOperation);
    EXPECT_THROW(b.SetPixelFormat(pfCustom), EInvalidGraphic);
    EXPECT_EQ(b.PixelFormat(), pf32bit);
}

TEST(BitmapHandles, DeviceBitmapsAreStoredAs24Bits) {
    TBitmap b;
    EXPECT_EQ(b.HandleType(), bmDDB);
    b.SetSize(2, 1);
    b.SetPixelColor(1, 0, clRed);
    b.SetHandleType(bmDIB);
    EXPECT_EQ(b.PixelFormat(), pf24bit);
    EXPECT_EQ(b.PixelColor(1, 0), clRed);
    b.SetPixelFormat(pf8bit);
    EXPECT_EQ(b.HandleType(), bmDIB);
    b.SetHandleType(bmDDB);
    EXPECT_EQ(b.PixelFormat(), pfDevice);
    EXPECT_EQ(b.PixelColor(1, 0), clRed);
}

TEST(BitmapAssign, DeepCopyWithOneChange) {
    TBitmap a;
    MakeMarked(a, 2, 2, 0, 0);
    TBitmap b;
    int changes = 0;
    b.OnChange = [&](TObject*) { ++changes; };
    b.Assign(a);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(b.PixelFormat(), pf8bit);
    EXPECT_TRUE(b.Transparent());
    EXPECT_EQ(b.TransparentColor(), clBlue);
    b.SetPixelColor(0, 0, clLime);
    EXPECT_EQ(a.PixelColor(0, 0), clRed);
    b.Assign(nullptr);
    EXPECT_TRUE(b.Empty());
}

TEST(BitmapAssign, TakeOverGivesWhatAssignGivesAndEmptiesTheSource) {
    TBitmap a;
    MakeMarked(a, 3, 2, 2, 1);
    TBitmap copied;
    copied.Assign(a);
    TBitmap taken;
    taken.SetPixelFormat(pf24bit);
    taken.SetSize(5, 5);
    int changes = 0;
    taken.OnChange = [&](TObject*) { ++changes; };
    taken.TakeOver(a);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(a.Empty());
    EXPECT_EQ(taken.PixelFormat(), pf8bit);
    EXPECT_EQ(taken.Width(), 3);
    EXPECT_EQ(taken.Height(), 2);
    EXPECT_EQ(taken.ColorTable().size(), copied.ColorTable().size());
    for (int y = 0; y < 2; ++y)
        EXPECT_EQ(0, std::memcmp(taken.ScanLine(y), copied.ScanLine(y), 4)) << y;
    EXPECT_TRUE(taken.Transparent());
    EXPECT_EQ(taken.TransparentColor(), clBlue);
    taken.TakeOver(taken);
    EXPECT_EQ(taken.PixelColor(2, 1), clRed);
}

TEST(BitmapTransparency, AutomaticColourIsTheBottomLeftPixelUntilFixed) {
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(3, 3);
    b.SetPixelColor(0, 2, clRed);
    EXPECT_EQ(b.TransparentMode(), tmAuto);
    EXPECT_EQ(b.TransparentColor(), clRed);
    b.SetTransparentColor(clLime);
    EXPECT_EQ(b.TransparentMode(), tmFixed);
    EXPECT_EQ(b.TransparentColor(), clLime);
    b.SetTransparentMode(tmAuto);
    EXPECT_EQ(b.TransparentColor(), clRed);
    int changes = 0;
    b.OnChange = [&](TObject*) { ++changes; };
    b.SetTransparent(true);
    b.SetTransparent(true);
    EXPECT_EQ(changes, 1);
}

TEST(PaletteHandles, CreateReadAndDelete) {
    LOGPALETTE lp;
    lp.palPalEntry = {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}};
    const HPALETTE h = CreatePalette(lp);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(GetPaletteEntries(h, 0, 0, nullptr), 3u);
    PALETTEENTRY e[4] = {};
    EXPECT_EQ(GetPaletteEntries(h, 1, 4, e), 2u);
    EXPECT_EQ(e[0], (PALETTEENTRY{40, 50, 60, 0}));
    EXPECT_EQ(e[1], (PALETTEENTRY{70, 80, 90, 0}));
    EXPECT_EQ(GetPaletteEntries(h, 3, 1, e), 0u);
    EXPECT_TRUE(DeleteObject(h));
    EXPECT_FALSE(DeleteObject(h));
    EXPECT_EQ(GetPaletteEntries(h, 0, 0, nullptr), 0u);
    lp.palVersion = 0x200;
    EXPECT_EQ(CreatePalette(lp), 0u);
}

TEST(PaletteHandles, APaletteHandedToABitmapBecomesItsOwn) {
    LOGPALETTE lp;
    lp.palPalEntry = {{255, 0, 0, 0}, {0, 0, 255, 0}};
    const HPALETTE h = CreatePalette(lp);
    {
        TBitmap b;
        b.SetPixelFormat(pf1bit);
        b.SetPalette(h);
        EXPECT_EQ(b.Palette(), h);
        EXPECT_EQ(b.ColorTable()[1], (RGBQUAD{255, 0, 0, 0}));
        EXPECT_FALSE(DeleteObject(h)); // the bitmap's now
        EXPECT_EQ(GetPaletteEntries(h, 0, 0, nullptr), 2u);

        // Another bitmap copies the entries; the first keeps its handle.
        TBitmap other;
        other.SetPixelFormat(pf8bit);
        other.SetPalette(b.Palette());
        EXPECT_EQ(other.ColorTable(), b.ColorTable());
        EXPECT_NE(other.Palette(), h);
        EXPECT_EQ(GetPaletteEntries(h, 0, 0, nullptr), 2u);

        // A new table retires the old handle.
        b.SetColorTable({{1, 2, 3, 0}, {4, 5, 6, 0}});
        EXPECT_EQ(GetPaletteEntries(h, 0, 0, nullptr), 0u);
        const HPALETTE own = b.Palette();
        PALETTEENTRY e{};
        EXPECT_EQ(GetPaletteEntries(own, 1, 1, &e), 1u);
        EXPECT_EQ(e, (PALETTEENTRY{6, 5, 4, 0}));
        EXPECT_FALSE(DeleteObject(own));
    }
    // A palette with more entries than the format holds is cut and freed.
    lp.palPalEntry.assign(300, {1, 1, 1, 0});
    const HPALETTE big = CreatePalette(lp);
    TBitmap b;
    b.SetPixelFormat(pf8bit);
    b.SetPalette(big);
    EXPECT_EQ(b.ColorTable().size(), 256u);
    EXPECT_EQ(GetPaletteEntries(big, 0, 0, nullptr), 0u);
    EXPECT_EQ(GetPaletteEntries(b.Palette(), 0, 0, nullptr), 256u);
}

TEST(PaletteHandles, BitmapFreesItsPaletteWhenItGoes) {
    HPALETTE h = 0;
    {
        TBitmap b;
        b.SetPixelFormat(pf4bit);
        h = b.Palette();
        EXPECT_EQ(GetPaletteEntries(h, 0, 0, nullptr), 16u);
    }
    EXPECT_EQ(GetPaletteEntries(h, 0, 0, nullptr), 0u);
}
