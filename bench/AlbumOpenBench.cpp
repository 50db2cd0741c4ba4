// Opening and importing a 4000 x 3000 album entry, whole and step by step, so that the time of
// each step (reading the picture and the mask, the thumbnail, the main window's share) shows.
// The target for the whole open is under 1 s.
#include "MV_X/Album.h"
#include "MV_X/main.h"
#include "bench/BenchApp.h"
#include "common/BitmapUtils.h"
#include "common/PictureFile.h"
#include "platform/graphics/Bitmap.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

class TMainFormTestAccess {
public:
    static void UseAlbum(TMainForm& f, const TAlbum& album) { f.FAlbum = album; }
};

namespace {

constexpr int PictureWidth = 4000;
constexpr int PictureHeight = 3000;

// A temporary program folder with an album holding one entry of a 4000 x 3000 picture.
struct TBenchAlbum {
    std::string Dir;
    std::string Source;
    TAlbum Album;
    std::string Entry;

    TBenchAlbum() {
        Dir = (std::filesystem::temp_directory_path() /
               ("mv_album_bench_" + std::to_string(getpid())))
                  .string() +
              "/";
        std::filesystem::create_directories(Dir + "album");
        Album = TAlbum(Dir);
        Source = Dir + "photo.bmp";
        TBitmap picture;
        picture.SetPixelFormat(pf24bit);
        picture.SetSize(PictureWidth, PictureHeight);
        for (int y = 0; y < PictureHeight; ++y) {
            uint8_t* row = picture.ScanLine(y);
            for (int x = 0; x < PictureWidth * 3; ++x)
                row[x] = static_cast<uint8_t>(x * 7 ^ y * 3);
        }
        picture.SaveToFile(Source);
        TBitmap p, m;
        Entry = Album.Import(Source, p, m);
    }
    ~TBenchAlbum() { std::filesystem::remove_all(Dir); }
};

TBenchAlbum& BenchAlbum() {
    static TBenchAlbum album;
    return album;
}

// Times Read, which fills a picture and a mask as the step under test does.
template <class F>
void TimeReading(benchmark::State& state, F Read) {
    const TBenchAlbum& a = BenchAlbum();
    for (auto _ : state) {
        TBitmap picture, mask;
        Read(a, picture, mask);
        benchmark::DoNotOptimize(picture.Width() + mask.Width());
    }
}

void AlbumOpen(benchmark::State& state) {
    TimeReading(state, [](const TBenchAlbum& a, TBitmap& picture, TBitmap& mask) {
        a.Album.Open(a.Entry, picture, mask);
    });
}

void AlbumImport(benchmark::State& state) {
    TimeReading(state, [](const TBenchAlbum& a, TBitmap& picture, TBitmap& mask) {
        a.Album.Import(a.Source, picture, mask);
    });
}

// The main window's whole open: the album's reading and the window's copies and settings.
void WindowOpen(benchmark::State& state) {
    const TBenchAlbum& a = BenchAlbum();
    BenchApplication();
    auto form = std::make_unique<TMainForm>();
    TMainFormTestAccess::UseAlbum(*form, a.Album);
    for (auto _ : state)
        form->OpenAlbumImage(a.Entry);
}

// The steps on their own.
void ReadPicture(benchmark::State& state) {
    TimeReading(state, [](const TBenchAlbum& a, TBitmap& picture, TBitmap&) {
        LoadPictureFile(a.Album.PictureFile(a.Entry), picture);
    });
}

void ReadMask(benchmark::State& state) {
    TimeReading(state, [](const TBenchAlbum& a, TBitmap&, TBitmap& mask) {
        mask.LoadFromFile(a.Album.MaskFile(a.Entry));
    });
}

void Thumbnail(benchmark::State& state) {
    const TBenchAlbum& a = BenchAlbum();
    TBitmap picture;
    LoadPictureFile(a.Source, picture);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            ResampleBitmap(picture, TAlbum::ThumbnailSide, TAlbum::ThumbnailSide));
}

void WritePicture(benchmark::State& state) {
    const TBenchAlbum& a = BenchAlbum();
    TBitmap picture;
    LoadPictureFile(a.Source, picture);
    const std::string file = a.Dir + "copy.bmp";
    for (auto _ : state)
        picture.SaveToFile(file);
}

void CopyPicture(benchmark::State& state) {
    const TBenchAlbum& a = BenchAlbum();
    TBitmap picture;
    LoadPictureFile(a.Source, picture);
    for (auto _ : state) {
        TBitmap copy;
        copy.Assign(&picture);
        benchmark::DoNotOptimize(copy.ScanLine(0));
    }
}

constexpr int Repeats = 5;
BENCHMARK(AlbumOpen)->Iterations(Repeats)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WindowOpen)->Iterations(Repeats)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(AlbumImport)->Iterations(Repeats)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadPicture)->Iterations(Repeats)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadMask)->Iterations(Repeats)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Thumbnail)->Iterations(Repeats)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WritePicture)->Iterations(Repeats)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CopyPicture)->Iterations(Repeats)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
