#include "MV_X/ColorFilter.h"

#include "common/Qmlib2002.h"
#include "platform/graphics/Bitmap.h"

namespace {

constexpr int FilterStep = 12;

void FillBitmap24(TBitmap& Bitmap, TColor Color) {
    const uint8_t b = GetBValue(Color), g = GetGValue(Color), r = GetRValue(Color);
    for (int y = 0; y < Bitmap.Height(); ++y) {
        uint8_t* p = Bitmap.ScanLine(y);
        for (int x = 0; x < Bitmap.Width(); ++x, p += 3) {
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
    }
}

} // namespace

uint8_t FilterChannel(int Position) {
    if (Position >= FilterBarMax) return 255;
    return static_cast<uint8_t>(Position * FilterStep);
}

TColor FilterColor(int R, int G, int B) {
    return RGB(FilterChannel(R), FilterChannel(G), FilterChannel(B));
}

void ApplyColorFilter(TBitmap& Image, const TBitmap& Base, int Strength, TColor Color) {
    TBitmap tint;
    tint.SetPixelFormat(pf24bit);
    tint.SetSize(Image.Width(), Image.Height());
    FillBitmap24(tint, Color);
    if (Strength <= 0)
        CopyBitmap24(Image, Base);
    else if (Strength >= FilterBarMax)
        Image.Assign(&tint);
    else
        BlendBitmap24(0, 0, Image, tint, Base, static_cast<uint16_t>(Strength * FilterStep));
}
