// The PNG writer: the datastream's chunks and their layouts, the IDAT sizes, the row
// conversions, Adam7 passes, the row hook and progress.
#include "PngCheck.h"
#include "SourceBitmaps.h"
#include "common/KRLPNG.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

using namespace png_check;
using source_bitmaps::Make;

namespace {

const TKRLPNGTime Clock{2031, 12, 31, 23, 59, 60};

// Every test sees the same UTC clock.
class PngWriter : public testing::Test {
protected:
    void SetUp() override {
        SetUTCTimeOverride([](TKRLPNGTime& t) { t = Clock; });
    }
    void TearDown() override { SetUTCTimeOverride({}); }
};

Bytes Write(TKRLPNGWriteStream& writer, TBitmap& bitmap) {
    TMemoryStream stream;
    writer.WriteToStream(bitmap, stream);
    return StreamBytes(stream);
}

std::vector<Chunk> WrittenChunks(TKRLPNGWriteStream& writer, TBitmap& bitmap) {
    return Chunks(Write(writer, bitmap));
}

// IHDR's depth and colour type.
std::pair<int, int> DepthAndType(const std::vector<Chunk>& chunks) {
    const Bytes ihdr = Find(chunks, "IHDR");
    return {ihdr.at(8), ihdr.at(9)};
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// A one-row picture of the given 16-bit words.
std::unique_ptr<TBitmap> Words(TPixelFormat format, const std::vector<uint16_t>& words) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(format);
    bitmap->SetSize(static_cast<int>(words.size()), 1);
    for (size_t i = 0; i < words.size(); ++i) {
        bitmap->ScanLine(0)[2 * i] = static_cast<uint8_t>(words[i]);
        bitmap->ScanLine(0)[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
    }
    return bitmap;
}

std::unique_ptr<TBitmap> PaletteBitmap(TPixelFormat format, std::vector<RGBQUAD> colors,
                                       int width = 4, int height = 2) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(format);
    bitmap->SetSize(width, height);
    bitmap->SetColorTable(std::move(colors));
    return bitmap;
}

constexpr RGBQUAD Black{0, 0, 0, 0};
constexpr RGBQUAD White{255, 255, 255, 0};

// ---------------------------------------------------------------- the datastream

TEST_F(PngWriter, ThePicturesDefaultDatastreamOfATwentyFourBitBitmap) {
    TKRLPNG picture;
    picture.ImageBitmap().Assign(source_bitmaps::Noise24(160, 100, 3).get());
    TMemoryStream stream;
    picture.SaveToStream(stream);
    const Bytes png = StreamBytes(stream);
    ASSERT_GE(png.size(), 8u);
    EXPECT_EQ(Bytes(png.begin(), png.begin() + 8), (Bytes{137, 80, 78, 71, 13, 10, 26, 10}));

    const std::vector<Chunk> chunks = Chunks(png);
    EXPECT_EQ(Types(chunks), (std::vector<std::string>{"IHDR", "tIME", "tEXt", "tpNG", "gAMA",
                                                       "IDAT", "IDAT", "IEND"}));
    for (const Chunk& c : chunks)
        EXPECT_TRUE(c.crcOk) << c.type;
    EXPECT_EQ(Find(chunks, "IHDR"), (Bytes{0, 0, 0, 160, 0, 0, 0, 100, 8, 2, 0, 0, 0}));
    EXPECT_EQ(Find(chunks, "tIME"), (Bytes{0x07, 0xEF, 12, 31, 23, 59, 60}));
    EXPECT_EQ(Find(chunks, "tEXt"), Text(std::string("Software") + '\0' + "KRLPNG ver 3.4"));
    EXPECT_EQ(Find(chunks, "tpNG"), (Bytes{'K', 'R', 'L', '3', 0, 0, 0, 0}));
    EXPECT_EQ(BE32(Find(chunks, "gAMA").data()), 45455u);
    EXPECT_EQ(IDATSizes(chunks).at(0), 32768u);
    EXPECT_LT(IDATSizes(chunks).at(1), 32768u);
    // The end chunk: length, type and the CRC of the type alone.
    EXPECT_EQ(Bytes(png.end() - 12, png.end()),
              (Bytes{0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82}));

    // The writer on its own has no gamma.
    TKRLPNGWriteStream writer;
    EXPECT_FALSE(Has(WrittenChunks(writer, picture.ImageBitmap()), "gAMA"));
}

TEST_F(PngWriter, EveryOptionalChunkInItsPlace) {
    auto bitmap = PaletteBitmap(pf8bit, std::vector<RGBQUAD>(256, White));
    const TKRLPNGTime modified{1999, 1, 2, 3, 4, 5};
    const TKRLPNGChromaticities primaries{31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000};
    const TKRLPNGGifExtension gif{2, 1, 0, 50};
    TKRLPNGWriteStream writer;
    writer.StampTime = false;
    writer.ModifiedTime = &modified;
    writer.Comment = "hello";
    writer.Chromaticities = &primaries;
    writer.GifExtension = &gif;
    writer.Gamma = 1;
    writer.SignificantBits = 0x050505;
    writer.BackgroundColor = 0x01000003;
    writer.TransColor = 0x01000001;
    writer.PhysUnit = 1;
    writer.PixelsPerUnitX = writer.PixelsPerUnitY = 5000;
    writer.RowKey = "key";
    writer.OnWriteRow = [](TObject*, uint8_t*, int32_t, int32_t, const std::string&) {};
    const std::vector<Chunk> chunks = WrittenChunks(writer, *bitmap);
    EXPECT_EQ(Types(chunks), (std::vector<std::string>{"IHDR", "tIME", "tEXt", "tEXt", "tpNG",
                                                       "gIFg", "gAMA", "cHRM", "sBIT", "PLTE",
                                                       "bKGD", "tRNS", "pHYs", "IDAT", "IEND"}));
    EXPECT_EQ(Find(chunks, "tIME"), (Bytes{0x07, 0xCF, 1, 2, 3, 4, 5}));
    EXPECT_EQ(chunks[2].data, Text(std::string("Comment") + '\0' + "hello"));
    EXPECT_EQ(Find(chunks, "tpNG"), (Bytes{'K', 'R', 'L', '3', 1, 0, 0, 0}));
    EXPECT_EQ(Find(chunks, "gIFg"), (Bytes{2, 1, 0, 50}));
    EXPECT_EQ(BE32(Find(chunks, "gAMA").data()), 100000u);
    const Bytes chrm = Find(chunks, "cHRM");
    ASSERT_EQ(chrm.size(), 32u);
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(BE32(&chrm[4 * i]), primaries[i]);
    EXPECT_EQ(Find(chunks, "sBIT"), (Bytes{5, 5, 5}));
    EXPECT_EQ(Find(chunks, "PLTE").size(), 768u);
    EXPECT_EQ(Find(chunks, "bKGD"), (Bytes{3}));
    EXPECT_EQ(Find(chunks, "tRNS"), (Bytes{255, 0}));
    EXPECT_EQ(Find(chunks, "pHYs"), (Bytes{0, 0, 0x13, 0x88, 0, 0, 0x13, 0x88, 1}));
    const Decoded d = Decode(Write(writer, *bitmap));
    EXPECT_TRUE(d.ok) << d.error;
    EXPECT_TRUE(d.warnings.empty());
}

// ---------------------------------------------------------------- header

TEST_F(PngWriter, HeaderFollowsSourceFormatGreyOutputAndAlpha) {
    struct Case {
        TPixelFormat format;
        bool gray, alpha;
        int depth, type;
    };
    const Case cases[] = {
        {pf1bit, false, true, 1, 3},   {pf4bit, false, true, 4, 3},  {pf8bit, false, true, 8, 3},
        {pf15bit, false, false, 8, 2}, {pf16bit, false, true, 8, 6}, {pf24bit, false, false, 8, 2},
        {pf24bit, false, true, 8, 6},  {pf32bit, false, true, 8, 6}, {pf1bit, true, true, 1, 0},
        {pf4bit, true, true, 4, 0},    {pf8bit, true, false, 8, 0},  {pf8bit, true, true, 8, 4},
        {pf15bit, true, true, 8, 4},   {pf24bit, true, false, 8, 0}, {pf32bit, true, true, 8, 4},
    };
    for (const Case& c : cases) {
        auto bitmap = Make(c.format, 5, 3, 1);
        auto alpha = source_bitmaps::Alpha(5, 3, 2);
        TKRLPNGWriteStream writer;
        writer.GrayScale = c.gray;
        writer.AlphaBitmap = c.alpha ? alpha.get() : nullptr;
        EXPECT_EQ(DepthAndType(WrittenChunks(writer, *bitmap)), std::make_pair(c.depth, c.type))
            << "format " << c.format << " grey " << c.gray << " alpha " << c.alpha;
    }
}

TEST_F(PngWriter, AlphaBitmapsThatDoNotFitAreIgnored) {
    auto bitmap = Make(pf24bit, 5, 3, 1);
    auto otherSize = source_bitmaps::Alpha(5, 4, 2);
    auto otherFormat = Make(pf24bit, 5, 3, 2);
    TBitmap empty;
    for (TBitmap* alpha : {otherSize.get(), otherFormat.get(), bitmap.get(), &empty}) {
        TKRLPNGWriteStream writer;
        writer.AlphaBitmap = alpha;
        writer.TransColor = 0x123456;
        const std::vector<Chunk> chunks = WrittenChunks(writer, *bitmap);
        EXPECT_EQ(DepthAndType(chunks).second, 2);
        // Without an alpha channel the transparent colour is written.
        EXPECT_EQ(Find(chunks, "tRNS"), (Bytes{0, 0x56, 0, 0x34, 0, 0x12}));
    }
}

TEST_F(PngWriter, HighColourSourcesCarryTheirSignificantBits) {
    auto alpha = source_bitmaps::Alpha(2, 1, 1);
    const auto sbit = [&](TPixelFormat format, bool withAlpha, bool gray, int32_t setting) {
        auto bitmap = Make(format, 2, 1, 1);
        TKRLPNGWriteStream writer;
        writer.AlphaBitmap = withAlpha ? alpha.get() : nullptr;
        writer.GrayScale = gray;
        writer.SignificantBits = setting;
        return Find(WrittenChunks(writer, *bitmap), "sBIT");
    };
    EXPECT_EQ(sbit(pf15bit, false, false, 0), (Bytes{5, 5, 5}));
    EXPECT_EQ(sbit(pf15bit, true, false, 0x07070707), (Bytes{5, 5, 5, 8}));
    EXPECT_EQ(sbit(pf16bit, false, false, 0), (Bytes{5, 6, 5}));
    EXPECT_EQ(sbit(pf16bit, true, false, 0), (Bytes{5, 6, 5, 8}));
    EXPECT_EQ(sbit(pf16bit, false, true, 0), Bytes{});
    EXPECT_EQ(sbit(pf24bit, false, false, 0), Bytes{});
    EXPECT_EQ(sbit(pf24bit, false, false, 0x04030201), (Bytes{1, 2, 3}));
    EXPECT_EQ(sbit(pf32bit, true, false, 0x04030201), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(sbit(pf24bit, true, false, static_cast<int32_t>(0x80080808)), Bytes{});
}

// ---------------------------------------------------------------- palette, bKGD, tRNS

TEST_F(PngWriter, ThePaletteIsWrittenAsItStands) {
    auto bitmap = PaletteBitmap(pf4bit, {{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}});
    TKRLPNGWriteStream writer;
    EXPECT_EQ(Find(WrittenChunks(writer, *bitmap), "PLTE"), (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7}));
    writer.GrayScale = true;
    EXPECT_FALSE(Has(WrittenChunks(writer, *bitmap), "PLTE"));
    auto rgb = Make(pf24bit, 2, 2, 1);
    writer.GrayScale = false;
    EXPECT_FALSE(Has(WrittenChunks(writer, *rgb), "PLTE"));
}

TEST_F(PngWriter, PaletteColoursAreMatchedByIndexOrNearestEntry) {
    std::vector<RGBQUAD> colors(256, Black);
    colors[7] = {0, 0, 200, 0}; // red 200
    colors[9] = {0, 0, 250, 0}; // red 250
    auto bitmap = PaletteBitmap(pf8bit, colors);
    const auto chunk = [&](TColor background, TColor trans, const char* type) {
        TKRLPNGWriteStream writer;
        writer.BackgroundColor = background;
        writer.TransColor = trans;
        return Find(WrittenChunks(writer, *bitmap), type);
    };
    EXPECT_EQ(chunk(-1, 0x01000005, "tRNS"), (Bytes{255, 255, 255, 255, 255, 0}));
    EXPECT_EQ(chunk(-1, 0x000000F0, "tRNS"),
              (Bytes{255, 255, 255, 255, 255, 255, 255, 255, 255, 0})); // red 240: nearest is 250
    EXPECT_EQ(chunk(0x01000002, -1, "bKGD"), (Bytes{2}));
    EXPECT_EQ(chunk(0x0000C8, -1, "bKGD"), (Bytes{7})); // exact
    EXPECT_EQ(chunk(0x0000E1, -1, "bKGD"), (Bytes{7})); // 225: a tie goes to the lower index
    EXPECT_EQ(chunk(-1, -1, "bKGD"), Bytes{});

    // An index the palette does not have would make an invalid file: no chunk.
    auto small = PaletteBitmap(pf4bit, {White, Black});
    TKRLPNGWriteStream writer;
    writer.BackgroundColor = 0x01000005;
    writer.TransColor = 0x01000002;
    const std::vector<Chunk> chunks = WrittenChunks(writer, *small);
    EXPECT_FALSE(Has(chunks, "bKGD"));
    EXPECT_FALSE(Has(chunks, "tRNS"));
    writer.TransColor = 0x01000001;
    EXPECT_EQ(Find(WrittenChunks(writer, *small), "tRNS"), (Bytes{255, 0}));
}

TEST_F(PngWriter, DirectColoursAndGreySamplesForBackgroundAndTransparency) {
    auto rgb = Make(pf32bit, 2, 2, 1);
    TKRLPNGWriteStream writer;
    writer.BackgroundColor = 0x7F123456; // the top byte plays no part
    writer.TransColor = 0x00ABCDEF;
    std::vector<Chunk> chunks = WrittenChunks(writer, *rgb);
    EXPECT_EQ(Find(chunks, "bKGD"), (Bytes{0, 0x56, 0, 0x34, 0, 0x12}));
    EXPECT_EQ(Find(chunks, "tRNS"), (Bytes{0, 0xEF, 0, 0xCD, 0, 0xAB}));
    auto alpha = source_bitmaps::Alpha(2, 2, 1);
    writer.AlphaBitmap = alpha.get();
    EXPECT_FALSE(Has(WrittenChunks(writer, *rgb), "tRNS"));

    // White in grey output at each depth; red through its grey level.
    struct Case {
        TPixelFormat format;
        TColor color;
        uint32_t sample;
    };
    for (const Case& c :
         {Case{pf1bit, 0xFFFFFF, 1}, Case{pf4bit, 0xFFFFFF, 15}, Case{pf8bit, 0xFFFFFF, 255},
          Case{pf24bit, 0x0000FF, 76}, Case{pf1bit, 0x000080, 0}, Case{pf4bit, 0x0000FF, 4}}) {
        auto bitmap = Make(c.format, 3, 2, 1);
        TKRLPNGWriteStream gray;
        gray.GrayScale = true;
        gray.BackgroundColor = c.color;
        gray.TransColor = c.color;
        chunks = WrittenChunks(gray, *bitmap);
        EXPECT_EQ(Find(chunks, "bKGD"), (Bytes{0, static_cast<uint8_t>(c.sample)})) << c.format;
        EXPECT_EQ(Find(chunks, "tRNS"), (Bytes{0, static_cast<uint8_t>(c.sample)})) << c.format;
    }

    // In grey output a palette entry stands for its colour; a missing one writes nothing.
    auto bitmap = PaletteBitmap(pf8bit, {Black, White});
    TKRLPNGWriteStream gray;
    gray.GrayScale = true;
    gray.BackgroundColor = 0x01000001;
    gray.TransColor = 0x01000002;
    chunks = WrittenChunks(gray, *bitmap);
    EXPECT_EQ(Find(chunks, "bKGD"), (Bytes{0, 255}));
    EXPECT_FALSE(Has(chunks, "tRNS"));
}

TEST_F(PngWriter, ColorToGrayWeighsTheChannels) {
    EXPECT_EQ(TKRLPNGWriteStream::ColorToGray(8, 0x0000FF), 76);
    EXPECT_EQ(TKRLPNGWriteStream::ColorToGray(8, 0x00FF00), 149);
    EXPECT_EQ(TKRLPNGWriteStream::ColorToGray(8, 0xFF0000), 28);
    EXPECT_EQ(TKRLPNGWriteStream::ColorToGray(24, 0xFFFFFF), 255);
    EXPECT_EQ(TKRLPNGWriteStream::ColorToGray(4, 0xFFFFFF), 15);
    EXPECT_EQ(TKRLPNGWriteStream::ColorToGray(1, 0x808080), 1);
    EXPECT_EQ(TKRLPNGWriteStream::ColorToGray(1, 0x7F7F7F), 0);
}

// ---------------------------------------------------------------- time, text, numbers

TEST_F(PngWriter, TimeStampsAreWrittenOnlyWhenValid) {
    auto bitmap = Make(pf24bit, 1, 1, 1);
    const auto time = [&](bool stamp, const TKRLPNGTime* modified) {
        TKRLPNGWriteStream writer;
        writer.StampTime = stamp;
        writer.ModifiedTime = modified;
        return Find(WrittenChunks(writer, *bitmap), "tIME");
    };
    const TKRLPNGTime valid{2000, 2, 29, 0, 0, 0};
    EXPECT_EQ(time(false, &valid), (Bytes{0x07, 0xD0, 2, 29, 0, 0, 0}));
    EXPECT_EQ(time(true, &valid), (Bytes{0x07, 0xEF, 12, 31, 23, 59, 60}));
    EXPECT_EQ(time(false, nullptr), Bytes{});
    for (const TKRLPNGTime& bad :
         {TKRLPNGTime{0, 1, 1, 0, 0, 0}, TKRLPNGTime{2000, 0, 1, 0, 0, 0},
          TKRLPNGTime{2000, 13, 1, 0, 0, 0}, TKRLPNGTime{2000, 1, 0, 0, 0, 0},
          TKRLPNGTime{2000, 1, 32, 0, 0, 0}, TKRLPNGTime{2000, 1, 1, 24, 0, 0},
          TKRLPNGTime{2000, 1, 1, 0, 60, 0}, TKRLPNGTime{2000, 1, 1, 0, 0, 61}})
        EXPECT_EQ(time(false, &bad), Bytes{});
    // A bad clock writes nothing either.
    SetUTCTimeOverride([](TKRLPNGTime& t) { t = {2000, 1, 1, 24, 0, 0}; });
    EXPECT_EQ(time(true, &valid), Bytes{});
}

TEST_F(PngWriter, TextChunksNeedTextAndAShortKeyword) {
    TKRLPNGWriteStream writer;
    TMemoryStream stream;
    writer.BeginWrite(stream);
    writer.WriteText(std::string(79, 'k'), "x");
    writer.WriteText(std::string(80, 'k'), "x");
    writer.WriteText("Comment", "");
    writer.WriteText("Title", std::string("a\0b\xE3\x81\x82", 6));
    writer.FlushPending();
    const Bytes png = StreamBytes(stream);
    const std::vector<Chunk> chunks = Chunks(png, 0);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].data.size(), 81u);
    EXPECT_EQ(chunks[1].data, Text(std::string("Title\0a\0b\xE3\x81\x82", 12)));
    EXPECT_TRUE(chunks[1].crcOk);
}

TEST_F(PngWriter, GammaChromaticitiesAndGifBytesNeedValues) {
    auto bitmap = Make(pf24bit, 1, 1, 1);
    const auto chunks = [&](double gamma, const TKRLPNGChromaticities* c,
                            const TKRLPNGGifExtension* g) {
        TKRLPNGWriteStream writer;
        writer.Gamma = gamma;
        writer.Chromaticities = c;
        writer.GifExtension = g;
        return WrittenChunks(writer, *bitmap);
    };
    EXPECT_EQ(BE32(Find(chunks(0.45455, nullptr, nullptr), "gAMA").data()), 45455u);
    EXPECT_EQ(BE32(Find(chunks(2.2, nullptr, nullptr), "gAMA").data()), 220000u);
    for (const double none : {0.0, 0.000009, -1.0, 1e30, std::nan("")})
        EXPECT_FALSE(Has(chunks(none, nullptr, nullptr), "gAMA")) << none;
    const TKRLPNGChromaticities noWhiteY{1, 0, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(Has(chunks(0, &noWhiteY, nullptr), "cHRM"));
    const TKRLPNGGifExtension zero{};
    const TKRLPNGGifExtension delay{0, 0, 0, 1};
    EXPECT_FALSE(Has(chunks(0, nullptr, &zero), "gIFg"));
    EXPECT_EQ(Find(chunks(0, nullptr, &delay), "gIFg"), (Bytes{0, 0, 0, 1}));
}

TEST_F(PngWriter, PhysicalSizeInInchesBecomesMetres) {
    auto bitmap = Make(pf24bit, 1, 1, 1);
    const auto phys = [&](int32_t unit, int32_t x, int32_t y) {
        TKRLPNGWriteStream writer;
        writer.PhysUnit = unit;
        writer.PixelsPerUnitX = x;
        writer.PixelsPerUnitY = y;
        const Bytes b = Find(WrittenChunks(writer, *bitmap), "pHYs");
        return b.empty() ? std::vector<uint32_t>{}
                         : std::vector<uint32_t>{BE32(&b[0]), BE32(&b[4]), b[8]};
    };
    EXPECT_EQ(phys(2, 72, 96), (std::vector<uint32_t>{2834, 3779, 1}));
    EXPECT_EQ(phys(1, 72, 96), (std::vector<uint32_t>{72, 96, 1}));
    EXPECT_EQ(phys(0, 3, 2), (std::vector<uint32_t>{3, 2, 0}));
    EXPECT_EQ(phys(1, 0, 96), std::vector<uint32_t>{});
    EXPECT_EQ(phys(1, 72, -1), std::vector<uint32_t>{});
}

// ---------------------------------------------------------------- IDAT sizes

TEST_F(PngWriter, IDATSizeIsRefusedOutsideItsRange) {
    TKRLPNGWriteStream writer;
    EXPECT_EQ(writer.IDATSize(), 32768);
    for (const int32_t bad : {255, 100001, 0, -1}) {
        try {
            writer.SetIDATSize(bad);
            ADD_FAILURE() << bad;
        } catch (const EKRLPNG& e) {
            EXPECT_STREQ(e.what(), "Write PNG Param: Err IDAT Size(min:256  max:100000)");
        }
    }
    EXPECT_EQ(writer.IDATSize(), 32768);
    writer.SetIDATSize(256);
    EXPECT_EQ(writer.IDATSize(), 256);
    writer.SetIDATSize(100000);
    EXPECT_EQ(writer.IDATSize(), 100000);
}

// Noise compresses to itself plus a fixed overhead, so some width gives each total.
std::vector<size_t> IDATSizesForTotal(size_t total) {
    for (int width = 1; width < 2000; ++width) {
        std::mt19937 random(9);
        auto bitmap = Make(pf8bit, width, 1, 5);
        for (int x = 0; x < width; ++x)
            bitmap->ScanLine(0)[x] = static_cast<uint8_t>(random());
        TKRLPNGWriteStream writer;
        writer.SetIDATSize(256);
        const std::vector<size_t> sizes = IDATSizes(WrittenChunks(writer, *bitmap));
        size_t sum = 0;
        for (const size_t s : sizes)
            sum += s;
        if (sum == total) return sizes;
    }
    return {};
}

TEST_F(PngWriter, EveryIDATButTheLastIsFullAndNoneIsEmpty) {
    EXPECT_EQ(IDATSizesForTotal(600), (std::vector<size_t>{256, 256, 88}));
    EXPECT_EQ(IDATSizesForTotal(512), (std::vector<size_t>{256, 256}));
    EXPECT_EQ(IDATSizesForTotal(256), (std::vector<size_t>{256}));
}

// ---------------------------------------------------------------- rows

TEST_F(PngWriter, HighColourChannelsWidenToEightBits) {
    auto fifteen = Words(pf15bit, {0x7FFF, 0x7C00, 0x03E0, 0x001F, 0x8000, 0x4210});
    auto sixteen = Words(pf16bit, {0xFFFF, 0x07E0, 0xF800, 0x001F, 0x0020});
    TKRLPNGWriteStream writer;
    Decoded d = Decode(Write(writer, *fifteen));
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.rows[0],
              (Bytes{255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 132, 132, 132}));
    d = Decode(Write(writer, *sixteen));
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.rows[0], (Bytes{255, 255, 255, 0, 255, 0, 255, 0, 0, 0, 0, 255, 0, 4, 0}));
    writer.GrayScale = true;
    d = Decode(Write(writer, *sixteen));
    EXPECT_EQ(d.rows[0], (Bytes{255, 149, 76, 28, 2}));
}

TEST_F(PngWriter, GreyOfColoursAndAlphaSamples) {
    auto bitmap = source_bitmaps::Noise24(3, 1, 1);
    source_bitmaps::SetRGB(*bitmap, 0, 0, 255, 0, 0);
    source_bitmaps::SetRGB(*bitmap, 1, 0, 255, 255, 255);
    source_bitmaps::SetRGB(*bitmap, 2, 0, 0x10, 0x20, 0x30);
    TBitmap alpha;
    alpha.SetPixelFormat(pf8bit);
    alpha.SetSize(3, 1);
    alpha.ScanLine(0)[0] = 0;
    alpha.ScanLine(0)[1] = 255;
    alpha.ScanLine(0)[2] = 100;
    TKRLPNGWriteStream writer;
    writer.GrayScale = true;
    Decoded d = Decode(Write(writer, *bitmap));
    EXPECT_EQ(d.rows[0], (Bytes{76, 255, (0x10 * 77 + 0x20 * 150 + 0x30 * 29) >> 8}));
    writer.AlphaBitmap = &alpha;
    d = Decode(Write(writer, *bitmap));
    EXPECT_EQ(d.rows[0], (Bytes{76, 255, 255, 0, 29, 155}));
    writer.GrayScale = false;
    d = Decode(Write(writer, *bitmap));
    EXPECT_EQ(d.rows[0], (Bytes{255, 0, 0, 255, 255, 255, 255, 0, 0x10, 0x20, 0x30, 155}));
}

TEST_F(PngWriter, GreyOutputOfPaletteSources) {
    // White first, black second: the bits are inverted so that white stays 1.
    auto mono = PaletteBitmap(pf1bit, {White, Black}, 10, 1);
    mono->ScanLine(0)[0] = 0x0F;
    mono->ScanLine(0)[1] = 0x40;
    for (const bool interlaced : {false, true}) {
        TKRLPNGWriteStream writer;
        writer.GrayScale = true;
        writer.Interlaced = interlaced ? 1 : 0;
        const Decoded d = Decode(Write(writer, *mono));
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.rows[0], (Bytes{1, 1, 1, 1, 0, 0, 0, 0, 1, 0})) << interlaced;
    }
    // Black first keeps the bits.
    auto kept = PaletteBitmap(pf1bit, {Black, White}, 10, 1);
    kept->ScanLine(0)[0] = 0x0F;
    kept->ScanLine(0)[1] = 0x00;
    TKRLPNGWriteStream writer;
    writer.GrayScale = true;
    EXPECT_EQ(Decode(Write(writer, *kept)).rows[0], (Bytes{0, 0, 0, 0, 1, 1, 1, 1, 0, 0}));

    // Sixteen colours: each entry becomes the top four bits of its grey level.
    auto sixteen = PaletteBitmap(pf4bit, {Black, White, {0, 0, 255, 0}, {200, 100, 50, 0}}, 4, 1);
    sixteen->ScanLine(0)[0] = 0x01;
    sixteen->ScanLine(0)[1] = 0x23;
    const uint8_t mixed = (50 * 77 + 100 * 150 + 200 * 29) >> 12;
    EXPECT_EQ(Decode(Write(writer, *sixteen)).rows[0], (Bytes{0, 15, 4, mixed}));

    // No palette at all: the indexes are the grey levels.
    auto bare = PaletteBitmap(pf8bit, {}, 3, 1);
    bare->ScanLine(0)[0] = 0;
    bare->ScanLine(0)[1] = 77;
    bare->ScanLine(0)[2] = 255;
    EXPECT_EQ(Decode(Write(writer, *bare)).rows[0], (Bytes{0, 77, 255}));
}

TEST_F(PngWriter, APaletteSourceWithoutEntriesStillGetsAPalette) {
    auto bare = PaletteBitmap(pf4bit, {}, 3, 1);
    bare->ScanLine(0)[0] = 0x0F;
    bare->ScanLine(0)[1] = 0x30;
    TKRLPNGWriteStream writer;
    const Bytes png = Write(writer, *bare);
    const Decoded d = Decode(png);
    ASSERT_TRUE(d.ok) << d.error;
    ASSERT_EQ(d.palette.size(), 16u);
    EXPECT_EQ(d.palette[15].red, 255);
    EXPECT_EQ(d.palette[3].green, 51);
    EXPECT_EQ(d.rows[0], (Bytes{0, 15, 3}));
}

// The rows the hook sees: (index, bytes without the filter byte).
std::vector<std::pair<int32_t, int32_t>> HookedRows(TBitmap& bitmap, bool interlaced) {
    std::vector<std::pair<int32_t, int32_t>> rows;
    TKRLPNGWriteStream writer;
    writer.Interlaced = interlaced ? 1 : 0;
    writer.RowKey = "k";
    writer.OnWriteRow = [&](TObject* sender, uint8_t*, int32_t bytes, int32_t index,
                            const std::string& key) {
        EXPECT_EQ(sender, &writer);
        EXPECT_EQ(key, "k");
        rows.emplace_back(index, bytes);
    };
    Write(writer, bitmap);
    return rows;
}

TEST_F(PngWriter, Adam7PassesSkipWhatTheSizeLeavesEmpty) {
    using Rows = std::vector<std::pair<int32_t, int32_t>>;
    auto eight = Make(pf24bit, 8, 8, 1);
    EXPECT_EQ(HookedRows(*eight, true), (Rows{{0, 3},
                                              {1, 3},
                                              {2, 6},
                                              {3, 6},
                                              {4, 6},
                                              {5, 12},
                                              {6, 12},
                                              {7, 12},
                                              {8, 12},
                                              {9, 12},
                                              {10, 12},
                                              {11, 24},
                                              {12, 24},
                                              {13, 24},
                                              {14, 24}}));
    EXPECT_EQ(TotalRows(1, 8), 15);
    auto one = Make(pf24bit, 1, 1, 1);
    EXPECT_EQ(HookedRows(*one, true), (Rows{{0, 3}}));
    // 4 x 4: passes 2 and 3 have no pixels.
    auto four = Make(pf8bit, 4, 4, 1);
    EXPECT_EQ(HookedRows(*four, true),
              (Rows{{0, 1}, {1, 1}, {2, 2}, {3, 2}, {4, 2}, {5, 4}, {6, 4}}));
    EXPECT_EQ(HookedRows(*four, false), (Rows{{0, 4}, {1, 4}, {2, 4}, {3, 4}}));
}

TEST_F(PngWriter, TheRowHookChangesWhatIsWritten) {
    auto bitmap = Make(pf8bit, 9, 7, 4);
    for (const bool interlaced : {false, true}) {
        TKRLPNGWriteStream writer;
        writer.Interlaced = interlaced ? 1 : 0;
        writer.FilterMode = 0;
        writer.RowKey = "secret";
        writer.OnWriteRow = [](TObject*, uint8_t* row, int32_t bytes, int32_t, const std::string&) {
            for (int32_t i = 0; i < bytes; ++i)
                row[i] = static_cast<uint8_t>(row[i] ^ 0x5A);
        };
        const Decoded d = Decode(Write(writer, *bitmap));
        ASSERT_TRUE(d.ok) << d.error;
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 9; ++x)
                ASSERT_EQ(d.Sample(x, y, 0), bitmap->ScanLine(y)[x] ^ 0x5Au) << x << "," << y;

        // No key, no hook.
        writer.RowKey.clear();
        writer.OnWriteRow = [](TObject*, uint8_t*, int32_t, int32_t, const std::string&) {
            ADD_FAILURE();
        };
        Write(writer, *bitmap);
    }
}

// ---------------------------------------------------------------- progress and failures

std::vector<int> Reports(int height) {
    auto bitmap = Make(pf24bit, 2, height, 1);
    std::vector<int> percents;
    bitmap->OnProgress = [&](TObject*, TProgressStage, uint8_t percent, bool, const TRect&,
                             const std::string&) { percents.push_back(percent); };
    TKRLPNGWriteStream writer;
    Write(writer, *bitmap);
    return percents;
}

TEST_F(PngWriter, ProgressStepsThroughHeaderAndRows) {
    // The header takes 29 of 99 per cent, the rows the other 70.
    EXPECT_EQ(Reports(3), (std::vector<int>{0, 29, 52, 75, 99, 100}));
    EXPECT_EQ(Reports(12), (std::vector<int>{0, 29, 40, 64, 87, 100}));
}

// A destination that takes whole writes up to Limit bytes, then refuses.
class FailingStream : public TStream {
public:
    explicit FailingStream(size_t limit) : limit_(limit) {}
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void* buffer, int64_t count) override {
        if (bytes.size() + static_cast<size_t>(count) > limit_) return 0;
        const auto* p = static_cast<const uint8_t*>(buffer);
        bytes.insert(bytes.end(), p, p + count);
        return count;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return static_cast<int64_t>(bytes.size()); }
    Bytes bytes;

private:
    size_t limit_;
};

TEST_F(PngWriter, AFailingDestinationRaisesAndKeepsWhatWasPassedOn) {
    auto bitmap = source_bitmaps::Noise24(300, 300, 1);
    TKRLPNGWriteStream whole;
    const Bytes complete = Write(whole, *bitmap);
    FailingStream out(100000);
    TKRLPNGWriteStream writer;
    EXPECT_THROW(writer.WriteToStream(*bitmap, out), EWriteError);
    // What went out is a prefix of the datastream, in whole buffers.
    ASSERT_GT(out.bytes.size(), 0u);
    EXPECT_LT(out.bytes.size(), complete.size());
    EXPECT_TRUE(std::equal(out.bytes.begin(), out.bytes.end(), complete.begin()));
}

TEST_F(PngWriter, ABitmapWithoutPixelsWritesAHeaderOnlyDatastream) {
    TBitmap empty;
    empty.SetPixelFormat(pf24bit);
    empty.SetSize(0, 5);
    TKRLPNGWriteStream writer;
    writer.Interlaced = 1;
    const Bytes png = Write(writer, empty);
    const std::vector<Chunk> chunks = Chunks(png);
    EXPECT_EQ(Find(chunks, "IHDR"), (Bytes{0, 0, 0, 0, 0, 0, 0, 5, 8, 2, 0, 0, 1}));
    EXPECT_EQ(Types(chunks).back(), "IEND");
    // No reader takes an image without pixels.
    TKRLPNG picture;
    TMemoryStream stream;
    stream.WriteBuffer(png.data(), static_cast<int64_t>(png.size()));
    stream.SetPosition(0);
    EXPECT_THROW(picture.LoadFromStream(stream), EKRLPNG);
}

} // namespace
