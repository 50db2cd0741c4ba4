#include "platform/graphics/Canvas.h"

#include "platform/graphics/Bitmap.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<TBitmap> Filled(int w, int h, TColor color, TPixelFormat f = pf24bit) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(f);
    b->Canvas().Brush.Color = color;
    b->SetSize(w, h);
    return b;
}

std::vector<TPoint> PixelsOf(const TBitmap& b, TColor color) {
    std::vector<TPoint> out;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x)
            if (b.PixelColor(x, y) == color) out.push_back({x, y});
    return out;
}

// Distance from the centre of pixel (x, y) to the segment a-b.
double Distance(int x, int y, TPoint a, TPoint b) {
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    const double len2 = dx * dx + dy * dy;
    const double t = len2 == 0 ? 0 : std::clamp(((x - a.X) * dx + (y - a.Y) * dy) / len2, 0.0, 1.0);
    return std::hypot(x - (a.X + t * dx), y - (a.Y + t * dy));
}

} // namespace

TEST(CanvasLines, ThinPenLeavesOutTheEndPoint) {
    auto b = Filled(10, 10, clWhite);
    TCanvas& c = b->Canvas();
    c.Pen.Color = clRed;
    c.MoveTo(1, 1);
    c.LineTo(5, 1);
    EXPECT_EQ(PixelsOf(*b, clRed), (std::vector<TPoint>{{1, 1}, {2, 1}, {3, 1}, {4, 1}}));
    EXPECT_EQ(c.PenPos, (TPoint{5, 1}));
    // The next segment starts where the last one stopped short, so a polyline has no gap.
    c.LineTo(5, 4);
    EXPECT_EQ(b->PixelColor(5, 1), clRed);
    EXPECT_EQ(b->PixelColor(5, 3), clRed);
    EXPECT_EQ(b->PixelColor(5, 4), clWhite);
    c.MoveTo(0, 9);
    c.LineTo(3, 6); // a diagonal: one pixel per step
    EXPECT_EQ(b->PixelColor(1, 8), clRed);
    EXPECT_EQ(b->PixelColor(2, 7), clRed);
    EXPECT_EQ(b->PixelColor(3, 6), clWhite);
    c.LineTo(3, 6); // nothing for a point
    EXPECT_EQ(b->PixelColor(3, 6), clWhite);
}

TEST(CanvasLines, WidePenIsARoundPenDraggedAlong) {
    for (const int width : {3, 5}) {
        SCOPED_TRACE(width);
        const TPoint from{6, 8}, to{25, 14};
        auto b = Filled(32, 24, clWhite);
        TCanvas& c = b->Canvas();
        c.Pen.Color = clBlue;
        c.Pen.Width = width;
        c.MoveTo(from.X, from.Y);
        c.LineTo(to.X, to.Y);
        const double r = width / 2.0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 32; ++x) {
                const double d = Distance(x, y, from, to);
                // Within the pen's reach of the path (both ends included), painted; further
                // than a pixel beyond it, untouched.
                const TColor got = b->PixelColor(x, y);
                if (d <= r - 0.5) {
                    ASSERT_EQ(got, clBlue) << x << "," << y;
                } else if (d > r + 0.75) {
                    ASSERT_EQ(got, clWhite) << x << "," << y;
                }
            }
        // Round ends: the corner of the pen's square beyond the end stays clear for pen 5.
        if (width == 5) {
            EXPECT_EQ(b->PixelColor(to.X + 2, to.Y + 2), clWhite);
        }
    }
}

TEST(CanvasFill, FillRectUsesTheBrushAndLeavesRightAndBottomOut) {
    auto b = Filled(5, 5, clWhite, pf8bit);
    TCanvas& c = b->Canvas();
    c.Brush.Color = clRed;
    c.FillRect(Rect(1, 1, 3, 4));
    EXPECT_EQ(PixelsOf(*b, clRed).size(), 6u);
    EXPECT_EQ(b->PixelColor(3, 1), clWhite);
    EXPECT_EQ(b->PixelColor(1, 4), clWhite);
    c.Brush.Style = bsClear;
    c.FillRect(Rect(0, 0, 5, 5));
    EXPECT_EQ(PixelsOf(*b, clRed).size(), 6u);
    c.Brush.Style = bsSolid;
    c.FillRect(Rect(-10, -10, 100, 100)); // clipped
    EXPECT_EQ(PixelsOf(*b, clRed).size(), 25u);
}

TEST(CanvasFill, SurfaceFillStopsAtEveryOtherColour) {
    // A region of black bounded by pixels of several colours, and a black pixel touching it
    // only diagonally.
    auto b = Filled(8, 6, clBlack);
    const TColor walls[] = {clRed, RGB(0, 0, 1), clWhite, RGB(1, 0, 0)};
    for (int x = 0; x < 8; ++x)
        b->SetPixelColor(x, 3, walls[x % 4]);
    for (int y = 0; y < 3; ++y)
        b->SetPixelColor(4, y, walls[y]);
    b->SetPixelColor(5, 3, clBlack);      // a gap in the wall: the fill goes through it
    b->SetPixelColor(3, 4, RGB(9, 9, 9)); // under the wall, diagonal to nothing in the area
    TCanvas& c = b->Canvas();
    c.Brush.Color = RGB(0, 250, 250);
    int changes = 0;
    b->OnChange = [&](TObject*) { ++changes; };
    c.FloodFill(0, 0, clBlack, fsSurface);
    EXPECT_EQ(changes, 1);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(b->PixelColor(x, y), RGB(0, 250, 250));
    EXPECT_EQ(b->PixelColor(4, 1), walls[1]);
    EXPECT_EQ(b->PixelColor(5, 0), clBlack); // beyond the wall, not 4-connected
    EXPECT_EQ(b->PixelColor(0, 4), clBlack);
    // Through the gap at (5, 3) the area below the wall is reached from the right side.
    c.FloodFill(5, 0, clBlack, fsSurface);
    EXPECT_EQ(b->PixelColor(0, 5), RGB(0, 250, 250));
    EXPECT_EQ(b->PixelColor(3, 4), RGB(9, 9, 9));

    // A fill on the colour it already has, or from a pixel of another colour, changes nothing.
    changes = 0;
    c.FloodFill(0, 0, RGB(0, 250, 250), fsSurface);
    c.FloodFill(0, 0, clRed, fsSurface);
    EXPECT_EQ(changes, 0);
}

TEST(CanvasFill, BorderFillAndPaletteBitmaps) {
    auto b = Filled(6, 6, clWhite, pf4bit);
    TCanvas& c = b->Canvas();
    c.Pen.Color = clRed;
    c.MoveTo(0, 3);
    c.LineTo(6, 3);
    c.Brush.Color = clBlue;
    c.FloodFill(2, 1, clRed, fsBorder);
    EXPECT_EQ(b->PixelColor(5, 0), clBlue);
    EXPECT_EQ(b->PixelColor(0, 3), clRed);
    EXPECT_EQ(b->PixelColor(0, 4), clWhite);
    // A colour named by palette index (the default 16 colours: 12 is blue).
    c.Brush.Color = clLime;
    c.FloodFill(0, 0, 0x0100000C, fsSurface);
    EXPECT_EQ(b->PixelColor(5, 2), clLime);
}

TEST(CanvasDraw, DrawsClippedAndSkipsTheTransparentColour) {
    auto src = Filled(3, 3, clRed);
    src->SetPixelColor(1, 1, clLime);
    auto dst = Filled(4, 4, clWhite);
    dst->Canvas().Draw(2, -1, *src);
    EXPECT_EQ(dst->PixelColor(2, 0), clRed);
    EXPECT_EQ(dst->PixelColor(3, 0), clLime);
    EXPECT_EQ(dst->PixelColor(3, 1), clRed);
    EXPECT_EQ(dst->PixelColor(1, 0), clWhite);
    EXPECT_EQ(dst->PixelColor(2, 2), clWhite);

    // Transparent: the automatic key is the bottom-left pixel (red here), or a fixed colour.
    src->SetTransparent(true);
    auto keyed = Filled(3, 3, clWhite);
    keyed->Canvas().Draw(0, 0, *src);
    EXPECT_EQ(PixelsOf(*keyed, clWhite).size(), 8u);
    EXPECT_EQ(keyed->PixelColor(1, 1), clLime);
    src->SetTransparentColor(clLime);
    keyed = Filled(3, 3, clWhite);
    keyed->Canvas().Draw(0, 0, *src);
    EXPECT_EQ(PixelsOf(*keyed, clRed).size(), 8u);
    EXPECT_EQ(keyed->PixelColor(1, 1), clWhite);

    // A 16-bit source keys on its own rounding of the colour.
    auto shallow = Filled(2, 1, RGB(250, 2, 2), pf16bit);
    shallow->SetPixelColor(1, 0, clBlue);
    shallow->SetTransparent(true);
    shallow->SetTransparentColor(RGB(250, 2, 2));
    auto onto = Filled(2, 1, clWhite);
    onto->Canvas().Draw(0, 0, *shallow);
    EXPECT_EQ(onto->PixelColor(0, 0), clWhite);
    EXPECT_EQ(onto->PixelColor(1, 0), clBlue);
}

TEST(CanvasDraw, StretchDrawIsNearestNeighbourBetweenFormats) {
    auto src = Filled(2, 2, clRed, pf8bit);
    src->SetPixelColor(1, 0, clLime);
    src->SetPixelColor(0, 1, clBlue);
    auto dst = Filled(5, 5, clBlack);
    dst->Canvas().StretchDraw(Rect(1, 1, 5, 5), *src);
    EXPECT_EQ(dst->PixelColor(0, 0), clBlack);
    EXPECT_EQ(dst->PixelColor(2, 2), clRed);
    EXPECT_EQ(dst->PixelColor(3, 1), clLime);
    EXPECT_EQ(dst->PixelColor(4, 2), clLime);
    EXPECT_EQ(dst->PixelColor(2, 4), clBlue);
    EXPECT_EQ(dst->PixelColor(4, 4), clRed);

    // Shrinking takes every other pixel from the top-left.
    auto big = Filled(4, 4, clWhite);
    big->SetPixelColor(2, 2, clBlue);
    auto small = Filled(2, 2, clBlack);
    small->Canvas().StretchDraw(Rect(0, 0, 2, 2), *big);
    EXPECT_EQ(small->PixelColor(1, 1), clBlue);
    EXPECT_EQ(PixelsOf(*small, clWhite).size(), 3u);

    // Onto itself, shifted: as if from a copy.
    auto self = Filled(1, 3, clRed);
    self->SetPixelColor(0, 1, clLime);
    self->SetPixelColor(0, 2, clBlue);
    self->Canvas().Draw(0, 1, *self);
    EXPECT_EQ(self->PixelColor(0, 1), clRed);
    EXPECT_EQ(self->PixelColor(0, 2), clLime);
}

TEST(CanvasDraw, SameSizeDrawsKeepColoursAcrossTablesAndFormats) {
    auto src = Filled(2, 2, clRed, pf8bit);
    src->SetPixelColor(1, 1, clBlue);
    auto dst = Filled(2, 2, clWhite, pf8bit);
    std::vector<RGBQUAD> reversed = dst->ColorTable();
    std::reverse(reversed.begin(), reversed.end());
    dst->SetColorTable(reversed);
    dst->Canvas().Draw(0, 0, *src);
    EXPECT_EQ(dst->PixelColor(0, 0), clRed);
    EXPECT_EQ(dst->PixelColor(1, 1), clBlue);

    auto device = Filled(3, 1, clWhite, pfDevice);
    auto wide = Filled(2, 1, clLime, pf32bit);
    device->Canvas().Draw(1, 0, *wide);
    EXPECT_EQ(device->PixelColor(0, 0), clWhite);
    EXPECT_EQ(device->PixelColor(2, 0), clLime);
}

TEST(CanvasPixels, ReadAndWriteInsideOnly) {
    auto b = Filled(2, 2, clWhite, pf1bit);
    TCanvas& c = b->Canvas();
    EXPECT_EQ(c.Pixels(-1, 0), -1);
    EXPECT_EQ(c.Pixels(2, 0), -1);
    c.SetPixels(1, 1, clBlack);
    c.SetPixels(5, 5, clBlack);
    EXPECT_EQ(c.Pixels(1, 1), clBlack);
    EXPECT_EQ(c.Pixels(0, 1), clWhite);
}
