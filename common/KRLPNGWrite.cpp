// The PNG writer's datastream: signature, header and ancillary chunks, image data, end.
#include "common/KRLPNGChunks.h"
#include "common/KRLPNGStream.h"
#include "common/SFunc.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

using namespace krlpng;

namespace {

constexpr const char* SoftwareKeyword = "Software";
constexpr const char* SoftwareText = "KRLPNG ver 3.4";
constexpr const char* CommentKeyword = "Comment";
constexpr size_t MaxKeywordBytes = 79;

constexpr int32_t HeaderSteps = 10;
// PNG's four-byte numbers stop at 2^31 - 1.
constexpr int64_t MaxPNGNumber = std::numeric_limits<int32_t>::max();

constexpr int32_t PhysUnitNone = 0;
constexpr int32_t PhysUnitMetre = 1;
constexpr int32_t PhysUnitInch = 2;

void PutBE16(uint8_t* at, uint32_t v) {
    at[0] = static_cast<uint8_t>(v >> 8);
    at[1] = static_cast<uint8_t>(v);
}

void PutBE32(uint8_t* at, uint32_t v) {
    at[0] = static_cast<uint8_t>(v >> 24);
    at[1] = static_cast<uint8_t>(v >> 16);
    at[2] = static_cast<uint8_t>(v >> 8);
    at[3] = static_cast<uint8_t>(v);
}

bool ValidTime(const TKRLPNGTime& t) {
    return t.Year != 0 && t.Month >= 1 && t.Month <= 12 && t.Day >= 1 && t.Day <= 31 &&
           t.Hour <= 23 && t.Minute <= 59 && t.Second <= 60;
}

} // namespace

TKRLPNGWriteStream::TKRLPNGWriteStream() {
    Deflate.Owner = this;
    Deflate.Flush = [this](TDeflateRows& ctx) { return FlushIDAT(ctx); };
}

TKRLPNGWriteStream::~TKRLPNGWriteStream() = default;

void TKRLPNGWriteStream::SetIDATSize(int32_t value) {
    if (value < MinIDATSize || value > MaxIDATSize) throw EKRLPNG(KRLPNGMsg::IDATSize);
    FIDATSize = value;
}

uint8_t TKRLPNGWriteStream::ColorToGray(int32_t bits, TColor color) {
    const auto c = static_cast<uint32_t>(color);
    const uint32_t y = ((c & 0xFF) * 77 + ((c >> 8) & 0xFF) * 150 + ((c >> 16) & 0xFF) * 29) >> 8;
    if (bits == 1) return y >= 128 ? 1 : 0;
    if (bits == 4) return static_cast<uint8_t>(y >> 4);
    return static_cast<uint8_t>(y);
}

// ---------------------------------------------------------------- the datastream

void TKRLPNGWriteStream::WriteImage() {
    Alpha = nullptr;
    AlphaOut = false;
    GrayOut = false;
    SourceBits = BitsFromPixelFormat(Source->PixelFormat());
    OutBits = SourceBits == 15 || SourceBits == 16 ? 24 : SourceBits;
    TBitmap* const alpha = AlphaBitmap;
    if (alpha != nullptr && alpha != Source && !alpha->Empty() &&
        alpha->Width() == Source->Width() && alpha->Height() == Source->Height() &&
        alpha->PixelFormat() == pf8bit)
        Alpha = alpha;

    const auto finish = [this] {
        DeflateRowsEnd(Deflate);
        FreeWriteRows();
    };
    try {
        BeginProgress();
        BeginProgressPhase(1, HeaderSteps, HeaderShare);
        WriteBlock(PNGSignature.data(), static_cast<int32_t>(PNGSignature.size()));
        WriteIHDR();
        WriteTIME();
        WriteComment();
        WriteText(SoftwareKeyword, SoftwareText);
        WriteTpNG();
        WriteGIFg();
        WriteGAMA();
        WriteCHRM();
        WriteSBIT();
        WritePLTE();
        WriteBKGD();
        WriteTRNS();
        WritePHYs();
        UpdateProgress(HeaderSteps);
        if (!Stopped) {
            WriteIDAT();
            if (!Stopped) {
                WriteChunk(ctIEND, nullptr, 0);
                EndProgress();
            }
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TKRLPNGWriteStream::WriteChunk(uint32_t chunkType, const void* data, int32_t length) {
    std::array<uint8_t, 4> type{};
    PutBE32(type.data(), chunkType);
    uLong crc = crc32(0, type.data(), static_cast<uInt>(type.size()));
    WriteLongBE(static_cast<uint32_t>(length));
    WriteLongBE(chunkType);
    if (data != nullptr && length > 0) {
        WriteBlock(data, length);
        crc = crc32(crc, static_cast<const Bytef*>(data), static_cast<uInt>(length));
    }
    WriteLongBE(static_cast<uint32_t>(crc));
}

// ---------------------------------------------------------------- chunks

void TKRLPNGWriteStream::WriteIHDR() {
    uint8_t depth = 8;
    uint8_t colorType = ctRGB;
    int32_t pngBits = 24;
    if (!GrayScale) {
        if (SourceBits <= 8) {
            depth = static_cast<uint8_t>(SourceBits);
            colorType = ctPalette;
            pngBits = SourceBits;
        } else if (Alpha != nullptr) {
            colorType = ctRGBA;
            pngBits = 32;
        }
    } else {
        GrayOut = true;
        OutBits = std::min(OutBits, 8);
        colorType = ctGray;
        if (SourceBits == 1 || SourceBits == 4) {
            depth = static_cast<uint8_t>(SourceBits);
            pngBits = SourceBits;
        } else if (Alpha != nullptr) {
            colorType = ctGrayAlpha;
            pngBits = 16;
        } else {
            pngBits = 8;
        }
    }
    AlphaOut = colorType == ctGrayAlpha || colorType == ctRGBA;
    Deflate.BitsPerPixel = pngBits;
    Deflate.SourceBits = OutBits;
    SourceStride = static_cast<int32_t>(
        DIBRowBytes(static_cast<uint32_t>(Source->Width()), static_cast<uint32_t>(OutBits)));

    std::array<uint8_t, 13> data{};
    PutBE32(&data[0], static_cast<uint32_t>(Source->Width()));
    PutBE32(&data[4], static_cast<uint32_t>(Source->Height()));
    data[8] = depth;
    data[9] = colorType;
    data[10] = 0;                       // deflate
    data[11] = 0;                       // adaptive filtering
    data[12] = Interlaced != 0 ? 1 : 0; // Adam7
    WriteChunk(ctIHDR, data.data(), static_cast<int32_t>(data.size()));
}

void TKRLPNGWriteStream::WriteTIME() {
    TKRLPNGTime time;
    if (StampTime)
        GetUTCTime(time);
    else if (ModifiedTime != nullptr)
        time = *ModifiedTime;
    else
        return;
    if (!ValidTime(time)) return;
    const std::array<uint8_t, 7> data{static_cast<uint8_t>(time.Year >> 8),
                                      static_cast<uint8_t>(time.Year),
                                      time.Month,
                                      time.Day,
                                      time.Hour,
                                      time.Minute,
                                      time.Second};
    WriteChunk(cttIME, data.data(), static_cast<int32_t>(data.size()));
}

void TKRLPNGWriteStream::WriteComment() {
    WriteText(CommentKeyword, Comment);
}

void TKRLPNGWriteStream::WriteText(const std::string& keyword, const std::string& text) {
    if (text.empty() || keyword.size() > MaxKeywordBytes) return;
    const size_t length = keyword.size() + 1 + text.size();
    if (length > static_cast<size_t>(MaxPNGNumber)) return;
    std::vector<uint8_t> data(length);
    std::memcpy(data.data(), keyword.data(), keyword.size());
    data[keyword.size()] = 0;
    std::memcpy(data.data() + keyword.size() + 1, text.data(), text.size());
    WriteChunk(cttEXt, data.data(), static_cast<int32_t>(length));
}

void TKRLPNGWriteStream::WriteTpNG() {
    const bool hooked = !RowKey.empty() && OnWriteRow;
    const std::array<uint8_t, 8> data{static_cast<uint8_t>(PrivateMagic >> 24),
                                      static_cast<uint8_t>(PrivateMagic >> 16),
                                      static_cast<uint8_t>(PrivateMagic >> 8),
                                      static_cast<uint8_t>(PrivateMagic),
                                      static_cast<uint8_t>(hooked ? 1 : 0),
                                      0,
                                      0,
                                      0};
    WriteChunk(cttpNG, data.data(), static_cast<int32_t>(data.size()));
}

void TKRLPNGWriteStream::WriteGIFg() {
    if (GifExtension == nullptr) return;
    const TKRLPNGGifExtension& gif = *GifExtension;
    if (std::all_of(gif.begin(), gif.end(), [](uint8_t b) { return b == 0; })) return;
    WriteChunk(ctgIFg, gif.data(), static_cast<int32_t>(gif.size()));
}

void TKRLPNGWriteStream::WriteGAMA() {
    // In extended precision: the truncation below must see the product before it is rounded
    // to a double.
    const long double v = static_cast<long double>(Gamma) * static_cast<long double>(GammaScale);
    // Truncated toward zero it must be 1 or more; a value past PNG's range (or not a number)
    // cannot be written.
    if (!(v >= 1.0L && v < static_cast<long double>(MaxPNGNumber + 1))) return;
    std::array<uint8_t, 4> data{};
    PutBE32(data.data(), static_cast<uint32_t>(v));
    WriteChunk(ctgAMA, data.data(), static_cast<int32_t>(data.size()));
}

void TKRLPNGWriteStream::WriteCHRM() {
    if (Chromaticities == nullptr) return;
    const TKRLPNGChromaticities& values = *Chromaticities;
    if (values[0] == 0 || values[1] == 0) return;
    std::array<uint8_t, 32> data{};
    for (size_t i = 0; i < values.size(); ++i)
        PutBE32(&data[4 * i], values[i]);
    WriteChunk(ctcHRM, data.data(), static_cast<int32_t>(data.size()));
}

void TKRLPNGWriteStream::WriteSBIT() {
    if (SourceBits == 15 || SourceBits == 16) {
        uint32_t bits = SourceBits == 15 ? SigBits555 : SigBits565;
        if (AlphaOut) bits |= SigBitsAlpha8;
        SignificantBits = static_cast<int32_t>(bits);
    }
    if (SignificantBits <= 0 || GrayOut) return;
    const auto bits = static_cast<uint32_t>(SignificantBits);
    const std::array<uint8_t, 4> data{static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                                      static_cast<uint8_t>(bits >> 16),
                                      static_cast<uint8_t>(bits >> 24)};
    WriteChunk(ctsBIT, data.data(), AlphaOut ? 4 : 3);
}

void TKRLPNGWriteStream::WritePLTE() {
    if (GrayOut || OutBits > 8) return;
    std::array<RGBQUAD, 256> quads{};
    int32_t count = PaletteToQuads(Source->Palette(), quads.data());
    // A palette image must carry a palette: without entries the indexes stand for the grey
    // levels they mean in grey output.
    if (count <= 0) count = MakeGrayPalette(quads.data(), SourceBits);
    std::array<uint8_t, 3 * 256> data{};
    for (int32_t i = 0; i < count; ++i) {
        data[static_cast<size_t>(3 * i)] = quads[static_cast<size_t>(i)].rgbRed;
        data[static_cast<size_t>(3 * i + 1)] = quads[static_cast<size_t>(i)].rgbGreen;
        data[static_cast<size_t>(3 * i + 2)] = quads[static_cast<size_t>(i)].rgbBlue;
    }
    WriteChunk(ctPLTE, data.data(), 3 * count);
}

// The palette entry a colour names (0x01000000 + index) or the nearest one; -1 when there is
// none, also for an index past the palette's end.
int32_t TKRLPNGWriteStream::PaletteIndexOf(TColor color) const {
    const HPALETTE palette = Source->Palette();
    if ((color & PaletteColor) == 0) return NearestPaletteIndex(palette, color & 0xFFFFFF);
    const int32_t index = color & 0xFF;
    return static_cast<int32_t>(GetPaletteEntries(palette, 0, 256, nullptr)) > index ? index : -1;
}

// The grey sample of a colour, a palette entry standing for its colour; -1 for an entry the
// palette does not have.
int32_t TKRLPNGWriteStream::GraySampleOf(TColor color) const {
    if ((color & PaletteColor) != 0 && SourceBits <= 8) {
        color = PaletteEntryColor(Source->Palette(), color & 0xFF);
        if (color == -1) return -1;
    }
    return ColorToGray(SourceBits, color);
}

// bKGD and tRNS hold the same layouts: a grey sample, a palette index or three samples.
void TKRLPNGWriteStream::WriteColorChunk(uint32_t chunkType, TColor color) {
    std::array<uint8_t, 256> data{};
    if (GrayOut) {
        const int32_t gray = GraySampleOf(color);
        if (gray < 0) return;
        PutBE16(data.data(), static_cast<uint32_t>(gray));
        WriteChunk(chunkType, data.data(), 2);
    } else if (SourceBits <= 8) {
        const int32_t index = PaletteIndexOf(color);
        if (index < 0) return;
        if (chunkType == ctbKGD) {
            data[0] = static_cast<uint8_t>(index);
            WriteChunk(chunkType, data.data(), 1);
            return;
        }
        // Only the named entry is transparent.
        std::fill_n(data.begin(), index, uint8_t{255});
        data[static_cast<size_t>(index)] = 0;
        WriteChunk(chunkType, data.data(), index + 1);
    } else {
        const auto c = static_cast<uint32_t>(color);
        PutBE16(&data[0], c & 0xFF);
        PutBE16(&data[2], (c >> 8) & 0xFF);
        PutBE16(&data[4], (c >> 16) & 0xFF);
        WriteChunk(chunkType, data.data(), 6);
    }
}

void TKRLPNGWriteStream::WriteBKGD() {
    if (BackgroundColor == -1) return;
    WriteColorChunk(ctbKGD, BackgroundColor);
}

void TKRLPNGWriteStream::WriteTRNS() {
    if (AlphaOut || TransColor == -1) return;
    WriteColorChunk(cttRNS, TransColor);
}

void TKRLPNGWriteStream::WritePHYs() {
    if (PixelsPerUnitX < 1 || PixelsPerUnitY < 1) return;
    int64_t x = PixelsPerUnitX;
    int64_t y = PixelsPerUnitY;
    uint8_t unit = PhysUnitNone;
    if (PhysUnit == PhysUnitMetre) {
        unit = PhysUnitMetre;
    } else if (PhysUnit == PhysUnitInch) {
        const auto perMetre = [](int64_t v) {
            return static_cast<int64_t>(static_cast<long double>(v * 100) / 254.0L * 100.0L);
        };
        x = perMetre(x);
        y = perMetre(y);
        unit = PhysUnitMetre;
        if (x > MaxPNGNumber || y > MaxPNGNumber) return;
    }
    std::array<uint8_t, 9> data{};
    PutBE32(&data[0], static_cast<uint32_t>(x));
    PutBE32(&data[4], static_cast<uint32_t>(y));
    data[8] = unit;
    WriteChunk(ctpHYs, data.data(), static_cast<int32_t>(data.size()));
}
