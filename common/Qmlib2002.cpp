#include "common/Qmlib2002.h"

#include "common/KRLPNG.h"
#include "platform/rtl/Exceptions.h"

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

// A bitmap handed in too small or of too few bits per pixel would let the row loops run past
// its rows; refuse it as the row access refuses a row outside the bitmap.
void RequireRowBytes(const TBitmap& bitmap, int64_t bytes) {
    if (bytes > bitmap.RowBytes()) throw EInvalidGraphicOperation(Msg::ScanLineError);
}

// Corners are computed in 64 bits: X plus a sprite's width may pass the 32-bit range.
TRect PlacedAt(int64_t x, int64_t y, int64_t width, int64_t height) {
    const auto clamp = [](int64_t v) {
        return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
    };
    return {clamp(x), clamp(y), clamp(x + width - 1), clamp(y + height - 1)};
}

// Only the low 8 bits of o + floor(level * (b - o) / 256) are kept. They are bits 8 to 15 of
// the product level * (b - o), which 16-bit wrapping arithmetic gives exactly for every level.
inline uint8_t BlendByte(uint8_t b, uint8_t o, uint16_t level) {
    const auto product = static_cast<uint16_t>(level * static_cast<uint16_t>(b - o));
    return static_cast<uint8_t>(o + (product >> 8));
}

// Pairs of bytes as 16-bit words: the even bytes are the low halves, the odd the high.
using Words16 = uint16_t __attribute__((vector_size(32)));
using Words8 = uint16_t __attribute__((vector_size(16)));

// Blends one block of sizeof(Words) bytes. In the high halves the sum of the high bytes of o and
// of the product is already the blended byte, modulo 256, so no widening is needed.
template <class Words>
inline void BlendBlock(uint8_t* d, const uint8_t* b, const uint8_t* o, uint16_t level) {
    Words bw, ow;
    std::memcpy(&bw, b, sizeof(Words));
    std::memcpy(&ow, o, sizeof(Words));
    const Words oEven = ow & 0x00FF;
    const Words even = (oEven + ((level * ((bw & 0x00FF) - oEven)) >> 8)) & 0x00FF;
    const Words odd = (ow & 0xFF00) + ((level * ((bw >> 8) - (ow >> 8))) & 0xFF00);
    const Words result = even | odd;
    std::memcpy(d, &result, sizeof(Words));
}

struct BlendRows {
    uint8_t* d;
    const uint8_t* b;
    const uint8_t* o;
    ptrdiff_t dStride, bStride, oStride;
    size_t count; // bytes per row
    int32_t rows;
};

// Dest may be Base itself: each byte is read before it is written. Whole pictures are blended
// here, so the build keeps a copy for wider vector units, picked once per call at run time.
__attribute__((target_clones("avx2", "default"))) void BlendAllRows(BlendRows r, uint16_t level) {
    for (int32_t i = 0; i < r.rows; ++i) {
        size_t c = 0;
        for (; c + sizeof(Words16) <= r.count; c += sizeof(Words16))
            BlendBlock<Words16>(r.d + c, r.b + c, r.o + c, level);
        // Sprite rows are short: a half block keeps a 16-pixel row out of the byte loop.
        if (c + sizeof(Words8) <= r.count) {
            BlendBlock<Words8>(r.d + c, r.b + c, r.o + c, level);
            c += sizeof(Words8);
        }
        for (; c < r.count; ++c)
            r.d[c] = BlendByte(r.b[c], r.o[c], level);
        r.d += r.dStride;
        r.b += r.bStride;
        r.o += r.oStride;
    }
}

} // namespace

int32_t GetMaskValue(const TBitmap& Bitmap, int32_t X, int32_t Y) {
    if (!PtInRect(Rect(0, 0, Bitmap.Width(), Bitmap.Height()), Point(X, Y))) return 0;
    RequireRowBytes(Bitmap, int64_t{X} + 1);
    return Bitmap.ScanLine(Y)[X];
}

void KeyedCopy(int32_t X, int32_t Y, const TRect& SrcRect, TBitmap& Dest, const TBitmap& Src) {
    const TRect s = IntersectInclusive(SrcRect, Extent(Src));
    if (IsEmptyInclusive(s)) return;
    const TRect placed =
        PlacedAt(X, Y, int64_t{s.Right} - s.Left + 1, int64_t{s.Bottom} - s.Top + 1);
    const TRect d = IntersectInclusive(placed, Extent(Dest));
    if (IsEmptyInclusive(d)) return;

    RequireRowBytes(Src, 3 * (int64_t{s.Right} + 1));
    RequireRowBytes(Dest, 3 * (int64_t{d.Right} + 1));
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
    if (Dest.Height() == 0) return;
    RequireRowBytes(Dest, static_cast<int64_t>(rowBytes));
    RequireRowBytes(Src, static_cast<int64_t>(rowBytes));
    for (int32_t i = 0; i < Dest.Height(); ++i)
        std::memcpy(Dest.ScanLine(i), Src.ScanLine(i), rowBytes);
}

void BlendBitmap24(int32_t X, int32_t Y, TBitmap& Dest, const TBitmap& Base, const TBitmap& Overlay,
                   uint16_t Level) {
    const TRect r =
        IntersectInclusive(Extent(Base), PlacedAt(X, Y, Overlay.Width(), Overlay.Height()));
    if (IsEmptyInclusive(r) || Level == 0) return;

    // Rows follow each other RowBytes apart: one row lookup per bitmap, then pointer steps.
    const auto count = static_cast<size_t>(r.Right - r.Left + 1) * 3;
    const int32_t rows = r.Bottom - r.Top + 1;
    const uint8_t* b = Base.ScanLine(r.Top) + 3 * static_cast<size_t>(r.Left);
    const uint8_t* o = Overlay.ScanLine(r.Top - Y) + 3 * static_cast<size_t>(r.Left - X);
    uint8_t* d = Dest.ScanLine(r.Top) + 3 * static_cast<size_t>(r.Left);
    RequireRowBytes(Base, 3 * (int64_t{r.Right} + 1));
    RequireRowBytes(Overlay, 3 * (int64_t{r.Right} - X + 1));
    RequireRowBytes(Dest, 3 * (int64_t{r.Right} + 1));
    Dest.ScanLine(r.Bottom); // Dest must reach the last row too
    BlendAllRows({d, b, o, Dest.RowBytes(), Base.RowBytes(), Overlay.RowBytes(), count, rows},
                 Level);
}

// ---------------------------------------------------------------- PNG file into a bitmap

bool LoadPNGToBitmap(const std::string& FileName, TBitmap& Bitmap) {
    std::string error;
    return LoadPNGToBitmap(FileName, Bitmap, error);
}

bool LoadPNGToBitmap(const std::string& FileName, TBitmap& Bitmap, std::string& Error) {
    Error.clear();
    try {
        TKRLPNG picture;
        picture.LoadFromFile(FileName);
        // Converted before it is handed over, so a failure leaves Bitmap untouched.
        picture.ImageBitmap().SetPixelFormat(pf24bit);
        Bitmap.TakeOver(picture.ImageBitmap());
        Bitmap.SetPixelFormat(pf24bit);
        return true;
    } catch (const Exception& e) {
        Error = e.Message();
    } catch (const std::exception& e) {
        Error = e.what();
    } catch (...) {
        Error = "Unknown exception";
    }
    return false;
}
