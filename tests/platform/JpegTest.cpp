#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include "../support/JpegEncode.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Canvas.h"
#include "platform/graphics/Jpeg.h"

namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;
constexpr int W = 37, H = 29; // not multiples of the 8 x 8 blocks
constexpr int Tolerance = 4;

struct Rgb {
    int r, g, b;
};

// Smooth colours, so that quality 100 without chroma subsampling stays within a few levels.
Rgb ColourAt(int x, int y) {
    return {20 + 5 * x, 30 + 4 * y, 200 - 2 * x - 2 * y};
}
int GreyAt(int x, int y) {
    return 10 + 3 * x + 4 * y;
}
// Ink amounts (0 = none) of the CMYK pictures, and the colour they print as.
uint8_t InkAt(int channel, int x, int y) {
    const int ink[4] = {10 + 2 * x, 20 + 3 * y, 100, 40 + x};
    return static_cast<uint8_t>(ink[channel]);
}
Rgb PrintedAt(int x, int y) {
    const int k = 255 - InkAt(3, x, y);
    auto light = [&](int c) { return (255 - InkAt(c, x, y)) * k / 255; };
    return {light(0), light(1), light(2)};
}

struct Encoding {
    J_COLOR_SPACE input = JCS_RGB;
    J_COLOR_SPACE stored = JCS_YCbCr;
    bool progressive = false;
    bool adobeMarker = true;
};

// A W x H picture written by libjpeg itself; Sample gives the input components of a pixel.
Bytes Encode(const Encoding& e, const std::function<void(int, int, uint8_t*)>& sample) {
    test_support::JpegEncoding encoding;
    encoding.width = W;
    encoding.height = H;
    encoding.input = e.input;
    encoding.stored = e.stored;
    encoding.progressive = e.progressive;
    encoding.adobeMarker = e.adobeMarker;
    return test_support::EncodeJpeg(encoding, sample);
}

Bytes ColourJpeg(bool progressive = false) {
    return Encode({JCS_RGB, JCS_YCbCr, progressive}, [](int x, int y, uint8_t* p) {
        const Rgb c = ColourAt(x, y);
        p[0] = static_cast<uint8_t>(c.r);
        p[1] = static_cast<uint8_t>(c.g);
        p[2] = static_cast<uint8_t>(c.b);
    });
}

// Photoshop's CMYK: the stored values are inverted (255 = no ink).
Bytes CmykJpeg(J_COLOR_SPACE stored, bool adobeMarker) {
    return Encode({JCS_CMYK, stored, false, adobeMarker}, [=](int x, int y, uint8_t* p) {
        for (int ch = 0; ch < 4; ++ch)
            p[ch] = adobeMarker ? static_cast<uint8_t>(255 - InkAt(ch, x, y)) : InkAt(ch, x, y);
    });
}

void Load(TJPEGImage& jpeg, const Bytes& bytes) {
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    stream.SetPosition(0);
    jpeg.LoadFromStream(stream);
}

// The largest channel difference between the bitmap and the expected colours.
int MaxError(const TBitmap& bitmap, const std::function<Rgb(int, int)>& expected) {
    int worst = 0;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x) {
            const Rgb e = expected(x, y);
            worst = std::max({worst, std::abs(row[3 * x + 2] - e.r), std::abs(row[3 * x + 1] - e.g),
                              std::abs(row[3 * x] - e.b)});
        }
    }
    return worst;
}

TBitmap& Decoded(const TJPEGImage& jpeg, TBitmap& bitmap) {
    bitmap.Assign(&jpeg);
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
    EXPECT_EQ(bitmap.Width(), W);
    EXPECT_EQ(bitmap.Height(), H);
    return bitmap;
}

} // namespace

TEST(JpegImage, DecodesBaselineProgressiveAndGrey) {
    for (const bool progressive : {false, true}) {
        TJPEGImage jpeg;
        EXPECT_TRUE(jpeg.Empty());
        Load(jpeg, ColourJpeg(progressive));
        EXPECT_FALSE(jpeg.Empty());
        EXPECT_EQ(jpeg.Width(), W);
        EXPECT_EQ(jpeg.Height(), H);
        TBitmap bitmap;
        EXPECT_LE(MaxError(Decoded(jpeg, bitmap), ColourAt), Tolerance) << progressive;
    }
    TJPEGImage grey;
    Load(grey, Encode({JCS_GRAYSCALE, JCS_GRAYSCALE},
                      [](int x, int y, uint8_t* p) { *p = static_cast<uint8_t>(GreyAt(x, y)); }));
    TBitmap bitmap;
    EXPECT_LE(MaxError(Decoded(grey, bitmap),
                       [](int x, int y) {
                           return Rgb{GreyAt(x, y), GreyAt(x, y), GreyAt(x, y)};
                       }),
              Tolerance);
}

TEST(JpegImage, DecodesCmykAsPrinted) {
    // Adobe-marked CMYK and YCCK hold inverted values; CMYK without the marker holds ink.
    for (const auto& [stored, adobe] :
         {std::pair{JCS_CMYK, true}, std::pair{JCS_YCCK, true}, std::pair{JCS_CMYK, false}}) {
        TJPEGImage jpeg;
        Load(jpeg, CmykJpeg(stored, adobe));
        TBitmap bitmap;
        EXPECT_LE(MaxError(Decoded(jpeg, bitmap), PrintedAt), Tolerance)
            << "colour space " << stored << ", Adobe marker " << adobe;
    }
}

TEST(JpegImage, ReadsFromTheStreamPositionAndSavesTheSameBytes) {
    const Bytes file = ColourJpeg();
    TMemoryStream stream;
    stream.WriteBuffer("header", 6);
    stream.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
    stream.SetPosition(6);
    TJPEGImage jpeg;
    jpeg.LoadFromStream(stream);
    EXPECT_EQ(stream.Position(), stream.Size());

    TMemoryStream saved;
    jpeg.SaveToStream(saved);
    EXPECT_EQ(Bytes(saved.Memory(), saved.Memory() + saved.Size()), file);

    TJPEGImage copy;
    copy.Assign(&jpeg);
    TBitmap bitmap;
    EXPECT_LE(MaxError(Decoded(copy, bitmap), ColourAt), Tolerance);
    copy.Assign(nullptr);
    EXPECT_TRUE(copy.Empty());
}

TEST(JpegImage, DrawsOntoACanvas) {
    TJPEGImage jpeg;
    Load(jpeg, ColourJpeg());

    // As the picture loading rule does: a 24-bit bitmap of the picture's size, drawn at (0, 0).
    TBitmap same;
    same.SetPixelFormat(pf24bit);
    same.SetSize(jpeg.Width(), jpeg.Height());
    same.Canvas().Draw(0, 0, jpeg);
    EXPECT_LE(MaxError(same, ColourAt), Tolerance);

    // Stretched to twice the size, each pixel covers two by two.
    TBitmap twice;
    twice.SetPixelFormat(pf24bit);
    twice.SetSize(2 * W, 2 * H);
    twice.Canvas().StretchDraw(Rect(0, 0, 2 * W, 2 * H), jpeg);
    for (int y = 0; y < 2 * H; ++y)
        for (int x = 0; x < 2 * W; ++x)
            ASSERT_EQ(twice.Canvas().Pixels(x, y), same.Canvas().Pixels(x / 2, y / 2))
                << x << "," << y;
}

TEST(JpegImage, BrokenFilesRaiseAndKeepTheOldPicture) {
    const Bytes good = ColourJpeg();
    TJPEGImage jpeg;
    Load(jpeg, good);
    auto expectRaise = [&](const Bytes& bytes, const std::string& what) {
        try {
            Load(jpeg, bytes);
            ADD_FAILURE() << what << ": no exception";
        } catch (const EJPEG& e) {
            EXPECT_FALSE(e.Message().empty()) << what;
        }
        EXPECT_EQ(jpeg.Width(), W) << what;
        TMemoryStream saved;
        jpeg.SaveToStream(saved);
        EXPECT_EQ(saved.Size(), static_cast<int64_t>(good.size())) << what;
    };

    expectRaise({}, "empty");
    Bytes garbage(4000);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<uint8_t>(i * 7919 >> 3);
    expectRaise(garbage, "garbage");
    garbage[0] = 0xFF;
    garbage[1] = 0xD8;
    expectRaise(garbage, "garbage after a start marker");
    for (const size_t cut : {size_t{2}, size_t{100}, good.size() / 2, good.size() - 40})
        expectRaise(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)),
                    "baseline cut at " + std::to_string(cut));
    const Bytes progressive = ColourJpeg(true);
    expectRaise(Bytes(progressive.begin(), progressive.end() - 60), "progressive cut");

    // A file that lacks only its end marker has every pixel.
    Load(jpeg, Bytes(good.begin(), good.end() - 2));
    TBitmap bitmap;
    EXPECT_LE(MaxError(Decoded(jpeg, bitmap), ColourAt), Tolerance);
}

TEST(JpegImage, RefusesHostileSizesAndScanCounts) {
    // A frame header claiming 32767 x 32767 is refused before any pixel is allocated.
    Bytes huge = ColourJpeg();
    for (size_t i = 0; i + 8 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            const uint8_t size[] = {0x7F, 0xFF, 0x7F, 0xFF};
            std::copy(size, size + 4, huge.begin() + static_cast<std::ptrdiff_t>(i + 5));
            break;
        }
    TJPEGImage jpeg;
    try {
        Load(jpeg, huge);
        ADD_FAILURE() << "no exception";
    } catch (const EJPEG& e) {
        EXPECT_EQ(e.Message(), Msg::JPEGTooLarge);
    }

    // The last scan of a progressive file repeated thousands of times: each repeat would be
    // another pass over the whole picture, and libjpeg warns of the repeats.
    const Bytes progressive = ColourJpeg(true);
    size_t lastScan = 0;
    for (size_t i = 0; i + 1 < progressive.size(); ++i)
        if (progressive[i] == 0xFF && progressive[i + 1] == 0xDA) lastScan = i;
    const Bytes scan(progressive.begin() + static_cast<std::ptrdiff_t>(lastScan),
                     progressive.end() - 2);
    Bytes many(progressive.begin(), progressive.end() - 2);
    for (int i = 0; i < 1500; ++i)
        many.insert(many.end(), scan.begin(), scan.end());
    many.insert(many.end(), {0xFF, 0xD9});
    EXPECT_THROW(Load(jpeg, many), EJPEG);
}

// Files made to cost time or memory, and damaged files libjpeg would fill in with grey: each
// is refused, with the reason, before the rest of it is decoded.
TEST(JpegImage, HostileAndDamagedFilesAreRefused) {
    const std::map<std::string, std::string> expected{
        {"jpeg-11585x11585.jpg", "Premature end of JPEG file"},
        {"jpeg-1000-scans.jpg", Msg::JPEGTooManyScans},
        {"jpeg-corrupt-entropy.jpg", "Corrupt JPEG data: bad Huffman code"},
        {"jpeg-progressive-cut-between-scans.jpg", "Premature end of JPEG file"},
        {"jpeg-progressive-no-end-marker.jpg", "Premature end of JPEG file"},
    };
    for (const auto& [name, message] : expected) {
        TJPEGImage jpeg;
        try {
            jpeg.LoadFromFile(std::string(MV_TESTDATA_DIR) + "/hostile/" + name);
            ADD_FAILURE() << name << ": loaded";
        } catch (const EJPEG& e) {
            EXPECT_EQ(e.Message(), message) << name;
        }
        EXPECT_TRUE(jpeg.Empty()) << name;
    }
}

// A file cut short is a failed read wherever the cut falls; a single-scan file that lacks only
// its end marker has every pixel and loads.
TEST(JpegImage, EveryPrefixOfAFileFails) {
    for (const bool progressive : {true, false}) {
        const Bytes whole = ColourJpeg(progressive);
        const size_t loads = progressive ? whole.size() : whole.size() - 2;
        for (size_t cut = 0; cut < whole.size(); ++cut) {
            TJPEGImage jpeg;
            const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
            if (cut >= loads) {
                EXPECT_NO_THROW(Load(jpeg, prefix)) << cut;
            } else {
                EXPECT_THROW(Load(jpeg, prefix), EJPEG)
                    << (progressive ? "progressive" : "baseline") << " cut at " << cut;
            }
        }
    }
}

TEST(JpegImage, PicturesLoadJpegFilesByExtension) {
    char pattern[] = "/tmp/mvjpegtestXXXXXX";
    const std::string folder = std::string(::mkdtemp(pattern)) + "/";
    const Bytes file = ColourJpeg();
    for (const char* name : {"face.JPG", "face.jpeg"}) {
        std::ofstream(folder + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()),
                   static_cast<std::streamsize>(file.size()));
        TPicture picture;
        picture.LoadFromFile(folder + name);
        ASSERT_NE(picture.Graphic(), nullptr);
        EXPECT_EQ(picture.Graphic()->ClassName(), "TJPEGImage") << name;
        EXPECT_EQ(picture.Width(), W);
        TBitmap bitmap;
        EXPECT_LE(
            MaxError(Decoded(*dynamic_cast<TJPEGImage*>(picture.Graphic()), bitmap), ColourAt),
            Tolerance);
    }
    fs::remove_all(folder);
    EXPECT_NE(TPicture::GraphicFilter().find("JPEG Image File (*.jpg)|*.jpg"), std::string::npos);
    EXPECT_EQ(TPicture::ClassForExtension(".Jpeg"), GraphicClassOf<TJPEGImage>());
}
