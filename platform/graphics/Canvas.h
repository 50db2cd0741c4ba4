// TCanvas: drawing on a bitmap with a pen and a brush.
#pragma once

#include "platform/graphics/Types.h"

#include <cstdint>

class TBitmap;
class TGraphic;

enum TBrushStyle { bsSolid, bsClear };
enum TFillStyle { fsSurface, fsBorder };

struct TPen {
    TColor Color = clBlack;
    int Width = 1;
};

struct TBrush {
    TColor Color = clWhite;
    TBrushStyle Style = bsSolid;
};

class TCanvas {
public:
    explicit TCanvas(TBitmap& bitmap) : bitmap_(bitmap) {}
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    TBitmap& Bitmap() const { return bitmap_; }

    TPen Pen;
    TBrush Brush;
    TPoint PenPos;

    TColor Pixels(int x, int y) const; // -1 outside the bitmap
    void SetPixels(int x, int y, TColor color);

    // The rectangle's right and bottom lie outside it, as the platform's.
    void FillRect(const TRect& rect);
    void MoveTo(int x, int y);
    // A line from PenPos to (X, Y), without its end point for a pen 1 wide; wider pens are
    // round-ended. PenPos moves to (X, Y).
    void LineTo(int x, int y);

    // Draws a graphic at its own size; a transparent bitmap skips its transparent colour.
    void Draw(int x, int y, const TGraphic& graphic);
    // Draws a graphic scaled to the rectangle (nearest neighbour).
    void StretchDraw(const TRect& rect, const TGraphic& graphic);

    // fsSurface: fills the 4-connected area of pixels of Color around (X, Y) with the brush;
    // fsBorder: fills up to pixels of Color.
    void FloodFill(int x, int y, TColor color, TFillStyle style);

private:
    void FillDisc(int64_t cx, int64_t cy, int diameter, uint32_t value);
    void Plot(int64_t x, int64_t y, uint32_t value);
    bool CopySpans(const TRect& rect, const TRect& clip, const TBitmap& source);
    void CopyPixels(const TRect& rect, const TRect& clip, const TBitmap& source);
    TBitmap& bitmap_;
};
