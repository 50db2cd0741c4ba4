// Drawing the drops and the emission spot; trace stamps and shading on the trace bitmap.
#include "MV_X/main.h"
#include "common/Qmlib2002.h"
#include "platform/rtl/System.h"

#include <algorithm>
#include <cstring>

namespace {

// The drop's block of the rectangle's size at (X, Y), clipped to the bitmap; False when empty.
// Right and bottom are inclusive; the emptiness test is the platform's.
bool ShadeBlock(int32_t X, int32_t Y, const TRect& R, const TBitmap& Bitmap, TRect& block) {
    const TRect bounds = Rect(0, 0, Bitmap.Width() - 1, Bitmap.Height() - 1);
    TRect size;
    if (!IntersectRect(size, R, bounds)) return false;
    const TRect placed = Rect(X, Y, X + size.Right - size.Left, Y + size.Bottom - size.Top);
    return IntersectRect(block, placed, bounds);
}

// Sixteen bytes at a time: shading runs for every drop that sticks, over blocks of the
// sprite's size plus one.
using Bytes16 = uint8_t __attribute__((vector_size(16)));

template <class Op>
void ForEachByte(const TRect& block, TBitmap& Bitmap, Op op) {
    const size_t count = 3 * static_cast<size_t>(block.Right - block.Left + 1);
    for (int y = block.Top; y <= block.Bottom; ++y) {
        uint8_t* p = Bitmap.ScanLine(y) + 3 * static_cast<size_t>(block.Left);
        size_t k = 0;
        for (; k + sizeof(Bytes16) <= count; k += sizeof(Bytes16)) {
            Bytes16 v;
            std::memcpy(&v, p + k, sizeof v);
            v = op(v);
            std::memcpy(p + k, &v, sizeof v);
        }
        for (; k < count; ++k) {
            Bytes16 v{p[k]};
            p[k] = op(v)[0];
        }
    }
}

void SubtractBytes(const TRect& block, TBitmap& Bitmap, uint8_t a) {
    const Bytes16 amount = Bytes16{} + a;
    ForEachByte(block, Bitmap,
                [amount](Bytes16 v) -> Bytes16 { return v > amount ? v - amount : Bytes16{}; });
}

void AddBytes(const TRect& block, TBitmap& Bitmap, uint8_t a) {
    const Bytes16 amount = Bytes16{} + a;
    const Bytes16 limit = Bytes16{} + static_cast<uint8_t>(255 - a);
    ForEachByte(block, Bitmap, [amount, limit](Bytes16 v) -> Bytes16 {
        return v < limit ? v + amount : Bytes16{} + static_cast<uint8_t>(255);
    });
}

} // namespace

void TMainForm::DrawDrops() {
    TBitmap& screen = ScreenBitmap();
    const TBitmap& sprite = *FEkiBitmap;
    const int flyingColour = ui.HEkiRadioGroup->ItemIndex();
    const int dripColour = ui.SitatariIroRadioGroup->ItemIndex();
    for (int i = 0; i < FDropsInUse; ++i) {
        const TDrop& d = FDrops[i];
        if (d.State == 0) continue;
        int32_t level;
        if (d.State == 1) {
            switch (flyingColour) {
            case 0:
                level = 240 + Random(10);
                break;
            case 1:
                level = 205 + Random(10);
                break;
            case 2:
                level = d.Alpha;
                break;
            default:
                continue;
            }
        } else {
            switch (dripColour) {
            case 0:
                level = d.Alpha > 235 ? d.Alpha : 235 + Random(10);
                break;
            case 1:
                level = d.Alpha > 215 ? d.Alpha : 215 + Random(10);
                break;
            case 2:
                level = d.Alpha;
                break;
            default:
                continue;
            }
        }
        BlendBitmap24(d.X, d.Y, screen, screen, sprite, static_cast<uint16_t>(level));
    }
}

void TMainForm::DrawPositionCursor() {
    if (FShowPosition) KeyedCopy(FPosX, FPosY, Rect(0, 0, 31, 31), ScreenBitmap(), *FSpotBitmap);
}

void TMainForm::Stamp(int i, int32_t Level, const TBitmap& Base) {
    const TDrop& d = FDrops[i];
    BlendBitmap24(d.X, d.Y, *FTraceBitmap, Base, *FEkiBitmap, static_cast<uint16_t>(Level));
}

void TMainForm::ShadeDrop(int i, int32_t Amount) {
    const int32_t amount = EmitAmount();
    if (amount > 5 && Random(amount) > amount / 3) return;
    const TDrop& d = FDrops[i];
    const int32_t w = FEkiBitmap->Width(), h = FEkiBitmap->Height();
    const TRect r = Rect(0, 0, w, h);
    TBitmap& trace = *FTraceBitmap;
    DarkenRect(d.X, d.Y, r, trace, 2 * Amount);
    DarkenRect(d.X, d.Y - h, r, trace, Amount);
    DarkenRect(d.X - w, d.Y, r, trace, Amount);
    DarkenRect(d.X + w, d.Y, r, trace, Amount);
    DarkenRect(d.X, d.Y + h, r, trace, Amount);
    LightenRect(d.X, d.Y, Rect(0, 0, 2, 2), trace, 3 * Amount);
}

void TMainForm::DarkenRect(int32_t X, int32_t Y, const TRect& R, TBitmap& Bitmap, int32_t Amount) {
    if (Amount < 1) return;
    TRect block;
    if (!ShadeBlock(X, Y, R, Bitmap, block)) return;
    SubtractBytes(block, Bitmap, static_cast<uint8_t>(std::min(Amount, 255)));
}

void TMainForm::LightenRect(int32_t X, int32_t Y, const TRect& R, TBitmap& Bitmap, int32_t Amount) {
    if (Amount < 1) return;
    TRect block;
    if (!ShadeBlock(X, Y, R, Bitmap, block)) return;
    AddBytes(block, Bitmap, static_cast<uint8_t>(std::min(Amount, 255)));
}
