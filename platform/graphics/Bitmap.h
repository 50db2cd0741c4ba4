// TBitmap: a device-independent bitmap in memory with a selectable pixel format.
#pragma once

#include "platform/graphics/Graphic.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

enum TPixelFormat {
    pfDevice,
    pf1bit,
    pf4bit,
    pf8bit,
    pf15bit,
    pf16bit,
    pf24bit,
    pf32bit,
    pfCustom
};
enum THandleType { bmDIB, bmDDB };
enum TTransparentMode { tmAuto, tmFixed };

// Pixel storage. Growing it leaves the new bytes as they come from the allocator, so a decoder
// that writes every row does not pay for clearing them first (nor for touching the pages of a
// picture whose data then turns out to be missing). Bytes are not constructed or destroyed one
// by one, which a vector with such an allocator still does in unoptimised and sanitised builds.
// Shrinking keeps the memory for the next growth, as a vector's capacity.
class TPixelBuffer {
public:
    TPixelBuffer() = default;
    TPixelBuffer(const TPixelBuffer& other);
    TPixelBuffer& operator=(const TPixelBuffer& other);
    TPixelBuffer(TPixelBuffer&& other) noexcept
        : bytes_(std::move(other.bytes_)), size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    TPixelBuffer& operator=(TPixelBuffer&& other) noexcept;
    ~TPixelBuffer() = default;

    uint8_t* data() { return bytes_.get(); }
    const uint8_t* data() const { return bytes_.get(); }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void clear() { size_ = 0; }
    // Keeps the first bytes as a vector does; raises std::bad_alloc.
    void resize(size_t count);
    void assign(size_t count, uint8_t value);

private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// Bytes of one row of Width pixels, padded to a multiple of 4.
constexpr uint32_t BitmapRowBytes(uint32_t width, uint32_t bitsPerPixel) {
    return ((width * bitsPerPixel + 31) / 32) * 4;
}
// Bits per pixel a format stands for (pfDevice 24, pfCustom 15).
int32_t BitsFromPixelFormat(TPixelFormat format);
// Bits per pixel of the storage of a format: 15-bit pixels take 16 bits.
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
    // As Assign from another bitmap, but the pixels move instead of being copied; Source is
    // left empty.
    void TakeOver(TBitmap& source);

    bool Empty() const override { return width_ == 0 || height_ == 0; }
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    // Resizing keeps the top-left content; new area is filled with the canvas's brush colour.
    void SetWidth(int value) override;
    void SetHeight(int value) override;
    void SetSize(int width, int height);
    // A bitmap that takes many pictures in turn (a movie's frames) keeps the buffer that the
    // last new picture replaced and lays the next one into it, so pictures of sizes already seen
    // take no new memory. Off gives the kept buffer back.
    void SetRecycling(bool on);
    // For decoders: a picture of the given size in the current format whose rows hold
    // whatever the allocator left until the caller writes every byte of them, padding
    // included. The result is one row as a resize would have filled it (the brush colour,
    // padding zero), for the rows the caller does not reach.
    std::vector<uint8_t> SetSizeForOverwrite(int width, int height);

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
    enum class TNewArea { Fill, Overwrite };
    void Clear();
    void Reallocate(int width, int height, TPixelFormat format, std::vector<RGBQUAD> colors,
                    bool keepPicture, TNewArea newArea = TNewArea::Fill);
    TColor NewAreaColor() const;
    void InvalidatePalette() const;
    // Replaces the picture by one read from a file (rows in the layout of Format).
    void TakeImage(int width, int height, TPixelFormat format, TPixelBuffer pixels,
                   std::vector<RGBQUAD> colors);
    // The buffer for a new picture (the kept one when recycling), and the old one given back.
    TPixelBuffer TakeSpare();
    void Recycle(TPixelBuffer old);

    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    TPixelFormat format_ = pfDevice;
    TPixelBuffer pixels_;
    bool recycling_ = false;
    TPixelBuffer spare_;
    std::vector<RGBQUAD> colors_;
    mutable HPALETTE paletteHandle_ = 0;
    TColor transparentColor_ = clDefault;
    TTransparentMode transparentMode_ = tmAuto;
    std::unique_ptr<TCanvas> canvas_;
};

// Default colour tables of the palette formats.
std::vector<RGBQUAD> DefaultColorTable(TPixelFormat format);
