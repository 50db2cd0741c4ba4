#include "common/Qmlib2002.h"

#include <algorithm>
#include <cstring>

namespace {

// Intersection of two inclusive rectangles; empty when Left > Right or Top > Bottom.
TRect IntersectInclusive(const TRect& a, const TRect& b) {
    return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
            std::min(a.Bottom, b.Bottom)};
}

bool IsEmptyInclusive(const TRect& r) {
    return r.Left > r.Right || r.Top > r.Bottom;
}

TRect Extent(const TBitmap& bitmap) {
    return {0, 0, bitmap.Width() - 1, bitmap.Height() - 1};
}

// Corners are computed in 64 bits: X plus a sprite's width may pass the 32-bit range.
TRect PlacedAt(int64_t x, int64_t y, int64_t width, int64_t height) {
    const auto clamp = [](int64_t v) {
        return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
    };
    return {clamp(x), clamp(y), clamp(x + width - 1), clamp(y + height - 1)};
}

// Only the low 8 bits of o + floor(level * (b - o) / 256) are kept, and they are bits 8 to 15
// of the product, which 16-bit wrapping arithmetic gives exactly for every level and the
// arithmetic shift of the signed product would give too.
inline uint8_t BlendByte(uint8_t b, uint8_t o, uint16_t level) {
    const auto product = static_cast<uint16_t>(level * static_cast<uint16_t>(b - o));
    return static_cast<uint8_t>(o + (product >> 8));
}

using Bytes16 = uint8_t __attribute__((vector_size(16)));
using Words16 = uint16_t __attribute__((vector_size(32)));

// Dest may be Base itself: each byte is read before it is written.
void BlendBytes(uint8_t* d, const uint8_t* b, const uint8_t* o, size_t count, uint16_t level) {
    size_t c = 0;
    for (; c + 16 <= count; c += 16) {
        Bytes16 bv, ov;
        std::memcpy(&bv, b + c, 16);
        std::memcpy(&ov, o + c, 16);
        const Words16 bw = __builtin_convertvector(bv, Words16);
        const Words16 ow = __builtin_convertvector(ov, Words16);
        const Words16 product = level * (bw - ow);
        const Bytes16 result = __builtin_convertvector(ow + (product >> 8), Bytes16);
        std::memcpy(d + c, &result, 16);
    }
    for (; c < count; ++c)
        d[c] = BlendByte(b[c], o[c], level);
}

} // namespace

int32_t GetMaskValue(const TBitmap& Bitmap, int32_t X, int32_t Y) {
    if (!PtInRect(Rect(0, 0, Bitmap.Width(), Bitmap.Height()), Point(X, Y))) return 0;
    return Bitmap.ScanLine(Y)[X];
}

void KeyedCopy(int32_t X, int32_t Y, const TRect& SrcRect, TBitmap& Dest, const TBitmap& Src) {
    const TRect s = IntersectInclusive(SrcRect, Extent(Src));
    if (IsEmptyInclusive(s)) return;
    const TRect placed =
        PlacedAt(X, Y, int64_t{s.Right} - s.Left + 1, int64_t{s.Bottom} - s.Top + 1);
    const TRect d = IntersectInclusive(placed, Extent(Dest));
    if (IsEmptyInclusive(d)) return;

    const uint8_t* key = Src.ScanLine(0);
    const uint8_t k0 = key[0], k1 = key[1], k2 = key[2];
    // Source column of Dest column x is x - X + s.Left; kept in 64 bits for far-off X.
    const int64_t dx = int64_t{s.Left} - X;
    const int64_t dy = int64_t{s.Top} - Y;
    for (int32_t y = d.Top; y <= d.Bottom; ++y) {
        const uint8_t* src = Src.ScanLine(static_cast<int32_t>(y + dy)) + 3 * (d.Left + dx);
        uint8_t* dst = Dest.ScanLine(y) + 3 * static_cast<int64_t>(d.Left);
        for (int32_t x = d.Left; x <= d.Right; ++x, src += 3, dst += 3) {
            if (src[0] == k0 && src[1] == k1 && src[2] == k2) continue;
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
    }
}

void CopyBitmap24(TBitmap& Dest, const TBitmap& Src) {
    const auto rowBytes = static_cast<size_t>(Dest.Width()) * 3;
    for (int32_t i = 0; i < Dest.Height(); ++i)
        std::memcpy(Dest.ScanLine(i), Src.ScanLine(i), rowBytes);
}

void BlendBitmap24(int32_t X, int32_t Y, TBitmap& Dest, const TBitmap& Base, const TBitmap& Overlay,
                   uint16_t Level) {
    const TRect r =
        IntersectInclusive(Extent(Base), PlacedAt(X, Y, Overlay.Width(), Overlay.Height()));
    if (IsEmptyInclusive(r) || Level == 0) return;

    const auto count = static_cast<size_t>(r.Right - r.Left + 1) * 3;
    for (int32_t y = r.Top; y <= r.Bottom; ++y) {
        const uint8_t* b = Base.ScanLine(y) + 3 * static_cast<size_t>(r.Left);
        const uint8_t* o = Overlay.ScanLine(y - Y) + 3 * static_cast<size_t>(r.Left - X);
        BlendBytes(Dest.ScanLine(y) + 3 * static_cast<size_t>(r.Left), b, o, count, Level);
    }
}
