// The PNG reader on hand-made datastreams: header rules, ancillary chunks, transparency, rows,
// and hostile input that must fail cleanly.
#include "PngBuilder.h"
#include "common/KRLPNGStream.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>

using namespace png_builder;

namespace {

struct Decoded {
    TKRLPNGReadStream reader;
    TBitmap image;
    TBitmap alpha;
    TMemoryStream stream;
    std::string error;
};

// Reads Png into a fresh bitmap and alpha bitmap; Setup may change the reader's options first.
std::unique_ptr<Decoded> Decode(const Png& png,
                                const std::function<void(TKRLPNGReadStream&)>& setup = {}) {
    auto d = std::make_unique<Decoded>();
    d->reader.FAlphaBitmap = &d->alpha;
    if (setup) setup(d->reader);
    png.WriteTo(d->stream);
    try {
        d->reader.ReadFromStream(&d->image, d->stream, 0);
    } catch (const EKRLPNG& e) {
        d->error = e.Message();
    }
    return d;
}

std::string ErrorOf(const Png& png) {
    return Decode(png)->error;
}

Png Gray8(uint32_t w = 2, uint32_t h = 2) {
    Png png;
    png.IHDR(w, h, 8, 0);
    return png;
}

std::vector<Bytes> GrayRows(uint32_t w, uint32_t h) {
    std::vector<Bytes> rows(h, Bytes(w));
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            rows[y][x] = static_cast<uint8_t>(10 * y + x);
    return rows;
}

Png Palette3(const Bytes& tRNS) {
    Png png;
    png.IHDR(3, 1, 8, 3).Chunk("PLTE", {255, 0, 0, 0, 255, 0, 0, 0, 255});
    if (!tRNS.empty()) png.Chunk("tRNS", tRNS);
    png.Rows({{0, 1, 2}}).IEND();
    return png;
}

// ---------------------------------------------------------------- header

TEST(PngReaderHeader, SignatureIsCheckedBeforeAnythingIsTouched) {
    Png png(false);
    png.IHDR(2, 2, 8, 0).Rows(GrayRows(2, 2)).IEND();
    auto d = std::make_unique<Decoded>();
    d->image.SetSize(5, 5);
    png.WriteTo(d->stream);
    EXPECT_THROW(d->reader.ReadFromStream(&d->image, d->stream, 0), EKRLPNG);
    EXPECT_EQ(d->image.Width(), 5);

    // Without the check the first bytes are the first chunk.
    auto plain = Decode(png, [](TKRLPNGReadStream& r) { r.FVerifySignature = false; });
    EXPECT_EQ(plain->error, "");
    EXPECT_EQ(plain->image.Width(), 2);
}

TEST(PngReaderHeader, OnlyTheLowThreeBitsOfTheColourTypeCount) {
    auto d = Decode(Png().IHDR(1, 1, 8, 10).Rows({{1, 2, 3}}).IEND());
    EXPECT_EQ(d->error, "");
    EXPECT_EQ(d->reader.FImageType, 2);
    EXPECT_EQ(d->image.PixelFormat(), pf24bit);
    for (const uint8_t type : {1, 5, 7, 9, 13, 15})
        EXPECT_EQ(ErrorOf(Png().IHDR(1, 1, 8, type)), "Read Header(PNG): Error ColorType")
            << int{type};
}

TEST(PngReaderHeader, MethodsAndDepthsAreChecked) {
    EXPECT_EQ(ErrorOf(Png().IHDR(1, 1, 8, 0, 0, 1, 1).Rows({{7}}).IEND()), "");
    EXPECT_EQ(ErrorOf(Png().IHDR(1, 1, 8, 0, 0, 2)), "Read Header(PNG): not support Compression");
    EXPECT_EQ(ErrorOf(Png().IHDR(1, 1, 8, 0, 0, 0, 2)), "Read Header(PNG): not supprt Filter");
    EXPECT_EQ(ErrorOf(Png().IHDR(1, 1, 8, 0, 2)), "Read Header(PNG): not interlace type");
    EXPECT_EQ(ErrorOf(Png().IHDR(1, 1, 8, 0).IHDR(1, 1, 8, 0)),
              "Read Header(PNG): appear two IHDR");
    // Depths are checked at the image data.
    EXPECT_EQ(ErrorOf(Png().IHDR(1, 1, 4, 4).Rows({{0}})),
              "Read Header(PNG): not Use AlphaChannel");
    EXPECT_EQ(ErrorOf(Png().IHDR(1, 1, 3, 0).Rows({{0}})), "Read Header(PNG): Error Bitdepth");
    EXPECT_EQ(ErrorOf(Png().IHDR(1, 1, 4, 2).Rows({{0}})), "Read Header(PNG): Error BitDepth");
    EXPECT_EQ(ErrorOf(Png().IHDR(1, 1, 16, 3).Rows({{0}})), "Read Header(PNG): Error BitDepth");
}

TEST(PngReaderHeader, ImpossibleSizesFailBeforeAnyBitmapIsMade) {
    const std::string sizeError = "Read Header(PNG): Error Image Size";
    for (const auto& [w, h, depth, type] : std::vector<std::array<uint32_t, 4>>{
             {0, 1, 8, 0},
             {1, 0, 8, 0},
             {0x80000000u, 1, 8, 0},
             {1, 0xFFFFFFFFu, 8, 0},
             {0x10000000u, 1, 16, 6}, // rows past 32 bits
             {50000, 50000, 8, 2},    // a picture past 32 bits
         }) {
        auto d = std::make_unique<Decoded>();
        d->image.SetSize(3, 3);
        Png()
            .IHDR(w, h, static_cast<uint8_t>(depth), static_cast<uint8_t>(type))
            .Rows({{0}})
            .WriteTo(d->stream);
        try {
            d->reader.ReadFromStream(&d->image, d->stream, 0);
            ADD_FAILURE() << w << " x " << h;
        } catch (const EKRLPNG& e) {
            EXPECT_EQ(e.Message(), sizeError);
        }
        EXPECT_EQ(d->image.Width(), 3);
    }
    EXPECT_EQ(ErrorOf(Png().Rows({{0}}).IHDR(1, 1, 8, 0)), sizeError);
}

// ---------------------------------------------------------------- hostile data

TEST(PngReaderHostile, DataEndingBeforeTheImageIsAReadFailure) {
    const std::string readError = "Read Image (PNG): Read Error";
    EXPECT_EQ(ErrorOf(Gray8()), readError);
    EXPECT_EQ(ErrorOf(Gray8().IEND()), readError);
    EXPECT_EQ(ErrorOf(Png()), readError);
    // Rows cut short: by the end of the data, by another chunk, by the end of the zlib stream.
    const Bytes z = Deflate(Unfiltered(GrayRows(2, 2)));
    EXPECT_EQ(ErrorOf(Gray8().Chunk("IDAT", Bytes(z.begin(), z.end() - 6))), readError);
    EXPECT_EQ(ErrorOf(Gray8()
                          .Chunk("IDAT", Bytes(z.begin(), z.begin() + 4))
                          .Text("Comment", "x")
                          .Chunk("IDAT", Bytes(z.begin() + 4, z.end()))
                          .IEND()),
              readError);
    EXPECT_EQ(ErrorOf(Gray8(2, 3).Rows(GrayRows(2, 2)).IEND()), readError);
}

TEST(PngReaderHostile, ChunksTooShortForTheirFieldsFail) {
    const std::string readError = "Read Image (PNG): Read Error";
    Png shortHeader;
    shortHeader.Chunk("IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 0, 0}).Rows({{5}}).IEND();
    EXPECT_EQ(ErrorOf(shortHeader), readError);
    for (const char* type : {"gAMA", "pHYs", "sBIT", "tpNG", "bKGD", "tRNS"})
        EXPECT_EQ(ErrorOf(Png().IHDR(1, 1, 8, 2).Chunk(type, {1}).Rows({{1, 2, 3}}).IEND()),
                  readError)
            << type;
    // A length no chunk may have.
    EXPECT_EQ(ErrorOf(Gray8().ChunkWithLength(0x80000000u, "tEXt", {}).Rows(GrayRows(2, 2))),
              readError);
    // A text longer than the data is not made room for.
    EXPECT_EQ(ErrorOf(Gray8().ChunkWithLength(0x7FFFFFF0u, "tEXt", {'C'})), readError);
}

TEST(PngReaderHostile, BadImageDataFailsAndNeverHangs) {
    const std::string readError = "Read Image (PNG): Read Error";
    // Filter type 5.
    EXPECT_EQ(ErrorOf(Gray8(1, 1).IDAT({5, 9}).IEND()), readError);
    // Not zlib at all.
    EXPECT_EQ(ErrorOf(Gray8(1, 1).Chunk("IDAT", {1, 2, 3, 4, 5, 6}).IEND()), readError);
    // A zlib stream asking for a preset dictionary makes no progress.
    Bytes z;
    z_stream s{};
    deflateInit(&s, 9);
    const Bytes dict{1, 2, 3};
    deflateSetDictionary(&s, dict.data(), 3);
    Bytes raw{0, 1, 2, 3};
    z.resize(64);
    s.next_in = raw.data();
    s.avail_in = 4;
    s.next_out = z.data();
    s.avail_out = 64;
    deflate(&s, Z_FINISH);
    z.resize(64 - s.avail_out);
    deflateEnd(&s);
    EXPECT_EQ(ErrorOf(Png().IHDR(3, 1, 8, 0).Chunk("IDAT", z).IEND()), readError);
}

int64_t PeakMemoryBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return int64_t{usage.ru_maxrss} * 1024;
}

// A 69-byte file may claim 46340 x 46340 pixels: the picture (and its alpha) must not be made
// for rows that the few bytes left could never hold.
TEST(PngReaderHostile, HeadersClaimingMoreThanTheDataHoldsFailBeforeAPictureIsMade) {
    constexpr int64_t Allowance = int64_t{64} << 20;
    const std::filesystem::path folder = std::filesystem::path(MV_TESTDATA_DIR) / "hostile";
    for (const char* name : {"png-gray-46340x46340.png", "png-palette-trns-46340x46340.png",
                             "png-rgb-20000x20000.png", "png-rgba16-interlaced-20000x20000.png"}) {
        auto d = std::make_unique<Decoded>();
        d->image.SetSize(3, 3);
        d->stream.LoadFromFile((folder / name).string());
        const int64_t before = PeakMemoryBytes();
        try {
            d->reader.ReadFromStream(&d->image, d->stream, 0);
            ADD_FAILURE() << name;
        } catch (const EKRLPNG& e) {
            EXPECT_EQ(e.Message(), "Read Image (PNG): Read Error") << name;
        }
        EXPECT_EQ(d->image.Width(), 3) << name;
        EXPECT_LT(PeakMemoryBytes() - before, Allowance) << name;
    }
    // Data packed close to deflate's limit still loads.
    const std::vector<Bytes> zeros(4000, Bytes(4000, 0));
    const auto d = Decode(Gray8(4000, 4000).Rows(zeros).IEND());
    EXPECT_EQ(d->error, "");
    EXPECT_EQ(d->image.Height(), 4000);
}

// Rows are written over memory that was never cleared: the padding after each row's pixels,
// and the rows a failed or stopped read never reached, still read as a cleared picture.
TEST(PngReaderHostile, RowsNotReachedAndRowPaddingReadAsAClearedPicture) {
    constexpr int W = 5, H = 6, Reached = 3;
    TBitmap clearedImage, clearedAlpha;
    clearedImage.SetPixelFormat(pf24bit);
    clearedImage.SetSize(W, H);
    clearedAlpha.SetPixelFormat(pf8bit);
    clearedAlpha.SetSize(W, H);
    const auto rowBytes = [](const TBitmap& b, int y) {
        return Bytes(b.ScanLine(y), b.ScanLine(y) + b.RowBytes());
    };

    // Stored deflate data that stops inside row Reached: the rows before it are placed.
    const std::vector<Bytes> rgba(H, Bytes(4 * W, 0x11));
    Png png;
    png.IHDR(W, H, 8, 6);
    z_stream s{};
    deflateInit(&s, 0);
    const Bytes raw = Unfiltered(rgba);
    Bytes stored(raw.size() + 64);
    s.next_in = const_cast<uint8_t*>(raw.data());
    s.avail_in = static_cast<uInt>((4 * W + 1) * Reached + 2);
    s.next_out = stored.data();
    s.avail_out = static_cast<uInt>(stored.size());
    deflate(&s, Z_FULL_FLUSH);
    stored.resize(stored.size() - s.avail_out);
    deflateEnd(&s);
    const auto d = Decode(png.Chunk("IDAT", stored).IEND());
    EXPECT_EQ(d->error, "Read Image (PNG): Read Error");
    ASSERT_EQ(d->image.Height(), H);
    ASSERT_EQ(d->alpha.Height(), H);
    for (int y = 0; y < H; ++y) {
        Bytes image = rowBytes(d->image, y), alpha = rowBytes(d->alpha, y);
        if (y < Reached) {
            EXPECT_EQ(Bytes(image.begin() + 3 * W, image.end()), Bytes(image.size() - 3 * W, 0));
            EXPECT_EQ(Bytes(alpha.begin() + W, alpha.end()), Bytes(alpha.size() - W, 0));
        } else {
            EXPECT_EQ(image, rowBytes(clearedImage, y)) << y;
            EXPECT_EQ(alpha, rowBytes(clearedAlpha, y)) << y;
        }
    }
}

// ---------------------------------------------------------------- ancillary chunks

TEST(PngReaderChunks, CommentsCollectAndOtherTextIsDropped) {
    auto d = Decode(Png()
                        .Text("Comment", "A")
                        .IHDR(1, 1, 8, 0)
                        .Text("Title", "T")
                        .Text("Comment", "")
                        .Rows({{0}})
                        .Text("Comment", "B")
                        .IEND());
    EXPECT_EQ(d->reader.Comment, "A\r\n\r\nB\r\n");
}

TEST(PngReaderChunks, AncillaryValuesLandInTheirTargets) {
    TKRLPNGTime time;
    TKRLPNGChromaticities chrm{};
    TKRLPNGGifExtension gif{};
    Bytes chrmData;
    for (uint32_t v = 1; v <= 8; ++v)
        PutBE32(chrmData, v * 1000);
    Bytes phys;
    PutBE32(phys, 2834);
    PutBE32(phys, 3779);
    phys.push_back(1);
    auto d = Decode(Png()
                        .IHDR(1, 1, 8, 2)
                        .Chunk("gAMA", {0, 0, 0xB1, 0x8F})
                        .Chunk("cHRM", chrmData)
                        .Chunk("gIFg", {2, 1, 0, 50})
                        .Chunk("sBIT", {5, 6, 7})
                        .Chunk("pHYs", phys)
                        .Chunk("tIME", {0x07, 0xE8, 2, 29, 23, 59, 60})
                        .Rows({{1, 2, 3}})
                        .IEND(),
                    [&](TKRLPNGReadStream& r) {
                        r.FTimeTarget = &time;
                        r.FPrimariesTarget = &chrm;
                        r.FGIFTarget = &gif;
                    });
    ASSERT_EQ(d->error, "");
    EXPECT_DOUBLE_EQ(d->reader.FGamma, 0.45455);
    EXPECT_EQ(chrm[0], 1000u);
    EXPECT_EQ(chrm[7], 8000u);
    EXPECT_EQ(gif, (TKRLPNGGifExtension{2, 1, 0, 50}));
    EXPECT_EQ(d->reader.FSigBits, 0x070605u);
    EXPECT_EQ(d->reader.PixelsPerUnitX, 2834u);
    EXPECT_EQ(d->reader.PixelsPerUnitY, 3779u);
    EXPECT_EQ(d->reader.PhysUnit, 1);
    EXPECT_EQ(time, (TKRLPNGTime{2024, 2, 29, 23, 59, 60}));
    EXPECT_EQ(d->reader.BitDepth, 24);
}

TEST(PngReaderChunks, OrderRulesDecideWhatIsTaken) {
    Bytes phys;
    PutBE32(phys, 7);
    PutBE32(phys, 7);
    phys.push_back(1);
    auto d = Decode(Png()
                        .IHDR(1, 1, 8, 2)
                        .Rows({{1, 2, 3}})
                        .Chunk("bKGD", {0, 9, 0, 8, 0, 7})
                        .Chunk("tRNS", {0, 1, 0, 2, 0, 3})
                        .Chunk("pHYs", phys)
                        .Chunk("gAMA", {0, 0, 0, 1})
                        .IEND());
    EXPECT_EQ(d->reader.FBackground, RGB(9, 8, 7));
    EXPECT_EQ(d->reader.FTransparent, -1);
    EXPECT_EQ(d->reader.PixelsPerUnitX, 0u);
    EXPECT_EQ(d->reader.FGamma, 0);
    // An unknown critical chunk and a broken CRC are not noticed.
    Png odd = Png().IHDR(1, 1, 8, 0).Chunk("ABCD", {1, 2}).Rows({{4}}).IEND();
    Bytes bytes = odd.Data();
    bytes[8 + 25 - 1] ^= 0xFF; // the IHDR CRC
    auto e = Decode(Png(false).Raw(bytes));
    EXPECT_EQ(e->error, "");
    EXPECT_EQ(e->image.ScanLine(0)[0], 4);
}

TEST(PngReaderChunks, ThePrivateChunkAsksForTheKey) {
    std::string asked;
    auto d = Decode(Gray8(1, 1).tpNG(1).Rows({{0}}).IEND(), [&](TKRLPNGReadStream& r) {
        r.FGivenKey = "given";
        r.OnKeyRequest = [&](TObject*, std::string& key) {
            asked = key;
            key = "replaced";
        };
    });
    EXPECT_EQ(asked, "given");
    EXPECT_EQ(d->reader.FKey, "replaced");
    EXPECT_EQ(Decode(Gray8(1, 1).tpNG(0).Rows({{0}}).IEND())->reader.FKey, "");
}

// ---------------------------------------------------------------- transparency

TEST(PngReaderTransparency, PaletteTransparencyBecomesAColourOrAnAlphaBitmap) {
    auto single = Decode(Palette3({255, 0, 255}));
    EXPECT_TRUE(single->image.Transparent());
    EXPECT_EQ(single->image.TransparentColor(), 0x01000001);
    EXPECT_FALSE(single->reader.FHasAlpha);
    EXPECT_TRUE(single->alpha.Empty());

    auto partial = Decode(Palette3({255, 128}));
    EXPECT_TRUE(partial->reader.FHasAlpha);
    EXPECT_FALSE(partial->image.Transparent());
    ASSERT_EQ(partial->alpha.PixelFormat(), pf8bit);
    EXPECT_EQ(partial->alpha.ScanLine(0)[0], 0);
    EXPECT_EQ(partial->alpha.ScanLine(0)[1], 127);
    EXPECT_EQ(partial->alpha.ScanLine(0)[2], 0);

    // All opaque, or tRNS before PLTE (nothing read): an alpha bitmap that is all opaque.
    Png early;
    early.IHDR(3, 1, 8, 3).Chunk("tRNS", {0}).Chunk("PLTE", {1, 1, 1, 2, 2, 2, 3, 3, 3});
    early.Rows({{0, 1, 2}}).IEND();
    for (const Png& png : {Palette3({255, 255, 255}), early}) {
        auto d = Decode(png);
        EXPECT_TRUE(d->reader.FHasAlpha);
        ASSERT_EQ(d->alpha.Width(), 3);
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(d->alpha.ScanLine(0)[x], 0);
    }
}

TEST(PngReaderTransparency, GreyAndRGBTransparencyGiveTheColourOfTheBitmap) {
    auto rgb16 = Decode(Png()
                            .IHDR(1, 1, 16, 2)
                            .Chunk("tRNS", {0x12, 0x34, 0, 0, 0xAB, 0xCD})
                            .Rows({{0x12, 0x34, 0, 0, 0xAB, 0xCD}})
                            .IEND());
    EXPECT_EQ(rgb16->image.TransparentColor(), RGB(0x12, 0, 0xAB));
    auto gray8 = Decode(Gray8(1, 1).Chunk("tRNS", {0, 200}).Rows({{200}}).IEND());
    EXPECT_EQ(gray8->image.TransparentColor(), RGB(200, 200, 200));
    EXPECT_EQ(gray8->image.PixelColor(0, 0), RGB(200, 200, 200));
    // Below 8 bits the sample is matched to its level in the grey palette.
    auto gray4 = Decode(Png().IHDR(2, 1, 4, 0).Chunk("tRNS", {0, 15}).Rows({{0xF0}}).IEND());
    EXPECT_EQ(gray4->image.TransparentColor(), RGB(255, 255, 255));
    EXPECT_EQ(gray4->image.PixelColor(0, 0), RGB(255, 255, 255));
    // A sample no pixel can have sets nothing.
    auto wild = Decode(Png().IHDR(2, 1, 4, 0).Chunk("tRNS", {1, 0}).Rows({{0xF0}}).IEND());
    EXPECT_EQ(wild->reader.FTransparent, -1);
}

TEST(PngReaderTransparency, NoTransparencyWhenTheDataEndsEarly) {
    auto d = Decode(Gray8(1, 1).Chunk("tRNS", {0, 7}).Rows({{7}}));
    EXPECT_EQ(d->error, "");
    EXPECT_EQ(d->image.Width(), 1);
    EXPECT_FALSE(d->image.Transparent());
}

// ---------------------------------------------------------------- rows

TEST(PngReaderRows, TargetFormatsAndConversions) {
    auto gray2 = Decode(Png().IHDR(4, 1, 2, 0).Rows({{0b00011011}}).IEND());
    ASSERT_EQ(gray2->image.PixelFormat(), pf4bit);
    EXPECT_EQ(gray2->image.ScanLine(0)[0], 0x01);
    EXPECT_EQ(gray2->image.ScanLine(0)[1], 0x23);
    EXPECT_EQ(gray2->image.PixelColor(2, 0), RGB(170, 170, 170));

    auto gray16 = Decode(Png().IHDR(1, 1, 16, 0).Rows({{0xAB, 0xCD}}).IEND());
    ASSERT_EQ(gray16->image.PixelFormat(), pf8bit);
    EXPECT_EQ(gray16->image.ScanLine(0)[0], 0xAB);
    EXPECT_EQ(gray16->image.ColorTable().size(), 256u);
    EXPECT_EQ(gray16->reader.BitDepth, 16);

    auto rgba = Decode(Png().IHDR(1, 1, 8, 6).Rows({{10, 20, 30, 64}}).IEND());
    const uint8_t* p = rgba->image.ScanLine(0);
    EXPECT_EQ((std::array<int, 3>{p[0], p[1], p[2]}), (std::array<int, 3>{30, 20, 10}));
    EXPECT_EQ(rgba->alpha.ScanLine(0)[0], 191);
    EXPECT_EQ(rgba->alpha.ColorTable()[200], (RGBQUAD{200, 200, 200, 0}));
}

TEST(PngReaderRows, HighColourPathTakesEightBitSamplesOnly) {
    const auto highColour = [](TKRLPNGReadStream& r) { r.FSBIT16Bit = true; };
    auto d = Decode(
        Png().IHDR(2, 1, 8, 2).Chunk("sBIT", {5, 5, 5}).Rows({{255, 255, 255, 8, 4, 8}}).IEND(),
        highColour);
    ASSERT_EQ(d->image.PixelFormat(), pf16bit);
    EXPECT_EQ(d->reader.BitDepth, 15);
    EXPECT_EQ(d->image.ScanLine(0)[0] | (d->image.ScanLine(0)[1] << 8), 0xFFFF);
    EXPECT_EQ(d->image.ScanLine(0)[2] | (d->image.ScanLine(0)[3] << 8), 0x0821);
    // Sixteen-bit samples keep the 24-bit path.
    auto wide =
        Decode(Png().IHDR(1, 1, 16, 2).Chunk("sBIT", {5, 6, 5}).Rows({{1, 0, 2, 0, 3, 0}}).IEND(),
               highColour);
    ASSERT_EQ(wide->image.PixelFormat(), pf24bit);
    EXPECT_EQ(wide->image.PixelColor(0, 0), RGB(1, 2, 3));
}

TEST(PngReaderRows, ImageDataSpansChunksAndLaterSequencesAreSkipped) {
    const Bytes raw = Unfiltered(GrayRows(3, 3));
    const Bytes z = Deflate(raw);
    Png png = Gray8(3, 3);
    png.Chunk("IDAT", {});
    for (const uint8_t b : z)
        png.Chunk("IDAT", {b}).Chunk("IDAT", {});
    png.Text("Comment", "between").IDAT(Unfiltered({{9, 9, 9}, {9, 9, 9}, {9, 9, 9}})).IEND();
    auto d = Decode(png);
    ASSERT_EQ(d->error, "");
    EXPECT_EQ(d->image.ScanLine(2)[2], 22);
    EXPECT_EQ(d->reader.Comment, "between\r\n");
}

TEST(PngReaderRows, AfterTheImageTheStreamStandsPastTheEndChunk) {
    Png png = Gray8(1, 1).Rows({{1}}).IEND();
    const size_t end = png.Data().size();
    png.Raw({1, 2, 3, 4, 5});
    auto d = std::make_unique<Decoded>();
    png.WriteTo(d->stream);
    d->reader.ReadFromStream(&d->image, d->stream, 0);
    EXPECT_EQ(d->stream.Position(), static_cast<int64_t>(end));
}

// Adam7 rows of an 8-bit grey picture whose pixel (x, y) is 16 y + x.
Bytes Adam7Gray(int w, int h) {
    static constexpr int X0[] = {0, 4, 0, 2, 0, 1, 0}, DX[] = {8, 8, 4, 4, 2, 2, 1};
    static constexpr int Y0[] = {0, 0, 4, 0, 2, 0, 1}, DY[] = {8, 8, 8, 4, 4, 2, 2};
    Bytes raw;
    for (int p = 0; p < 7; ++p) {
        if (X0[p] >= w) continue;
        for (int y = Y0[p]; y < h; y += DY[p]) {
            raw.push_back(0);
            for (int x = X0[p]; x < w; x += DX[p])
                raw.push_back(static_cast<uint8_t>(16 * y + x));
        }
    }
    return raw;
}

TEST(PngReaderRows, TheRowHookSeesEveryRowOfEveryPass) {
    for (const auto& [size, widths] : std::vector<std::pair<int, std::vector<int>>>{
             {1, {1}},
             {4, {1, 1, 2, 2, 2, 4, 4}},
         }) {
        std::vector<int> seen, indexes;
        auto d = Decode(Png().IHDR(size, size, 8, 0, 1).tpNG(1).IDAT(Adam7Gray(size, size)).IEND(),
                        [&](TKRLPNGReadStream& r) {
                            r.FGivenKey = "k";
                            r.OnReadRow = [&](TObject*, uint8_t*, int32_t bytes, int32_t index,
                                              const std::string& key) {
                                EXPECT_EQ(key, "k");
                                seen.push_back(bytes);
                                indexes.push_back(index);
                            };
                        });
        ASSERT_EQ(d->error, "");
        EXPECT_EQ(seen, widths);
        for (size_t i = 0; i < indexes.size(); ++i)
            EXPECT_EQ(indexes[i], static_cast<int>(i));
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                EXPECT_EQ(d->image.ScanLine(y)[x], 16 * y + x);
    }
}

TEST(PngReaderRows, AHookedRowChangesThePictureButNotTheNextRow) {
    // Row 1 is filtered Up with no change: it decodes to row 0 as it was stored.
    auto d = Decode(Gray8(2, 2).tpNG(1).IDAT({0, 5, 6, 2, 0, 0}).IEND(), [](TKRLPNGReadStream& r) {
        r.FGivenKey = "k";
        r.OnReadRow = [](TObject*, uint8_t* row, int32_t, int32_t index, const std::string&) {
            if (index == 0) row[0] = 99;
        };
    });
    EXPECT_EQ(d->image.ScanLine(0)[0], 99);
    EXPECT_EQ(d->image.ScanLine(1)[0], 5);
    EXPECT_EQ(d->image.ScanLine(1)[1], 6);
}

TEST(PngReaderRows, ProgressGoesUpInStepsToTheEnd) {
    std::vector<std::pair<TProgressStage, int>> reports;
    TKRLPNGReadStream reader;
    TBitmap image;
    image.OnProgress = [&](TObject* sender, TProgressStage stage, uint8_t percent, bool,
                           const TRect&, const std::string&) {
        EXPECT_EQ(sender, &image);
        reports.emplace_back(stage, percent);
    };
    TMemoryStream stream;
    Gray8(2, 3).Rows(GrayRows(2, 3)).IEND().WriteTo(stream);
    reader.ReadFromStream(&image, stream, 0);
    ASSERT_GE(reports.size(), 5u);
    EXPECT_EQ(reports.front(), std::make_pair(psStarting, 0));
    EXPECT_EQ(reports.back(), std::make_pair(psEnding, 100));
    for (size_t i = 1; i + 1 < reports.size(); ++i) {
        EXPECT_EQ(reports[i].first, psRunning);
        EXPECT_GT(reports[i].second, reports[i - 1].second);
    }
}

// A reader whose progress handler stops it part way through the rows.
class StoppingReader : public TKRLPNGReadStream {
public:
    bool Progress(int32_t percent) override { return percent > 40 && percent < 100; }
};

TEST(PngReaderRows, AStopFromProgressEndsQuietly) {
    StoppingReader reader;
    TBitmap image;
    TMemoryStream stream;
    Gray8(2, 8).Chunk("tRNS", {0, 1}).Rows(GrayRows(2, 8)).IEND().WriteTo(stream);
    EXPECT_NO_THROW(reader.ReadFromStream(&image, stream, 0));
    EXPECT_TRUE(reader.Stopped);
    EXPECT_EQ(image.Height(), 8);
    EXPECT_FALSE(image.Transparent());
}

} // namespace
