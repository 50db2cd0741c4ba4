// The edges of the caller's frames: the last column and row keep their colours at any size, and
// the encoders read the caller's bytes and nothing around them.
#include "Frames.h"
#include "platform/vcm/Encoder.h"
#include "platform/vcm/Vcm.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

using frames::FourccText;

constexpr uint32_t Mjpg = mmioFOURCC('M', 'J', 'P', 'G');
constexpr uint32_t Fmp4 = mmioFOURCC('F', 'M', 'P', '4');
constexpr uint32_t Vp90 = mmioFOURCC('V', 'P', '9', '0');
constexpr uint32_t H264 = mmioFOURCC('H', '2', '6', '4');
constexpr uint32_t Ffv1 = mmioFOURCC('F', 'F', 'V', '1');

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

// Bytes against unreadable pages: the first byte right after one, or the last right before
// one, so that a read of a single byte outside faults.
class GuardedBytes {
public:
    GuardedBytes(size_t size, bool againstEnd) {
        const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t inside = (size + page - 1) / page * page;
        length_ = inside + 2 * page;
        void* base =
            mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) return;
        base_ = static_cast<uint8_t*>(base);
        if (mprotect(base_, page, PROT_NONE) != 0 ||
            mprotect(base_ + page + inside, page, PROT_NONE) != 0)
            return;
        data_ = base_ + page + (againstEnd ? inside - size : 0);
    }
    ~GuardedBytes() {
        if (base_ != nullptr) munmap(base_, length_);
    }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;
    uint8_t* data() const { return data_; }

private:
    uint8_t* base_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t length_ = 0;
};

// Bottom-up rows are read from the last in memory back to the first, so both ends count.
TEST(FrameEdges, EncodersReadOnlyTheCallersRows) {
    for (const int bitCount : {24, 16}) {
        for (const auto& h : {frames::Header(1, 1, bitCount), frames::Header(641, 3, bitCount),
                              frames::Header(640, 480, bitCount)}) {
            const auto bits = frames::Make(h, 0);
            for (const bool againstEnd : {true, false}) {
                const GuardedBytes frame(bits.size(), againstEnd);
                ASSERT_NE(frame.data(), nullptr);
                std::memcpy(frame.data(), bits.data(), bits.size());
                for (const uint32_t handler : {Mjpg, Ffv1, H264}) {
                    const auto candidate = vcm::FindCandidate(h, handler);
                    if (!candidate) continue;
                    SCOPED_TRACE(FourccText(handler) + " " + std::to_string(h.biWidth) + " x " +
                                 std::to_string(h.biHeight) + " x " + std::to_string(bitCount) +
                                 (againstEnd ? " against the end" : " against the start"));
                    std::vector<uint8_t> picture;
                    EXPECT_TRUE(
                        vcm::RoundTrip(*candidate, h, frame.data(), vcm::Settings{}, picture));
                    if (candidate->exact && bitCount == 24) {
                        EXPECT_EQ(picture, frames::Bgr(h, bits));
                    }
                }
                EXPECT_EQ(vcm::DibToBgr(h, frame.data()), frames::Bgr(h, bits));
            }
        }
    }
}

} // namespace
