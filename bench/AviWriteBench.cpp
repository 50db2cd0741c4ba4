// Writing an uncompressed movie from numbered BMP frames: the AVI file services (each frame read
// from its file and written as one sample) against `ffmpeg -f image2 -i %04d.bmp -c:v rawvideo`.
// Copying a 300-frame uncompressed movie with AVIStreamCopy (the save without a compressor and
// the movie maker's rebuild) against `cp` and a plain read/write loop over the same file.
#include "bench/PeerRatio.h"
#include "platform/avi/AviFile.h"
#include "platform/graphics/Dib.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr int kFrames = 150;
constexpr int kCopyFrames = 300;
constexpr uint32_t kRate = 30;
constexpr size_t kFileHeaderSize = 14;
constexpr size_t kPixelOffset = kFileHeaderSize + sizeof(BITMAPINFOHEADER);
constexpr size_t kFrameBytes = static_cast<size_t>(kWidth) * kHeight * 3;

BITMAPINFOHEADER FrameHeader() {
    BITMAPINFOHEADER h;
    h.biWidth = kWidth;
    h.biHeight = kHeight;
    h.biBitCount = 24;
    return h;
}

AVISTREAMINFO VideoInfo() {
    AVISTREAMINFO info;
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = kRate;
    info.rcFrame = Rect(0, 0, kWidth, kHeight);
    return info;
}

std::string FrameName(const std::string& dir, int i) {
    char name[16];
    std::snprintf(name, sizeof name, "/%04d.bmp", i);
    return dir + name;
}

// Numbered 24-bit BMP files, each frame different.
void WriteFrames(const std::string& dir) {
    std::vector<char> file(kPixelOffset + kFrameBytes);
    const BITMAPINFOHEADER info = FrameHeader();
    // BITMAPFILEHEADER: "BM", bfSize, bfReserved1 and 2, bfOffBits.
    const uint32_t fields[3] = {static_cast<uint32_t>(file.size()), 0,
                                static_cast<uint32_t>(kPixelOffset)};
    std::memcpy(file.data(), "BM", 2);
    std::memcpy(file.data() + 2, fields, sizeof fields);
    std::memcpy(file.data() + kFileHeaderSize, &info, sizeof info);
    for (int i = 0; i < kFrames; ++i) {
        for (size_t p = 0; p < kFrameBytes; ++p)
            file[kPixelOffset + p] = static_cast<char>(p / 3 + i * 5);
        std::ofstream(FrameName(dir, i), std::ios::binary).write(file.data(), std::ssize(file));
    }
}

void Ours(benchmark::State& state, const std::string& dir) {
    const std::string path = dir + "/ours.avi";
    std::vector<char> frame(kPixelOffset + kFrameBytes);
    const BITMAPINFOHEADER format = FrameHeader();
    AVIFileInit();
    for (auto _ : state) {
        PAVIFILE file = nullptr;
        PAVISTREAM stream = nullptr;
        if (AVIFileOpen(&file, path, OF_WRITE | OF_CREATE) != AVIERR_OK ||
            AVIFileCreateStream(file, &stream, VideoInfo()) != AVIERR_OK ||
            AVIStreamSetFormat(stream, 0, &format, sizeof format) != AVIERR_OK) {
            state.SkipWithError("cannot create the movie");
            break;
        }
        for (int i = 0; i < kFrames; ++i) {
            std::ifstream(FrameName(dir, i), std::ios::binary)
                .read(frame.data(), std::ssize(frame));
            if (AVIStreamWrite(stream, i, 1, frame.data() + kPixelOffset, kFrameBytes,
                               AVIIF_KEYFRAME, nullptr, nullptr) != AVIERR_OK)
                state.SkipWithError("write failed");
        }
        AVIStreamRelease(stream);
        AVIFileRelease(file);
    }
    AVIFileExit();
    state.counters["fps"] =
        benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate);
}

void Ffmpeg(benchmark::State& state, const std::string& dir) {
    const std::string command = "ffmpeg -v error -y -f image2 -framerate 30 -i '" + dir +
                                "/%04d.bmp' -c:v rawvideo '" + dir + "/ffmpeg.avi'";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("ffmpeg failed");
    state.counters["fps"] =
        benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate);
}

// The movie the copies start from: 300 frames of 900 KB.
bool WriteCopySource(const std::string& path) {
    const BITMAPINFOHEADER format = FrameHeader();
    std::vector<char> frame(kFrameBytes);
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    bool ok = AVIFileOpen(&file, path, OF_WRITE | OF_CREATE) == AVIERR_OK &&
              AVIFileCreateStream(file, &stream, VideoInfo()) == AVIERR_OK &&
              AVIStreamSetFormat(stream, 0, &format, sizeof format) == AVIERR_OK;
    for (int i = 0; ok && i < kCopyFrames; ++i) {
        for (size_t p = 0; p < kFrameBytes; p += 97)
            frame[p] = static_cast<char>(p + i);
        ok = AVIStreamWrite(stream, i, 1, frame.data(), kFrameBytes, AVIIF_KEYFRAME, nullptr,
                            nullptr) == AVIERR_OK;
    }
    AVIStreamRelease(stream);
    ok = ok && AVIFileFinish(file) == AVIERR_OK;
    AVIFileRelease(file);
    return ok;
}

void Copy(benchmark::State& state, const std::string& dir) {
    for (auto _ : state) {
        PAVIFILE source = nullptr, target = nullptr;
        PAVISTREAM stream = nullptr;
        const bool ok =
            AVIFileOpen(&source, dir + "/source.avi", OF_READ) == AVIERR_OK &&
            AVIFileGetStream(source, &stream, streamtypeVIDEO, 0) == AVIERR_OK &&
            AVIFileOpen(&target, dir + "/copy.avi", OF_WRITE | OF_CREATE) == AVIERR_OK &&
            AVIStreamCopy(stream, target) == AVIERR_OK && AVIFileFinish(target) == AVIERR_OK;
        AVIStreamRelease(stream);
        AVIFileRelease(source);
        AVIFileRelease(target);
        if (!ok) state.SkipWithError("copy failed");
    }
    state.counters["fps"] =
        benchmark::Counter(kCopyFrames, benchmark::Counter::kIsIterationInvariantRate);
}

void Cp(benchmark::State& state, const std::string& dir) {
    const std::string command = "cp '" + dir + "/source.avi' '" + dir + "/cp.avi'";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("cp failed");
}

// What any program copying the bytes itself does at best: 1 MiB reads and writes.
void ReadWrite(benchmark::State& state, const std::string& dir) {
    std::vector<char> block(1 << 20);
    for (auto _ : state) {
        const int in = ::open((dir + "/source.avi").c_str(), O_RDONLY);
        const int out = ::open((dir + "/rw.avi").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        bool ok = in >= 0 && out >= 0;
        for (ssize_t n; ok && (n = ::read(in, block.data(), block.size())) > 0;)
            ok = ::write(out, block.data(), static_cast<size_t>(n)) == n;
        if (in >= 0) ::close(in);
        if (out >= 0) ::close(out);
        if (!ok) state.SkipWithError("read/write failed");
    }
}

const char* const OursName = "AVIStreamWrite 640x480 uncompressed";
const char* const CopyName = "AVIStreamCopy 300 frames 640x480";
const char* const CpName = "cp of the same file";
const char* const ReadWriteName = "read/write loop of the same file";
const char* const FfmpegName = "ffmpeg image2 to rawvideo";
// What the benchmark library appends to the names of runs with these settings.
const char* const kRunSuffix = "/iterations:5/real_time";

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("mv_bench_avi_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    WriteFrames(dir.string());
    // A movie of 150 frames (138 MB) takes a fraction of a second: a few runs each.
    benchmark::RegisterBenchmark(OursName, Ours, dir.string())
        ->Unit(benchmark::kMillisecond)
        ->Iterations(5)
        ->UseRealTime();
    benchmark::RegisterBenchmark(FfmpegName, Ffmpeg, dir.string())
        ->Unit(benchmark::kMillisecond)
        ->Iterations(5)
        ->UseRealTime();
    AVIFileInit();
    if (!WriteCopySource(dir.string() + "/source.avi")) {
        std::fprintf(stderr, "cannot write the movie to copy\n");
        return 1;
    }
    using Run = void (*)(benchmark::State&, const std::string&);
    for (const auto& [name, run] :
         {std::pair<const char*, Run>{CopyName, Copy}, std::pair<const char*, Run>{CpName, Cp},
          std::pair<const char*, Run>{ReadWriteName, ReadWrite}})
        benchmark::RegisterBenchmark(name, run, dir.string())
            ->Unit(benchmark::kMillisecond)
            ->Iterations(5)
            ->UseRealTime();
    const int result = peer_ratio::RunAndCompare(
        argc, argv,
        {{"uncompressed write", std::string(OursName) + kRunSuffix,
          std::string(FfmpegName) + kRunSuffix},
         {"stream copy against cp", std::string(CopyName) + kRunSuffix,
          std::string(CpName) + kRunSuffix},
         {"stream copy against read/write", std::string(CopyName) + kRunSuffix,
          std::string(ReadWriteName) + kRunSuffix}});
    AVIFileExit();
    std::filesystem::remove_all(dir);
    return result;
}
