// The PNG reader's chunk loop and chunk readers.
#include "common/KRLPNGStream.h"

#include "common/KRLPNGChunks.h"

#include <algorithm>
#include <ctime>

using namespace krlpng;

namespace {

constexpr int32_t IHDRSize = 13;
constexpr int32_t cHRMSize = 32;
constexpr int32_t gIFgSize = 4;
constexpr int32_t tIMESize = 7;
constexpr int32_t pHYsSize = 9;

constexpr TColor GrayColor(uint32_t level) {
    return static_cast<TColor>(level * 0x010101u);
}

std::function<void(TKRLPNGTime&)>& UTCClock() {
    static std::function<void(TKRLPNGTime&)> clock;
    return clock;
}

} // namespace

void SetUTCTimeOverride(std::function<void(TKRLPNGTime& time)> clock) {
    UTCClock() = std::move(clock);
}

void GetUTCTime(TKRLPNGTime& time) {
    if (UTCClock()) {
        UTCClock()(time);
        return;
    }
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    time.Year = static_cast<uint16_t>(utc.tm_year + 1900);
    time.Month = static_cast<uint8_t>(utc.tm_mon + 1);
    time.Day = static_cast<uint8_t>(utc.tm_mday);
    time.Hour = static_cast<uint8_t>(utc.tm_hour);
    time.Minute = static_cast<uint8_t>(utc.tm_min);
    time.Second = static_cast<uint8_t>(utc.tm_sec);
}

TKRLPNGReadStream::TKRLPNGReadStream() {
    FInflate.Owner = this;
    FInflate.Refill = [this](TInflateRows& ctx) { return RefillIDAT(ctx); };
}

void TKRLPNGReadStream::ReadImage() {
    BeginProgress();
    BeginProgressPhase(0, 0, HeaderShare);

    FAlphaTarget = nullptr;
    FHasAlpha = false;
    FGray = false;
    FGrayAlphaPalette = false;
    FAlphaFromPalette = false;
    FInterlace = 0;
    FImageType = -1;
    FKey.clear();
    FBackground = -1;
    FTransparent = -1;
    FSigBits = 0;
    FGamma = 0;
    FPaletteAlpha.fill(255);
    if (FTimeTarget != nullptr) *FTimeTarget = {};
    if (FGIFTarget != nullptr) FGIFTarget->fill(0);
    if (FPrimariesTarget != nullptr) FPrimariesTarget->fill(0);
    BitDepth = 0;

    if (FVerifySignature) {
        std::array<uint8_t, 8> signature{};
        ReadBlock(signature.data(), static_cast<int32_t>(signature.size()));
        if (signature != PNGSignature) throw EKRLPNG(KRLPNGMsg::NotPNG);
    }

    try {
        ReadChunks();
    } catch (...) {
        InflateRowsEnd(FInflate);
        FreeRowBuffers();
        throw;
    }
    InflateRowsEnd(FInflate);
    FreeRowBuffers();

    // Data that ends before any image would otherwise load as an empty picture.
    if (!NoTarget && !Stopped && (FSeen & sbImage) == 0) throw EKRLPNG(KRLPNGMsg::ReadError);
    ApplyTransparency();
    if (FAlphaFromPalette && FAlphaTarget != nullptr) MakeAlphaFromPalette();
    EndProgress();
}

void TKRLPNGReadStream::ApplyTransparency() {
    if (NoTarget || Failed || Stopped || FHasAlpha || FTransparent == -1) return;
    Target->SetTransparent(true);
    Target->SetTransparentColor(FTransparent);
}

void TKRLPNGReadStream::ReadChunks() {
    while (!Failed && !Stopped && (FSeen & sbEnd) == 0) {
        ReadChunkHeader();
        switch (FTypeCode) {
        case ctIHDR:
            ReadIHDR();
            break;
        case ctPLTE:
            ReadPLTE();
            break;
        case ctIDAT:
            ReadIDAT();
            break;
        case ctIEND:
            ReadIEND();
            break;
        case ctbKGD:
            ReadbKGD();
            break;
        case ctcHRM:
            ReadcHRM();
            break;
        case ctgAMA:
            ReadgAMA();
            break;
        case ctgIFg:
            ReadgIFg();
            break;
        case ctpHYs:
            ReadpHYs();
            break;
        case ctsBIT:
            ReadsBIT();
            break;
        case cttEXt:
            ReadtEXt();
            break;
        case cttIME:
            ReadtIME();
            break;
        case cttRNS:
            ReadtRNS();
            break;
        case cttpNG:
            ReadtpNG();
            break;
        default:
            break;
        }
        SkipChunkRest();
        ReadLongBE(); // the CRC is not checked
    }
}

void TKRLPNGReadStream::ReadChunkHeader() {
    const uint32_t length = ReadLongBE();
    FTypeCode = ReadLongBE();
    FRemaining = static_cast<int32_t>(length);
    // PNG lengths stop at 2^31 - 1; a larger one cannot be followed.
    if (length > 0x7FFFFFFFu) {
        Failed = true;
        FTypeCode = 0;
        FRemaining = 0;
    }
}

// A reader may not run past its chunk into the CRC and what follows: a chunk too short for
// its fields fails like data that ends early.
bool TKRLPNGReadStream::TakeChunkBytes(int32_t count) {
    if (FRemaining < count) {
        Failed = true;
        return false;
    }
    FRemaining -= count;
    return true;
}

void TKRLPNGReadStream::SkipChunkRest() {
    if (FRemaining > 0) Skip(FRemaining);
    FRemaining = 0;
}

bool TKRLPNGReadStream::BeforeImage() const {
    return (FSeen & sbHeader) != 0 && (FSeen & sbImage) == 0;
}

bool TKRLPNGReadStream::BeforePalette() const {
    return BeforeImage() && (FSeen & sbPalette) == 0;
}

void TKRLPNGReadStream::ReadIHDR() {
    if ((FSeen & sbHeader) != 0) throw EKRLPNG(KRLPNGMsg::TwoIHDR);
    if (!TakeChunkBytes(IHDRSize)) return;
    Width = static_cast<int32_t>(ReadLongBE());
    Height = static_cast<int32_t>(ReadLongBE());
    FHeaderDepth = ReadByte();
    BitDepth = FHeaderDepth;

    int32_t colorType = ReadByte() & 7;
    // 1, 5 and 7: no such types.
    if (colorType == 1 || colorType == 5 || colorType == 7) throw EKRLPNG(KRLPNGMsg::ColorType);
    if ((colorType & ctAlphaBit) != 0) {
        FHasAlpha = true;
        colorType &= ~ctAlphaBit;
    }
    FGray = colorType == ctGray;
    FImageType = colorType;

    // Methods 0 and 1 are both read as the PNG method 0.
    if (ReadByte() > 1) throw EKRLPNG(KRLPNGMsg::Compression);
    if (ReadByte() > 1) throw EKRLPNG(KRLPNGMsg::Filter);
    const uint8_t interlace = ReadByte();
    if (interlace > 1) throw EKRLPNG(KRLPNGMsg::Interlace);
    FInterlace = interlace;

    FSeen |= sbHeader;
    UpdateProgress(0);
}

void TKRLPNGReadStream::ReadPLTE() {
    const bool paletteGray =
        FImageType == ctGray && FHasAlpha && FHeaderDepth == Depth8 && FGrayAlphaPalette;
    if (!BeforePalette() || !(FImageType == ctRGB || FImageType == ctPalette || paletteGray))
        return;
    const int32_t count = std::min(FRemaining / 3, 256);
    RGBQUAD* palette = PaletteBuffer();
    for (int32_t i = 0; i < count; ++i) {
        palette[i].rgbRed = ReadByte();
        palette[i].rgbGreen = ReadByte();
        palette[i].rgbBlue = ReadByte();
    }
    FRemaining -= 3 * count;
    PaletteCount = count;
    FSeen |= sbPalette;
    UpdateProgress(0);
}

void TKRLPNGReadStream::ReadIEND() {
    FSeen |= sbEnd;
}

// A grey sample as a grey level of the image's palette, or -1 when no pixel can have it.
TColor TKRLPNGReadStream::ReadGraySample() {
    uint32_t v = ReadWordBE();
    if (FHeaderDepth > Depth8) return static_cast<TColor>(v >> 8);
    if (FHeaderDepth >= Depth8) return v <= 255 ? static_cast<TColor>(v) : -1;
    // Below 8 bits the palette spreads the samples over 0..255.
    const uint32_t top = (1u << std::max(FHeaderDepth, 1)) - 1;
    return v <= top ? static_cast<TColor>(v * 255 / top) : -1;
}

TColor TKRLPNGReadStream::ReadRGBSamples() {
    TColor color = 0;
    for (int channel = 0; channel < 3; ++channel) {
        const uint32_t v = ReadWordBE();
        const uint32_t byte = FHeaderDepth == Depth16 ? v >> 8 : v & 0xFF;
        color |= static_cast<TColor>(byte << (8 * channel));
    }
    return color;
}

void TKRLPNGReadStream::ReadbKGD() {
    if ((FSeen & sbHeader) == 0) return;
    if (FImageType == ctGray) {
        if (!TakeChunkBytes(2)) return;
        const TColor v = ReadGraySample();
        if (v >= 0) FBackground = FGrayAlphaPalette ? PaletteColor + v : GrayColor(v);
    } else if (FImageType == ctRGB) {
        if (!TakeChunkBytes(6)) return;
        FBackground = ReadRGBSamples();
    } else {
        if (!TakeChunkBytes(1)) return;
        FBackground = PaletteColor + ReadByte();
    }
    UpdateProgress(0);
}

void TKRLPNGReadStream::ReadcHRM() {
    if (!BeforePalette() || FRemaining != cHRMSize || FPrimariesTarget == nullptr) return;
    for (uint32_t& value : *FPrimariesTarget)
        value = ReadLongBE();
    FRemaining -= cHRMSize;
    UpdateProgress(0);
}

void TKRLPNGReadStream::ReadgAMA() {
    if (!BeforePalette() || !TakeChunkBytes(4)) return;
    FGamma = ReadLongBE() / GammaScale;
    UpdateProgress(0);
}

void TKRLPNGReadStream::ReadgIFg() {
    if (!BeforePalette() || FRemaining != gIFgSize || FGIFTarget == nullptr) return;
    ReadBlock(FGIFTarget->data(), gIFgSize);
    FRemaining -= gIFgSize;
    UpdateProgress(0);
}

void TKRLPNGReadStream::ReadpHYs() {
    if (!BeforeImage() || !TakeChunkBytes(pHYsSize)) return;
    PixelsPerUnitX = ReadLongBE();
    PixelsPerUnitY = ReadLongBE();
    PhysUnit = ReadByte();
    UpdateProgress(0);
}

void TKRLPNGReadStream::ReadsBIT() {
    if (!BeforePalette() || (FImageType != ctRGB && FImageType != ctPalette)) return;
    const int32_t count = FHasAlpha ? 4 : 3;
    if (!TakeChunkBytes(count)) return;
    FSigBits = 0;
    for (int32_t i = 0; i < count; ++i)
        FSigBits |= uint32_t{ReadByte()} << (8 * i);
    UpdateProgress(0);
}

void TKRLPNGReadStream::ReadtEXt() {
    if (FRemaining <= 0) return;
    // Never more than the data can hold.
    if (FRemaining > Remaining()) {
        Failed = true;
        return;
    }
    std::string chunk(static_cast<size_t>(FRemaining), '\0');
    ReadBlock(chunk.data(), FRemaining);
    FRemaining = 0;
    const size_t end = chunk.find('\0');
    if (end == std::string::npos || chunk.compare(0, end, "Comment") != 0) return;
    const std::string_view text = std::string_view(chunk).substr(end + 1);
    if (!text.empty()) {
        if (!Comment.empty()) Comment += "\r\n";
        Comment += text;
        Comment += "\r\n";
    }
    UpdateProgress(0);
}

void TKRLPNGReadStream::ReadtIME() {
    if (FRemaining != tIMESize || FTimeTarget == nullptr) return;
    TKRLPNGTime& time = *FTimeTarget;
    time.Year = ReadWordBE();
    time.Month = ReadByte();
    time.Day = ReadByte();
    time.Hour = ReadByte();
    time.Minute = ReadByte();
    time.Second = ReadByte();
    FRemaining -= tIMESize;
    UpdateProgress(0);
}

void TKRLPNGReadStream::ReadtRNS() {
    if (!BeforeImage() || FHasAlpha) return;
    if (FImageType == ctGray) {
        if (!TakeChunkBytes(2)) return;
        const TColor v = ReadGraySample();
        if (v >= 0) FTransparent = GrayColor(static_cast<uint32_t>(v));
    } else if (FImageType == ctRGB) {
        if (!TakeChunkBytes(6)) return;
        FTransparent = ReadRGBSamples();
    } else {
        const int32_t count = std::min(FRemaining, PaletteCount);
        if (count > 0) ReadBlock(FPaletteAlpha.data(), count);
        FRemaining -= count;
        FTransparent = PaletteTRNSPending;
    }
    UpdateProgress(0);
}

void TKRLPNGReadStream::ReadtpNG() {
    if (!BeforeImage() || (FSeen & sbPrivate) != 0) return;
    FSeen |= sbPrivate;
    if (!TakeChunkBytes(4)) return;
    const uint32_t magic = ReadLongBE();
    if (FRemaining <= 0 || magic != PrivateMagic) return;
    const uint8_t rowsHooked = ReadByte();
    --FRemaining;
    if (rowsHooked != 0) {
        FKey = FGivenKey;
        if (OnKeyRequest) OnKeyRequest(this, FKey);
    }
    if (FRemaining <= 0) return;
    const uint8_t paletteGray = ReadByte();
    --FRemaining;
    if (paletteGray == 1 && FAllowGrayPalette) FGrayAlphaPalette = true;
}

// The image data may span any number of IDAT chunks, empty ones included.
int32_t TKRLPNGReadStream::RefillIDAT(TInflateRows& ctx) {
    while (FRemaining <= 0) {
        ReadLongBE(); // CRC of the finished chunk
        ReadChunkHeader();
        if (Failed || Stopped || FTypeCode != ctIDAT) return -1;
    }
    const int32_t count = std::min(FRemaining, ctx.InBufferSize);
    ReadBlock(ctx.InBuffer.get(), count);
    FRemaining -= count;
    ctx.Stream.next_in = ctx.InBuffer.get();
    ctx.Stream.avail_in = static_cast<uInt>(count);
    return Failed || Stopped ? -1 : 0;
}

void TKRLPNGReadStream::ResolvePaletteTransparency() {
    const auto clear = std::count(FPaletteAlpha.begin(), FPaletteAlpha.end(), uint8_t{0});
    const auto opaque = std::count(FPaletteAlpha.begin(), FPaletteAlpha.end(), uint8_t{255});
    if (clear == 1 && opaque == 255) {
        const auto index = std::find(FPaletteAlpha.begin(), FPaletteAlpha.end(), uint8_t{0}) -
                           FPaletteAlpha.begin();
        FTransparent = PaletteColor + static_cast<TColor>(index);
    } else {
        FTransparent = -1;
        FAlphaFromPalette = true;
    }
}

// ---------------------------------------------------------------- header-only helpers

int64_t TotalRows(int32_t interlaced, int64_t h) {
    if (interlaced == 0) return h;
    int64_t rows = 2 * ((h + 7) / 8) + (h + 3) / 4 + (h + 1) / 2;
    if (h >= 5) rows += (h + 3) / 8;
    if (h >= 3) rows += (h + 1) / 4;
    if (h >= 2) rows += h / 2;
    return rows;
}
