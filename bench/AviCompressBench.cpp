// MJPG movies of 640 x 480 frames: through ICSeqCompressFrame into an AVI file written by the
// AVI file services, beside ffmpeg's own mjpeg encoder writing the same frames into an AVI file
// at the same quantiser, both on one thread. Prints frames per second and the ratio. Then every
// compressor the dialog offers at its default settings: frames per second and bytes a frame.
#include "PeerRatio.h"
#include "platform/avi/AviFile.h"
#include "platform/vcm/Vcm.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int Width = 640, Height = 480, Frames = 60;
constexpr int Loops =
    4; // each movie is the frames four times over, so that ffmpeg's start-up weighs little
constexpr int MovieFrames = Frames * Loops;
constexpr int Stride = (Width * 3 + 3) / 4 * 4;
constexpr uint32_t Rate = 30;
constexpr int32_t Quality = 9000; // the manager's quantiser 1 + 30 x 1000 / 10000 = 4
constexpr int Qscale = 4;         // ffmpeg's -q:v for the same

using Frame = std::vector<uint8_t>;

// A gradient with a moving disc and some grain, bottom-up rows as the movie maker hands them.
std::vector<Frame> MakeFrames() {
    std::vector<Frame> frames;
    uint32_t seed = 1;
    for (int i = 0; i < Frames; ++i) {
        Frame f(static_cast<size_t>(Stride) * Height);
        const int cx = 100 + i * 7, cy = 240;
        for (int y = 0; y < Height; ++y) {
            uint8_t* row = f.data() + static_cast<size_t>(Height - 1 - y) * Stride;
            for (int x = 0; x < Width; ++x) {
                seed = seed * 1103515245 + 12345;
                const int grain = static_cast<int>(seed >> 28);
                const bool disc = (x - cx) * (x - cx) + (y - cy) * (y - cy) < 80 * 80;
                row[x * 3] = static_cast<uint8_t>(disc ? 230 : x * 200 / Width + grain);
                row[x * 3 + 1] = static_cast<uint8_t>(disc ? 60 : y * 200 / Height + grain);
                row[x * 3 + 2] = static_cast<uint8_t>(disc ? 40 : (x + y) / 6 + grain);
            }
        }
        frames.push_back(std::move(f));
    }
    return frames;
}

const std::vector<Frame>& TestFrames() {
    static const std::vector<Frame> frames = MakeFrames();
    return frames;
}

fs::path WorkDir() {
    static const fs::path dir = [] {
        const fs::path d = fs::temp_directory_path() / "mv_bench_avi_compress";
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

// The same frames top-down without padding, as ffmpeg reads raw bgr24.
fs::path RawFrames() {
    static const fs::path path = [] {
        const fs::path p = WorkDir() / "frames.bgr";
        std::ofstream out(p, std::ios::binary);
        for (const Frame& f : TestFrames())
            for (int y = Height - 1; y >= 0; --y)
                out.write(reinterpret_cast<const char*>(f.data()) +
                              static_cast<ptrdiff_t>(y) * Stride,
                          Width * 3);
        return p;
    }();
    return path;
}

constexpr BITMAPINFOHEADER FrameHeader{.biWidth = Width, .biHeight = Height, .biBitCount = 24};

// One movie: the frames compressed as the movie maker compresses them while writing.
bool WriteOurs(const std::string& path) {
    const BITMAPINFOHEADER input = FrameHeader;
    COMPVARS cv;
    cv.dwFlags = ICMF_COMPVARS_VALID;
    cv.fccHandler = mmioFOURCC('M', 'J', 'P', 'G');
    cv.lQ = Quality;
    if (!ICSeqCompressFrameStart(&cv, &input)) return false;
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    bool ok = AVIFileOpen(&file, path, OF_WRITE | OF_CREATE) == AVIERR_OK;
    AVISTREAMINFO info;
    info.fccType = streamtypeVIDEO;
    info.fccHandler = cv.fccHandler;
    info.dwScale = 1;
    info.dwRate = Rate;
    info.rcFrame = Rect(0, 0, Width, Height);
    ok = ok && AVIFileCreateStream(file, &stream, info) == AVIERR_OK &&
         AVIStreamSetFormat(stream, 0, cv.lpbiOut, static_cast<int32_t>(cv.lpbiOut->biSize)) ==
             AVIERR_OK;
    for (int i = 0; ok && i < MovieFrames; ++i) {
        bool key = false;
        int32_t size = 0;
        const void* data = ICSeqCompressFrame(&cv, 0, TestFrames()[i % Frames].data(), &key, &size);
        ok = data != nullptr && AVIStreamWrite(stream, i, 1, data, size, key ? AVIIF_KEYFRAME : 0,
                                               nullptr, nullptr) == AVIERR_OK;
    }
    if (stream) AVIStreamRelease(stream);
    if (file) AVIFileRelease(file);
    ICSeqCompressFrameEnd(&cv);
    ICCompressorFree(&cv);
    return ok;
}

void Ours(benchmark::State& state) {
    const std::string path = (WorkDir() / "ours.avi").string();
    for (auto _ : state)
        if (!WriteOurs(path)) state.SkipWithError("compression failed");
    state.counters["fps"] = benchmark::Counter(static_cast<double>(Frames),
                                               benchmark::Counter::kIsIterationInvariantRate);
}

void Ffmpeg(benchmark::State& state) {
    const std::string command = "ffmpeg -v error -y -f rawvideo -pix_fmt bgr24 -s " +
                                std::to_string(Width) + "x" + std::to_string(Height) + " -r " +
                                std::to_string(Rate) + " -stream_loop " +
                                std::to_string(Loops - 1) + " -i '" + RawFrames().string() +
                                "' -threads 1 -c:v mjpeg -q:v " + std::to_string(Qscale) + " '" +
                                (WorkDir() / "ffmpeg.avi").string() + "'";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("ffmpeg failed");
    state.counters["fps"] = benchmark::Counter(static_cast<double>(Frames),
                                               benchmark::Counter::kIsIterationInvariantRate);
}

// Every offered compressor as the dialog leaves it (default quality), one sequence per run.
constexpr int SequenceFrames = 30;

void Compressor(benchmark::State& state, FOURCC handler) {
    const BITMAPINFOHEADER input = FrameHeader;
    double bytes = 0;
    for (auto _ : state) {
        COMPVARS cv;
        cv.dwFlags = ICMF_COMPVARS_VALID;
        cv.fccHandler = handler;
        cv.lQ = ICQUALITY_DEFAULT;
        if (!ICSeqCompressFrameStart(&cv, &input)) {
            state.SkipWithError("cannot start");
            break;
        }
        bytes = 0;
        for (int i = 0; i < SequenceFrames; ++i) {
            bool key = false;
            int32_t size = 0;
            if (ICSeqCompressFrame(&cv, 0, TestFrames()[i].data(), &key, &size) == nullptr) {
                state.SkipWithError("compression failed");
                break;
            }
            bytes += size;
        }
        ICSeqCompressFrameEnd(&cv);
        ICCompressorFree(&cv);
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(SequenceFrames),
                                               benchmark::Counter::kIsIterationInvariantRate);
    state.counters["KB/frame"] = bytes / SequenceFrames / 1024;
}

void RegisterCompressors() {
    for (const TCompressorInfo& info : ICCompressorList(FrameHeader)) {
        const char code[] = {
            static_cast<char>(info.fccHandler), static_cast<char>(info.fccHandler >> 8),
            static_cast<char>(info.fccHandler >> 16), static_cast<char>(info.fccHandler >> 24)};
        const std::string name =
            "compressor_640x480/" + std::string(code, sizeof code) + "/" + info.encoderName;
        benchmark::RegisterBenchmark(name.c_str(), Compressor, info.fccHandler)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(1);
    }
}

} // namespace

BENCHMARK(Ours)->Name("mjpg_640x480/ours")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Ffmpeg)->Name("mjpg_640x480/ffmpeg")->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    RawFrames();
    // The compressor list is built once per run; not part of what is measured.
    RegisterCompressors();
    const int result = peer_ratio::RunAndCompare(
        argc, argv,
        {{"MJPG 640x480 q4", "mjpg_640x480/ours/real_time", "mjpg_640x480/ffmpeg/real_time"}});
    std::printf("ffprobe of both movies:\n");
    std::fflush(stdout);
    for (const char* name : {"ours.avi", "ffmpeg.avi"})
        std::system(("ffprobe -v error -count_packets -show_entries "
                     "stream=codec_tag_string,pix_fmt,nb_read_packets -of compact=p=0 '" +
                     (WorkDir() / name).string() + "'")
                        .c_str());
    fs::remove_all(WorkDir());
    return result;
}
