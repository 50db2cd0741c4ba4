// PngSuite conformance: every valid file against independently decoded reference pixels,
// interlaced files against their plain twins, and the corrupt files against their expected fate.
#include "common/KRLPNG.h"
#include "common/Qmlib2002.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const fs::path SuiteDir = fs::path(MV_TESTDATA_DIR) / "pngsuite";

// Tests are listed before they run: a missing folder lists none here and fails the test below
// instead of aborting the listing.
std::vector<std::string> SuiteFiles(bool corrupt) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(SuiteDir / "png", error))
        if (entry.path().extension() == ".png" &&
            (entry.path().stem().string()[0] == 'x') == corrupt)
            names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string PngPath(const std::string& name) {
    return (SuiteDir / "png" / (name + ".png")).string();
}

// The reference: r, g, b, a per pixel from the top row; 16-bit values for 16-bit files.
std::vector<uint32_t> Reference(const std::string& name) {
    std::ifstream in(SuiteDir / "json" / (name + ".json"));
    std::stringstream text;
    text << in.rdbuf();
    std::vector<uint32_t> values;
    uint32_t v = 0;
    bool inNumber = false;
    for (const char c : text.str()) {
        if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
            v = v * 10 + static_cast<uint32_t>(c - '0');
            inNumber = true;
        } else if (inNumber) {
            values.push_back(v);
            v = 0;
            inNumber = false;
        }
    }
    return values;
}

// Names end in the colour type and the bit depth, e.g. "basn6a16".
int Depth(const std::string& name) {
    return std::stoi(name.substr(name.size() - 2));
}
int ColorType(const std::string& name) {
    return name[4] - '0';
}

TColor Rgb(const std::vector<uint32_t>& ref, size_t pixel, int shift) {
    return RGB(static_cast<uint8_t>(ref[4 * pixel] >> shift),
               static_cast<uint8_t>(ref[4 * pixel + 1] >> shift),
               static_cast<uint8_t>(ref[4 * pixel + 2] >> shift));
}

TColor Pixel(const TBitmap& bitmap, int x, int y) {
    const uint8_t* p = bitmap.ScanLine(y) + 3 * x;
    return RGB(p[2], p[1], p[0]);
}

// The one test that fails when the data is missing; the others then have nothing to check.
bool SuitePresent() {
    return fs::is_directory(SuiteDir / "png") && fs::is_directory(SuiteDir / "json");
}

TEST(PngSuiteData, IsInTheRepository) {
    ASSERT_TRUE(SuitePresent()) << "the PngSuite test data is missing: " << SuiteDir.string()
                                << " (tests/data/pngsuite belongs to the repository)";
    EXPECT_EQ(SuiteFiles(false).size(), 161u);
    EXPECT_EQ(SuiteFiles(true).size(), 14u);
}

class PngSuite : public testing::TestWithParam<std::string> {};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PngSuite);

TEST_P(PngSuite, DecodesToTheReferencePixels) {
    const std::string name = GetParam();
    const std::vector<uint32_t> ref = Reference(name);
    TBitmap bitmap;
    ASSERT_TRUE(LoadPNGToBitmap(PngPath(name), bitmap));
    ASSERT_EQ(bitmap.PixelFormat(), pf24bit);
    const int w = bitmap.Width(), h = bitmap.Height();
    ASSERT_EQ(ref.size(), 4u * w * h);
    const int shift = Depth(name) == 16 ? 8 : 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(Pixel(bitmap, x, y), Rgb(ref, static_cast<size_t>(y) * w + x, shift))
                << "pixel " << x << ", " << y;
}

TEST_P(PngSuite, CarriesAlphaAsAlphaBitmapOrTransparentColour) {
    const std::string name = GetParam();
    const std::vector<uint32_t> ref = Reference(name);
    TKRLPNG png;
    png.LoadFromFile(PngPath(name));
    const int w = png.Width(), h = png.Height();
    const int shift = Depth(name) == 16 ? 8 : 0;
    TBitmap colours;
    colours.Assign(&png);
    colours.SetPixelFormat(pf24bit);
    const TBitmap& image = png.ImageBitmap();

    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            const uint32_t alpha = ref[4 * i + 3] >> shift;
            if (png.HasAlpha) {
                ASSERT_EQ(png.AlphaBitmap().ScanLine(y)[x], 255 - alpha) << x << ", " << y;
                continue;
            }
            if (alpha != 255) {
                // Fully transparent pixels only: they show the transparent colour.
                ASSERT_EQ(alpha, 0u);
                ASSERT_TRUE(image.Transparent());
                const TColor key = image.TransparentColor();
                if ((key & 0xFF000000) == 0x01000000) {
                    ASSERT_EQ(image.ScanLine(y)[x], key & 0xFF) << x << ", " << y;
                } else {
                    ASSERT_EQ(Pixel(colours, x, y), key) << x << ", " << y;
                }
            }
        }
    const int type = ColorType(name);
    EXPECT_EQ(png.HasAlpha, type == 4 || type == 6 || (type == 3 && png.HasAlpha));
    EXPECT_EQ(png.AlphaBitmap().Empty(), !png.HasAlpha);
}

std::string TestName(const testing::TestParamInfo<std::string>& info) {
    return info.param;
}

INSTANTIATE_TEST_SUITE_P(Valid, PngSuite, testing::ValuesIn(SuiteFiles(false)), TestName);

TEST(PngSuiteInterlace, EachInterlacedFileEqualsItsPlainTwin) {
    if (!SuitePresent()) GTEST_SKIP();
    int pairs = 0;
    for (const std::string& name : SuiteFiles(false)) {
        if (name[3] != 'i') continue;
        std::string twin = name;
        twin[3] = 'n';
        if (!fs::exists(PngPath(twin))) continue;
        ++pairs;
        TKRLPNG a, b;
        a.LoadFromFile(PngPath(name));
        b.LoadFromFile(PngPath(twin));
        EXPECT_TRUE(a.Interlaced) << name;
        EXPECT_FALSE(b.Interlaced) << twin;
        const TBitmap& ia = a.ImageBitmap();
        const TBitmap& ib = b.ImageBitmap();
        ASSERT_EQ(ia.PixelFormat(), ib.PixelFormat()) << name;
        ASSERT_EQ(ia.Width(), ib.Width()) << name;
        ASSERT_EQ(ia.Height(), ib.Height()) << name;
        const size_t used = (static_cast<size_t>(ia.Width()) * ia.BitsPerPixel() + 7) / 8;
        const int spare =
            static_cast<int>(used * 8 - static_cast<size_t>(ia.Width()) * ia.BitsPerPixel());
        for (int y = 0; y < ia.Height(); ++y) {
            // Bits past the last pixel of a packed row are not part of the picture.
            EXPECT_EQ(0, std::memcmp(ia.ScanLine(y), ib.ScanLine(y), used - (spare > 0)))
                << name << " row " << y;
            if (spare > 0) {
                EXPECT_EQ(ia.ScanLine(y)[used - 1] >> spare, ib.ScanLine(y)[used - 1] >> spare)
                    << name << " row " << y;
            }
        }
        ASSERT_EQ(a.HasAlpha, b.HasAlpha) << name;
        for (int y = 0; a.HasAlpha && y < ia.Height(); ++y) {
            EXPECT_EQ(0, std::memcmp(a.AlphaBitmap().ScanLine(y), b.AlphaBitmap().ScanLine(y),
                                     static_cast<size_t>(ia.Width())))
                << name << " alpha row " << y;
        }
    }
    EXPECT_GE(pairs, 25);
}

// The reader checks no CRC and no zlib checksum, so only files broken in what it reads fail.
TEST(PngSuiteCorrupt, EveryCorruptFileFailsWithItsMessageOrLoads) {
    if (!SuitePresent()) GTEST_SKIP();
    const std::map<std::string, std::string> expected{
        {"xc1n0g08", "Read Header(PNG): Error ColorType"},
        {"xc9n2c08", "Read Header(PNG): Error ColorType"},
        {"xcrn0g04", "PNG LoadStream: Not PNG Format"},
        {"xcsn0g01", ""},
        {"xd0n2c08", "Read Header(PNG): Error BitDepth"},
        {"xd3n2c08", "Read Header(PNG): Error BitDepth"},
        {"xd9n2c08", "Read Header(PNG): Error BitDepth"},
        {"xdtn0g01", "Read Image (PNG): Read Error"},
        {"xhdn0g08", ""},
        {"xlfn0g04", "PNG LoadStream: Not PNG Format"},
        {"xs1n0g01", "PNG LoadStream: Not PNG Format"},
        {"xs2n0g01", "PNG LoadStream: Not PNG Format"},
        {"xs4n0g01", "PNG LoadStream: Not PNG Format"},
        {"xs7n0g01", "PNG LoadStream: Not PNG Format"},
    };
    const std::vector<std::string> files = SuiteFiles(true);
    EXPECT_EQ(files.size(), expected.size());
    for (const std::string& name : files) {
        ASSERT_TRUE(expected.contains(name)) << name;
        std::string message;
        TKRLPNG png;
        try {
            png.LoadFromFile(PngPath(name));
        } catch (const EKRLPNG& e) {
            message = e.Message();
        }
        EXPECT_EQ(message, expected.at(name)) << name;
        if (message.empty()) {
            EXPECT_FALSE(png.Empty()) << name;
        }

        TBitmap bitmap;
        EXPECT_EQ(LoadPNGToBitmap(PngPath(name), bitmap), message.empty()) << name;
    }
}

} // namespace
