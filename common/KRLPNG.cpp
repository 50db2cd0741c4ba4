#include "common/KRLPNG.h"

#include "platform/graphics/Canvas.h"

namespace {

// Registers the picture class for the program's whole run. The build forces this object
// into every program that links the image library (see KRLPNGUnit).
struct TKRLPNGRegistration {
    TKRLPNGRegistration() {
        TPicture::RegisterFileFormat("PNG", "PNG Format", GraphicClassOf<TKRLPNG>());
    }
    ~TKRLPNGRegistration() { TPicture::UnregisterGraphicClass(GraphicClassOf<TKRLPNG>()); }
    TKRLPNGRegistration(const TKRLPNGRegistration&) = delete;
    TKRLPNGRegistration& operator=(const TKRLPNGRegistration&) = delete;
};

const TKRLPNGRegistration registration;

// Puts back a bitmap's progress handler however the read ends.
class TProgressSwap {
public:
    TProgressSwap(TBitmap& bitmap, const TProgressEvent& handler) : bitmap_(bitmap) {
        if (!handler) return;
        saved_ = std::move(bitmap.OnProgress);
        bitmap.OnProgress = handler;
        swapped_ = true;
    }
    ~TProgressSwap() {
        if (swapped_) bitmap_.OnProgress = std::move(saved_);
    }
    TProgressSwap(const TProgressSwap&) = delete;
    TProgressSwap& operator=(const TProgressSwap&) = delete;

private:
    TBitmap& bitmap_;
    TProgressEvent saved_;
    bool swapped_ = false;
};

} // namespace

// The symbol the build's link options name, so the registration above is never dropped.
extern "C" {
extern const int KRLPNGUnit;
const int KRLPNGUnit = 1;
}

TKRLPNG::TKRLPNG()
    : ownAlpha_(std::make_unique<TBitmap>()), ownImage_(std::make_unique<TBitmap>()) {
    GetUTCTime(ModifiedTime);
}

TKRLPNG::~TKRLPNG() = default;

TBitmap& TKRLPNG::ImageBitmap() const {
    return externalImage_ != nullptr ? *externalImage_ : *ownImage_;
}

TBitmap& TKRLPNG::AlphaBitmap() const {
    return externalAlpha_ != nullptr ? *externalAlpha_ : *ownAlpha_;
}

// ---------------------------------------------------------------- reading

void TKRLPNG::LoadFromStream(TStream& stream) {
    TKRLPNGReadStream reader;
    TBitmap& bmp = ImageBitmap();
    reader.OnReadRow = OnReadRow;
    reader.OnKeyRequest = OnKeyRequest;
    reader.FGivenKey = RowKey;
    reader.CheckMacBinary = CheckMacBinary;
    reader.FSBIT16Bit = ReadHighColor;
    reader.FTimeTarget = &ModifiedTime;
    reader.FPrimariesTarget = &Chromaticities;
    reader.FGIFTarget = &GifExtension;
    ownAlpha_->Assign(nullptr);
    reader.FAlphaBitmap = &AlphaBitmap();
    {
        const TProgressSwap progress(bmp, OnProgress);
        reader.ReadFromStream(&bmp, stream, 0);
    }
    TakeResults(reader);
    Interlaced = reader.FInterlace != 0;
    SyncTransparency(bmp);
}

void TKRLPNG::ReadData(TStream& stream) {
    TKRLPNGReadStream reader;
    reader.FTimeTarget = &ModifiedTime;
    reader.FPrimariesTarget = &Chromaticities;
    reader.FGIFTarget = &GifExtension;
    externalImage_ = nullptr;
    externalAlpha_ = nullptr;
    ownAlpha_->Assign(nullptr);
    reader.FAlphaBitmap = ownAlpha_.get();
    reader.ReadFromStream(ownImage_.get(), stream, 0);
    TakeResults(reader);
    SyncTransparency(*ownImage_);
    Changed();
}

void TKRLPNG::TakeResults(const TKRLPNGReadStream& reader) {
    HasAlpha = reader.FHasAlpha;
    Comment = reader.Comment;
    BackgroundColor = reader.FBackground;
    TransColor = reader.FTransparent;
    Gamma = reader.FGamma;
    PhysUnit = static_cast<uint8_t>(reader.PhysUnit);
    PixelsPerUnitX = reader.PixelsPerUnitX;
    PixelsPerUnitY = reader.PixelsPerUnitY;
    SignificantBits = reader.FSigBits;
    BitDepth = reader.BitDepth;
    GrayScale = reader.FGray;
}

// ---------------------------------------------------------------- writing

void TKRLPNG::SaveToStream(TStream& stream) {
    TBitmap& bmp = ImageBitmap();
    TKRLPNGWriteStream writer;
    writer.CompressionLevel = CompressionLevel;
    writer.FilterMode = FilterMode;
    // Refused before a byte is written.
    writer.SetIDATSize(IDATSize);
    writer.Interlaced = Interlaced ? 1 : 0;
    writer.RowKey = RowKey;
    writer.OnWriteRow = OnWriteRow;
    writer.StampTime = StampTime;
    GiveAncillaryData(writer);
    if (HasAlpha) writer.AlphaBitmap = &AlphaBitmap();
    const TProgressSwap progress(bmp, OnProgress);
    writer.WriteToStream(bmp, stream);
}

// Form data is always the own bitmaps, with the writer's own size, level, filter, interlacing
// and time stamping.
void TKRLPNG::WriteData(TStream& stream) {
    if (ownImage_->Empty()) return;
    TKRLPNGWriteStream writer;
    GiveAncillaryData(writer);
    if (HasAlpha) writer.AlphaBitmap = ownAlpha_.get();
    writer.WriteToStream(*ownImage_, stream);
}

void TKRLPNG::GiveAncillaryData(TKRLPNGWriteStream& writer) const {
    writer.GrayScale = GrayScale;
    writer.Comment = Comment;
    writer.BackgroundColor = BackgroundColor;
    writer.TransColor = TransColor;
    writer.Gamma = Gamma;
    writer.SignificantBits = static_cast<int32_t>(SignificantBits);
    writer.PhysUnit = PhysUnit;
    writer.PixelsPerUnitX = static_cast<int32_t>(PixelsPerUnitX);
    writer.PixelsPerUnitY = static_cast<int32_t>(PixelsPerUnitY);
    writer.ModifiedTime = &ModifiedTime;
    writer.Chromaticities = &Chromaticities;
    writer.GifExtension = &GifExtension;
}

// ---------------------------------------------------------------- the picture

void TKRLPNG::SyncTransparency(TBitmap& bitmap) {
    PaletteModified = true;
    if (Transparent() == bitmap.Transparent()) {
        Changed();
        return;
    }
    syncing_ = true;
    try {
        SetTransparent(bitmap.Transparent());
    } catch (...) {
        syncing_ = false;
        throw;
    }
    syncing_ = false;
}

void TKRLPNG::SetTransparent(bool value) {
    if (!syncing_ && ImageBitmap().Transparent() != value) ImageBitmap().SetTransparent(value);
    TGraphic::SetTransparent(value);
}

void TKRLPNG::Assign(const TGraphic* source) {
    if (source == nullptr) {
        TGraphic::Assign(source);
        return;
    }
    externalImage_ = nullptr;
    if (const auto* other = dynamic_cast<const TKRLPNG*>(source)) {
        if (other != this) {
            ownImage_->Assign(other->ownImage_.get());
            ownAlpha_->Assign(other->ownAlpha_.get());
            externalImage_ = other->externalImage_;
            externalAlpha_ = other->externalAlpha_;
            CompressionLevel = other->CompressionLevel;
            FilterMode = other->FilterMode;
            IDATSize = other->IDATSize;
            Interlaced = other->Interlaced;
            GrayScale = other->GrayScale;
            Comment = other->Comment;
            BackgroundColor = other->BackgroundColor;
            TransColor = other->TransColor;
            Gamma = other->Gamma;
            SignificantBits = other->SignificantBits;
            PhysUnit = other->PhysUnit;
            PixelsPerUnitX = other->PixelsPerUnitX;
            PixelsPerUnitY = other->PixelsPerUnitY;
            StampTime = other->StampTime;
            ModifiedTime = other->ModifiedTime;
            Chromaticities = other->Chromaticities;
        }
    } else {
        ownImage_->Assign(source);
    }
    SyncTransparency(*ownImage_);
}

bool TKRLPNG::AssignTo(TGraphic& dest) const {
    dest.Assign(&ImageBitmap());
    return true;
}

void TKRLPNG::Draw(TCanvas& canvas, const TRect& rect) const {
    canvas.StretchDraw(rect, ImageBitmap());
}

bool TKRLPNG::Empty() const {
    return ImageBitmap().Empty();
}
int TKRLPNG::Width() const {
    return ImageBitmap().Width();
}
int TKRLPNG::Height() const {
    return ImageBitmap().Height();
}
HPALETTE TKRLPNG::Palette() const {
    return ImageBitmap().Palette();
}

void TKRLPNG::SetPalette(HPALETTE value) {
    ImageBitmap().SetPalette(value);
    Changed();
}

void TKRLPNG::SetWidth(int value) {
    if (!ImageBitmap().Empty()) ImageBitmap().SetWidth(value);
    if (!AlphaBitmap().Empty()) AlphaBitmap().SetWidth(value);
    Changed();
}

void TKRLPNG::SetHeight(int value) {
    if (!ImageBitmap().Empty()) ImageBitmap().SetHeight(value);
    if (!AlphaBitmap().Empty()) AlphaBitmap().SetHeight(value);
    Changed();
}

void TKRLPNG::LoadFromClipboardFormat(uint16_t format, uintptr_t data, HPALETTE palette) {
    externalImage_ = nullptr;
    ownImage_->LoadFromClipboardFormat(format, data, palette);
    SyncTransparency(*ownImage_);
}

void TKRLPNG::SaveToClipboardFormat(uint16_t& format, uintptr_t& data, HPALETTE& palette) {
    ImageBitmap().SaveToClipboardFormat(format, data, palette);
}
