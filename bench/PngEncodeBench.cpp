// PNG encoding speed and output size of TKRLPNG::SaveToStream, with the picture's default
// filter mode (1, None) and with the adaptive choice (0), beside libpng's default settings
// (the same zlib and level, libpng's own filter heuristic), on the photo corpus of
// bench/setup-photos.
#include "PeerRatio.h"
#include "common/KRLPNG.h"
#include "common/Qmlib2002.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <png.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Photo {
    std::string name;
    std::unique_ptr<TBitmap> bitmap; // 24 bits
};

using Corpus = std::vector<Photo>;

Corpus LoadCorpus(const fs::path& dir) {
    Corpus corpus;
    if (!fs::is_directory(dir)) return corpus;
    std::vector<fs::path> paths;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".png") paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    for (const fs::path& path : paths) {
        auto bitmap = std::make_unique<TBitmap>();
        if (LoadPNGToBitmap(path.string(), *bitmap))
            corpus.push_back({path.filename().string(), std::move(bitmap)});
    }
    return corpus;
}

int64_t PixelBytes(const Corpus& corpus) {
    int64_t total = 0;
    for (const Photo& p : corpus)
        total += int64_t{p.bitmap->Width()} * p.bitmap->Height() * 3;
    return total;
}

// Bytes written by each benchmark over the whole corpus, from its last iteration.
std::map<std::string, int64_t>& OutputSizes() {
    static std::map<std::string, int64_t> sizes;
    return sizes;
}

void Ours(benchmark::State& state, const char* name, const Corpus* corpus, uint8_t filterMode) {
    int64_t written = 0;
    for (auto _ : state) {
        written = 0;
        for (const Photo& p : *corpus) {
            TKRLPNG png;
            png.FilterMode = filterMode;
            png.SetImageBitmap(p.bitmap.get());
            TMemoryStream out;
            png.SaveToStream(out);
            written += out.Size();
            benchmark::DoNotOptimize(out.Memory());
        }
    }
    OutputSizes()[name] = written;
    state.SetBytesProcessed(state.iterations() * PixelBytes(*corpus));
}

void AppendToVector(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void FlushNothing(png_structp) {}

// libpng's defaults: zlib's default level, every filter tried by libpng's heuristic.
bool LibpngWrite(const TBitmap& bitmap, std::vector<uint8_t>& out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows(static_cast<size_t>(bitmap.Height()));
    for (int y = 0; y < bitmap.Height(); ++y)
        rows[static_cast<size_t>(y)] = const_cast<png_bytep>(bitmap.ScanLine(y));
    bool ok = false;
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_set_write_fn(png, &out, AppendToVector, FlushNothing);
        png_set_IHDR(png, info, static_cast<png_uint_32>(bitmap.Width()),
                     static_cast<png_uint_32>(bitmap.Height()), 8, PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        png_set_bgr(png);
        png_write_image(png, rows.data());
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    return ok;
}

void Libpng(benchmark::State& state, const char* name, const Corpus* corpus) {
    int64_t written = 0;
    for (auto _ : state) {
        written = 0;
        for (const Photo& p : *corpus) {
            std::vector<uint8_t> out;
            if (!LibpngWrite(*p.bitmap, out)) state.SkipWithError("libpng failed");
            written += static_cast<int64_t>(out.size());
            benchmark::DoNotOptimize(out.data());
        }
    }
    OutputSizes()[name] = written;
    state.SetBytesProcessed(state.iterations() * PixelBytes(*corpus));
}

const char* const LibpngName = "libpng default";
const char* const NoneName = "SaveToStream FilterMode 1";
const char* const AdaptiveName = "SaveToStream FilterMode 0";

void PrintSizes() {
    const auto& sizes = OutputSizes();
    const auto peer = sizes.find(LibpngName);
    if (peer == sizes.end() || peer->second == 0) return;
    for (const char* name : {NoneName, AdaptiveName}) {
        const auto ours = sizes.find(name);
        if (ours == sizes.end()) continue;
        std::printf("size %s: %.3f of libpng (ours %.1f MB, libpng %.1f MB)\n", name,
                    static_cast<double>(ours->second) / static_cast<double>(peer->second),
                    static_cast<double>(ours->second) / 1e6,
                    static_cast<double>(peer->second) / 1e6);
    }
}

} // namespace

int main(int argc, char** argv) {
    const Corpus photos = LoadCorpus(MV_BENCH_PHOTOS_DIR);
    if (photos.empty()) {
        std::printf("no photo corpus in %s: run bench/setup-photos first\n", MV_BENCH_PHOTOS_DIR);
        return 0;
    }
    std::printf("photos: %zu files, %.1f MB of pixels\n", photos.size(),
                static_cast<double>(PixelBytes(photos)) / 1e6);
    // One pass over the corpus takes seconds, so each runs once or twice.
    benchmark::RegisterBenchmark(NoneName, Ours, NoneName, &photos, uint8_t{1})
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(AdaptiveName, Ours, AdaptiveName, &photos, uint8_t{0})
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(LibpngName, Libpng, LibpngName, &photos)
        ->Unit(benchmark::kMillisecond);
    const int result =
        peer_ratio::RunAndCompare(argc, argv,
                                  {{"FilterMode 1 speed", NoneName, LibpngName},
                                   {"FilterMode 0 speed", AdaptiveName, LibpngName}});
    PrintSizes();
    return result;
}
