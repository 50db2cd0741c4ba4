// PNG decoding throughput (bytes of 24-bit pixels made per second) of LoadPNGToBitmap beside
// libpng's simplified API (to BGR) and libspng (to RGB8), from files and from memory, on the
// photo corpus of bench/setup-photos and on PngSuite.
#include "PeerRatio.h"
#include "common/KRLPNG.h"
#include "common/Qmlib2002.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <png.h>
#include <spng.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Picture {
    std::string path;
    std::vector<uint8_t> bytes;
    int64_t pixelBytes = 0; // width x height x 3
};

using Corpus = std::vector<Picture>;

Corpus LoadCorpus(const fs::path& dir, bool skipCorrupt) {
    Corpus corpus;
    if (!fs::is_directory(dir)) return corpus;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".png") continue;
        if (skipCorrupt && entry.path().filename().string()[0] == 'x') continue;
        Picture p;
        p.path = entry.path().string();
        std::ifstream in(p.path, std::ios::binary);
        p.bytes.assign(std::istreambuf_iterator<char>(in), {});
        TBitmap bitmap;
        if (!LoadPNGToBitmap(p.path, bitmap)) continue;
        p.pixelBytes = int64_t{bitmap.Width()} * bitmap.Height() * 3;
        corpus.push_back(std::move(p));
    }
    std::sort(corpus.begin(), corpus.end(),
              [](const Picture& a, const Picture& b) { return a.path < b.path; });
    return corpus;
}

int64_t PixelBytes(const Corpus& corpus) {
    int64_t total = 0;
    for (const Picture& p : corpus)
        total += p.pixelBytes;
    return total;
}

// ---------------------------------------------------------------- ours

void OursFile(benchmark::State& state, const Corpus* corpus) {
    for (auto _ : state)
        for (const Picture& p : *corpus) {
            TBitmap bitmap;
            if (!LoadPNGToBitmap(p.path, bitmap)) state.SkipWithError("load failed");
            benchmark::DoNotOptimize(bitmap.ScanLine(0));
        }
    state.SetBytesProcessed(state.iterations() * PixelBytes(*corpus));
}

// As LoadPNGToBitmap does, but from a memory stream read in place.
void OursMemory(benchmark::State& state, const Corpus* corpus) {
    std::vector<std::unique_ptr<TMemoryStream>> streams;
    for (const Picture& p : *corpus) {
        streams.push_back(std::make_unique<TMemoryStream>());
        streams.back()->WriteBuffer(p.bytes.data(), static_cast<int64_t>(p.bytes.size()));
    }
    for (auto _ : state)
        for (const auto& stream : streams) {
            stream->SetPosition(0);
            TKRLPNG png;
            png.LoadFromStream(*stream);
            png.ImageBitmap().SetPixelFormat(pf24bit);
            TBitmap bitmap;
            bitmap.Assign(&png);
            benchmark::DoNotOptimize(bitmap.ScanLine(0));
        }
    state.SetBytesProcessed(state.iterations() * PixelBytes(*corpus));
}

// ---------------------------------------------------------------- libpng

bool FinishLibpng(png_image& image) {
    image.format = PNG_FORMAT_BGR;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    const bool ok = png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) != 0;
    benchmark::DoNotOptimize(pixels.data());
    return ok;
}

void LibpngFile(benchmark::State& state, const Corpus* corpus) {
    for (auto _ : state)
        for (const Picture& p : *corpus) {
            png_image image{};
            image.version = PNG_IMAGE_VERSION;
            if (png_image_begin_read_from_file(&image, p.path.c_str()) == 0 || !FinishLibpng(image))
                state.SkipWithError("libpng failed");
        }
    state.SetBytesProcessed(state.iterations() * PixelBytes(*corpus));
}

void LibpngMemory(benchmark::State& state, const Corpus* corpus) {
    for (auto _ : state)
        for (const Picture& p : *corpus) {
            png_image image{};
            image.version = PNG_IMAGE_VERSION;
            if (png_image_begin_read_from_memory(&image, p.bytes.data(), p.bytes.size()) == 0 ||
                !FinishLibpng(image))
                state.SkipWithError("libpng failed");
        }
    state.SetBytesProcessed(state.iterations() * PixelBytes(*corpus));
}

// ---------------------------------------------------------------- libspng

bool FinishSpng(spng_ctx* ctx) {
    size_t size = 0;
    bool ok = spng_decoded_image_size(ctx, SPNG_FMT_RGB8, &size) == 0;
    if (ok) {
        std::vector<uint8_t> pixels(size);
        ok = spng_decode_image(ctx, pixels.data(), size, SPNG_FMT_RGB8, 0) == 0;
        benchmark::DoNotOptimize(pixels.data());
    }
    spng_ctx_free(ctx);
    return ok;
}

void SpngFile(benchmark::State& state, const Corpus* corpus) {
    for (auto _ : state)
        for (const Picture& p : *corpus) {
            FILE* file = std::fopen(p.path.c_str(), "rb");
            spng_ctx* ctx = spng_ctx_new(0);
            const bool ok = file != nullptr && spng_set_png_file(ctx, file) == 0 && FinishSpng(ctx);
            if (file != nullptr) std::fclose(file);
            if (!ok) state.SkipWithError("libspng failed");
        }
    state.SetBytesProcessed(state.iterations() * PixelBytes(*corpus));
}

void SpngMemory(benchmark::State& state, const Corpus* corpus) {
    for (auto _ : state)
        for (const Picture& p : *corpus) {
            spng_ctx* ctx = spng_ctx_new(0);
            if (spng_set_png_buffer(ctx, p.bytes.data(), p.bytes.size()) != 0 || !FinishSpng(ctx))
                state.SkipWithError("libspng failed");
        }
    state.SetBytesProcessed(state.iterations() * PixelBytes(*corpus));
}

void Register(const std::string& corpusName, const Corpus* corpus,
              std::vector<peer_ratio::Pair>& pairs) {
    if (corpus->empty()) {
        std::printf("no %s corpus: skipped\n", corpusName.c_str());
        return;
    }
    std::printf("%s: %zu files, %.1f MB of pixels\n", corpusName.c_str(), corpus->size(),
                static_cast<double>(PixelBytes(*corpus)) / 1e6);
    for (const char* source : {"file", "memory"}) {
        const bool file = std::string(source) == "file";
        const std::string suffix = "/" + corpusName + "/" + source;
        benchmark::RegisterBenchmark(("LoadPNGToBitmap" + suffix).c_str(),
                                     file ? OursFile : OursMemory, corpus)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("libpng" + suffix).c_str(), file ? LibpngFile : LibpngMemory,
                                     corpus)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("libspng" + suffix).c_str(), file ? SpngFile : SpngMemory,
                                     corpus)
            ->Unit(benchmark::kMillisecond);
        for (const char* peer : {"libpng", "libspng"})
            pairs.push_back(
                {std::string(peer) + suffix, "LoadPNGToBitmap" + suffix, peer + suffix});
    }
}

} // namespace

int main(int argc, char** argv) {
    const Corpus photos = LoadCorpus(MV_BENCH_PHOTOS_DIR, false);
    const Corpus suite = LoadCorpus(fs::path(MV_TESTDATA_DIR) / "pngsuite" / "png", true);
    std::vector<peer_ratio::Pair> pairs;
    Register("photos", &photos, pairs);
    Register("pngsuite", &suite, pairs);
    return peer_ratio::RunAndCompare(argc, argv, pairs);
}
