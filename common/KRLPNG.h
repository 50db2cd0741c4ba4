// TKRLPNG: the PNG picture class. The picture is an image bitmap plus an alpha bitmap (255
// minus alpha, stored but never drawn) and the PNG ancillary data. Registered with TPicture
// for the extension "PNG" for as long as the program runs.
#pragma once

#include "common/KRLPNGStream.h"
#include "platform/graphics/Bitmap.h"

#include <cstdint>
#include <memory>
#include <string>

class TKRLPNG : public TGraphic {
public:
    TKRLPNG();
    ~TKRLPNG() override;

    static std::string StaticClassName() { return "TKRLPNG"; }
    std::string ClassName() const override { return StaticClassName(); }

    void Assign(const TGraphic* source) override;
    void Assign(const TGraphic& source) { Assign(&source); }
    bool AssignTo(TGraphic& dest) const override;
    void Draw(TCanvas& canvas, const TRect& rect) const override;
    bool Empty() const override;
    int Width() const override;
    int Height() const override;
    HPALETTE Palette() const override;
    void SetPalette(HPALETTE value) override;
    void SetWidth(int value) override;
    void SetHeight(int value) override;
    void SetTransparent(bool value) override;

    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    void ReadData(TStream& stream) override;
    void WriteData(TStream& stream) override;
    void LoadFromClipboardFormat(uint16_t format, uintptr_t data, HPALETTE palette) override;
    void SaveToClipboardFormat(uint16_t& format, uintptr_t& data, HPALETTE& palette) override;

    // The external bitmap when one is set, else the picture's own.
    TBitmap& ImageBitmap() const;
    TBitmap& AlphaBitmap() const;
    // Bitmaps supplied from outside are used in place of the own ones and never freed here;
    // none goes back to the own bitmap.
    void SetImageBitmap(TBitmap* bitmap) { externalImage_ = bitmap; }
    void SetAlphaBitmap(TBitmap* bitmap) { externalAlpha_ = bitmap; }

    int32_t IDATSize = 32768;
    int32_t CompressionLevel = -1;
    uint8_t FilterMode = 1;
    bool Interlaced = false;
    bool GrayScale = false;
    bool HasAlpha = false;
    int32_t BitDepth = 0;
    TColor BackgroundColor = -1;
    TColor TransColor = -1;
    std::string Comment;
    double Gamma = 0.45455;
    std::string RowKey;
    uint32_t SignificantBits = 0;
    uint8_t PhysUnit = 0;
    uint32_t PixelsPerUnitX = 0;
    uint32_t PixelsPerUnitY = 0;
    bool CheckMacBinary = true;
    bool StampTime = true;
    TKRLPNGTime ModifiedTime;
    TKRLPNGChromaticities Chromaticities{};
    TKRLPNGGifExtension GifExtension{};
    bool ReadHighColor = false;
    TKRLPNGKeyEvent OnKeyRequest;
    TKRLPNGRowEvent OnWriteRow;
    TKRLPNGRowEvent OnReadRow;

private:
    void SyncTransparency(TBitmap& bitmap);
    void TakeResults(const TKRLPNGReadStream& reader);
    void GiveAncillaryData(TKRLPNGWriteStream& writer) const;

    bool syncing_ = false;
    TBitmap* externalAlpha_ = nullptr;
    std::unique_ptr<TBitmap> ownAlpha_;
    TBitmap* externalImage_ = nullptr;
    std::unique_ptr<TBitmap> ownImage_;
};
