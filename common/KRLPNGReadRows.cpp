// The PNG reader's image data: target format, bitmap set-up, rows through the inflate context,
// conversion and placement, plain or by Adam7 pass.
#include "common/KRLPNGChunks.h"
#include "common/KRLPNGStream.h"
#include "common/SFunc.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

using namespace krlpng;

namespace {

constexpr int32_t RowsShare = 98;
// Slack after each row buffer, so a whole bitmap row may be copied from a converted row.
constexpr int64_t RowSlack = 4;

// Bytes of a bitmap row, without the 32-bit overflow of very wide rows.
constexpr int64_t RowBytes64(int64_t width, int64_t bits) {
    return ((width * bits + 7) / 8 + 3) & ~3;
}

constexpr int64_t Max32 = std::numeric_limits<int32_t>::max();

// Deflate turns one byte into at most 1032 (a 258-byte match in two bits, four to a byte);
// the rest is room for the zlib header and the last, partly used byte.
constexpr int64_t MaxInflateRatio = 1032;
constexpr int64_t InflateSlack = 2 * MaxInflateRatio;

// Filtered bytes of the whole image data: a filter byte and the packed samples per row of
// each pass.
int64_t RawImageBytes(int32_t width, int32_t height, int32_t rawBits, int32_t interlace) {
    const auto passBytes = [rawBits](int64_t w, int64_t h) {
        return w == 0 || h == 0 ? 0 : h * ((w * rawBits + 7) / 8 + 1);
    };
    if (interlace == 0) return passBytes(width, height);
    int64_t total = 0;
    for (const TAdam7Pass& p : Adam7)
        total += passBytes(PassCount(width, p.X0, p.DX), PassCount(height, p.Y0, p.DY));
    return total;
}

} // namespace

// ---------------------------------------------------------------- format choice

void TKRLPNGReadStream::SelectRowConverter() {
    const int32_t depth = FHeaderDepth;
    FConverterAlpha = false;
    switch (FImageType) {
    case ctGray:
        if (depth != Depth1 && depth != Depth2 && depth != Depth4 && depth != Depth8 &&
            depth != Depth16)
            throw EKRLPNG(KRLPNGMsg::GrayBitDepth);
        if (FHasAlpha && depth < Depth8) throw EKRLPNG(KRLPNGMsg::GrayAlpha);
        FRawBits = FHasAlpha ? depth * 2 : depth;
        BitsPerPixel = depth == Depth1 ? 1 : depth <= Depth4 ? 4 : 8;
        FConverterAlpha = FHasAlpha;
        if (depth == Depth2)
            FRowConverter = &TKRLPNGReadStream::Expand2To4;
        else if (depth == Depth16)
            FRowConverter =
                FHasAlpha ? &TKRLPNGReadStream::GrayAlpha16To8 : &TKRLPNGReadStream::Gray16To8;
        else
            FRowConverter =
                FHasAlpha ? &TKRLPNGReadStream::GrayAlpha8To8 : &TKRLPNGReadStream::RowAsIs;
        BitDepth = depth;
        break;
    case ctRGB: {
        if (depth != Depth8 && depth != Depth16) throw EKRLPNG(KRLPNGMsg::BitDepth);
        FRawBits = depth * (FHasAlpha ? 4 : 3);
        FConverterAlpha = FHasAlpha;
        const uint32_t rgbBits = FSigBits & 0xFFFFFF;
        const bool highColor =
            FSBIT16Bit && depth == Depth8 && (rgbBits == SigBits555 || rgbBits == SigBits565);
        if (highColor) {
            BitsPerPixel = 16;
            BitDepth = rgbBits == SigBits555 ? 15 : 16;
            FRowConverter =
                FHasAlpha ? &TKRLPNGReadStream::RGBA8To565 : &TKRLPNGReadStream::RGB8To565;
        } else {
            BitsPerPixel = 24;
            BitDepth = depth * 3;
            if (depth == Depth8)
                FRowConverter =
                    FHasAlpha ? &TKRLPNGReadStream::RGBA8ToBGR : &TKRLPNGReadStream::RGB8ToBGR;
            else
                FRowConverter =
                    FHasAlpha ? &TKRLPNGReadStream::RGBA16ToBGR : &TKRLPNGReadStream::RGB16ToBGR;
        }
        break;
    }
    case ctPalette:
        if (depth != Depth1 && depth != Depth2 && depth != Depth4 && depth != Depth8)
            throw EKRLPNG(KRLPNGMsg::BitDepth);
        FRawBits = depth;
        BitsPerPixel = depth == Depth2 ? 4 : depth;
        FRowConverter =
            depth == Depth2 ? &TKRLPNGReadStream::Expand2To4 : &TKRLPNGReadStream::RowAsIs;
        BitDepth = depth;
        break;
    default:
        return; // no header: nothing to convert
    }

    if (FInterlace == 0) {
        FLastPass = 0;
        FPlace = &TKRLPNGReadStream::CopyRow;
        FPlaceAlpha = &TKRLPNGReadStream::CopyAlphaRow;
        return;
    }
    FLastPass = 6;
    FPlaceAlpha = &TKRLPNGReadStream::PlaceAlphaPass;
    switch (BitsPerPixel) {
    case 1:
        FPlace = &TKRLPNGReadStream::PlaceBits1;
        break;
    case 4:
        FPlace = &TKRLPNGReadStream::PlaceBits4;
        break;
    case 8:
        FPlace = &TKRLPNGReadStream::PlaceBits8;
        break;
    case 16:
        FPlace = &TKRLPNGReadStream::PlaceBits16;
        break;
    default:
        FPlace = &TKRLPNGReadStream::PlaceBits24;
        break;
    }
}

// Every size the rows and bitmaps need must fit in 32 bits, and an image has pixels.
void TKRLPNGReadStream::CheckImageSize() const {
    if (FImageType < 0 || Width <= 0 || Height <= 0) throw EKRLPNG(KRLPNGMsg::ImageSize);
    const int64_t rowBlock = 2 * (RowBytes64(Width, FRawBits) + RowSlack) +
                             RowBytes64(Width, BitsPerPixel) + RowSlack + RowBytes64(Width, 8);
    const bool alphaPossible = FAlphaBitmap != nullptr && (FHasAlpha || FImageType == ctPalette);
    if (rowBlock > Max32 || RowBytes64(Width, BitsPerPixel) * Height > Max32 ||
        (alphaPossible && RowBytes64(Width, 8) * Height > Max32))
        throw EKRLPNG(KRLPNGMsg::ImageSize);
}

// The rows must be able to come out of the bytes left in the stream; a header that claims
// more fails as the data would run out, before a picture of that size is made.
void TKRLPNGReadStream::CheckImageData() const {
    const int64_t raw = RawImageBytes(Width, Height, FRawBits, FInterlace);
    if (raw > Remaining() * MaxInflateRatio + InflateSlack) throw EKRLPNG(KRLPNGMsg::ReadError);
}

// ---------------------------------------------------------------- set-up

void TKRLPNGReadStream::SetupBitmap() {
    if (!FGrayAlphaPalette && FImageType == ctGray && BitsPerPixel <= 8)
        PaletteCount = MakeGrayPalette(PaletteBuffer(), FHeaderDepth);
    if (FImageType == ctPalette && FTransparent == PaletteTRNSPending) ResolvePaletteTransparency();
    // A plain image writes whole rows; Adam7 passes leave the rest of a row for later passes.
    OverwriteTarget = FInterlace == 0;
    FRowsPlaced = 0;
    TKRLCustomGraphicReadStream::SetupBitmap();

    // The image itself can never double as its alpha.
    if (!(FHasAlpha || FAlphaFromPalette) || FAlphaBitmap == nullptr || FAlphaBitmap == Target)
        return;
    TBitmap& alpha = *FAlphaBitmap;
    alpha.Assign(nullptr);
    alpha.SetTransparent(false);
    alpha.SetPixelFormat(pf8bit);
    alpha.SetHandleType(bmDIB);
    if (OverwriteTarget && FConverterAlpha) {
        FAlphaFillRow = alpha.SetSizeForOverwrite(Target->Width(), Target->Height());
    } else {
        alpha.SetSize(Target->Width(), Target->Height());
    }
    std::array<RGBQUAD, 256> grays{};
    MakeGrayPalette(grays.data(), 8);
    alpha.SetPalette(CreatePaletteFromQuads(grays.data(), static_cast<int32_t>(grays.size())));
    FAlphaTarget = FAlphaBitmap;
}

void TKRLPNGReadStream::AllocRowBuffers() {
    FreeRowBuffers();
    const int64_t rawBytes = RowBytes64(Width, FRawBits) + RowSlack;
    const int64_t outBytes = RowBytes64(Width, BitsPerPixel) + RowSlack;
    const int64_t alphaBytes = RowBytes64(Width, 8);
    FRowBlock =
        std::make_unique<uint8_t[]>(static_cast<size_t>(2 * rawBytes + outBytes + alphaBytes));
    FInflate.Row = FRowBlock.get();
    FInflate.PriorRow = FInflate.Row + rawBytes;
    FOutRow = FInflate.PriorRow + rawBytes;
    FAlphaRow = FOutRow + outBytes;
    FInflate.BitsPerPixel = FRawBits;
    FTargetRowBytes = static_cast<int32_t>(RowBytes64(Width, BitsPerPixel));
    FDirectBytes = static_cast<int32_t>((int64_t{Width} * BitsPerPixel + 7) / 8);
    FAlphaRowBytes = static_cast<int32_t>(alphaBytes);
}

void TKRLPNGReadStream::FreeRowBuffers() {
    FRowBlock.reset();
    FInflate.Row = nullptr;
    FInflate.PriorRow = nullptr;
    FOutRow = nullptr;
    FAlphaRow = nullptr;
}

// ---------------------------------------------------------------- rows

void TKRLPNGReadStream::ReadIDAT() {
    if ((FSeen & sbImage) != 0) {
        SkipChunkRest();
        return;
    }
    SelectRowConverter();
    CheckImageSize();
    if (NoTarget) {
        SkipChunkRest();
        FSeen |= sbImage;
        return;
    }
    CheckImageData();
    if (InflateRowsInit(FInflate) != 0) throw EKRLPNG(KRLPNGMsg::Zlib);
    const auto finish = [this] {
        FillUnreachedRows();
        InflateRowsReset(FInflate);
        InflateRowsEnd(FInflate);
        FreeRowBuffers();
        BeginProgressPhase(0, 0, 100);
    };
    try {
        SetupBitmap();
        AllocRowBuffers();
        ReadRows();
    } catch (...) {
        finish();
        throw;
    }
    finish();
    FSeen |= sbImage;
}

void TKRLPNGReadStream::ReadRows() {
    BeginProgressPhase(1, TotalRows(FInterlace, Height), RowsShare);
    int32_t rowCount = 1;
    for (int32_t pass = 0; pass <= FLastPass; ++pass) {
        ReadPass(pass, Width, Height, rowCount);
        if (Failed || Stopped) break;
    }
}

void TKRLPNGReadStream::ReadPass(int32_t pass, int32_t w, int32_t h, int32_t& k) {
    int32_t rows = h, y = 0, dy = 1;
    FPassWidth = w;
    FPassX = 0;
    FPassXStep = 1;
    FAlphaX = 0;
    FAlphaXStep = 1;
    if (FLastPass != 0) {
        const TAdam7Pass& p = Adam7[static_cast<size_t>(pass)];
        FPassWidth = PassCount(w, p.X0, p.DX);
        rows = PassCount(h, p.Y0, p.DY);
        if (FPassWidth == 0 || rows == 0) return;
        y = p.Y0;
        dy = p.DY;
        const int32_t unit = BitsPerPixel == 16 ? 2 : BitsPerPixel == 24 ? 3 : 1;
        FPassX = p.X0 * unit;
        FPassXStep = p.DX * unit;
        FAlphaX = p.X0;
        FAlphaXStep = p.DX;
    }
    FInflate.RowBytes = static_cast<int32_t>((int64_t{FPassWidth} * FRawBits + 7) / 8 + 1);
    std::memset(FInflate.PriorRow, 0, static_cast<size_t>(FInflate.RowBytes));
    const bool hooked = !FKey.empty() && OnReadRow;
    TBitmap* const alpha = FConverterAlpha ? FAlphaTarget : nullptr;
    // A plain row of whole bytes per pixel is converted straight into the bitmap's row.
    uint8_t* const outRow = FOutRow;
    const bool direct =
        FLastPass == 0 && BitsPerPixel >= 8 && FRowConverter != &TKRLPNGReadStream::RowAsIs;

    for (int32_t r = 0; r < rows; ++r, y += dy) {
        uint8_t* line = Target->ScanLine(y);
        uint8_t* alphaLine = alpha != nullptr ? alpha->ScanLine(y) : nullptr;
        if (ReadRow(FInflate) < 0) throw EKRLPNG(KRLPNGMsg::ReadError);
        if (hooked) {
            // The next row is unfiltered against the row as decoded, not as the hook left it.
            std::memcpy(FInflate.PriorRow, FInflate.Row, static_cast<size_t>(FInflate.RowBytes));
            OnReadRow(this, FInflate.Row + 1, FInflate.RowBytes - 1, k - 1, FKey);
        }
        if (direct) FOutRow = line;
        const uint8_t* converted = (this->*FRowConverter)();
        if (converted != line) (this->*FPlace)(line, converted);
        if (alphaLine != nullptr) (this->*FPlaceAlpha)(alphaLine, FAlphaRow);
        if (OverwriteTarget) {
            // The padding after the pixels is not written by a row placed straight or as alpha.
            if (direct)
                std::memset(line + FDirectBytes, 0,
                            static_cast<size_t>(FTargetRowBytes - FDirectBytes));
            if (alphaLine != nullptr)
                std::memset(alphaLine + Width, 0, static_cast<size_t>(FAlphaRowBytes - Width));
            ++FRowsPlaced;
        }
        if (!hooked) std::swap(FInflate.Row, FInflate.PriorRow);
        if ((k & 3) == 2 || h < 4) UpdateProgress(k);
        ++k;
        if (Stopped) break;
    }
    FOutRow = outRow;
}

// Rows a plain image did not reach, as a cleared picture would have shown them.
void TKRLPNGReadStream::FillUnreachedRows() {
    if (!OverwriteTarget) return;
    const auto fill = [this](TBitmap* bitmap, const std::vector<uint8_t>& row) {
        if (bitmap == nullptr) return;
        for (int32_t y = FRowsPlaced; y < bitmap->Height(); ++y)
            std::memcpy(bitmap->ScanLine(y), row.data(), row.size());
    };
    fill(Target, TargetFillRow);
    fill(FConverterAlpha ? FAlphaTarget : nullptr, FAlphaFillRow);
    OverwriteTarget = false;
}

void TKRLPNGReadStream::MakeAlphaFromPalette() {
    const int32_t w = std::min({Width, Target->Width(), FAlphaTarget->Width()});
    const int32_t h = std::min({Height, Target->Height(), FAlphaTarget->Height()});
    const int32_t bits = Target->BitsPerPixel();
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* line = Target->ScanLine(y);
        uint8_t* alpha = FAlphaTarget->ScanLine(y);
        for (int32_t x = 0; x < w; ++x) {
            uint32_t index = 0;
            if (bits == 1)
                index = (line[x >> 3] >> (7 - (x & 7))) & 1u;
            else if (bits == 4)
                index = (x & 1) != 0 ? line[x >> 1] & 0x0Fu : line[x >> 1] >> 4;
            else
                index = line[x];
            alpha[x] = static_cast<uint8_t>(255 - FPaletteAlpha[index]);
        }
    }
    FHasAlpha = true;
}

// ---------------------------------------------------------------- converters

const uint8_t* TKRLPNGReadStream::RowAsIs() {
    return FInflate.Row + 1;
}

const uint8_t* TKRLPNGReadStream::Expand2To4() {
    const uint8_t* in = FInflate.Row + 1;
    uint8_t* out = FOutRow;
    const int32_t bytes = (FPassWidth + 3) / 4;
    for (int32_t i = 0; i < bytes; ++i, out += 2) {
        const uint32_t b = in[i];
        out[0] = static_cast<uint8_t>(((b >> 6) << 4) | ((b >> 4) & 3));
        out[1] = static_cast<uint8_t>((((b >> 2) & 3) << 4) | (b & 3));
    }
    return FOutRow;
}

const uint8_t* TKRLPNGReadStream::Gray16To8() {
    const uint8_t* in = FInflate.Row + 1;
    uint8_t* out = FOutRow;
    for (int32_t i = 0; i < FPassWidth; ++i)
        out[i] = in[2 * i];
    return FOutRow;
}

const uint8_t* TKRLPNGReadStream::GrayAlpha8To8() {
    const uint8_t* in = FInflate.Row + 1;
    uint8_t* out = FOutRow;
    uint8_t* alpha = FAlphaRow;
    for (int32_t i = 0; i < FPassWidth; ++i, in += 2) {
        out[i] = in[0];
        alpha[i] = static_cast<uint8_t>(255 - in[1]);
    }
    return FOutRow;
}

const uint8_t* TKRLPNGReadStream::GrayAlpha16To8() {
    const uint8_t* in = FInflate.Row + 1;
    uint8_t* out = FOutRow;
    uint8_t* alpha = FAlphaRow;
    for (int32_t i = 0; i < FPassWidth; ++i, in += 4) {
        out[i] = in[0];
        alpha[i] = static_cast<uint8_t>(255 - in[2]);
    }
    return FOutRow;
}

const uint8_t* TKRLPNGReadStream::RGB8ToBGR() {
    const uint8_t* in = FInflate.Row + 1;
    uint8_t* out = FOutRow;
    // Four bytes at a time, of which the fourth is the next pixel's and is written again with
    // it; the row buffer has slack to read past its end, the last pixel goes byte by byte so
    // that nothing is written past the row.
    int32_t i = 0;
    for (; i + 1 < FPassWidth; ++i, in += 3, out += 3) {
        uint32_t rgb = 0;
        std::memcpy(&rgb, in, sizeof rgb);
        const uint32_t bgr = ((rgb & 0xFFu) << 16) | (rgb & 0xFF00u) | ((rgb >> 16) & 0xFFu);
        std::memcpy(out, &bgr, sizeof bgr);
    }
    for (; i < FPassWidth; ++i, in += 3, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
    return FOutRow;
}

const uint8_t* TKRLPNGReadStream::RGB16ToBGR() {
    const uint8_t* in = FInflate.Row + 1;
    uint8_t* out = FOutRow;
    for (int32_t i = 0; i < FPassWidth; ++i, in += 6, out += 3) {
        out[0] = in[4];
        out[1] = in[2];
        out[2] = in[0];
    }
    return FOutRow;
}

const uint8_t* TKRLPNGReadStream::RGBA8ToBGR() {
    const uint8_t* in = FInflate.Row + 1;
    uint8_t* out = FOutRow;
    uint8_t* alpha = FAlphaRow;
    for (int32_t i = 0; i < FPassWidth; ++i, in += 4, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        alpha[i] = static_cast<uint8_t>(255 - in[3]);
    }
    return FOutRow;
}

const uint8_t* TKRLPNGReadStream::RGBA16ToBGR() {
    const uint8_t* in = FInflate.Row + 1;
    uint8_t* out = FOutRow;
    uint8_t* alpha = FAlphaRow;
    for (int32_t i = 0; i < FPassWidth; ++i, in += 8, out += 3) {
        out[0] = in[4];
        out[1] = in[2];
        out[2] = in[0];
        alpha[i] = static_cast<uint8_t>(255 - in[6]);
    }
    return FOutRow;
}

namespace {

void Store565(uint8_t* out, uint32_t r, uint32_t g, uint32_t b) {
    const uint32_t word = ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
    out[0] = static_cast<uint8_t>(word);
    out[1] = static_cast<uint8_t>(word >> 8);
}

} // namespace

const uint8_t* TKRLPNGReadStream::RGB8To565() {
    const uint8_t* in = FInflate.Row + 1;
    uint8_t* out = FOutRow;
    for (int32_t i = 0; i < FPassWidth; ++i, in += 3, out += 2)
        Store565(out, in[0], in[1], in[2]);
    return FOutRow;
}

const uint8_t* TKRLPNGReadStream::RGBA8To565() {
    const uint8_t* in = FInflate.Row + 1;
    uint8_t* out = FOutRow;
    uint8_t* alpha = FAlphaRow;
    for (int32_t i = 0; i < FPassWidth; ++i, in += 4, out += 2) {
        Store565(out, in[0], in[1], in[2]);
        alpha[i] = static_cast<uint8_t>(255 - in[3]);
    }
    return FOutRow;
}

// ---------------------------------------------------------------- placement

void TKRLPNGReadStream::CopyRow(uint8_t* line, const uint8_t* row) {
    std::memcpy(line, row, static_cast<size_t>(FTargetRowBytes));
}

void TKRLPNGReadStream::CopyAlphaRow(uint8_t* line, const uint8_t* row) {
    std::memcpy(line, row, static_cast<size_t>(FPassWidth));
}

void TKRLPNGReadStream::PlaceBits1(uint8_t* line, const uint8_t* row) {
    for (int32_t i = 0, x = FPassX; i < FPassWidth; ++i, x += FPassXStep) {
        const uint32_t bit = 0x80u >> (x & 7);
        if (((row[i >> 3] >> (7 - (i & 7))) & 1) != 0)
            line[x >> 3] = static_cast<uint8_t>(line[x >> 3] | bit);
        else
            line[x >> 3] = static_cast<uint8_t>(line[x >> 3] & ~bit);
    }
}

void TKRLPNGReadStream::PlaceBits4(uint8_t* line, const uint8_t* row) {
    for (int32_t i = 0, x = FPassX; i < FPassWidth; ++i, x += FPassXStep) {
        const uint32_t v = (i & 1) != 0 ? row[i >> 1] & 0x0Fu : row[i >> 1] >> 4;
        uint8_t& b = line[x >> 1];
        b = static_cast<uint8_t>((x & 1) != 0 ? (b & 0xF0) | v : (b & 0x0F) | (v << 4));
    }
}

void TKRLPNGReadStream::PlaceBits8(uint8_t* line, const uint8_t* row) {
    for (int32_t i = 0, x = FPassX; i < FPassWidth; ++i, x += FPassXStep)
        line[x] = row[i];
}

void TKRLPNGReadStream::PlaceBits16(uint8_t* line, const uint8_t* row) {
    for (int32_t i = 0, x = FPassX; i < FPassWidth; ++i, x += FPassXStep, row += 2) {
        line[x] = row[0];
        line[x + 1] = row[1];
    }
}

void TKRLPNGReadStream::PlaceBits24(uint8_t* line, const uint8_t* row) {
    for (int32_t i = 0, x = FPassX; i < FPassWidth; ++i, x += FPassXStep, row += 3) {
        line[x] = row[0];
        line[x + 1] = row[1];
        line[x + 2] = row[2];
    }
}

void TKRLPNGReadStream::PlaceAlphaPass(uint8_t* line, const uint8_t* row) {
    for (int32_t i = 0, x = FAlphaX; i < FPassWidth; ++i, x += FAlphaXStep)
        line[x] = row[i];
}
