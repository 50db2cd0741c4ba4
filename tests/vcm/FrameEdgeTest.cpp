// The edges of the caller's frames: the last column and row keep their colours at any size.
#include "Frames.h"
#include "platform/vcm/Encoder.h"
#include "platform/vcm/Vcm.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using frames::FourccText;

constexpr uint32_t Mjpg = mmioFOURCC('M', 'J', 'P', 'G');
constexpr uint32_t Fmp4 = mmioFOURCC('F', 'M', 'P', '4');
constexpr uint32_t Vp90 = mmioFOURCC('V', 'P', '9', '0');

struct Bgr {
    uint8_t b, g, r;
};

// A 24-bit frame of Body with a band of Edge along the right and bottom sides; the band is
// whole 16-pixel blocks and more, so that no block or chroma filter mixes the two at the edges.
std::vector<uint8_t> BandedFrame(const BITMAPINFOHEADER& h, Bgr body, Bgr edge) {
    const int stride = vcm::DibStride(h);
    const int left = ((h.biWidth - 1) / 16 - 1) * 16, top = ((h.biHeight - 1) / 16 - 1) * 16;
    std::vector<uint8_t> bits(static_cast<size_t>(stride) * h.biHeight);
    for (int row = 0; row < h.biHeight; ++row) {
        const int y = h.biHeight - 1 - row; // bottom-up
        uint8_t* p = bits.data() + static_cast<size_t>(row) * stride;
        for (int x = 0; x < h.biWidth; ++x, p += 3) {
            const Bgr c = x >= left || y >= top ? edge : body;
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
        }
    }
    return bits;
}

// Largest difference of any channel of Picture's pixel X, Y (top-down Bgr rows) from Expected.
int Distance(const std::vector<uint8_t>& picture, int width, int x, int y, Bgr expected) {
    const uint8_t* p = picture.data() + (static_cast<size_t>(y) * width + x) * 3;
    return std::max(
        {std::abs(p[0] - expected.b), std::abs(p[1] - expected.g), std::abs(p[2] - expected.r)});
}

TEST(FrameEdges, LossyEncodersKeepTheColoursOfTheLastColumnAndRow) {
    constexpr Bgr Body{200, 120, 40}, Red{0, 0, 255};
    constexpr int Tolerance = 8;
    for (const auto& h : {frames::Header(641, 3), frames::Header(641, 481),
                          frames::Header(640, 480), frames::Header(97, 65)}) {
        const auto bits = BandedFrame(h, Body, Red);
        for (const uint32_t handler : {Mjpg, Fmp4, Vp90}) {
            const auto candidate = vcm::FindCandidate(h, handler);
            if (!candidate) continue;
            SCOPED_TRACE(FourccText(handler) + " " + std::to_string(h.biWidth) + " x " +
                         std::to_string(h.biHeight));
            std::vector<uint8_t> picture;
            ASSERT_TRUE(vcm::RoundTrip(*candidate, h, bits.data(), vcm::Settings{}, picture));
            const int w = h.biWidth, lastX = w - 1, lastY = h.biHeight - 1;
            int worst = 0;
            for (int y = 0; y <= lastY; ++y)
                worst = std::max(worst, Distance(picture, w, lastX, y, Red));
            for (int x = 0; x <= lastX; ++x)
                worst = std::max(worst, Distance(picture, w, x, lastY, Red));
            EXPECT_LE(worst, Tolerance);
        }
    }
}

} // namespace
