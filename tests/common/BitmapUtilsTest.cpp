#include "common/BitmapUtils.h"

#include "TestBitmaps.h"
#include "platform/rtl/Exceptions.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

using namespace test_bitmaps;

namespace {

// The rule written out as plainly as it reads: every destination pixel walks its cells and
// evaluates the four overlap cases on the spot, with the source read pixel by pixel.
class PlainResampler {
public:
    explicit PlainResampler(const TBitmap& source) : src_(source) {}

    std::unique_ptr<TBitmap> Run(int newWidth, int newHeight) const {
        const int W = src_.Width(), H = src_.Height();
        const double area = static_cast<double>(W * H) / newWidth / newHeight;
        const double sx = static_cast<double>(W) / newWidth;
        const double sy = static_cast<double>(H) / newHeight;
        auto result = Solid(newWidth, newHeight, 0);
        for (int y = 0; y < newHeight; ++y)
            for (int x = 0; x < newWidth; ++x) {
                const double x0 = x * sx - 0.5, x1 = (x + 1) * sx - 0.500001;
                const double y0 = y * sy - 0.5, y1 = (y + 1) * sy - 0.500001;
                double sum[3] = {0, 0, 0};
                for (int i = static_cast<int>(std::floor(y0)); i <= std::floor(y1); ++i)
                    for (int j = static_cast<int>(std::floor(x0)); j <= std::floor(x1); ++j) {
                        double wx, mx, wy, my;
                        Overlap(j, x0, x1, wx, mx);
                        Overlap(i, y0, y1, wy, my);
                        for (int c = 2; c >= 0; --c) {
                            const int p00 = At(j, i, c), p10 = At(j + 1, i, c);
                            const int p01 = At(j, i + 1, c), p11 = At(j + 1, i + 1, c);
                            const int c0 = p00, cx = p10 - p00, cy = p01 - p00;
                            const int cxy = p11 - p10 - p01 + p00;
                            sum[c] += wx * wy * (cx * mx + cxy * mx * my + cy * my + c0);
                        }
                    }
                for (int c = 0; c < 3; ++c)
                    result->ScanLine(y)[3 * x + c] =
                        static_cast<uint8_t>(static_cast<int64_t>(std::nearbyint(sum[c] / area)));
            }
        return result;
    }

private:
    static void Overlap(int j, double x0, double x1, double& w, double& m) {
        if (j > x0 && j + 1 < x1) {
            w = 1;
            m = 0.5;
        } else if (j <= x0 && j + 1 < x1) {
            w = 1 - (x0 - j);
            m = ((x0 - j) + 1) / 2;
        } else if (j > x0 && j + 1 >= x1) {
            w = x1 - j;
            m = (x1 - j) / 2;
        } else {
            w = x1 - x0;
            m = ((x1 - j) + (x0 - j)) / 2;
        }
    }

    int At(int x, int y, int c) const {
        x = std::clamp(x, 0, src_.Width() - 1);
        y = std::clamp(y, 0, src_.Height() - 1);
        return static_cast<int>(src_.PixelColor(x, y) >> (8 * (2 - c)) & 0xFF);
    }

    const TBitmap& src_;
};

std::unique_ptr<TBitmap> Row(std::initializer_list<uint8_t> blues) {
    auto bitmap = Solid(static_cast<int>(blues.size()), 1, 0);
    int x = 0;
    for (const uint8_t b : blues)
        bitmap->ScanLine(0)[3 * x++] = b;
    return bitmap;
}

std::vector<int> Blues(const TBitmap& bitmap, int y = 0) {
    std::vector<int> blues;
    for (int x = 0; x < bitmap.Width(); ++x)
        blues.push_back(bitmap.ScanLine(y)[3 * x]);
    return blues;
}

const TAssertPlace FramePlace{"main.cpp", 628};

} // namespace

TEST(ResampleBitmap, WorkedExamples) {
    EXPECT_EQ(Blues(*ResampleBitmap(*Row({0, 255}), 1, 1)), std::vector<int>{127});
    EXPECT_EQ(Blues(*ResampleBitmap(*Row({0, 255}), 4, 1)), (std::vector<int>{0, 64, 191, 255}));
    // The same size is a light blur, not a copy.
    EXPECT_EQ(Blues(*ResampleBitmap(*Row({10, 20, 30, 40}), 4, 1)),
              (std::vector<int>{11, 20, 30, 39}));
    auto dot = Solid(3, 3, 0);
    SetPixel(*dot, 1, 1, 0xFFFFFF);
    const auto blurred = ResampleBitmap(*dot, 3, 3);
    EXPECT_EQ(Blues(*blurred, 0), (std::vector<int>{4, 24, 4}));
    EXPECT_EQ(Blues(*blurred, 1), (std::vector<int>{24, 143, 24}));
    // One colour stays that colour at any size.
    for (const auto& [w, h] : {std::pair{1, 1}, {100, 100}, {33, 7}, {1, 100}}) {
        EXPECT_EQ(Bytes(*ResampleBitmap(*Solid(1, 1, 0xFE8211), w, h)),
                  Bytes(*Solid(w, h, 0xFE8211)));
        EXPECT_EQ(Bytes(*ResampleBitmap(*Solid(97, 61, 0x8000FF), w, h)),
                  Bytes(*Solid(w, h, 0x8000FF)));
    }
}

TEST(ResampleBitmap, MatchesThePlainRuleOnRandomPictures) {
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> size(1, 100), small(1, 4);
    for (int trial = 0; trial < 300; ++trial) {
        // Tiny sizes in a third of the trials bring 1-pixel rows and columns, strong shrinks and
        // strong enlargements.
        const auto pick = [&] { return trial % 3 == 0 ? small(random) : size(random); };
        const int w = pick(), h = pick(), nw = pick(), nh = pick();
        const auto source = Noise(w, h, random);
        const auto result = ResampleBitmap(*source, nw, nh);
        ASSERT_EQ(result->PixelFormat(), pf24bit);
        ASSERT_EQ(Bytes(*result), Bytes(*PlainResampler(*source).Run(nw, nh)))
            << w << "x" << h << " -> " << nw << "x" << nh;
    }
}

TEST(ResampleBitmap, OtherFormatsAreReadThroughTheir24BitCopyAndKept) {
    std::mt19937 random(99);
    for (const TPixelFormat format : {pf8bit, pf1bit, pf4bit, pf16bit, pf32bit}) {
        auto source = Noise(23, 17, random);
        source->SetPixelFormat(format);
        const auto before = Bytes(*source);
        TBitmap copy;
        copy.Assign(*source);
        copy.SetPixelFormat(pf24bit);
        EXPECT_EQ(Bytes(*ResampleBitmap(*source, 11, 30)),
                  Bytes(*PlainResampler(copy).Run(11, 30)));
        EXPECT_EQ(source->PixelFormat(), format);
        EXPECT_EQ(Bytes(*source), before);
    }
}

TEST(ResampleBitmap, RefusesEmptySourcesAndBadSizes) {
    TBitmap empty;
    empty.SetSize(0, 5);
    try {
        ResampleBitmap(empty, 10, 10);
        FAIL() << "no assertion failure";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Text(), "Assertion failure");
        EXPECT_EQ(e.FileName(), "BitmapUtils.cpp");
        EXPECT_EQ(e.Line(), 1066);
    }
    empty.SetSize(5, 0);
    EXPECT_THROW(ResampleBitmap(empty, 10, 10), EAssertionFailed);
    const auto source = Solid(4, 4, 0x030201);
    EXPECT_THROW(ResampleBitmap(*source, 0, 10), EZeroDivide);
    EXPECT_THROW(ResampleBitmap(*source, 10, 0), EZeroDivide);
    EXPECT_THROW(ResampleBitmap(*source, -1, 10), EInvalidOp);
    EXPECT_THROW(ResampleBitmap(*source, 10, -3), EInvalidOp);
}

TEST(ResampleBitmapInto, EqualsResampleBitmapWhateverDestHeld) {
    std::mt19937 random(8);
    const auto source = Noise(45, 31, random);
    for (const auto& [w, h] : {std::pair{20, 10}, {45, 31}, {90, 3}, {1, 1}})
        for (const TPixelFormat format : {pf24bit, pf8bit, pf32bit}) {
            auto dest = Noise(60, 50, random);
            dest->SetPixelFormat(format);
            ResampleBitmapInto(*dest, *source, w, h, FramePlace);
            EXPECT_EQ(dest->PixelFormat(), pf24bit);
            EXPECT_EQ(Bytes(*dest), Bytes(*ResampleBitmap(*source, w, h))) << w << "x" << h;
        }
    // Into itself: the source is read before it takes the new size.
    auto picture = Noise(40, 30, random);
    const auto expected = ResampleBitmap(*picture, 17, 50);
    ResampleBitmapInto(*picture, *picture, 17, 50, FramePlace);
    EXPECT_EQ(Bytes(*picture), Bytes(*expected));
}

TEST(ResampleBitmapInto, FailuresLeaveDestAsItWas) {
    std::mt19937 random(4);
    auto dest = Noise(6, 5, random);
    const auto before = Bytes(*dest);
    try {
        ResampleBitmapInto(*dest, TBitmap(), 3, 3, FramePlace);
        FAIL() << "no assertion failure";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.FileName(), "main.cpp");
        EXPECT_EQ(e.Line(), 628);
    }
    const auto source = Solid(4, 4, 0x030201);
    EXPECT_THROW(ResampleBitmapInto(*dest, *source, 0, 3, FramePlace), EZeroDivide);
    EXPECT_THROW(ResampleBitmapInto(*dest, *source, 3, -1, FramePlace), EInvalidOp);
    EXPECT_EQ(Bytes(*dest), before);
}
