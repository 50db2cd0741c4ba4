#include "MV_X/MaskColors.h"

#include "platform/graphics/Bitmap.h"
#include "platform/rtl/Exceptions.h"

namespace {

struct Bgr {
    uint8_t b, g, r;
};

constexpr Bgr BgrOf(TColor c) {
    return {GetBValue(c), GetGValue(c), GetRValue(c)};
}

// Colour of every byte value, so the row loop does one lookup per pixel.
constexpr std::array<Bgr, 256> ValueColors = [] {
    std::array<Bgr, 256> table{};
    for (int v = 0; v < 256; ++v)
        table[v] = BgrOf(v < PartColorCount ? PartColors[v] : NoPartColor);
    return table;
}();

// Both bitmaps must hold Mask's rows in full: a mask of fewer bits per pixel, or a colour
// bitmap smaller than the mask, would let the row loops run past their rows.
void RequireCover(const TBitmap& Mask, const TBitmap& Colors) {
    const int w = Mask.Width();
    if (w == 0 || Mask.Height() == 0) return;
    if (w > Mask.RowBytes() || Colors.PixelFormat() != pf24bit || Colors.Width() < w ||
        Colors.Height() < Mask.Height())
        throw EInvalidGraphicOperation(Msg::ScanLineError);
}

} // namespace

std::optional<uint8_t> PartOfColor(TColor Color) {
    for (int v = 0; v < PartColorCount; ++v)
        if (PartColors[v] == Color) return static_cast<uint8_t>(v);
    return std::nullopt;
}

void MaskToColors(const TBitmap& Mask, TBitmap& Colors) {
    RequireCover(Mask, Colors);
    const int w = Mask.Width();
    for (int y = 0; y < Mask.Height(); ++y) {
        const uint8_t* m = Mask.ScanLine(y);
        uint8_t* c = Colors.ScanLine(y);
        for (int x = 0; x < w; ++x, c += 3) {
            const Bgr& k = ValueColors[m[x]];
            c[0] = k.b;
            c[1] = k.g;
            c[2] = k.r;
        }
    }
}

void ColorsToMask(TBitmap& Mask, const TBitmap& Colors) {
    RequireCover(Mask, Colors);
    const int w = Mask.Width();
    for (int y = 0; y < Mask.Height(); ++y) {
        uint8_t* m = Mask.ScanLine(y);
        const uint8_t* c = Colors.ScanLine(y);
        for (int x = 0; x < w; ++x, c += 3)
            m[x] = PartOfColor(RGB(c[2], c[1], c[0])).value_or(0);
    }
}
