#include "platform/graphics/BitmapFile.h"

#include "platform/graphics/Dib.h"
#include "platform/graphics/PixelRows.h"
#include "platform/rtl/Exceptions.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace {

constexpr std::array<uint8_t, 2> BitmapSignature{'B', 'M'};
constexpr uint32_t FileHeaderSize = 14;
constexpr uint32_t CoreHeaderSize = 12;
constexpr uint32_t InfoHeaderSize = sizeof(BITMAPINFOHEADER);
constexpr uint32_t V2HeaderSize = 52;  // + red, green and blue masks
constexpr uint32_t V3HeaderSize = 56;  // + alpha mask
constexpr uint32_t V4HeaderSize = 108; // + colour space
constexpr uint32_t V5HeaderSize = 124; // + intent and profile
constexpr uint32_t LargestHeaderSize = V5HeaderSize;

constexpr uint32_t MaxColorTableEntries = 256;

struct ChannelMasks {
    uint32_t red = 0, green = 0, blue = 0, alpha = 0;
};
// The alpha mask does not change where the colours are.
bool SameColorMasks(const ChannelMasks& a, const ChannelMasks& b) {
    return a.red == b.red && a.green == b.green && a.blue == b.blue;
}
constexpr ChannelMasks Masks555{0x7C00, 0x03E0, 0x001F, 0};
constexpr ChannelMasks Masks565{0xF800, 0x07E0, 0x001F, 0};
constexpr ChannelMasks Masks888{0xFF0000, 0x00FF00, 0x0000FF, 0};

// An RLE picture whose codes do not reach its top row may decode to at most this many bytes,
// or to MaxRleExpansion times its data: runs of 255 pixels in two bytes stay well inside,
// while a few bytes of escapes cannot claim gigabytes.
constexpr int64_t MinRleImageBytes = int64_t{4} << 20;
constexpr int64_t MaxRleExpansion = 128;
// Codes that reach the top row may leave most of the picture untouched (a delta skips 255 rows
// in four bytes), up to 16384 x 16384 at 8 bits.
constexpr int64_t MaxSparseRleImageBytes = int64_t{256} << 20;

[[noreturn]] void Invalid() {
    throw EInvalidGraphic(Msg::InvalidBitmap);
}

// Stride x Height, no more than the layer's largest pixel buffer.
int64_t ImageBytes(int64_t stride, int64_t height) {
    if (stride > INT32_MAX || stride > pixel_rows::MaxPixelBytes / height) Invalid();
    return stride * height;
}

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

// One channel of a bit-field pixel, scaled to 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;

    explicit Channel(uint32_t m) : mask(m) {
        if (m == 0) return;
        shift = std::countr_zero(m);
        max = m >> shift;
        if ((max & (max + 1)) != 0) Invalid(); // bits of a channel must be contiguous
    }
    uint8_t operator()(uint32_t pixel) const {
        if (max == 0) return 0;
        const uint64_t v = (pixel & mask) >> shift;
        return static_cast<uint8_t>((v * 255 + max / 2) / max);
    }
};

class BmpReader {
public:
    BmpReader(TStream& stream, TPixelBuffer storage) : stream_(stream) {
        image_.pixels = std::move(storage);
    }
    TDibImage Read();

private:
    void ReadFileHeader();
    void ReadInfoHeader();
    void ReadCoreFields(const uint8_t* h);
    void ReadInfoFields(const uint8_t* h, uint32_t headerSize);
    void ReadMasks(uint32_t headerSize, const uint8_t* h);
    void CheckFields() const;
    void ChooseFormat();
    void ReadColorTable();
    enum class TFill { Zero, Overwritten };
    void AllocatePixels(int64_t storageBytes, TFill fill = TFill::Zero);
    void ReadRows();
    void ReadMaskedRows();
    void ReadRle();
    void Seek(int64_t offset) { stream_.SetPosition(start_ + offset); }
    void ReadExactly(void* buffer, int64_t count);
    uint8_t* Row(int fileRow);

    TStream& stream_;
    int64_t start_ = 0;
    int64_t available_ = 0; // bytes from start_ to the stream's end
    uint32_t pixelOffset_ = 0;
    uint32_t headerSize_ = 0;
    int64_t width_ = 0;
    int64_t height_ = 0;
    bool topDown_ = false;
    uint32_t bitCount_ = 0;
    uint32_t compression_ = BI_RGB;
    uint32_t sizeImage_ = 0;
    uint32_t colorsUsed_ = 0;
    uint32_t colorEntryBytes_ = 4;
    uint32_t maskBytes_ = 0; // masks stored after a 40-byte header
    ChannelMasks masks_;
    bool throughMasks_ = false;
    int64_t endOffset_ = 0;
    size_t storageStride_ = 0;
    TDibImage image_;
};

TDibImage BmpReader::Read() {
    start_ = stream_.Position();
    available_ = stream_.Size() - start_;
    if (start_ < 0 || available_ < FileHeaderSize + CoreHeaderSize) Invalid();
    ReadFileHeader();
    ReadInfoHeader();
    CheckFields();
    ChooseFormat();
    ReadColorTable();
    if (compression_ == BI_RLE8 || compression_ == BI_RLE4)
        ReadRle();
    else if (throughMasks_)
        ReadMaskedRows();
    else
        ReadRows();
    Seek(endOffset_);
    return std::move(image_);
}

void BmpReader::ReadExactly(void* buffer, int64_t count) {
    if (stream_.Read(buffer, count) != count) Invalid();
}

void BmpReader::ReadFileHeader() {
    std::array<uint8_t, FileHeaderSize> h{};
    ReadExactly(h.data(), FileHeaderSize);
    if (h[0] != BitmapSignature[0] || h[1] != BitmapSignature[1]) Invalid();
    pixelOffset_ = Get32(&h[10]); // the file size and reserved words are not relied on
    if (pixelOffset_ >= available_) Invalid();
}

void BmpReader::ReadInfoHeader() {
    std::array<uint8_t, LargestHeaderSize> h{};
    ReadExactly(h.data(), 4);
    headerSize_ = Get32(h.data());
    switch (headerSize_) {
    case CoreHeaderSize:
    case InfoHeaderSize:
    case V2HeaderSize:
    case V3HeaderSize:
    case V4HeaderSize:
    case V5HeaderSize:
        break;
    default:
        Invalid();
    }
    ReadExactly(h.data() + 4, headerSize_ - 4);
    if (headerSize_ == CoreHeaderSize)
        ReadCoreFields(h.data());
    else
        ReadInfoFields(h.data(), headerSize_);
}

void BmpReader::ReadCoreFields(const uint8_t* h) {
    width_ = Get16(h + 4);
    height_ = Get16(h + 6);
    bitCount_ = Get16(h + 10);
    colorEntryBytes_ = 3;
    if (bitCount_ != 1 && bitCount_ != 4 && bitCount_ != 8 && bitCount_ != 24) Invalid();
}

void BmpReader::ReadInfoFields(const uint8_t* h, uint32_t headerSize) {
    width_ = static_cast<int32_t>(Get32(h + 4));
    height_ = static_cast<int32_t>(Get32(h + 8));
    if (height_ < 0) {
        topDown_ = true;
        height_ = -height_;
    }
    bitCount_ = Get16(h + 14);
    compression_ = Get32(h + 16);
    sizeImage_ = Get32(h + 20);
    colorsUsed_ = Get32(h + 32);
    ReadMasks(headerSize, h);
}

void BmpReader::ReadMasks(uint32_t headerSize, const uint8_t* h) {
    if (compression_ != BI_BITFIELDS && compression_ != BI_ALPHABITFIELDS) {
        masks_ = bitCount_ == 16 ? Masks555 : Masks888;
        return;
    }
    std::array<uint8_t, 16> stored{};
    const uint8_t* m = h + InfoHeaderSize;
    if (headerSize == InfoHeaderSize) {
        // The masks follow the header, before the colour table.
        maskBytes_ = compression_ == BI_ALPHABITFIELDS ? 16 : 12;
        if (FileHeaderSize + InfoHeaderSize + maskBytes_ > pixelOffset_) Invalid();
        ReadExactly(stored.data(), maskBytes_);
        m = stored.data();
    }
    masks_.red = Get32(m);
    masks_.green = Get32(m + 4);
    masks_.blue = Get32(m + 8);
    const bool hasAlpha = headerSize >= V3HeaderSize || maskBytes_ == 16;
    masks_.alpha = hasAlpha ? Get32(m + 12) : 0;
}

void BmpReader::CheckFields() const {
    if (width_ <= 0 || height_ <= 0 || height_ > INT32_MAX) Invalid();
    switch (compression_) {
    case BI_RGB:
        if (bitCount_ != 1 && bitCount_ != 4 && bitCount_ != 8 && bitCount_ != 16 &&
            bitCount_ != 24 && bitCount_ != 32)
            Invalid();
        break;
    case BI_RLE8:
        if (bitCount_ != 8 || topDown_) Invalid();
        break;
    case BI_RLE4:
        if (bitCount_ != 4 || topDown_) Invalid();
        break;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS:
        if (bitCount_ != 16 && bitCount_ != 32) Invalid();
        if (masks_.red == 0 && masks_.green == 0 && masks_.blue == 0) Invalid();
        if (bitCount_ == 16 && ((masks_.red | masks_.green | masks_.blue | masks_.alpha) >> 16))
            Invalid();
        break;
    default:
        Invalid();
    }
    if (bitCount_ <= 8 && colorsUsed_ > MaxColorTableEntries) Invalid();
    if (FileHeaderSize + headerSize_ + maskBytes_ > pixelOffset_) Invalid();
}

void BmpReader::ChooseFormat() {
    switch (bitCount_) {
    case 1:
        image_.format = pf1bit;
        break;
    case 4:
        image_.format = pf4bit;
        break;
    case 8:
        image_.format = pf8bit;
        break;
    case 16:
        if (SameColorMasks(masks_, Masks555))
            image_.format = pf15bit;
        else if (SameColorMasks(masks_, Masks565))
            image_.format = pf16bit;
        else
            image_.format = pf24bit;
        break;
    case 24:
        image_.format = pf24bit;
        break;
    default:
        // The fourth byte is kept as stored when the colours sit in the usual places.
        image_.format = pf32bit;
        throughMasks_ = !SameColorMasks(masks_, Masks888);
        break;
    }
    if (bitCount_ == 16 && image_.format == pf24bit) throughMasks_ = true;
}

void BmpReader::ReadColorTable() {
    if (bitCount_ > 8) return;
    const uint32_t capacity = 1u << bitCount_;
    const uint32_t tableOffset = FileHeaderSize + headerSize_ + maskBytes_;
    uint32_t count = colorsUsed_ != 0 ? colorsUsed_ : capacity;
    // A table that runs into the pixels is cut where they begin.
    count = std::min(count, (pixelOffset_ - tableOffset) / colorEntryBytes_);
    count = std::min(count, capacity);
    std::vector<uint8_t> raw(static_cast<size_t>(count) * colorEntryBytes_);
    Seek(tableOffset);
    ReadExactly(raw.data(), static_cast<int64_t>(raw.size()));
    image_.colors.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = &raw[static_cast<size_t>(i) * colorEntryBytes_];
        image_.colors[i] = {e[0], e[1], e[2], 0};
    }
}

// Pictures the reader writes whole are not cleared first.
void BmpReader::AllocatePixels(int64_t storageBytes, TFill fill) {
    image_.width = static_cast<int>(width_);
    image_.height = static_cast<int>(height_);
    storageStride_ = static_cast<size_t>(storageBytes / height_);
    try {
        if (fill == TFill::Overwritten)
            image_.pixels.resize(static_cast<size_t>(storageBytes));
        else
            image_.pixels.assign(static_cast<size_t>(storageBytes), 0);
    } catch (const std::bad_alloc&) {
        Invalid();
    }
}

uint8_t* BmpReader::Row(int fileRow) {
    const int y = topDown_ ? fileRow : static_cast<int>(height_) - 1 - fileRow;
    return image_.pixels.data() + static_cast<size_t>(y) * storageStride_;
}

// Rows stored as the format keeps them: read straight into the picture. The padding of the
// last row may be missing.
void BmpReader::ReadRows() {
    const int64_t stride = (width_ * bitCount_ + 31) / 32 * 4;
    const int64_t lastRow = (width_ * bitCount_ + 7) / 8;
    const int64_t bytes = ImageBytes(stride, height_);
    if (stride * (height_ - 1) + lastRow > available_ - pixelOffset_) Invalid();
    AllocatePixels(bytes, TFill::Overwritten);
    Seek(pixelOffset_);
    for (int i = 0; i < height_; ++i)
        ReadExactly(Row(i), i + 1 < height_ ? stride : lastRow);
    std::memset(Row(static_cast<int>(height_) - 1) + lastRow, 0,
                static_cast<size_t>(stride - lastRow));
    endOffset_ = std::min<int64_t>(pixelOffset_ + bytes, available_);
}

// 16 and 32 bits with masks of their own, into 24 or 32 bits.
void BmpReader::ReadMaskedRows() {
    const int64_t stride = (width_ * bitCount_ + 31) / 32 * 4;
    const int64_t lastRow = width_ * bitCount_ / 8;
    const int64_t storageStride = (width_ * StorageBits(image_.format) + 31) / 32 * 4;
    const int64_t storageBytes = ImageBytes(storageStride, height_);
    if (ImageBytes(stride, height_) - stride + lastRow > available_ - pixelOffset_) Invalid();
    AllocatePixels(storageBytes);
    const Channel red(masks_.red), green(masks_.green), blue(masks_.blue), alpha(masks_.alpha);
    std::vector<uint8_t> buffer(static_cast<size_t>(stride));
    Seek(pixelOffset_);
    const int outBytes = StorageBits(image_.format) / 8;
    for (int i = 0; i < height_; ++i) {
        ReadExactly(buffer.data(), i + 1 < height_ ? stride : lastRow);
        const uint8_t* src = buffer.data();
        uint8_t* dst = Row(i);
        for (int64_t x = 0; x < width_; ++x, dst += outBytes) {
            const uint32_t v = bitCount_ == 16 ? Get16(src) : Get32(src);
            src += bitCount_ / 8;
            dst[0] = blue(v);
            dst[1] = green(v);
            dst[2] = red(v);
            if (outBytes == 4) dst[3] = alpha(v);
        }
    }
    endOffset_ = std::min<int64_t>(pixelOffset_ + stride * height_, available_);
}

// Where a walk through RLE data stopped: the byte after the last code read, whether that was
// the end of the picture, and how many rows from the bottom the codes reached.
struct RleWalk {
    size_t end = 0;
    bool ended = false;
    int64_t rows = 0;
};

// Runs, end-of-line, end-of-picture, delta and absolute runs (padded to whole words) of RLE8 or
// RLE4 data; a run or a move that leaves the picture is an error. Run(y, x, count, value) and
// Copy(y, x, count, bytes, size) receive the pixels; y counts rows from the bottom, as stored.
template <class Run, class Copy>
RleWalk WalkRle(const std::vector<uint8_t>& data, bool rle4, int64_t width, int64_t height, Run run,
                Copy copy) {
    const size_t n = data.size();
    RleWalk walk;
    int64_t x = 0, y = 0;
    while (!walk.ended && walk.end + 1 < n) {
        size_t& p = walk.end;
        const uint8_t count = data[p], value = data[p + 1];
        p += 2;
        if (count > 0) {
            if (y >= height || x + count > width) Invalid();
            run(y, x, count, value);
            x += count;
        } else if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) {
            walk.ended = true;
        } else if (value == 2) { // delta
            if (p + 1 >= n) {
                p = n;
                break;
            }
            x += data[p];
            y += data[p + 1];
            p += 2;
            if (x > width || y > height) Invalid();
        } else { // absolute run of `value` pixels
            const size_t runBytes = rle4 ? (value + 1u) / 2 : value;
            if (y >= height || x + value > width) Invalid();
            copy(y, x, value, data.data() + p, std::min(runBytes, n - p));
            x += value;
            p = std::min(n, p + runBytes + (runBytes & 1));
        }
        walk.rows = std::max(walk.rows, y + 1);
    }
    return walk;
}

// Count RLE4 pixels from X alternating the two nibbles of Value, the high one first. Each
// pixel is written once, but a byte may hold one pixel of an earlier code.
void FillNibbles(uint8_t* row, int64_t x, int count, uint8_t value) {
    if (x & 1) {
        row[x / 2] = static_cast<uint8_t>((row[x / 2] & 0xF0) | (value >> 4));
        value = std::rotl(value, 4);
        ++x;
        --count;
    }
    uint8_t* p = row + x / 2;
    std::memset(p, value, static_cast<size_t>(count / 2));
    if (count & 1) p[count / 2] = static_cast<uint8_t>((p[count / 2] & 0x0F) | (value & 0xF0));
}

// Count RLE4 pixels from X, two to each source byte, high nibble first.
void CopyNibbles(uint8_t* row, int64_t x, size_t count, const uint8_t* source) {
    if (count == 0) return;
    uint8_t* p = row + x / 2;
    if ((x & 1) == 0) {
        std::memcpy(p, source, count / 2);
        if (count & 1)
            p[count / 2] = static_cast<uint8_t>((p[count / 2] & 0x0F) | (source[count / 2] & 0xF0));
        return;
    }
    // Odd X: every source byte straddles two bytes of the row.
    p[0] = static_cast<uint8_t>((p[0] & 0xF0) | (source[0] >> 4));
    for (size_t k = 1; 2 * k - 1 < count; ++k) {
        const uint32_t low = 2 * k < count ? source[k] >> 4 : p[k] & 0x0F;
        p[k] = static_cast<uint8_t>(((source[k - 1] & 0x0F) << 4) | low);
    }
}

// Data that ends early leaves the rest of the picture at index 0. The data is walked through
// before the picture is made, so a damaged file costs no picture of the size it claims.
void BmpReader::ReadRle() {
    const int64_t left = available_ - pixelOffset_;
    const int64_t size = sizeImage_ != 0 ? std::min<int64_t>(sizeImage_, left) : left;
    const int64_t stride = (width_ * bitCount_ + 31) / 32 * 4;
    const int64_t bytes = ImageBytes(stride, height_);
    std::vector<uint8_t> data(static_cast<size_t>(size));
    Seek(pixelOffset_);
    ReadExactly(data.data(), size);

    const bool rle4 = compression_ == BI_RLE4;
    const auto none = [](auto...) {};
    const RleWalk walk = WalkRle(data, rle4, width_, height_, none, none);
    // A picture whose upper rows no code reaches stays within what its bytes could fill.
    const bool sparse = walk.rows >= height_ && bytes <= MaxSparseRleImageBytes;
    if (!sparse && bytes > std::max(MinRleImageBytes, size * MaxRleExpansion)) Invalid();
    AllocatePixels(bytes);

    // Runs are filled and copied whole: a picture of long runs costs no more than its size.
    WalkRle(
        data, rle4, width_, height_,
        [&](int64_t y, int64_t x, int count, uint8_t value) {
            uint8_t* row = Row(static_cast<int>(y));
            if (rle4)
                FillNibbles(row, x, count, value);
            else
                std::memset(row + x, value, static_cast<size_t>(count));
        },
        [&](int64_t y, int64_t x, int count, const uint8_t* source, size_t have) {
            uint8_t* row = Row(static_cast<int>(y));
            // Data that stops inside the run gives the pixels it holds.
            const size_t pixels = std::min(static_cast<size_t>(count), rle4 ? 2 * have : have);
            if (rle4)
                CopyNibbles(row, x, pixels, source);
            else
                std::memcpy(row + x, source, pixels);
        });
    endOffset_ = pixelOffset_ + (sizeImage_ != 0 || !walk.ended ? static_cast<int64_t>(data.size())
                                                                : static_cast<int64_t>(walk.end));
}

} // namespace

TDibImage ReadBitmapFile(TStream& stream, TPixelBuffer storage) {
    return BmpReader(stream, std::move(storage)).Read();
}

void TBitmap::LoadFromStream(TStream& stream) {
    TDibImage image = ReadBitmapFile(stream, TakeSpare());
    TakeImage(image.width, image.height, image.format, std::move(image.pixels),
              std::move(image.colors));
    Changed();
}

void TBitmap::TakeImage(int width, int height, TPixelFormat format, TPixelBuffer pixels,
                        std::vector<RGBQUAD> colors) {
    InvalidatePalette();
    width_ = width;
    height_ = height;
    format_ = format;
    stride_ = static_cast<int>(BitmapRowBytes(static_cast<uint32_t>(width), StorageBits(format)));
    Recycle(std::exchange(pixels_, std::move(pixels)));
    colors_ = std::move(colors);
    PaletteModified = !colors_.empty();
}

// BITMAPFILEHEADER, BITMAPINFOHEADER (565 masks for pf16bit), a full colour table for the
// palette formats, rows bottom-up. An empty bitmap writes nothing.
void TBitmap::SaveToStream(TStream& stream) {
    if (Empty()) return;
    const auto bits = static_cast<uint32_t>(StorageBits(format_));
    const uint32_t tableEntries = bits <= 8 ? 1u << bits : 0;
    const bool bitfields = format_ == pf16bit;
    const uint32_t maskBytes = bitfields ? 12 : 0;
    const uint32_t offBits = FileHeaderSize + InfoHeaderSize + maskBytes + 4 * tableEntries;
    const auto imageSize = static_cast<uint32_t>(stride_) * static_cast<uint32_t>(height_);

    std::vector<uint8_t> head(offBits, 0);
    uint8_t* h = head.data();
    h[0] = BitmapSignature[0];
    h[1] = BitmapSignature[1];
    Put32(h + 2, offBits + imageSize); // bfSize
    Put32(h + 10, offBits);            // bfOffBits
    uint8_t* info = h + FileHeaderSize;
    Put32(info, InfoHeaderSize);                         // biSize
    Put32(info + 4, static_cast<uint32_t>(width_));      // biWidth
    Put32(info + 8, static_cast<uint32_t>(height_));     // biHeight: bottom-up
    Put16(info + 12, 1);                                 // biPlanes
    Put16(info + 14, bits);                              // biBitCount
    Put32(info + 16, bitfields ? BI_BITFIELDS : BI_RGB); // biCompression
    Put32(info + 20, imageSize);                         // biSizeImage
    if (bitfields) {
        Put32(info + InfoHeaderSize, Masks565.red);
        Put32(info + InfoHeaderSize + 4, Masks565.green);
        Put32(info + InfoHeaderSize + 8, Masks565.blue);
    }
    uint8_t* table = info + InfoHeaderSize + maskBytes;
    for (size_t i = 0; i < tableEntries && i < colors_.size(); ++i) {
        table[4 * i] = colors_[i].rgbBlue;
        table[4 * i + 1] = colors_[i].rgbGreen;
        table[4 * i + 2] = colors_[i].rgbRed;
    }
    stream.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));

    const size_t used = (static_cast<size_t>(width_) * bits + 7) / 8;
    std::vector<uint8_t> row(static_cast<size_t>(stride_), 0);
    for (int y = height_ - 1; y >= 0; --y) {
        std::memcpy(row.data(), ScanLine(y), used);
        stream.WriteBuffer(row.data(), stride_);
    }
}
