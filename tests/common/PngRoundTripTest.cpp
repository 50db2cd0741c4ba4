// Pictures saved by TKRLPNG come back unchanged: through libpng and pngcheck, independent of
// this codec, and through our own reader; for every source format, grey and colour output,
// with and without alpha, plain and Adam7, with every filter mode.
#include "PngCheck.h"
#include "SourceBitmaps.h"
#include "common/KRLPNG.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

using namespace png_check;
namespace sb = source_bitmaps;

namespace {

struct Case {
    TPixelFormat format;
    bool gray;
    bool alpha;
    bool interlaced;
};

std::string Name(const Case& c) {
    std::ostringstream s;
    s << BitsFromPixelFormat(c.format) << "bit" << (c.gray ? "Grey" : "Colour")
      << (c.alpha ? "Alpha" : "") << (c.interlaced ? "Adam7" : "Plain");
    return s.str();
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << Name(c);
}

std::vector<Case> AllCases() {
    std::vector<Case> cases;
    for (const TPixelFormat f : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit})
        for (const bool gray : {false, true})
            for (const bool alpha : {false, true})
                for (const bool interlaced : {false, true})
                    cases.push_back({f, gray, alpha, interlaced});
    return cases;
}

// What a saved pixel must hold: its samples in the file and its colour when read back.
struct Expected {
    int depth = 8;
    int colorType = 2;
    bool alpha = false;
};

Expected ExpectedHeader(const Case& c) {
    const int bits = BitsFromPixelFormat(c.format);
    Expected e;
    if (!c.gray && bits <= 8) {
        e.depth = bits;
        e.colorType = 3;
    } else if (c.gray) {
        e.depth = bits <= 4 ? bits : 8;
        e.alpha = c.alpha && bits >= 8;
        e.colorType = e.alpha ? 4 : 0;
    } else {
        e.alpha = c.alpha;
        e.colorType = e.alpha ? 6 : 2;
    }
    return e;
}

// The grey sample of a source pixel at the output depth.
uint32_t GraySample(const TBitmap& source, int x, int y) {
    const int bits = BitsFromPixelFormat(source.PixelFormat());
    if (bits == 1) {
        // Bits keep their meaning of lighter and darker.
        const auto& table = source.ColorTable();
        const auto level = [&](size_t i) {
            return i < table.size()
                       ? sb::Gray({table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue})
                       : 0u;
        };
        return sb::Index(source, x, y) ^ (level(0) > level(1) ? 1u : 0u);
    }
    const uint32_t gray = sb::Gray(sb::Color(source, x, y));
    return bits == 4 ? gray >> 4 : gray;
}

Bytes Save(TKRLPNG& picture) {
    TMemoryStream stream;
    picture.SaveToStream(stream);
    return StreamBytes(stream);
}

// A picture over the test's bitmaps, saved with the case's settings.
class Saved {
public:
    Saved(const Case& c, int width, int height, uint32_t seed)
        : source(sb::Make(c.format, width, height, seed)),
          alpha(sb::Alpha(width, height, seed + 1)) {
        picture.SetImageBitmap(source.get());
        picture.SetAlphaBitmap(alpha.get());
        picture.HasAlpha = c.alpha;
        picture.GrayScale = c.gray;
        picture.Interlaced = c.interlaced;
    }
    std::unique_ptr<TBitmap> source;
    std::unique_ptr<TBitmap> alpha;
    TKRLPNG picture;
};

// libpng reads exactly the source's samples.
void CheckWithLibpng(const Case& c, const Bytes& png, const TBitmap& source, const TBitmap& alpha) {
    const Decoded d = Decode(png);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_TRUE(d.warnings.empty()) << d.warnings.front();
    const Expected e = ExpectedHeader(c);
    ASSERT_EQ(d.width, static_cast<uint32_t>(source.Width()));
    ASSERT_EQ(d.height, static_cast<uint32_t>(source.Height()));
    ASSERT_EQ(d.depth, e.depth);
    ASSERT_EQ(d.colorType, e.colorType);
    ASSERT_EQ(d.interlace, c.interlaced ? 1 : 0);
    if (e.colorType == 3) {
        ASSERT_EQ(d.palette.size(), source.ColorTable().size());
        for (size_t i = 0; i < d.palette.size(); ++i) {
            const RGBQUAD& q = source.ColorTable()[i];
            EXPECT_EQ(sb::Rgb({d.palette[i].red, d.palette[i].green, d.palette[i].blue}),
                      sb::Rgb({q.rgbRed, q.rgbGreen, q.rgbBlue}));
        }
    }
    for (int y = 0; y < source.Height(); ++y)
        for (int x = 0; x < source.Width(); ++x) {
            const auto at = [&](int channel) {
                return d.Sample(static_cast<uint32_t>(x), static_cast<uint32_t>(y), channel);
            };
            if (e.colorType == 3) {
                ASSERT_EQ(at(0), sb::Index(source, x, y)) << x << "," << y;
            } else if (e.colorType == 0 || e.colorType == 4) {
                ASSERT_EQ(at(0), GraySample(source, x, y)) << x << "," << y;
            } else {
                const sb::Rgb want = sb::Color(source, x, y);
                ASSERT_EQ(sb::Rgb({at(0), at(1), at(2)}), want) << x << "," << y;
            }
            if (e.alpha) {
                ASSERT_EQ(at(d.channels - 1), 255u - alpha.ScanLine(y)[x]) << x << "," << y;
            }
        }
}

// Our reader gives the same colours, the alpha bitmap back, and the picture's settings.
void CheckWithOurReader(const Case& c, const Bytes& png, const TBitmap& source,
                        const TBitmap& alpha) {
    TMemoryStream stream;
    stream.WriteBuffer(png.data(), static_cast<int64_t>(png.size()));
    stream.SetPosition(0);
    TKRLPNG loaded;
    loaded.LoadFromStream(stream);
    const Expected e = ExpectedHeader(c);
    const TBitmap& image = loaded.ImageBitmap();
    ASSERT_EQ(image.Width(), source.Width());
    ASSERT_EQ(image.Height(), source.Height());
    EXPECT_EQ(loaded.Interlaced, c.interlaced);
    EXPECT_EQ(loaded.GrayScale, c.gray);
    EXPECT_EQ(loaded.HasAlpha, e.alpha);
    const uint32_t grayScale = e.depth == 1 ? 255 : e.depth == 4 ? 17 : 1;
    for (int y = 0; y < source.Height(); ++y)
        for (int x = 0; x < source.Width(); ++x) {
            if (c.gray) {
                const uint32_t level = GraySample(source, x, y) * grayScale;
                ASSERT_EQ(sb::Color(image, x, y), sb::Rgb({level, level, level})) << x << "," << y;
            } else {
                ASSERT_EQ(sb::Color(image, x, y), sb::Color(source, x, y)) << x << "," << y;
            }
            if (e.alpha) {
                ASSERT_EQ(loaded.AlphaBitmap().ScanLine(y)[x], alpha.ScanLine(y)[x]);
            }
        }
}

class PngRoundTrip : public testing::TestWithParam<Case> {};

TEST_P(PngRoundTrip, EveryFilterModeReadsBackAsTheSource) {
    const Case c = GetParam();
    Saved saved(c, 37, 21, static_cast<uint32_t>(BitsFromPixelFormat(c.format)));
    for (const uint8_t mode : {0, 1, 2, 3, 4, 5, 6}) {
        SCOPED_TRACE("filter mode " + std::to_string(mode));
        saved.picture.FilterMode = mode;
        const Bytes png = Save(saved.picture);
        CheckWithLibpng(c, png, *saved.source, *saved.alpha);
        CheckWithOurReader(c, png, *saved.source, *saved.alpha);
    }
}

TEST_P(PngRoundTrip, SmallPicturesAndPartlyFilledPasses) {
    const Case c = GetParam();
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{
             {1, 1}, {2, 2}, {3, 5}, {5, 3}, {8, 8}, {9, 1}, {1, 9}, {17, 4}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        Saved saved(c, w, h, static_cast<uint32_t>(w * 31 + h));
        saved.picture.FilterMode = 0;
        const Bytes png = Save(saved.picture);
        CheckWithLibpng(c, png, *saved.source, *saved.alpha);
        CheckWithOurReader(c, png, *saved.source, *saved.alpha);
    }
}

std::string CaseName(const testing::TestParamInfo<Case>& param) {
    return Name(param.param);
}

INSTANTIATE_TEST_SUITE_P(AllSources, PngRoundTrip, testing::ValuesIn(AllCases()), CaseName);

// ---------------------------------------------------------------- pngcheck

bool HasPngcheck() {
    return std::system("command -v pngcheck > /dev/null 2>&1") == 0;
}

TEST(PngRoundTripFiles, PngcheckAcceptsEveryFileWritten) {
    if (!HasPngcheck()) GTEST_SKIP() << "pngcheck is not installed";
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("krlpng-pngcheck-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const TKRLPNGChromaticities primaries{31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000};
    for (const Case& c : AllCases()) {
        Saved saved(c, 19, 13, 7);
        TKRLPNG& p = saved.picture;
        p.FilterMode = 0;
        p.Comment = "written by the tests";
        p.BackgroundColor = 0x01000001;
        p.TransColor = 0x336699;
        p.PhysUnit = 2;
        p.PixelsPerUnitX = p.PixelsPerUnitY = 300;
        p.Chromaticities = primaries;
        p.GifExtension = {1, 0, 0, 10};
        const Bytes png = Save(p);
        std::ofstream out((dir / (Name(c) + ".png")).string(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(png.data()),
                  static_cast<std::streamsize>(png.size()));
    }
    const std::string command =
        "pngcheck -q " + (dir / "*.png").string() + " > " + (dir / "report.txt").string() + " 2>&1";
    const int status = std::system(command.c_str());
    std::ifstream report(dir / "report.txt");
    std::stringstream text;
    text << report.rdbuf();
    EXPECT_EQ(status, 0) << text.str();
    std::filesystem::remove_all(dir);
}

} // namespace
