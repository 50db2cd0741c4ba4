// TBitmap: a device-independent bitmap in memory with a selectable pixel format.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/Graphic.h"

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
enum THandleType { bmDIB, bmDDB };
enum TTransparentMode { tmAuto, tmFixed };

// Bytes of one row of Width pixels, padded to a multiple of 4.
constexpr uint32_t BitmapRowBytes(uint32_t width, uint32_t bitsPerPixel) {
    return ((width * bitsPerPixel + 31) / 32) * 4;
}
// Bits per pixel of the storage of a format (pfDevice and pfCustom: 24 and 16).
int StorageBits(TPixelFormat format);

class TBitmap : public TGraphic {
public:
    TBitmap();
    ~TBitmap() override;

    static std::string StaticClassName() { return "TBitmap"; }
    std::string ClassName() const override { return StaticClassName(); }

    // Deep copy of another bitmap; none empties; other graphics assign themselves or are drawn.
    void Assign(const TGraphic* source) override;
    void Assign(const TGraphic& source) { Assign(&source); }

    bool Empty() const override { return width_ == 0 || height_ == 0; }
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    // Resizing keeps the top-left content; new area is filled with the canvas's brush colour.
    void SetWidth(int value) override;
    void SetHeight(int value) override;
    void SetSize(int width, int height);

    TPixelFormat PixelFormat() const { return format_; }
    // Converts the picture into the new format (palette formats through nearest colours).
    void SetPixelFormat(TPixelFormat format);
    THandleType HandleType() const { return format_ == pfDevice ? bmDDB : bmDIB; }
    void SetHandleType(THandleType type);
    bool Monochrome() const;

    // Row Row of the picture, top row 0; raises EInvalidGraphicOperation outside the bitmap.
    uint8_t* ScanLine(int row);
    const uint8_t* ScanLine(int row) const;
    int RowBytes() const { return stride_; }
    int BitsPerPixel() const { return StorageBits(format_); }

    // The bitmap's own palette: the handle stays valid until the palette changes or the bitmap
    // goes; callers never free it. Setting takes the entries and frees a handle that came from
    // CreatePalette (the bitmap takes ownership, as the platform does).
    HPALETTE Palette() const override;
    void SetPalette(HPALETTE value) override;
    const std::vector<RGBQUAD>& ColorTable() const { return colors_; }
    void SetColorTable(std::vector<RGBQUAD> colors);

    void SetTransparent(bool value) override;
    TColor TransparentColor() const;
    void SetTransparentColor(TColor color);
    TTransparentMode TransparentMode() const { return transparentMode_; }
    void SetTransparentMode(TTransparentMode mode);

    TCanvas& Canvas();
    void Draw(TCanvas& canvas, const TRect& rect) const override;

    // Windows bitmap files.
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;

    // The colour of a pixel and the stored value for a colour (nearest palette index for
    // palette formats). Slow paths for the canvas and conversions, not for pixel loops.
    TColor PixelColor(int x, int y) const;
    void SetPixelColor(int x, int y, TColor color);
    uint32_t ColorToPixelValue(TColor color) const;

    void Dormant() {}
    void FreeImage() {}

private:
    friend class TCanvas;
    void Reallocate(int width, int height, TPixelFormat format, std::vector<RGBQUAD> colors,
                    bool keepPicture);
    void InvalidatePalette() const;
    // Replaces the picture by one read from a file (rows in the layout of Format).
    void TakeImage(int width, int height, TPixelFormat format, std::vector<uint8_t> pixels,
                   std::vector<RGBQUAD> colors);

    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    TPixelFormat format_ = pfDevice;
    std::vector<uint8_t> pixels_;
    std::vector<RGBQUAD> colors_;
    mutable HPALETTE paletteHandle_ = 0;
    TColor transparentColor_ = clDefault;
    TTransparentMode transparentMode_ = tmAuto;
    std::unique_ptr<TCanvas> canvas_;
};

// Default colour tables of the palette formats.
std::vector<RGBQUAD> DefaultColorTable(TPixelFormat format);
