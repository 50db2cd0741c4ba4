#include "platform/graphics/Dib.h"

#include "platform/graphics/Bitmap.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

constexpr uint8_t Fill = 0xAA; // what the buffer held before the conversion

BITMAPINFOHEADER Header(int width, int height, uint16_t bits) {
    BITMAPINFOHEADER h;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = bits;
    return h;
}

// Every pixel a different colour, so a row or column out of place shows.
TColor PatternColor(int x, int y) {
    return RGB(static_cast<uint8_t>(40 * x + 8), static_cast<uint8_t>(50 * y + 16),
               static_cast<uint8_t>(x * 7 + y * 90 + 24));
}

std::unique_ptr<TBitmap> Pattern(int width, int height, TPixelFormat format) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(format);
    b->SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            b->SetPixelColor(x, y, PatternColor(x, y));
    return b;
}

uint16_t Rgb555(TColor c) {
    return static_cast<uint16_t>((GetRValue(c) >> 3) << 10 | (GetGValue(c) >> 3) << 5 |
                                 GetBValue(c) >> 3);
}

// The DIB a bitmap should give: bottom row first, rows padded to four bytes with zeros.
std::vector<uint8_t> ExpectedDib(const TBitmap& b, uint16_t bits) {
    const size_t stride = BitmapRowBytes(static_cast<uint32_t>(b.Width()), bits);
    std::vector<uint8_t> out(stride * static_cast<size_t>(b.Height()), 0);
    for (int i = 0; i < b.Height(); ++i) {
        uint8_t* row = out.data() + stride * static_cast<size_t>(i);
        for (int x = 0; x < b.Width(); ++x) {
            const TColor c = b.PixelColor(x, b.Height() - 1 - i);
            if (bits == 24) {
                row[3 * x] = GetBValue(c);
                row[3 * x + 1] = GetGValue(c);
                row[3 * x + 2] = GetRValue(c);
            } else {
                row[2 * x] = static_cast<uint8_t>(Rgb555(c));
                row[2 * x + 1] = static_cast<uint8_t>(Rgb555(c) >> 8);
            }
        }
    }
    return out;
}

} // namespace

TEST(GetDIBits, RowsComeBottomFirstPaddedWithZerosFromEverySourceFormat) {
    // Widths 5 and 3 leave padding in 24-bit rows (15 -> 16, 9 -> 12) and 16-bit rows (10 -> 12).
    for (const TPixelFormat format : {pfDevice, pf24bit, pf32bit, pf16bit, pf15bit, pf8bit})
        for (const uint16_t bits : {uint16_t{16}, uint16_t{24}})
            for (const int width : {5, 3, 4}) {
                SCOPED_TRACE(testing::Message()
                             << "format " << format << ", " << bits << " bits, width " << width);
                const auto b = Pattern(width, 4, format);
                const std::vector<uint8_t> expected = ExpectedDib(*b, bits);
                std::vector<uint8_t> dib(expected.size(), Fill);
                EXPECT_EQ(GetDIBits(*b, 0, 4, dib.data(), Header(width, 4, bits), DIB_RGB_COLORS),
                          4);
                EXPECT_EQ(dib, expected);
            }
}

TEST(GetDIBits, SixteenBitsAreRgb555) {
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(2, 1);
    b.SetPixelColor(0, 0, RGB(0xFF, 0x80, 0x08)); // red 31, green 16, blue 1
    b.SetPixelColor(1, 0, RGB(0x07, 0xFF, 0x00)); // red 0, green 31, blue 0
    std::vector<uint8_t> dib(4, Fill);
    ASSERT_EQ(GetDIBits(b, 0, 1, dib.data(), Header(2, 1, 16), DIB_RGB_COLORS), 1);
    EXPECT_EQ(dib, (std::vector<uint8_t>{0x01, 0x7E, 0xE0, 0x03}));
}

TEST(GetDIBits, ScansAreCountedFromTheBottomAndClippedToTheBitmap) {
    const auto b = Pattern(3, 5, pf24bit);
    const std::vector<uint8_t> whole = ExpectedDib(*b, 24);
    constexpr size_t stride = 12;
    std::vector<uint8_t> dib(whole.size(), Fill);
    // From the second row from the bottom, asking for more rows than are left.
    EXPECT_EQ(GetDIBits(*b, 1, 10, dib.data(), Header(3, 5, 24), DIB_RGB_COLORS), 4);
    EXPECT_TRUE(std::equal(whole.begin() + stride, whole.end(), dib.begin()));
    EXPECT_EQ(dib.back(), Fill); // nothing written past the rows asked for
}

TEST(GetDIBits, FormatsItCannotProduceWriteNothing) {
    const auto b = Pattern(3, 2, pf24bit);
    std::vector<uint8_t> dib(64, Fill);
    auto rows = [&](BITMAPINFOHEADER h, uint32_t start = 0, uint32_t usage = DIB_RGB_COLORS) {
        return GetDIBits(*b, start, 2, dib.data(), h, usage);
    };
    EXPECT_EQ(rows(Header(3, 2, 8)), 0);
    EXPECT_EQ(rows(Header(3, 2, 32)), 0);
    BITMAPINFOHEADER compressed = Header(3, 2, 24);
    compressed.biCompression = 0x47504A4D; // MJPG
    EXPECT_EQ(rows(compressed), 0);
    EXPECT_EQ(rows(Header(4, 2, 24)), 0); // another width
    EXPECT_EQ(rows(Header(3, -2, 24)), 0);
    EXPECT_EQ(rows(Header(3, 2, 24), 2), 0); // past the top row
    EXPECT_EQ(rows(Header(3, 2, 24), 0, 1), 0);
    EXPECT_EQ(GetDIBits(*b, 0, 2, nullptr, Header(3, 2, 24), DIB_RGB_COLORS), 0);
    EXPECT_EQ(GetDIBits(TBitmap(), 0, 1, dib.data(), Header(0, 0, 24), DIB_RGB_COLORS), 0);
    EXPECT_EQ(dib, std::vector<uint8_t>(64, Fill));
}
