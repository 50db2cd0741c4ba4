// The part colour table and the conversions between masks and colour bitmaps.
#include "MV_X/MaskColors.h"

#include "platform/graphics/Bitmap.h"
#include "platform/rtl/Exceptions.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

std::unique_ptr<TBitmap> Bitmap(int w, int h, TPixelFormat format) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(format);
    b->SetSize(w, h);
    return b;
}

} // namespace

TEST(MaskColorsTest, EveryValueHasItsColourAndOnlyPaintColoursReadBack) {
    const auto mask = Bitmap(256, 1, pf8bit);
    for (int x = 0; x < 256; ++x)
        mask->ScanLine(0)[x] = static_cast<uint8_t>(x);
    const auto colors = Bitmap(257, 1, pf24bit);
    MaskToColors(*mask, *colors);
    const TColor rgb[8] = {RGB(0, 0, 0),     RGB(250, 0, 0),    RGB(0, 250, 0),
                           RGB(0, 0, 250),   RGB(250, 250, 0),  RGB(250, 0, 250),
                           RGB(0, 250, 250), RGB(250, 250, 250)};
    for (int v = 0; v < 256; ++v)
        ASSERT_EQ(colors->PixelColor(v, 0), v < 8 ? rgb[v] : RGB(255, 255, 255)) << v;
    // Back again: parts keep their value; white and any near colour become nothing.
    colors->SetPixelColor(0, 0, RGB(0, 250, 251));
    ColorsToMask(*mask, *colors);
    for (int v = 0; v < 256; ++v)
        ASSERT_EQ(mask->ScanLine(0)[v], v > 0 && v < 8 ? v : 0) << v;
}

TEST(MaskColorsTest, BitmapsThatCannotHoldTheMaskAreRefused) {
    const auto mask = Bitmap(64, 8, pf8bit);
    const auto colors = Bitmap(64, 8, pf24bit);
    // A 1-bit "mask" has fewer bytes per row than pixels.
    EXPECT_THROW(MaskToColors(*Bitmap(64, 8, pf1bit), *colors), EInvalidGraphicOperation);
    for (const auto& small :
         {Bitmap(63, 8, pf24bit), Bitmap(64, 7, pf24bit), Bitmap(64, 8, pf8bit)}) {
        EXPECT_THROW(MaskToColors(*mask, *small), EInvalidGraphicOperation);
        EXPECT_THROW(ColorsToMask(*mask, *small), EInvalidGraphicOperation);
    }
}
