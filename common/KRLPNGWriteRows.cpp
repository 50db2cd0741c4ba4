// The PNG writer's image data: source rows converted to raw PNG rows, plain or by Adam7 pass,
// offered to the row hook, filtered and deflated into IDAT chunks.
#include "common/KRLPNGChunks.h"
#include "common/KRLPNGStream.h"
#include "common/SFunc.h"

#include <algorithm>
#include <cstring>

using namespace krlpng;

namespace {

// Room after each row buffer and the histogram, and the alignment of the block.
constexpr size_t RowAlignment = 32;
constexpr size_t HistogramBytes = 256 * sizeof(uint32_t);
constexpr size_t RowBlockExtra = HistogramBytes + 40;

constexpr uint8_t Expand5(uint32_t v) {
    return static_cast<uint8_t>((v << 3) | (v >> 2));
}
constexpr uint8_t Expand6(uint32_t v) {
    return static_cast<uint8_t>((v << 2) | (v >> 4));
}
constexpr uint8_t GrayOf(uint32_t r, uint32_t g, uint32_t b) {
    return static_cast<uint8_t>((r * 77 + g * 150 + b * 29) >> 8);
}

// Red, green and blue of one source pixel of Bits bits, expanded to 8 bits.
template <int Bits>
inline void ReadRGB(const uint8_t* p, uint32_t& r, uint32_t& g, uint32_t& b) {
    if constexpr (Bits == 15 || Bits == 16) {
        const uint32_t w = p[0] | (uint32_t{p[1]} << 8);
        if constexpr (Bits == 15) {
            r = Expand5((w >> 10) & 31);
            g = Expand5((w >> 5) & 31);
        } else {
            r = Expand5(w >> 11);
            g = Expand6((w >> 5) & 63);
        }
        b = Expand5(w & 31);
    } else {
        b = p[0];
        g = p[1];
        r = p[2];
    }
}

// Bytes per source pixel of the direct-colour formats.
constexpr int32_t SourceUnit(int32_t bits) {
    return bits == 24 ? 3 : bits == 32 ? 4 : bits == 15 || bits == 16 ? 2 : 1;
}

} // namespace

// ---------------------------------------------------------------- rows

void TKRLPNGWriteStream::WriteIDAT() {
    AllocWriteRows();
    const auto finish = [this] {
        DeflateRowsFinish(Deflate);
        DeflateRowsEnd(Deflate);
        FreeWriteRows();
    };
    try {
        if (GrayOut && SourceBits <= 8) BuildGrayTable();
        SelectConverter();
        // A failed set-up shows as a failure of the first row.
        DeflateRowsInit(Deflate,
                        CompressionLevel >= 0 && CompressionLevel <= 9 ? CompressionLevel : -1,
                        FIDATSize);
        Deflate.FilterMode = FilterMode;
        const int32_t w = Source->Width(), h = Source->Height();
        BeginProgressPhase(1, TotalRows(Interlaced, h), 0);
        int64_t n = 1;
        // PNG has no empty image: a bitmap without pixels gets image data without rows.
        if (w > 0 && h > 0) {
            if (Interlaced == 0) {
                WritePass(0, 1, 0, 1, n);
            } else {
                for (const TAdam7Pass& pass : Adam7) {
                    WritePass(pass.X0, pass.DX, pass.Y0, pass.DY, n);
                    if (Stopped) break;
                }
            }
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TKRLPNGWriteStream::WritePass(int32_t x0, int32_t dx, int32_t y0, int32_t dy, int64_t& n) {
    const int32_t h = Source->Height();
    PassWidth = PassCount(Source->Width(), x0, dx);
    const int32_t rows = PassCount(h, y0, dy);
    if (PassWidth == 0 || rows == 0) return;
    PassX0 = x0;
    PassDX = dx;
    PassX0Units = x0 * SourceUnit(SourceBits);
    PassDXUnits = dx * SourceUnit(SourceBits);
    Deflate.RowBytes =
        static_cast<int32_t>((int64_t{PassWidth} * Deflate.BitsPerPixel + 7) / 8 + 1);
    std::memset(Deflate.PriorRow, 0, static_cast<size_t>(Deflate.RowBytes));
    const bool hooked = !RowKey.empty() && OnWriteRow;

    for (int32_t r = 0, y = y0; r < rows; ++r, y += dy) {
        ConvertRow(Source->ScanLine(y), AlphaOut ? Alpha->ScanLine(y) : nullptr);
        if (hooked)
            OnWriteRow(this, Deflate.Row, Deflate.RowBytes - 1, static_cast<int32_t>(n - 1),
                       RowKey);
        if (WriteRow(Deflate) < 0) throw EKRLPNG(KRLPNGMsg::WriteError);
        std::swap(Deflate.Row, Deflate.PriorRow);
        if (n % 4 == 2 || h < 4) UpdateProgress(n);
        ++n;
        if (Stopped) return;
    }
}

int32_t TKRLPNGWriteStream::FlushIDAT(TDeflateRows& ctx) {
    WriteChunk(ctIDAT, ctx.OutBuffer.get(),
               ctx.OutBufferSize - static_cast<int32_t>(ctx.Stream.avail_out));
    return 0;
}

// One block for the four row buffers and the histogram, each row sized for the full width.
void TKRLPNGWriteStream::AllocWriteRows() {
    FreeWriteRows();
    const size_t stride = DIBRowBytes(static_cast<uint32_t>(Source->Width()),
                                      static_cast<uint32_t>(Deflate.BitsPerPixel));
    const size_t rowBytes = (stride + 39) & ~(RowAlignment - 1);
    RowMemory = std::make_unique<uint8_t[]>(4 * rowBytes + RowBlockExtra);
    const auto address = reinterpret_cast<uintptr_t>(RowMemory.get());
    uint8_t* at = RowMemory.get() + ((RowAlignment - address % RowAlignment) % RowAlignment);
    Deflate.Row = at;
    Deflate.PriorRow = at + rowBytes;
    Deflate.Filtered = at + 2 * rowBytes;
    Deflate.Trial = at + 3 * rowBytes;
    Deflate.Histogram = reinterpret_cast<uint32_t*>(at + 4 * rowBytes);
}

void TKRLPNGWriteStream::FreeWriteRows() {
    RowMemory.reset();
    Deflate.Row = nullptr;
    Deflate.PriorRow = nullptr;
    Deflate.Filtered = nullptr;
    Deflate.Trial = nullptr;
    Deflate.Histogram = nullptr;
}

void TKRLPNGWriteStream::BuildGrayTable() {
    std::array<RGBQUAD, 256> quads{};
    const int32_t count = PaletteToQuads(Source->Palette(), quads.data());
    GrayTable.fill(0);
    if (count <= 0) {
        for (int32_t i = 0; i < (1 << SourceBits); ++i)
            GrayTable[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
        return;
    }
    const auto sum = [&](size_t i) {
        return quads[i].rgbRed * 77u + quads[i].rgbGreen * 150u + quads[i].rgbBlue * 29u;
    };
    if (SourceBits == 1) {
        // Bits are inverted when entry 0 is the lighter one (a missing entry is black).
        GrayTable[0] = (sum(0) >> 8) > (sum(1) >> 8) ? 255 : 0;
        return;
    }
    const uint32_t shift = SourceBits == 4 ? 12 : 8;
    for (size_t i = 0; i < static_cast<size_t>(count); ++i)
        GrayTable[i] = static_cast<uint8_t>(sum(i) >> shift);
}

// ---------------------------------------------------------------- conversion

void TKRLPNGWriteStream::ConvertRow(const uint8_t* source, const uint8_t* alpha) {
    (this->*Converter)(source, alpha);
}

void TKRLPNGWriteStream::SelectConverter() {
    const bool plain = Interlaced == 0;
    switch (SourceBits) {
    case 1:
        if (!plain)
            Converter = &TKRLPNGWriteStream::GatherBits1;
        else if (GrayOut && GrayTable[0] == 255)
            Converter = &TKRLPNGWriteStream::CopyInvertedRow;
        else
            Converter = &TKRLPNGWriteStream::CopySourceRow;
        return;
    case 4:
        if (!plain)
            Converter = &TKRLPNGWriteStream::GatherNibbles;
        else
            Converter = GrayOut ? &TKRLPNGWriteStream::CopyMappedNibbles
                                : &TKRLPNGWriteStream::CopySourceRow;
        return;
    case 8:
        if (GrayOut)
            Converter = AlphaOut ? &TKRLPNGWriteStream::MapIndexes<true>
                                 : &TKRLPNGWriteStream::MapIndexes<false>;
        else
            Converter =
                plain ? &TKRLPNGWriteStream::CopySourceRow : &TKRLPNGWriteStream::GatherBytes;
        return;
    default:
        break;
    }
    // The direct-colour formats: one loop per format, output and alpha.
    using W = TKRLPNGWriteStream;
    static constexpr TConverter rgb[4][2][2] = {
        {{&W::ConvertColors<15, false, false>, &W::ConvertColors<15, false, true>},
         {&W::ConvertColors<15, true, false>, &W::ConvertColors<15, true, true>}},
        {{&W::ConvertColors<16, false, false>, &W::ConvertColors<16, false, true>},
         {&W::ConvertColors<16, true, false>, &W::ConvertColors<16, true, true>}},
        {{&W::ConvertColors<24, false, false>, &W::ConvertColors<24, false, true>},
         {&W::ConvertColors<24, true, false>, &W::ConvertColors<24, true, true>}},
        {{&W::ConvertColors<32, false, false>, &W::ConvertColors<32, false, true>},
         {&W::ConvertColors<32, true, false>, &W::ConvertColors<32, true, true>}},
    };
    const size_t format = SourceBits == 15 ? 0 : SourceBits == 16 ? 1 : SourceBits == 32 ? 3 : 2;
    Converter = rgb[format][GrayOut ? 1 : 0][AlphaOut ? 1 : 0];
}

// Plain palette rows (and 1-bit grey rows that keep their bits) are the bitmap's own bytes.
void TKRLPNGWriteStream::CopySourceRow(const uint8_t* source, const uint8_t*) {
    std::memcpy(Deflate.Row, source, static_cast<size_t>(SourceStride));
}

void TKRLPNGWriteStream::CopyInvertedRow(const uint8_t* source, const uint8_t*) {
    uint8_t* out = Deflate.Row;
    for (int32_t i = 0; i < SourceStride; ++i)
        out[i] = static_cast<uint8_t>(~source[i]);
}

void TKRLPNGWriteStream::CopyMappedNibbles(const uint8_t* source, const uint8_t*) {
    uint8_t* out = Deflate.Row;
    for (int32_t i = 0; i < SourceStride; ++i)
        out[i] = static_cast<uint8_t>((GrayTable[source[i] >> 4] << 4) | GrayTable[source[i] & 15]);
}

// Pass pixels of a 1-bit row packed again from the high bit, then inverted for grey output
// when the palette's entry 0 is the lighter.
void TKRLPNGWriteStream::GatherBits1(const uint8_t* source, const uint8_t*) {
    uint8_t* out = Deflate.Row;
    uint32_t acc = 0;
    int32_t filled = 0;
    size_t o = 0;
    for (int32_t k = 0, unit = PassX0Units; k < PassWidth; ++k, unit += PassDXUnits) {
        acc = (acc << 1) | ((source[unit >> 3] >> (7 - (unit & 7))) & 1u);
        if (++filled == 8) {
            out[o++] = static_cast<uint8_t>(acc);
            acc = 0;
            filled = 0;
        }
    }
    if (filled > 0) out[o++] = static_cast<uint8_t>(acc << (8 - filled));
    if (GrayOut && GrayTable[0] == 255)
        for (size_t i = 0; i < o; ++i)
            out[i] = static_cast<uint8_t>(~out[i]);
}

void TKRLPNGWriteStream::GatherNibbles(const uint8_t* source, const uint8_t*) {
    uint8_t* out = Deflate.Row;
    size_t o = 0;
    for (int32_t k = 0, unit = PassX0Units; k < PassWidth; ++k, unit += PassDXUnits) {
        const uint32_t b = source[unit >> 1];
        const uint32_t v = (unit & 1) != 0 ? b & 15 : b >> 4;
        if ((k & 1) == 0)
            out[o] = static_cast<uint8_t>(v << 4);
        else
            out[o++] |= static_cast<uint8_t>(v);
    }
    if ((PassWidth & 1) != 0) ++o;
    if (GrayOut)
        for (size_t i = 0; i < o; ++i)
            out[i] = static_cast<uint8_t>((GrayTable[out[i] >> 4] << 4) | GrayTable[out[i] & 15]);
}

void TKRLPNGWriteStream::GatherBytes(const uint8_t* source, const uint8_t*) {
    uint8_t* out = Deflate.Row;
    for (int32_t k = 0, x = PassX0; k < PassWidth; ++k, x += PassDX)
        out[k] = source[x];
}

// Grey levels of 8-bit palette indexes, each followed by its alpha sample when asked.
template <bool Alpha>
void TKRLPNGWriteStream::MapIndexes(const uint8_t* source, const uint8_t* alpha) {
    uint8_t* out = Deflate.Row;
    for (int32_t k = 0, x = PassX0; k < PassWidth; ++k, x += PassDX) {
        *out++ = GrayTable[source[x]];
        if constexpr (Alpha) *out++ = static_cast<uint8_t>(~alpha[x]);
    }
}

template <int Bits, bool Gray, bool Alpha>
void TKRLPNGWriteStream::ConvertColors(const uint8_t* source, const uint8_t* alpha) {
    uint8_t* out = Deflate.Row;
    const uint8_t* p = source + PassX0Units;
    const uint8_t* a = Alpha ? alpha + PassX0 : nullptr;
    for (int32_t k = 0; k < PassWidth; ++k, p += PassDXUnits) {
        uint32_t r = 0, g = 0, b = 0;
        ReadRGB<Bits>(p, r, g, b);
        if constexpr (Gray) {
            *out++ = GrayOf(r, g, b);
        } else {
            out[0] = static_cast<uint8_t>(r);
            out[1] = static_cast<uint8_t>(g);
            out[2] = static_cast<uint8_t>(b);
            out += 3;
        }
        if constexpr (Alpha) {
            *out++ = static_cast<uint8_t>(~*a);
            a += PassDX;
        }
    }
}
