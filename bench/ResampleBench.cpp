// ResampleBitmap beside pixman's separable convolution: a bilinear reconstruction averaged over
// a box the size of the destination pixel, the same surface and average as ours.
#include "PeerRatio.h"
#include "common/BitmapUtils.h"

#include <cstdlib>
#include <memory>
#include <pixman.h>
#include <random>
#include <vector>

namespace {

constexpr int SourceWidth = 1920, SourceHeight = 1080;

std::unique_ptr<TBitmap> Picture() {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(SourceWidth, SourceHeight);
    std::mt19937 random(1);
    for (int y = 0; y < SourceHeight; ++y) {
        uint8_t* row = bitmap->ScanLine(y);
        for (int i = 0; i < SourceWidth * 3; ++i)
            row[i] = static_cast<uint8_t>(random());
    }
    return bitmap;
}

const TBitmap& Source() {
    static const auto picture = Picture();
    return *picture;
}

void Ours(benchmark::State& state, int width, int height) {
    for (auto _ : state) {
        auto result = ResampleBitmap(Source(), width, height);
        benchmark::DoNotOptimize(result->ScanLine(0));
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}

// Frees pixman images and the filter parameters.
struct ImageUnref {
    void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};
using Image = std::unique_ptr<pixman_image_t, ImageUnref>;

// Pixman on the same 24-bit rows (r8g8b8 is blue, green, red in memory), or on a 32-bit copy,
// the format of its fastest paths. Either copy is made outside the timed loop.
void Pixman(benchmark::State& state, int width, int height, bool thirtyTwoBits) {
    const TBitmap& source = Source();
    std::vector<uint32_t> wide;
    Image src;
    if (thirtyTwoBits) {
        wide.resize(static_cast<size_t>(SourceWidth) * SourceHeight);
        for (int y = 0; y < SourceHeight; ++y) {
            const uint8_t* row = source.ScanLine(y);
            for (int x = 0; x < SourceWidth; ++x)
                wide[static_cast<size_t>(y) * SourceWidth + static_cast<size_t>(x)] =
                    row[3 * x] | row[3 * x + 1] << 8 | row[3 * x + 2] << 16;
        }
        src.reset(pixman_image_create_bits(PIXMAN_x8r8g8b8, SourceWidth, SourceHeight, wide.data(),
                                           SourceWidth * 4));
    } else {
        src.reset(pixman_image_create_bits(
            PIXMAN_r8g8b8, SourceWidth, SourceHeight,
            reinterpret_cast<uint32_t*>(const_cast<uint8_t*>(source.ScanLine(0))),
            source.RowBytes()));
    }
    const int destStride = thirtyTwoBits ? width * 4 : (width * 3 + 3) / 4 * 4;
    std::vector<uint32_t> destBits(static_cast<size_t>(destStride / 4) * height);
    const Image dest(pixman_image_create_bits(thirtyTwoBits ? PIXMAN_x8r8g8b8 : PIXMAN_r8g8b8,
                                              width, height, destBits.data(), destStride));

    const double sx = static_cast<double>(SourceWidth) / width;
    const double sy = static_cast<double>(SourceHeight) / height;
    pixman_transform_t transform;
    pixman_transform_init_scale(&transform, pixman_double_to_fixed(sx), pixman_double_to_fixed(sy));
    pixman_image_set_transform(src.get(), &transform);
    pixman_image_set_repeat(src.get(), PIXMAN_REPEAT_PAD);
    int count = 0;
    pixman_fixed_t* params = pixman_filter_create_separable_convolution(
        &count, pixman_double_to_fixed(sx), pixman_double_to_fixed(sy), PIXMAN_KERNEL_LINEAR,
        PIXMAN_KERNEL_LINEAR, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 4, 4);
    pixman_image_set_filter(src.get(), PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, count);
    std::free(params);

    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, src.get(), nullptr, dest.get(), 0, 0, 0, 0, 0, 0,
                                 width, height);
        benchmark::DoNotOptimize(destBits.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}

} // namespace

int main(int argc, char** argv) {
    for (const auto& [w, h] : {std::pair{640, 360}, {100, 100}}) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        benchmark::RegisterBenchmark(("ResampleBitmap/" + size).c_str(), Ours, w, h)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("pixman_r8g8b8/" + size).c_str(), Pixman, w, h, false)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("pixman_x8r8g8b8/" + size).c_str(), Pixman, w, h, true)
            ->Unit(benchmark::kMillisecond);
    }
    return peer_ratio::RunAndCompare(argc, argv,
                                     {{"resample/pixman r8g8b8 1920x1080->640x360",
                                       "ResampleBitmap/640x360", "pixman_r8g8b8/640x360"},
                                      {"resample/pixman x8r8g8b8 1920x1080->640x360",
                                       "ResampleBitmap/640x360", "pixman_x8r8g8b8/640x360"},
                                      {"resample/pixman r8g8b8 1920x1080->100x100",
                                       "ResampleBitmap/100x100", "pixman_r8g8b8/100x100"},
                                      {"resample/pixman x8r8g8b8 1920x1080->100x100",
                                       "ResampleBitmap/100x100", "pixman_x8r8g8b8/100x100"}});
}
