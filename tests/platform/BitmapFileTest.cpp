#include "BmpBytes.h"
#include "platform/graphics/Bitmap.h"
#include "platform/rtl/Exceptions.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <sys/resource.h>

using namespace bmp_bytes;

namespace {

std::vector<RGBQUAD> DistinctColors(size_t n) {
    std::vector<RGBQUAD> colors(n);
    for (size_t i = 0; i < n; ++i)
        colors[i] = {static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i),
                     static_cast<uint8_t>(i * 3 + 1), 0};
    return colors;
}

size_t UsedBytes(const TBitmap& b) {
    return (static_cast<size_t>(b.Width()) * b.BitsPerPixel() + 7) / 8;
}

// A bitmap of Format with random stored bytes and, for palette formats, a full table.
void MakeNoise(TBitmap& b, TPixelFormat format, int width, int height, uint32_t seed) {
    b.SetPixelFormat(format);
    b.SetSize(width, height);
    if (format == pf1bit || format == pf4bit || format == pf8bit)
        b.SetColorTable(DistinctColors(size_t{1} << b.BitsPerPixel()));
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y)
        for (size_t i = 0; i < UsedBytes(b); ++i)
            b.ScanLine(y)[i] = static_cast<uint8_t>(random());
}

void ExpectSameRows(const TBitmap& a, const TBitmap& b) {
    ASSERT_EQ(a.Width(), b.Width());
    ASSERT_EQ(a.Height(), b.Height());
    for (int y = 0; y < a.Height(); ++y)
        ASSERT_EQ(std::memcmp(a.ScanLine(y), b.ScanLine(y), UsedBytes(a)), 0) << "row " << y;
}

// A 2 x 2 picture: top row red, green; bottom row blue, white.
std::vector<uint8_t> TwoByTwo24() {
    return Rows({{0, 0, 255, 0, 255, 0}, {255, 0, 0, 255, 255, 255}}); // bottom-up: top last
}

void ExpectTwoByTwo(const TBitmap& b) {
    ASSERT_EQ(b.Width(), 2);
    ASSERT_EQ(b.Height(), 2);
    EXPECT_EQ(b.PixelColor(0, 0), clBlue);
    EXPECT_EQ(b.PixelColor(1, 0), clWhite);
    EXPECT_EQ(b.PixelColor(0, 1), clRed);
    EXPECT_EQ(b.PixelColor(1, 1), clLime);
}

} // namespace

TEST(BitmapFile, EveryFormatRoundTripsPixelsFormatAndPalette) {
    struct Case {
        TPixelFormat format;
        TPixelFormat loaded;
        uint32_t bits, compression, tableEntries;
    };
    for (const Case c : {Case{pf1bit, pf1bit, 1, 0, 2}, Case{pf4bit, pf4bit, 4, 0, 16},
                         Case{pf8bit, pf8bit, 8, 0, 256}, Case{pf15bit, pf15bit, 16, 0, 0},
                         Case{pf16bit, pf16bit, 16, 3, 0}, Case{pf24bit, pf24bit, 24, 0, 0},
                         Case{pf32bit, pf32bit, 32, 0, 0}, Case{pfDevice, pf24bit, 24, 0, 0}}) {
        SCOPED_TRACE(c.bits);
        TBitmap original;
        MakeNoise(original, c.format, 7, 5, c.bits);
        const std::vector<uint8_t> file = Save(original);
        const uint32_t masks = c.compression == 3 ? 12 : 0;
        const uint32_t offBits = 54 + masks + 4 * c.tableEntries;
        EXPECT_EQ(Field(file, 0, 2), 0x4D42u);
        EXPECT_EQ(Field(file, 2, 4), file.size());
        EXPECT_EQ(Field(file, 10, 4), offBits);
        EXPECT_EQ(Field(file, 14, 4), 40u);
        EXPECT_EQ(static_cast<int32_t>(Field(file, 22, 4)), 5); // bottom-up
        EXPECT_EQ(Field(file, 28, 2), c.bits);
        EXPECT_EQ(Field(file, 30, 4), c.compression);
        if (masks) {
            EXPECT_EQ(Field(file, 54, 4), 0xF800u);
        }
        // The first stored row is the bottom one.
        EXPECT_EQ(std::memcmp(&file[offBits], original.ScanLine(4), UsedBytes(original)), 0);

        TBitmap loaded;
        Load(loaded, file);
        EXPECT_EQ(loaded.PixelFormat(), c.loaded);
        EXPECT_EQ(loaded.ColorTable(), original.ColorTable());
        ExpectSameRows(original, loaded);
    }
}

TEST(BitmapFile, PaletteShorterThanTheFormatIsPaddedWithBlack) {
    TBitmap b;
    b.SetPixelFormat(pf8bit);
    b.SetSize(2, 1);
    b.SetColorTable(DistinctColors(3));
    const std::vector<uint8_t> file = Save(b);
    EXPECT_EQ(Field(file, 10, 4), 54u + 1024u);
    TBitmap loaded;
    Load(loaded, file);
    ASSERT_EQ(loaded.ColorTable().size(), 256u);
    EXPECT_EQ(loaded.ColorTable()[2], b.ColorTable()[2]);
    EXPECT_EQ(loaded.ColorTable()[3], RGBQUAD{});
}

TEST(BitmapFile, FilesAndStreamPositions) {
    TBitmap b;
    MakeNoise(b, pf8bit, 5, 3, 1);
    const std::string path = ::testing::TempDir() + "/bitmap-file-test.bmp";
    b.SaveToFile(path);
    TBitmap fromFile;
    fromFile.LoadFromFile(path);
    ExpectSameRows(b, fromFile);
    std::remove(path.c_str());

    // Read from the stream's position; afterwards it stands after the bitmap's bytes.
    const std::vector<uint8_t> file = Save(b);
    TMemoryStream stream;
    stream.WriteBuffer("abc", 3);
    stream.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
    stream.WriteBuffer("trailer", 7);
    stream.SetPosition(3);
    TBitmap fromStream;
    fromStream.LoadFromStream(stream);
    ExpectSameRows(b, fromStream);
    EXPECT_EQ(stream.Position(), 3 + static_cast<int64_t>(file.size()));

    TBitmap empty;
    EXPECT_TRUE(Save(empty).empty());
}

TEST(BitmapFile, ReadsEveryHeaderKind) {
    for (const uint32_t headerSize : {12u, 40u, 52u, 56u, 108u, 124u}) {
        SCOPED_TRACE(headerSize);
        Spec s;
        s.headerSize = headerSize;
        s.width = s.height = 2;
        s.pixels = TwoByTwo24();
        TBitmap b;
        Load(b, Make(s));
        EXPECT_EQ(b.PixelFormat(), pf24bit);
        ExpectTwoByTwo(b);
    }
    // The core header's colour table holds triples.
    Spec core;
    core.headerSize = 12;
    core.width = 3;
    core.bitCount = 8;
    core.colors = DistinctColors(256);
    core.pixels = Rows({{0, 5, 255}});
    TBitmap b;
    Load(b, Make(core));
    EXPECT_EQ(b.PixelFormat(), pf8bit);
    EXPECT_EQ(b.ColorTable(), core.colors);
    EXPECT_EQ(PixelIndexes(b, 0), (std::vector<uint32_t>{0, 5, 255}));
}

TEST(BitmapFile, RowOrderColourTableSizeAndPixelOffset) {
    Spec s;
    s.width = 2;
    s.height = -2; // top-down
    s.pixels = Rows({{255, 0, 0, 255, 255, 255}, {0, 0, 255, 0, 255, 0}});
    TBitmap b;
    Load(b, Make(s));
    ExpectTwoByTwo(b);

    Spec p;
    p.width = 3;
    p.bitCount = 8;
    p.colorsUsed = 3;
    p.colors = DistinctColors(3);
    p.gap = 10; // the pixels start at bfOffBits, not after the table
    p.pixels = Rows({{2, 1, 0}});
    Load(b, Make(p));
    EXPECT_EQ(b.ColorTable(), p.colors);
    EXPECT_EQ(PixelIndexes(b, 0), (std::vector<uint32_t>{2, 1, 0}));

    p.colorsUsed = 0; // 0 means the format's full table
    p.colors = DistinctColors(256);
    Load(b, Make(p));
    EXPECT_EQ(b.ColorTable().size(), 256u);

    // A table longer than the format holds keeps the entries the format can use.
    p.bitCount = 4;
    p.colorsUsed = 20;
    p.colors = DistinctColors(20);
    p.pixels = Rows({{0x21, 0x00}});
    Load(b, Make(p));
    EXPECT_EQ(b.ColorTable(), DistinctColors(16));
}

// The rows are read straight into memory that is not cleared first: a file whose last row
// ends without its padding still gives zero padding, whatever the memory held before.
TEST(BitmapFile, LastRowWithoutItsPaddingReadsAsZeroPadding) {
    Spec s;
    s.width = 1;
    s.height = 64;
    std::vector<std::vector<uint8_t>> rows(64, std::vector<uint8_t>{1, 2, 3});
    s.pixels = Rows(rows);
    s.pixels.pop_back(); // the last row's padding byte
    LeaveDirtyMemory(pf24bit, 1, 64);
    TBitmap b;
    Load(b, Make(s));
    ASSERT_EQ(b.RowBytes(), 4);
    for (int y = 0; y < 64; ++y)
        ASSERT_EQ(std::vector<uint8_t>(b.ScanLine(y), b.ScanLine(y) + 4),
                  (std::vector<uint8_t>{1, 2, 3, 0}))
            << y;
}

TEST(BitmapFile, Rle8RunsEscapesAndAbsoluteRuns) {
    Spec s;
    s.width = 6;
    s.height = 3;
    s.bitCount = 8;
    s.compression = 1;
    s.colors = DistinctColors(16);
    s.colorsUsed = 16;
    // Bottom row: a run of three 7s, an absolute run 1 2 3 with its pad byte; end of line;
    // delta (1, 1); a run of two 9s; end of picture.
    s.pixels = {3, 7, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 2, 9, 0, 1};
    s.sizeImage = static_cast<uint32_t>(s.pixels.size());
    std::vector<uint8_t> file = Make(s);
    file.insert(file.end(), {0xAA, 0xBB});
    TMemoryStream stream;
    stream.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
    stream.SetPosition(0);
    TBitmap b;
    b.LoadFromStream(stream);
    EXPECT_EQ(b.PixelFormat(), pf8bit);
    EXPECT_EQ(PixelIndexes(b, 0), (std::vector<uint32_t>{0, 9, 9, 0, 0, 0}));
    EXPECT_EQ(PixelIndexes(b, 1), (std::vector<uint32_t>(6, 0)));
    EXPECT_EQ(PixelIndexes(b, 2), (std::vector<uint32_t>{7, 7, 7, 1, 2, 3}));
    EXPECT_EQ(stream.Position(), static_cast<int64_t>(file.size()) - 2);

    // Data that stops early keeps what it gave; the rest stays index 0.
    s.pixels = {3, 7, 0, 3, 1};
    s.sizeImage = 0;
    Load(b, Make(s));
    EXPECT_EQ(PixelIndexes(b, 2), (std::vector<uint32_t>{7, 7, 7, 1, 0, 0}));
    EXPECT_EQ(PixelIndexes(b, 0), (std::vector<uint32_t>(6, 0)));
}

TEST(BitmapFile, Rle4NibbleRunsAndPaddedAbsoluteRuns) {
    Spec s;
    s.width = 6;
    s.height = 3;
    s.bitCount = 4;
    s.compression = 2;
    s.colors = DistinctColors(16);
    // Bottom row: absolute 1 2 3 4 5 (three bytes and a pad byte), a run of one 6; end of
    // line; a run alternating 10 and 11; end of line; top row: a run of one 9, then from inside
    // a byte a run of 12 13 and absolute 14 15 1; end of picture.
    s.pixels = {0, 5,    0x12, 0x34, 0x50, 0, 1,    0x60, 0, 0, //
                6, 0xAB, 0,    0,                               //
                1, 0x90, 2,    0xCD, 0,    3, 0xEF, 0x10, 0, 1};
    TBitmap b;
    Load(b, Make(s));
    EXPECT_EQ(b.PixelFormat(), pf4bit);
    EXPECT_EQ(PixelIndexes(b, 0), (std::vector<uint32_t>{9, 12, 13, 14, 15, 1}));
    EXPECT_EQ(PixelIndexes(b, 1), (std::vector<uint32_t>{10, 11, 10, 11, 10, 11}));
    EXPECT_EQ(PixelIndexes(b, 2), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
}

// Codes that reach the top row of a large picture leave the rows they skip at index 0, however
// few bytes they take: end-of-line codes for RLE8, deltas of 255 rows for RLE4.
TEST(BitmapFile, RleCodesThatSkipMostOfALargePictureLoad) {
    for (const uint16_t bits : {8, 4}) {
        SCOPED_TRACE(bits);
        Spec s;
        s.width = 32768 / bits;
        s.height = 4096;
        s.bitCount = bits;
        s.compression = bits == 8 ? 1 : 2;
        s.colors = DistinctColors(16);
        for (int y = 0; y < 4095;) {
            const int rows = bits == 8 ? 1 : std::min(255, 4095 - y);
            s.pixels.insert(s.pixels.end(), {0, static_cast<uint8_t>(bits == 8 ? 0 : 2)});
            if (bits == 4) s.pixels.insert(s.pixels.end(), {0, static_cast<uint8_t>(rows)});
            y += rows;
        }
        s.pixels.insert(s.pixels.end(), {3, 0x12, 0, 1});
        TBitmap b;
        Load(b, Make(s));
        ASSERT_EQ(b.Height(), 4096);
        EXPECT_EQ(PixelIndexes(b, 0)[2], bits == 8 ? 0x12u : 1u);
        EXPECT_EQ(PixelIndexes(b, 0)[3], 0u);
        EXPECT_EQ(PixelIndexes(b, 4095), std::vector<uint32_t>(static_cast<size_t>(s.width), 0));
    }
}

// Small files claiming pictures near the largest size: only the coded pixels are set, the rest
// is index 0. A row 64 M pixels wide skipped with two bytes; a 16384-row picture of end-of-line
// codes, more of them past its top row; 32768 x 16384 at 4 bits coded whole with long runs, half
// of them starting inside a byte.
TEST(BitmapFile, SmallRleFilesOfHugePicturesSetTheCodedPixelsOnly) {
    // Row Y holds Bytes from X and zero elsewhere.
    const auto rowHolds = [](const TBitmap& b, int y, size_t x, const std::vector<uint8_t>& bytes) {
        std::vector<uint8_t> expected(UsedBytes(b), 0);
        std::copy(bytes.begin(), bytes.end(), expected.begin() + static_cast<ptrdiff_t>(x));
        return std::memcmp(b.ScanLine(y), expected.data(), expected.size()) == 0;
    };
    Spec s;
    s.bitCount = 8;
    s.compression = 1;
    s.colors = DistinctColors(16);
    s.width = 1 << 26;
    s.height = 3;
    s.pixels = {255, 1, 0, 0, 0, 0, 0, 2, 255, 0, 0, 3, 5, 6, 7, 0, 0, 1};
    auto b = std::make_unique<TBitmap>();
    Load(*b, Make(s));
    EXPECT_TRUE(rowHolds(*b, 2, 0, std::vector<uint8_t>(255, 1)));
    EXPECT_TRUE(rowHolds(*b, 1, 0, {}));
    EXPECT_TRUE(rowHolds(*b, 0, 255, {5, 6, 7}));

    s.width = s.height = 16384;
    s.pixels = {2, 9};
    for (int y = 0; y < 16383 + 16; ++y) {
        if (y == 16383) s.pixels.insert(s.pixels.end(), {0, 2, 255, 0, 3, 4});
        s.pixels.insert(s.pixels.end(), {0, 0});
    }
    b = std::make_unique<TBitmap>();
    Load(*b, Make(s));
    EXPECT_TRUE(rowHolds(*b, 16383, 0, {9, 9}));
    EXPECT_TRUE(rowHolds(*b, 0, 255, {4, 4, 4}));
    for (int y = 1; y < 16383; ++y)
        ASSERT_TRUE(rowHolds(*b, y, 0, {})) << y;

    s.width = 32768;
    s.bitCount = 4;
    s.compression = 2;
    s.pixels.clear();
    for (int y = 0; y < s.height; ++y) {
        for (int run = 0; run < 128; ++run)
            s.pixels.insert(s.pixels.end(), {255, 0x12});
        s.pixels.insert(s.pixels.end(), {128, 0x34, 0, 0});
    }
    b = std::make_unique<TBitmap>();
    Load(*b, Make(s));
    for (const int y : {0, 8191, 16383}) {
        const std::vector<uint32_t> row = PixelIndexes(*b, y);
        for (const int x : {0, 1, 254, 255, 256, 509, 510, 32639, 32640, 32641, 32767})
            EXPECT_EQ(row[static_cast<size_t>(x)],
                      x >= 32640 ? 3u + (x - 32640) % 2 : 1u + (x % 255) % 2)
                << y << ", " << x;
    }
}

TEST(BitmapFile, BitFieldsPickTheFormatOrAreReadThroughTheMasks) {
    auto load16 = [](uint32_t compression, std::vector<uint32_t> masks, uint16_t word,
                     uint32_t headerSize = 40) {
        Spec s;
        s.headerSize = headerSize;
        s.bitCount = 16;
        s.compression = compression;
        s.masks = std::move(masks);
        s.pixels = Rows({{static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)}});
        auto b = std::make_unique<TBitmap>();
        Load(*b, Make(s));
        return b;
    };
    auto b = load16(0, {}, 0x7C00);
    EXPECT_EQ(b->PixelFormat(), pf15bit);
    EXPECT_EQ(b->PixelColor(0, 0), clRed);
    b = load16(3, {0x7C00, 0x3E0, 0x1F}, 0x03E0);
    EXPECT_EQ(b->PixelFormat(), pf15bit);
    EXPECT_EQ(b->PixelColor(0, 0), clLime);
    b = load16(3, {0xF800, 0x7E0, 0x1F}, 0x07E0);
    EXPECT_EQ(b->PixelFormat(), pf16bit);
    EXPECT_EQ(b->PixelColor(0, 0), clLime);
    // 4 bits a channel: 0xF -> 255, 0x8 -> 136, 0x4 -> 68.
    b = load16(3, {0xF00, 0xF0, 0xF}, 0x0F84, 52);
    EXPECT_EQ(b->PixelFormat(), pf24bit);
    EXPECT_EQ(b->PixelColor(0, 0), RGB(255, 136, 68));

    // 32 bits, red in the low byte; and alpha through a mask of its own.
    Spec s;
    s.bitCount = 32;
    s.compression = 3;
    s.masks = {0xFF, 0xFF00, 0xFF0000};
    s.pixels = {10, 20, 30, 40};
    Load(*b, Make(s));
    EXPECT_EQ(b->PixelFormat(), pf32bit);
    EXPECT_EQ(b->PixelColor(0, 0), RGB(10, 20, 30));
    s.headerSize = 56;
    s.masks = {0xFF000000, 0xFF0000, 0xFF00, 0xFF};
    s.pixels = {40, 30, 20, 10};
    Load(*b, Make(s));
    EXPECT_EQ(b->PixelColor(0, 0), RGB(10, 20, 30));
    EXPECT_EQ(b->ScanLine(0)[3], 40);
}

TEST(BitmapFile, LoadingReportsOneChange) {
    Spec s;
    s.width = s.height = 2;
    s.pixels = TwoByTwo24();
    TBitmap b;
    int changes = 0;
    b.OnChange = [&](TObject*) { ++changes; };
    Load(b, Make(s));
    EXPECT_EQ(changes, 1);
}

// RLE deltas of 255 rows up to the top row of a picture Side pixels high, then Last.
std::vector<uint8_t> HugeRleSkip(int side, std::vector<uint8_t> last) {
    std::vector<uint8_t> data;
    for (int y = 0; y < side - 1; y += 255)
        data.insert(data.end(), {0, 2, 0, static_cast<uint8_t>(std::min(255, side - 1 - y))});
    data.insert(data.end(), last.begin(), last.end());
    return data;
}

// Each of these must fail with the invalid-bitmap error and leave the bitmap as it was.
TEST(BitmapFile, HostileFilesFailCleanly) {
    auto valid = [] {
        Spec s;
        s.width = 4;
        s.height = 2;
        s.bitCount = 8;
        s.colorsUsed = 2;
        s.colors = DistinctColors(2);
        s.pixels = Rows({{0, 1, 0, 1}, {1, 0, 1, 0}});
        return s;
    };
    auto rle8 = [&](std::vector<uint8_t> data, int width = 4, int height = 2) {
        Spec s = valid();
        s.compression = 1;
        s.width = width;
        s.height = height;
        s.pixels = std::move(data);
        return Make(s);
    };
    auto with = [&](auto change) {
        Spec s = valid();
        change(s);
        return Make(s);
    };
    const std::vector<uint8_t> good = Make(valid());
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = {
        {"empty", {}},
        {"signature only", {'B', 'M'}},
        {"cut in the header", {good.begin(), good.begin() + 30}},
        {"bad signature", with([](Spec& s) { s.signature = "BA"; })},
        {"header size 0", with([](Spec& s) { s.headerSize = 0; })},
        {"header size 20", with([](Spec& s) { s.headerSize = 20; })},
        {"header size 64", with([](Spec& s) { s.headerSize = 64; })},
        {"header size 200", with([](Spec& s) { s.headerSize = 200; })},
        {"width 0", with([](Spec& s) { s.width = 0; })},
        {"negative width", with([](Spec& s) { s.width = -4; })},
        {"height 0", with([](Spec& s) { s.height = 0; })},
        {"smallest height", with([](Spec& s) { s.height = INT32_MIN; })},
        {"0 bits", with([](Spec& s) { s.bitCount = 0; })},
        {"2 bits", with([](Spec& s) { s.bitCount = 2; })},
        {"7 bits", with([](Spec& s) { s.bitCount = 7; })},
        {"48 bits", with([](Spec& s) { s.bitCount = 48; })},
        {"JPEG inside", with([](Spec& s) { s.compression = 4; })},
        {"PNG inside", with([](Spec& s) { s.compression = 5; })},
        {"unknown compression", with([](Spec& s) { s.compression = 9; })},
        {"RLE4 at 8 bits", with([](Spec& s) { s.compression = 2; })},
        {"RLE8 at 4 bits", with([](Spec& s) { s.compression = 1, s.bitCount = 4; })},
        {"RLE top-down", with([](Spec& s) { s.compression = 1, s.height = -2; })},
        {"bit fields at 24 bits", with([](Spec& s) {
             s.bitCount = 24, s.compression = 3, s.masks = {0xFF, 0xFF00, 0};
         })},
        {"bit fields all zero", with([](Spec& s) {
             s.bitCount = 16, s.compression = 3, s.masks = {0, 0, 0};
         })},
        {"bit field with a hole", with([](Spec& s) {
             s.bitCount = 16, s.compression = 3, s.masks = {0x5, 0xF0, 0xF00};
         })},
        {"16-bit field past 16 bits", with([](Spec& s) {
             s.bitCount = 16, s.compression = 3, s.masks = {0x1F0000, 0x3E0, 1};
         })},
        {"257 colours", with([](Spec& s) { s.colorsUsed = 257; })},
        {"4 billion colours", with([](Spec& s) { s.colorsUsed = 0xFFFFFFFF; })},
        {"pixels past the end", with([](Spec& s) { s.offBitsDelta = 4096; })},
        {"pixels inside the header", with([](Spec& s) { s.offBitsDelta = -30; })},
        {"truncated pixels", with([](Spec& s) { s.pixels.resize(3); })},
        {"rows past the data", with([](Spec& s) { s.width = 1000, s.height = 1000; })},
        {"overflowing size",
         with([](Spec& s) { s.width = INT32_MAX, s.height = INT32_MAX, s.bitCount = 32; })},
        {"beyond the largest bitmap",
         with([](Spec& s) { s.width = 50000, s.height = 50000, s.bitCount = 32; })},
        {"RLE run past the row end", rle8({5, 1, 0, 1})},
        {"RLE absolute run past the row end", rle8({0, 6, 1, 2, 3, 4, 5, 6, 0, 1})},
        {"RLE delta below the picture", rle8({0, 2, 0, 5, 1, 1, 0, 1})},
        {"RLE pixels after the last row", rle8({0, 0, 0, 0, 2, 1, 0, 1})},
        {"RLE huge picture from a few bytes", rle8({0, 1}, 30000, 30000)},
        {"RLE codes up to the top of a huge picture, then pixels above it",
         rle8(HugeRleSkip(16384, {0, 0, 1, 7}), 16384, 16384)},
        {"RLE codes up to the top of a picture beyond the largest sparse one",
         rle8(HugeRleSkip(20000, {0, 1}), 20000, 20000)},
    };
    // None costs a picture of the size it claims: each is refused before one is made.
    const auto peakBytes = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return int64_t{usage.ru_maxrss} * 1024;
    };
    const int64_t before = peakBytes();
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        TBitmap b;
        b.SetPixelFormat(pf24bit);
        b.SetSize(3, 3);
        b.SetPixelColor(1, 1, clRed);
        int changes = 0;
        b.OnChange = [&](TObject*) { ++changes; };
        try {
            Load(b, bytes);
            ADD_FAILURE() << "loaded";
        } catch (const EInvalidGraphic& e) {
            EXPECT_STREQ(e.what(), Msg::InvalidBitmap);
        }
        EXPECT_EQ(changes, 0);
        EXPECT_EQ(b.Width(), 3);
        EXPECT_EQ(b.PixelFormat(), pf24bit);
        EXPECT_EQ(b.PixelColor(1, 1), clRed);
    }
    EXPECT_LT(peakBytes() - before, int64_t{64} << 20);
}
