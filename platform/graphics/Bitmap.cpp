#include "platform/graphics/Bitmap.h"

#include "platform/graphics/Canvas.h"
#include "platform/graphics/PixelRows.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace pixel_rows {

bool IsPaletteFormat(TPixelFormat f) {
    return f == pf1bit || f == pf4bit || f == pf8bit;
}

size_t PaletteCapacity(TPixelFormat f) {
    return f == pf1bit ? 2 : f == pf4bit ? 16 : f == pf8bit ? 256 : 256;
}

RGBQUAD Quad(uint8_t r, uint8_t g, uint8_t b) {
    return {b, g, r, 0};
}

RGBQUAD ColorQuad(TColor color, const std::vector<RGBQUAD>& colors) {
    if ((color & 0xFF000000) == PaletteIndexColor) {
        const auto i = static_cast<size_t>(color & 0xFFFF);
        return i < colors.size() ? colors[i] : RGBQUAD{};
    }
    return Quad(GetRValue(color), GetGValue(color), GetBValue(color));
}

uint8_t Expand5(uint32_t v) {
    return static_cast<uint8_t>((v << 3) | (v >> 2));
}
uint8_t Expand6(uint32_t v) {
    return static_cast<uint8_t>((v << 2) | (v >> 4));
}

uint8_t NearestIndex::operator()(uint8_t b, uint8_t g, uint8_t r) {
    const uint32_t key = b | (g << 8) | (r << 16);
    if (const auto it = cache_.find(key); it != cache_.end()) return it->second;
    uint8_t best = 0;
    int bestDistance = 1 << 30;
    for (size_t i = 0; i < colors_.size() && i < 256; ++i) {
        const int db = colors_[i].rgbBlue - b, dg = colors_[i].rgbGreen - g,
                  dr = colors_[i].rgbRed - r;
        const int d = db * db + dg * dg + dr * dr;
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<uint8_t>(i);
            if (d == 0) break;
        }
    }
    cache_.emplace(key, best);
    return best;
}

uint32_t PixelIndexAt(const uint8_t* row, int x, TPixelFormat f) {
    switch (f) {
    case pf1bit:
        return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case pf4bit:
        return (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4);
    default:
        return row[x];
    }
}

void SetPixelIndexAt(uint8_t* row, int x, TPixelFormat f, uint32_t value) {
    switch (f) {
    case pf1bit: {
        const uint8_t bit = static_cast<uint8_t>(0x80u >> (x & 7));
        row[x >> 3] = static_cast<uint8_t>(value & 1 ? row[x >> 3] | bit : row[x >> 3] & ~bit);
        break;
    }
    case pf4bit:
        row[x >> 1] = static_cast<uint8_t>(x & 1 ? (row[x >> 1] & 0xF0) | (value & 0x0F)
                                                 : (row[x >> 1] & 0x0F) | ((value & 0x0F) << 4));
        break;
    default:
        row[x] = static_cast<uint8_t>(value);
    }
}

// One row of any format into blue, green, red bytes.
void DecodeRow(const uint8_t* src, int width, TPixelFormat f, const std::vector<RGBQUAD>& colors,
               uint8_t* bgr) {
    switch (f) {
    case pf1bit:
    case pf4bit:
    case pf8bit: {
        // Indexes past the table show black. The table is held apart from the vector, which the
        // byte stores could otherwise change as far as the compiler knows.
        const RGBQUAD* table = colors.data();
        const size_t entries = colors.size();
        const auto put = [table, entries, &bgr](uint32_t i) {
            const RGBQUAD q = i < entries ? table[i] : RGBQUAD{};
            bgr[0] = q.rgbBlue;
            bgr[1] = q.rgbGreen;
            bgr[2] = q.rgbRed;
            bgr += 3;
        };
        if (f == pf8bit) {
            for (int x = 0; x < width; ++x)
                put(src[x]);
        } else if (f == pf4bit) {
            for (int x = 0; x + 1 < width; x += 2) {
                put(src[x / 2] >> 4);
                put(src[x / 2] & 0x0Fu);
            }
            if (width & 1) put(src[width / 2] >> 4);
        } else {
            for (int x = 0; x < width; ++x)
                put((src[x >> 3] >> (7 - (x & 7))) & 1u);
        }
        break;
    }
    case pf15bit:
    case pfCustom:
        for (int x = 0; x < width; ++x, bgr += 3, src += 2) {
            const uint32_t w = src[0] | (src[1] << 8);
            bgr[0] = Expand5(w & 31);
            bgr[1] = Expand5((w >> 5) & 31);
            bgr[2] = Expand5((w >> 10) & 31);
        }
        break;
    case pf16bit:
        for (int x = 0; x < width; ++x, bgr += 3, src += 2) {
            const uint32_t w = src[0] | (src[1] << 8);
            bgr[0] = Expand5(w & 31);
            bgr[1] = Expand6((w >> 5) & 63);
            bgr[2] = Expand5(w >> 11);
        }
        break;
    case pf32bit:
        for (int x = 0; x < width; ++x, bgr += 3, src += 4) {
            bgr[0] = src[0];
            bgr[1] = src[1];
            bgr[2] = src[2];
        }
        break;
    case pfDevice:
    case pf24bit:
        std::memcpy(bgr, src, static_cast<size_t>(width) * 3);
        break;
    }
}

// Blue, green, red bytes into one row of any format.
void EncodeRow(const uint8_t* bgr, int width, TPixelFormat f, NearestIndex& nearest, uint8_t* dst) {
    switch (f) {
    case pf1bit:
    case pf4bit:
    case pf8bit:
        for (int x = 0; x < width; ++x, bgr += 3)
            SetPixelIndexAt(dst, x, f, nearest(bgr[0], bgr[1], bgr[2]));
        break;
    case pf15bit:
    case pfCustom:
        for (int x = 0; x < width; ++x, bgr += 3, dst += 2) {
            const uint32_t w = ((bgr[2] >> 3) << 10) | ((bgr[1] >> 3) << 5) | (bgr[0] >> 3);
            dst[0] = static_cast<uint8_t>(w);
            dst[1] = static_cast<uint8_t>(w >> 8);
        }
        break;
    case pf16bit:
        for (int x = 0; x < width; ++x, bgr += 3, dst += 2) {
            const uint32_t w = ((bgr[2] >> 3) << 11) | ((bgr[1] >> 2) << 5) | (bgr[0] >> 3);
            dst[0] = static_cast<uint8_t>(w);
            dst[1] = static_cast<uint8_t>(w >> 8);
        }
        break;
    case pf32bit:
        for (int x = 0; x < width; ++x, bgr += 3, dst += 4) {
            dst[0] = bgr[0];
            dst[1] = bgr[1];
            dst[2] = bgr[2];
            dst[3] = 0;
        }
        break;
    case pfDevice:
    case pf24bit:
        std::memcpy(dst, bgr, static_cast<size_t>(width) * 3);
        break;
    }
}

uint32_t PixelValueAt(const uint8_t* row, int x, TPixelFormat f) {
    switch (f) {
    case pf1bit:
    case pf4bit:
    case pf8bit:
        return PixelIndexAt(row, x, f);
    case pf15bit:
    case pf16bit:
    case pfCustom:
        return row[2 * x] | (row[2 * x + 1] << 8);
    case pf32bit:
        return row[4 * x] | (row[4 * x + 1] << 8) | (row[4 * x + 2] << 16);
    default:
        return row[3 * x] | (row[3 * x + 1] << 8) | (row[3 * x + 2] << 16);
    }
}

void SetPixelValueAt(uint8_t* row, int x, TPixelFormat f, uint32_t v) {
    switch (f) {
    case pf1bit:
    case pf4bit:
    case pf8bit:
        SetPixelIndexAt(row, x, f, v);
        break;
    case pf15bit:
    case pf16bit:
    case pfCustom:
        row[2 * x] = static_cast<uint8_t>(v);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
        break;
    case pf32bit:
        row[4 * x] = static_cast<uint8_t>(v);
        row[4 * x + 1] = static_cast<uint8_t>(v >> 8);
        row[4 * x + 2] = static_cast<uint8_t>(v >> 16);
        row[4 * x + 3] = 0;
        break;
    default:
        row[3 * x] = static_cast<uint8_t>(v);
        row[3 * x + 1] = static_cast<uint8_t>(v >> 8);
        row[3 * x + 2] = static_cast<uint8_t>(v >> 16);
    }
}

} // namespace pixel_rows

using namespace pixel_rows;

int32_t BitsFromPixelFormat(TPixelFormat format) {
    switch (format) {
    case pf1bit:
        return 1;
    case pf4bit:
        return 4;
    case pf8bit:
        return 8;
    case pf15bit:
    case pfCustom:
        return 15;
    case pf16bit:
        return 16;
    case pf32bit:
        return 32;
    case pfDevice:
    case pf24bit:
        return 24;
    }
    return 24;
}

int StorageBits(TPixelFormat format) {
    const int32_t bits = BitsFromPixelFormat(format);
    return bits == 15 ? 16 : bits;
}

std::vector<RGBQUAD> DefaultColorTable(TPixelFormat format) {
    std::vector<RGBQUAD> table;
    switch (format) {
    case pf1bit:
        table = {Quad(0, 0, 0), Quad(255, 255, 255)};
        break;
    case pf4bit:
        // The 16 colours of the platform's standard palette.
        table = {Quad(0, 0, 0),       Quad(128, 0, 0),   Quad(0, 128, 0),   Quad(128, 128, 0),
                 Quad(0, 0, 128),     Quad(128, 0, 128), Quad(0, 128, 128), Quad(128, 128, 128),
                 Quad(192, 192, 192), Quad(255, 0, 0),   Quad(0, 255, 0),   Quad(255, 255, 0),
                 Quad(0, 0, 255),     Quad(255, 0, 255), Quad(0, 255, 255), Quad(255, 255, 255)};
        break;
    case pf8bit:
        // A 6 x 6 x 6 colour cube, then a ramp of 40 greys.
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    table.push_back(Quad(static_cast<uint8_t>(r * 51), static_cast<uint8_t>(g * 51),
                                         static_cast<uint8_t>(b * 51)));
        for (int i = 0; i < 40; ++i) {
            const auto v = static_cast<uint8_t>(i * 255 / 39);
            table.push_back(Quad(v, v, v));
        }
        break;
    default:
        break;
    }
    return table;
}

TPixelBuffer::TPixelBuffer(const TPixelBuffer& other) {
    *this = other;
}

TPixelBuffer& TPixelBuffer::operator=(const TPixelBuffer& other) {
    if (this == &other) return *this;
    clear();
    resize(other.size_);
    if (size_ != 0) std::memcpy(bytes_.get(), other.bytes_.get(), size_);
    return *this;
}

TPixelBuffer& TPixelBuffer::operator=(TPixelBuffer&& other) noexcept {
    bytes_ = std::move(other.bytes_);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    return *this;
}

void TPixelBuffer::resize(size_t count) {
    if (count > capacity_) {
        auto bytes = std::make_unique_for_overwrite<uint8_t[]>(count);
        if (size_ != 0) std::memcpy(bytes.get(), bytes_.get(), size_);
        bytes_ = std::move(bytes);
        capacity_ = count;
    }
    size_ = count;
}

void TPixelBuffer::assign(size_t count, uint8_t value) {
    clear();
    resize(count);
    if (count != 0) std::memset(bytes_.get(), value, count);
}

TBitmap::TBitmap() = default;

TBitmap::~TBitmap() {
    InvalidatePalette();
}

void TBitmap::InvalidatePalette() const {
    if (paletteHandle_ != 0) palette_internal::DeleteOwned(paletteHandle_);
    paletteHandle_ = 0;
}

namespace {

// Copies the top-left Width x Height pixels between two pictures of any formats: stored values
// where both read them alike, nearest colours otherwise.
void ConvertPicture(const uint8_t* src, size_t srcStride, TPixelFormat srcFormat,
                    const std::vector<RGBQUAD>& srcColors, uint8_t* dst, size_t dstStride,
                    TPixelFormat dstFormat, const std::vector<RGBQUAD>& dstColors, int width,
                    int height) {
    const bool palettes = IsPaletteFormat(srcFormat) && IsPaletteFormat(dstFormat);
    const bool sameValues = StorageBits(srcFormat) == StorageBits(dstFormat) &&
                            (srcFormat == dstFormat || StorageBits(dstFormat) == 24) &&
                            (!palettes || srcColors == dstColors);
    const bool sameIndexes = palettes && srcColors == dstColors;
    NearestIndex nearest(dstColors);
    // Rows into blue, green, red bytes are decoded in place.
    const bool bgrBytes = StorageBits(dstFormat) == 24;
    std::vector<uint8_t> bgr(bgrBytes ? 0 : static_cast<size_t>(width) * 3);
    for (int y = 0; y < height; ++y, src += srcStride, dst += dstStride) {
        if (sameValues && StorageBits(dstFormat) >= 8) {
            std::memcpy(dst, src, static_cast<size_t>(width) * StorageBits(dstFormat) / 8);
        } else if (sameValues) {
            for (int x = 0; x < width; ++x)
                SetPixelIndexAt(dst, x, dstFormat, PixelIndexAt(src, x, srcFormat));
        } else if (sameIndexes) {
            // Indexes past the table show black; they keep showing black.
            for (int x = 0; x < width; ++x) {
                const uint32_t i = PixelIndexAt(src, x, srcFormat);
                SetPixelIndexAt(dst, x, dstFormat, i < dstColors.size() ? i : nearest(0, 0, 0));
            }
        } else if (bgrBytes) {
            DecodeRow(src, width, srcFormat, srcColors, dst);
        } else {
            DecodeRow(src, width, srcFormat, srcColors, bgr.data());
            EncodeRow(bgr.data(), width, dstFormat, nearest, dst);
        }
    }
}

// Every pixel of a new picture set to one colour.
void FillPicture(uint8_t* pixels, size_t stride, int width, int height, TPixelFormat format,
                 const std::vector<RGBQUAD>& colors, TColor color) {
    if (width == 0 || height == 0) return;
    const RGBQUAD q = ColorQuad(color, colors);
    std::vector<uint8_t> bgr(static_cast<size_t>(width) * 3);
    for (size_t x = 0; x < bgr.size(); x += 3) {
        bgr[x] = q.rgbBlue;
        bgr[x + 1] = q.rgbGreen;
        bgr[x + 2] = q.rgbRed;
    }
    NearestIndex nearest(colors);
    EncodeRow(bgr.data(), width, format, nearest, pixels);
    for (int y = 1; y < height; ++y)
        std::memcpy(pixels + y * stride, pixels, stride);
}

} // namespace

void TBitmap::Reallocate(int width, int height, TPixelFormat format, std::vector<RGBQUAD> colors,
                         bool keepPicture, TNewArea newArea) {
    if (width < 0 || height < 0) throw EInvalidGraphicOperation(Msg::BitmapTooLarge);
    const int64_t stride = (static_cast<int64_t>(width) * StorageBits(format) + 31) / 32 * 4;
    if (stride > INT32_MAX || (height > 0 && stride > MaxPixelBytes / height))
        throw EOutOfResources(Msg::BitmapTooLarge);
    if (IsPaletteFormat(format) && colors.size() > PaletteCapacity(format))
        colors.resize(PaletteCapacity(format));

    const int keepWidth = keepPicture ? std::min(width, width_) : 0;
    const int keepHeight = keepPicture ? std::min(height, height_) : 0;
    // A new area is filled by writing every row from the first one, padding included, before
    // the kept part is copied over it: only that first row needs clearing.
    const bool fillWhole = newArea == TNewArea::Fill && (keepWidth < width || keepHeight < height);
    // A picture kept whole is converted over every pixel: only the padding needs clearing.
    const bool keptWhole = keepWidth == width && keepHeight == height;
    TPixelBuffer pixels = TakeSpare();
    try {
        if (newArea == TNewArea::Overwrite || fillWhole || keptWhole)
            pixels.resize(static_cast<size_t>(stride * height));
        else
            pixels.assign(static_cast<size_t>(stride * height), 0);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
    if (fillWhole && !pixels.empty()) std::memset(pixels.data(), 0, static_cast<size_t>(stride));
    if (fillWhole)
        FillPicture(pixels.data(), static_cast<size_t>(stride), width, height, format, colors,
                    NewAreaColor());
    if (keepWidth > 0 && keepHeight > 0) {
        if (keptWhole) {
            const size_t full = static_cast<size_t>(width) * StorageBits(format) / 8;
            for (int y = 0; y < height; ++y)
                std::memset(pixels.data() + y * stride + full, 0,
                            static_cast<size_t>(stride) - full);
        }
        ConvertPicture(pixels_.data(), static_cast<size_t>(stride_), format_, colors_,
                       pixels.data(), static_cast<size_t>(stride), format, colors, keepWidth,
                       keepHeight);
    }

    Recycle(std::exchange(pixels_, std::move(pixels)));
    if (colors != colors_) InvalidatePalette();
    colors_ = std::move(colors);
    width_ = width;
    height_ = height;
    stride_ = static_cast<int>(stride);
    format_ = format;
}

// New area takes the brush colour (white without a canvas, as the platform's).
TColor TBitmap::NewAreaColor() const {
    return canvas_ ? canvas_->Brush.Color : clWhite;
}

std::vector<uint8_t> TBitmap::SetSizeForOverwrite(int width, int height) {
    Reallocate(width, height, format_, colors_, false, TNewArea::Overwrite);
    std::vector<uint8_t> filled(static_cast<size_t>(stride_), 0);
    FillPicture(filled.data(), filled.size(), width_, 1, format_, colors_, NewAreaColor());
    Changed();
    return filled;
}

void TBitmap::SetWidth(int value) {
    if (value == width_) return;
    Reallocate(value, height_, format_, colors_, true);
    Changed();
}

void TBitmap::SetHeight(int value) {
    if (value == height_) return;
    Reallocate(width_, value, format_, colors_, true);
    Changed();
}

void TBitmap::SetSize(int width, int height) {
    if (width == width_ && height == height_) return;
    Reallocate(width, height, format_, colors_, true);
    Changed();
}

void TBitmap::SetRecycling(bool on) {
    recycling_ = on;
    if (!on) spare_ = TPixelBuffer();
}

TPixelBuffer TBitmap::TakeSpare() {
    return recycling_ ? std::exchange(spare_, TPixelBuffer()) : TPixelBuffer();
}

void TBitmap::Recycle(TPixelBuffer old) {
    if (recycling_) spare_ = std::move(old);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (format == format_) return;
    // The custom format only describes what a file held; nothing converts into it.
    if (format == pfCustom) throw EInvalidGraphic(Msg::InvalidPixelFormat);
    std::vector<RGBQUAD> colors = colors_;
    if (IsPaletteFormat(format)) {
        // A table that fits the new format is kept, so are the indexes.
        const bool fits = IsPaletteFormat(format_) && !colors_.empty() &&
                          colors_.size() <= PaletteCapacity(format);
        if (!fits) colors = DefaultColorTable(format);
    }
    Reallocate(width_, height_, format, std::move(colors), true);
    Changed();
}

void TBitmap::SetHandleType(THandleType type) {
    if (type == HandleType()) return;
    if (type == bmDDB) {
        SetPixelFormat(pfDevice);
    } else {
        format_ = pf24bit; // a device bitmap is stored as 24-bit rows already
        Changed();
    }
}

bool TBitmap::Monochrome() const {
    return format_ == pf1bit && colors_.size() == 2 && colors_[0] == Quad(0, 0, 0) &&
           colors_[1] == Quad(255, 255, 255);
}

uint8_t* TBitmap::ScanLine(int row) {
    if (row < 0 || row >= height_) throw EInvalidGraphicOperation(Msg::ScanLineError);
    return pixels_.data() + static_cast<size_t>(row) * static_cast<size_t>(stride_);
}

const uint8_t* TBitmap::ScanLine(int row) const {
    if (row < 0 || row >= height_) throw EInvalidGraphicOperation(Msg::ScanLineError);
    return pixels_.data() + static_cast<size_t>(row) * static_cast<size_t>(stride_);
}

HPALETTE TBitmap::Palette() const {
    if (colors_.empty()) return 0;
    if (paletteHandle_ == 0) paletteHandle_ = palette_internal::CreateOwned(colors_);
    return paletteHandle_;
}

void TBitmap::SetPalette(HPALETTE value) {
    if (value != 0 && value == paletteHandle_) return;
    std::vector<RGBQUAD> quads = PaletteQuads(value);
    const size_t entries = quads.size();
    if (quads.size() > PaletteCapacity(format_)) quads.resize(PaletteCapacity(format_));
    InvalidatePalette();
    colors_ = std::move(quads);
    // A palette of the caller's becomes the bitmap's: the bitmap frees it, and hands out the
    // same handle while it holds exactly its entries. Another bitmap's palette is copied.
    if (value != 0 && !palette_internal::IsOwned(value)) {
        if (entries == colors_.size() && palette_internal::Adopt(value))
            paletteHandle_ = value;
        else
            DeleteObject(value);
    }
    PaletteModified = true;
    Changed();
}

void TBitmap::SetColorTable(std::vector<RGBQUAD> colors) {
    const size_t capacity = PaletteCapacity(format_);
    if (colors.size() > capacity) colors.resize(capacity);
    InvalidatePalette();
    colors_ = std::move(colors);
    PaletteModified = true;
    Changed();
}

void TBitmap::SetTransparent(bool value) {
    if (value == Transparent()) return;
    TGraphic::SetTransparent(value);
}

TColor TBitmap::TransparentColor() const {
    if (transparentMode_ == tmFixed && transparentColor_ != clDefault) return transparentColor_;
    if (Empty()) return clDefault;
    return PixelColor(0, height_ - 1);
}

void TBitmap::SetTransparentColor(TColor color) {
    transparentColor_ = color;
    transparentMode_ = color == clDefault ? tmAuto : tmFixed;
    Changed();
}

void TBitmap::SetTransparentMode(TTransparentMode mode) {
    if (mode == transparentMode_) return;
    if (mode == tmAuto)
        SetTransparentColor(clDefault);
    else
        SetTransparentColor(TransparentColor());
}

TCanvas& TBitmap::Canvas() {
    if (!canvas_) canvas_ = std::make_unique<TCanvas>(*this);
    return *canvas_;
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect) const {
    canvas.StretchDraw(rect, *this);
}

TColor TBitmap::PixelColor(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return -1;
    uint8_t bgr[3];
    const uint8_t* row = ScanLine(y);
    if (IsPaletteFormat(format_)) {
        const uint32_t i = PixelIndexAt(row, x, format_);
        const RGBQUAD q = i < colors_.size() ? colors_[i] : RGBQUAD{};
        return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
    }
    const int bytes = StorageBits(format_) / 8;
    DecodeRow(row + x * bytes, 1, format_, colors_, bgr);
    return RGB(bgr[2], bgr[1], bgr[0]);
}

uint32_t TBitmap::ColorToPixelValue(TColor color) const {
    if (IsPaletteFormat(format_) && (color & 0xFF000000) == PaletteIndexColor)
        return static_cast<uint32_t>(color & 0xFFFF) % PaletteCapacity(format_);
    const RGBQUAD q = ColorQuad(color, colors_);
    const uint8_t bgr[3] = {q.rgbBlue, q.rgbGreen, q.rgbRed};
    uint8_t out[4] = {0, 0, 0, 0};
    NearestIndex nearest(colors_);
    EncodeRow(bgr, 1, format_, nearest, out);
    return IsPaletteFormat(format_) ? PixelIndexAt(out, 0, format_) : PixelValueAt(out, 0, format_);
}

void TBitmap::SetPixelColor(int x, int y, TColor color) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    SetPixelValueAt(ScanLine(y), x, format_, ColorToPixelValue(color));
}

void TBitmap::Clear() {
    InvalidatePalette();
    pixels_.clear();
    colors_.clear();
    width_ = height_ = stride_ = 0;
    format_ = pfDevice;
}

void TBitmap::Assign(const TGraphic* source) {
    if (source == this) return;
    if (source == nullptr) {
        Clear();
        Changed();
        return;
    }
    if (const auto* other = dynamic_cast<const TBitmap*>(source)) {
        InvalidatePalette();
        pixels_ = other->pixels_;
        colors_ = other->colors_;
        width_ = other->width_;
        height_ = other->height_;
        stride_ = other->stride_;
        format_ = other->format_;
        transparentColor_ = other->transparentColor_;
        transparentMode_ = other->transparentMode_;
        StoreTransparent(other->Transparent());
        Changed();
        return;
    }
    if (source->AssignTo(*this)) return;
    // Any other picture is drawn onto a bitmap of its size.
    Reallocate(0, 0, pf24bit, {}, false);
    Reallocate(source->Width(), source->Height(), pf24bit, {}, false);
    Canvas().Draw(0, 0, *source);
    Changed();
}

void TBitmap::TakeOver(TBitmap& source) {
    if (&source == this) return;
    InvalidatePalette();
    pixels_ = std::move(source.pixels_);
    colors_ = std::move(source.colors_);
    width_ = source.width_;
    height_ = source.height_;
    stride_ = source.stride_;
    format_ = source.format_;
    transparentColor_ = source.transparentColor_;
    transparentMode_ = source.transparentMode_;
    StoreTransparent(source.Transparent());
    source.Clear();
    Changed();
}
