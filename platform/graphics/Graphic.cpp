#include "platform/graphics/Graphic.h"

#include <algorithm>

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Jpeg.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"

// ---------------------------------------------------------------- TGraphic

void TGraphic::Assign(const TGraphic* source) {
    if (source == nullptr || !source->AssignTo(*this)) AssignError(source);
}

bool TGraphic::AssignTo(TGraphic&) const { return false; }

void TGraphic::AssignError(const TGraphic* source) const {
    throw EConvertError(
        Format(Msg::AssignError, source ? source->ClassName() : std::string("nil"), ClassName()));
}

void TGraphic::SetTransparent(bool value) {
    if (value == transparent_) return;
    transparent_ = value;
    Changed();
}

void TGraphic::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& fileName) {
    TFileStream stream(fileName, fmCreate);
    SaveToStream(stream);
}

void TGraphic::LoadFromClipboardFormat(uint16_t, uintptr_t, HPALETTE) {
    throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::SaveToClipboardFormat(uint16_t&, uintptr_t&, HPALETTE&) {
    throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::Changed(TObject*) {
    if (OnChange) OnChange(this);
}

void TGraphic::Progress(TObject* sender, TProgressStage stage, uint8_t percentDone,
                        bool redrawNow, const TRect& r, const std::string& msg) {
    if (OnProgress) OnProgress(sender, stage, percentDone, redrawNow, r, msg);
}

// ---------------------------------------------------------------- TPicture

namespace {

std::vector<TPicture::FileFormat>& Registry() {
    static std::vector<TPicture::FileFormat> formats = [] {
        std::vector<TPicture::FileFormat> f = JPEGFileFormats();
        f.push_back({"bmp", "Bitmaps", GraphicClassOf<TBitmap>()});
        return f;
    }();
    return formats;
}

} // namespace

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  TGraphicClass graphicClass) {
    auto& formats = Registry();
    std::erase_if(formats, [&](const FileFormat& f) { return SameText(f.extension, extension); });
    formats.insert(formats.begin(), {LowerCase(extension), description, graphicClass});
}

void TPicture::UnregisterGraphicClass(TGraphicClass graphicClass) {
    std::erase_if(Registry(), [&](const FileFormat& f) { return f.graphicClass == graphicClass; });
}

std::vector<TPicture::FileFormat> TPicture::FileFormats() { return Registry(); }

TGraphicClass TPicture::ClassForExtension(const std::string& extension) {
    std::string ext = extension;
    if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
    for (const auto& f : Registry())
        if (SameText(f.extension, ext)) return f.graphicClass;
    return nullptr;
}

std::string TPicture::GraphicFilter() {
    std::string all, each;
    for (const auto& f : Registry()) {
        const std::string mask = "*." + f.extension;
        all += (all.empty() ? "" : ";") + mask;
        each += "|" + f.description + " (" + mask + ")|" + mask;
    }
    return "All (" + all + ")|" + all + each;
}

void TPicture::Hook() {
    if (!graphic_) return;
    graphic_->OnChange = [this](TObject* sender) { Changed(sender); };
    graphic_->OnProgress = [this](TObject* sender, TProgressStage stage, uint8_t percent,
                                  bool redraw, const TRect& r, const std::string& msg) {
        if (OnProgress) OnProgress(sender, stage, percent, redraw, r, msg);
    };
}

void TPicture::Changed(TObject* sender) {
    if (OnChange) OnChange(sender);
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
    graphic_ = std::move(graphic);
    Hook();
    Changed(this);
}

TBitmap& TPicture::Bitmap() {
    auto* bitmap = dynamic_cast<TBitmap*>(graphic_.get());
    if (bitmap == nullptr) {
        auto fresh = std::make_unique<TBitmap>();
        bitmap = fresh.get();
        SetGraphic(std::move(fresh));
    }
    return *bitmap;
}

int TPicture::Width() const { return graphic_ ? graphic_->Width() : 0; }
int TPicture::Height() const { return graphic_ ? graphic_->Height() : 0; }

void TPicture::Assign(const TPicture* source) { Assign(source ? source->Graphic() : nullptr); }

void TPicture::Assign(const TGraphic* source) {
    if (source == nullptr) {
        SetGraphic(nullptr);
        return;
    }
    // A copy of the same class as the source.
    std::unique_ptr<TGraphic> copy;
    for (const auto& f : Registry())
        if (f.graphicClass->className == source->ClassName()) copy = f.graphicClass->create();
    if (!copy) copy = std::make_unique<TBitmap>();
    copy->Assign(source);
    SetGraphic(std::move(copy));
}

void TPicture::LoadFromFile(const std::string& fileName) {
    std::string ext = ExtractFileExt(fileName);
    if (!ext.empty()) ext.erase(0, 1);
    const TGraphicClass cls = ClassForExtension(ext);
    if (cls == nullptr) throw EInvalidGraphic(Format(Msg::UnknownExtension, ext));
    std::unique_ptr<TGraphic> graphic = cls->create();
    graphic->OnProgress = [this](TObject* sender, TProgressStage stage, uint8_t percent,
                                 bool redraw, const TRect& r, const std::string& msg) {
        if (OnProgress) OnProgress(sender, stage, percent, redraw, r, msg);
    };
    graphic->LoadFromFile(fileName);
    SetGraphic(std::move(graphic));
}

void TPicture::SaveToFile(const std::string& fileName) {
    if (graphic_) graphic_->SaveToFile(fileName);
}
