// The movie maker's work without its window: the scan of a folder of 10,000 frames and of an
// empty folder (target under 2 s each), and the movie job per frame at 640 x 480 (load, fit,
// logo, write, then close and rebuild), uncompressed and MJPG, beside ffmpeg making an AVI of the
// same BMP frames with the same codec.
#include "MV_M/JxAvi.h"
#include "MV_M/MovieJob.h"
#include "PeerRatio.h"
#include "platform/forms/Dialogs.h"
#include "platform/rtl/SysUtils.h"

#include <QImage>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr int ScanFrames = 10000;
constexpr int MovieFrames = 30;
constexpr int MovieWidth = 640, MovieHeight = 480;
// The loop's wait before each frame, as the window makes it.
constexpr auto FrameWait = std::chrono::milliseconds(1);

std::string Folder(const std::string& name) {
    static const std::string root = [] {
        char pattern[] = "/tmp/mvm_bench_XXXXXX";
        return std::string(::mkdtemp(pattern)) + "/";
    }();
    const std::string folder = root + name + "/";
    fs::create_directories(folder);
    return folder;
}

// A frame of smooth colour with some noise, written as a 24-bit BMP file.
void SaveFrame(const std::string& fileName, int w, int h, unsigned seed) {
    QImage image(w, h, QImage::Format_RGB888);
    std::mt19937 random(seed);
    for (int y = 0; y < h; ++y) {
        uchar* row = image.scanLine(y);
        for (int i = 0; i < 3 * w; ++i)
            row[i] = static_cast<uchar>((i / 3 + y + (random() & 15)) & 0xFF);
    }
    image.save(QString::fromStdString(fileName), "BMP");
}

// 10,000 frames: the first a real picture, the others empty files (only the first is loaded).
const std::string& ScanFolder() {
    static const std::string folder = [] {
        const std::string f = Folder("scan");
        SaveFrame(f + "0000.bmp", 64, 48, 1);
        for (int n = 1; n < ScanFrames; ++n)
            std::fclose(std::fopen((f + Format("%.4d", n) + ".bmp").c_str(), "wb"));
        return f;
    }();
    return folder;
}

const std::string& MovieFolder() {
    static const std::string folder = [] {
        const std::string f = Folder("frames");
        for (int n = 0; n < MovieFrames; ++n)
            SaveFrame(f + Format("%.4d", n) + ".bmp", MovieWidth, MovieHeight,
                      static_cast<unsigned>(n));
        return f;
    }();
    return folder;
}

void Scan(benchmark::State& state, bool empty) {
    const std::string folder = empty ? Folder("empty") : ScanFolder();
    TMovieJob job;
    for (auto _ : state)
        job.ScanFrameFolder(folder, {});
}

// The window's part of the loop: the wait before each frame.
class WaitingEvents final : public TMovieEvents {
public:
    void BetweenFrames() override { std::this_thread::sleep_for(FrameWait); }
    bool StopRequested() override { return false; }
    void FrameLoaded(int /*Index*/) override {}
    void FrameWritten(int /*Index*/, int /*Count*/) override {}
};

// One movie of the frames with the logo; the compressor dialog answers FourCC (0: none).
void Movie(benchmark::State& state, uint32_t fourCC) {
    SetDialogAnswerer([&](const DialogRequest&) {
        DialogAnswer a;
        a.modalResult = mrOk;
        a.accepted = true;
        a.fccHandler = fourCC;
        return a;
    });
    TMovieJob job;
    job.ScanFrameFolder(MovieFolder(), {});
    job.Logo().LoadFromFile(MV_SOURCE_DIR "/assets/avi_logo.bmp");
    job.Logo().SetPixelFormat(pf24bit);
    TJxAvi writer;
    writer.SetFileName(Folder("movies") + "movie.avi");
    writer.SetWidth(MovieWidth);
    writer.SetHeight(MovieHeight);
    writer.SetBitDepth(24);
    writer.SetCompress(fourCC != 0);
    writer.SetPreCompress(fourCC != 0);
    const TMovieSettings settings{.Size = {MovieWidth, MovieHeight}, .Logo = true};
    WaitingEvents events;
    for (auto _ : state) {
        if (!writer.Open()) {
            state.SkipWithError("the movie could not be opened");
            break;
        }
        job.Run(settings, writer, events);
        writer.Close();
        writer.Rebuild(-1);
    }
    state.SetItemsProcessed(state.iterations() * MovieFrames);
    SetDialogAnswerer({});
}

void Ffmpeg(benchmark::State& state, const char* codec) {
    const std::string target = Folder("movies") + "ffmpeg.avi";
    const std::string command = "ffmpeg -y -loglevel error -framerate 30 -i '" + MovieFolder() +
                                "%04d.bmp' -c:v " + codec + " '" + target + "'";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("ffmpeg failed");
    state.SetItemsProcessed(state.iterations() * MovieFrames);
}

BENCHMARK_CAPTURE(Scan, frames10000, false)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(Scan, empty, true)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK_CAPTURE(Movie, raw, 0u)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK_CAPTURE(Ffmpeg, raw, "rawvideo")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(Movie, mjpg, TJxAvi::MakeFourCC('M', 'J', 'P', 'G'))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(Ffmpeg, mjpg, "mjpeg")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    const int result = peer_ratio::RunAndCompare(
        argc, argv,
        {{"movie loop, 30 frames of 640 x 480, uncompressed", "Movie/raw/iterations:3/real_time",
          "Ffmpeg/raw/iterations:3/real_time"},
         {"movie loop, 30 frames of 640 x 480, MJPG", "Movie/mjpg/iterations:3/real_time",
          "Ffmpeg/mjpg/iterations:3/real_time"}});
    fs::remove_all(fs::path(Folder("movies")).parent_path().parent_path());
    return result;
}
