// BlendBitmap24 of a drop-sized sprite and of a whole picture, beside memcpy of as many bytes.
#include "PeerRatio.h"
#include "common/Qmlib2002.h"

#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

std::unique_ptr<TBitmap> Noise(int width, int height, uint32_t seed) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(width, height);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap->ScanLine(y);
        for (int i = 0; i < width * 3; ++i)
            row[i] = static_cast<uint8_t>(random());
    }
    return bitmap;
}

// In place, as the player draws its drops and its logo.
void Blend(benchmark::State& state, int width, int height) {
    const auto base = Noise(640, 480, 1);
    const auto overlay = Noise(width, height, 2);
    const int x = (640 - width) / 2, y = (480 - height) / 2;
    for (auto _ : state) {
        BlendBitmap24(x, y, *base, *base, *overlay, 100);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * width * height * 3);
}

void Memcpy(benchmark::State& state, int width, int height) {
    const auto bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
    std::vector<uint8_t> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

} // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("BlendBitmap24/32x32", Blend, 32, 32);
    benchmark::RegisterBenchmark("memcpy/32x32", Memcpy, 32, 32);
    benchmark::RegisterBenchmark("BlendBitmap24/640x480", Blend, 640, 480);
    benchmark::RegisterBenchmark("memcpy/640x480", Memcpy, 640, 480);
    return peer_ratio::RunAndCompare(
        argc, argv,
        {{"blend/memcpy 32x32", "BlendBitmap24/32x32", "memcpy/32x32"},
         {"blend/memcpy 640x480", "BlendBitmap24/640x480", "memcpy/640x480"}});
}
