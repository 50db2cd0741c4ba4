// The movie maker headless: the scan of a folder of 10,000 frames and of an empty folder (target
// under 2 s each), and the movie loop per frame at 640 x 480 (load, fit, logo, write),
// uncompressed and MJPG, beside ffmpeg making an AVI of the same BMP frames with the same codec.
#include "MV_M/main.h"
#include "PeerRatio.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/WinBase.h"

#include <QCheckBox>
#include <QImage>
#include <QPushButton>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

namespace fs = std::filesystem;

class TMainFormTestAccess {
public:
    static Ui::TMainForm& Form(TMainForm& f) { return f.ui; }
};

namespace {

constexpr int ScanFrames = 10000;
constexpr int MovieFrames = 30;
constexpr int MovieWidth = 640, MovieHeight = 480;
constexpr uint32_t PlaceholderWaitMs = 3000;

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
    TMainForm form;
    for (auto _ : state)
        form.ScanFrameFolder(folder);
}

// The window makes one movie of the frames; the compressor dialog answers FourCC (0: none).
void Movie(benchmark::State& state, uint32_t fourCC) {
    const std::string target = Folder("movies") + "movie.avi";
    SetDialogAnswerer([&](const DialogRequest& r) {
        DialogAnswer a;
        a.modalResult = r.text.starts_with("現在作成した") ? mrNo : mrOk;
        a.accepted = true;
        a.fileName = target;
        a.fccHandler = fourCC;
        return a;
    });
    // The placeholder's wait is no work of the loop; the 1 ms per frame is.
    SetSleepOverride([](uint32_t ms) {
        if (ms != PlaceholderWaitMs) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    });
    TMainForm form;
    Ui::TMainForm& ui = TMainFormTestAccess::Form(form);
    form.ScanFrameFolder(MovieFolder());
    ui.CompressCheckBox->setChecked(fourCC != 0);
    ui.PreCompressCheckBox->setChecked(fourCC != 0);
    ui.LogoCheckBox->setChecked(true);
    for (auto _ : state)
        ui.MakeBitBtn->click();
    state.SetItemsProcessed(state.iterations() * MovieFrames);
    SetDialogAnswerer({});
    SetSleepOverride({});
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
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    app.Title = "Morvane M";
    SetMessageBeepOverride([](uint32_t) {});
    SetExeDirOverride(Folder("program"));
    const int result = peer_ratio::RunAndCompare(
        argc, argv,
        {{"movie loop, 30 frames of 640 x 480, uncompressed", "Movie/raw/iterations:3/real_time",
          "Ffmpeg/raw/iterations:3/real_time"},
         {"movie loop, 30 frames of 640 x 480, MJPG", "Movie/mjpg/iterations:3/real_time",
          "Ffmpeg/mjpg/iterations:3/real_time"}});
    fs::remove_all(fs::path(Folder("program")).parent_path().parent_path());
    return result;
}
