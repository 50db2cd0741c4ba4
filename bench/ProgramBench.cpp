// The whole movie maker as a user runs it: the real mv_m, copied into a program folder of its own
// and played headless by the test input plugin (tests/MV_M/driver/), turns 300 numbered 640 x 480
// BMP frames into an uncompressed and an MJPG movie, beside ffmpeg making the same movies from the
// same frames. Also the listing of a 10,000-frame folder dropped on the window. Each run is
// measured from the outside (wall time, and CPU time and page faults from the child's rusage);
// the medians of three runs are printed beside the targets, which are not enforced.
//   bench_program [work folder]   (default: a fresh folder in the system temp folder, removed)
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int Width = 640, Height = 480;
constexpr int MovieFrames = 300;
constexpr int ScanFrames = 10000;
constexpr int Runs = 3;
// The program keeps an empty file at the target this long before the movie starts.
constexpr double PlaceholderSeconds = 3.0;
// The compressor dialog accepted untouched is quality 75, an MJPEG quantiser of 8.
constexpr const char* FfmpegQuantiser = "8";

constexpr double RatioTarget = 2.5;
constexpr long FaultTarget = 30000;
constexpr double ScanTarget = 0.5;

struct Usage {
    int status = -1;
    double wall = 0;
    double cpu = 0;
    long faults = 0;
};

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Runs a program to its end with the given variables added to the environment, its output into
// files; the child's own resource use comes from wait4.
Usage Run(const std::vector<std::string>& argv, const std::vector<std::string>& variables,
          const std::string& output) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const bool replaced = std::any_of(variables.begin(), variables.end(), [&](auto& v) {
            return entry.compare(0, v.find('=') + 1, v, 0, v.find('=') + 1) == 0;
        });
        if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), variables.begin(), variables.end());
    auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> list;
        for (std::string& s : strings)
            list.push_back(s.data());
        list.push_back(nullptr);
        return list;
    };
    std::vector<std::string> args = argv;
    std::vector<char*> argp = pointers(args), envp = pointers(env);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    Usage usage;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argp[0], &files, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0) return usage;
    rusage used{};
    if (wait4(pid, &usage.status, 0, &used) != pid) return usage;
    usage.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    usage.cpu = Seconds(used.ru_utime) + Seconds(used.ru_stime);
    usage.faults = used.ru_minflt + used.ru_majflt;
    return usage;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string FrameName(int i) {
    std::array<char, 16> name{};
    std::snprintf(name.data(), name.size(), "%04d.bmp", i);
    return name.data();
}

// A 24-bit bottom-up BMP file of the given pixel rows.
std::vector<char> BmpFile(int w, int h, const std::vector<uint8_t>& pixels) {
    constexpr uint32_t FileHeader = 14, InfoHeader = 40;
    const uint32_t stride = (static_cast<uint32_t>(w) * 3 + 3) / 4 * 4;
    const uint32_t size = FileHeader + InfoHeader + stride * static_cast<uint32_t>(h);
    std::vector<char> file(size);
    auto put = [&](size_t at, uint32_t value, int bytes) {
        for (int b = 0; b < bytes; ++b)
            file[at + static_cast<size_t>(b)] = static_cast<char>(value >> (8 * b));
    };
    file[0] = 'B';
    file[1] = 'M';
    put(2, size, 4);
    put(10, FileHeader + InfoHeader, 4);
    put(14, InfoHeader, 4);
    put(18, static_cast<uint32_t>(w), 4);
    put(22, static_cast<uint32_t>(h), 4);
    put(26, 1, 2);
    put(28, 24, 2);
    for (int y = 0; y < h; ++y)
        std::memcpy(file.data() + FileHeader + InfoHeader + stride * static_cast<uint32_t>(y),
                    pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * 3,
                    static_cast<size_t>(w) * 3);
    return file;
}

// A gradient that moves a few pixels a frame, with noise: what a camera gives, not a flat
// picture a compressor makes nothing of. The same every run.
void WriteMovieFrames(const fs::path& folder) {
    uint32_t seed = 12345;
    std::vector<uint8_t> pixels(static_cast<size_t>(Width) * Height * 3);
    for (int i = 0; i < MovieFrames; ++i) {
        size_t p = 0;
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x) {
                seed = seed * 1664525u + 1013904223u;
                const int noise = static_cast<int>(seed >> 28) - 8;
                const int shift = x + 4 * i;
                pixels[p++] = static_cast<uint8_t>(std::clamp((shift & 255) + noise, 0, 255));
                pixels[p++] = static_cast<uint8_t>(std::clamp((y + 2 * i) % 256 + noise, 0, 255));
                pixels[p++] = static_cast<uint8_t>(std::clamp(((shift + y) / 2) % 256, 0, 255));
            }
        const std::vector<char> file = BmpFile(Width, Height, pixels);
        std::ofstream(folder / FrameName(i), std::ios::binary)
            .write(file.data(), static_cast<std::streamsize>(file.size()));
    }
}

// One small frame under every number: hard links, so the folder costs one file of disk.
void WriteScanFrames(const fs::path& folder) {
    const std::vector<char> file = BmpFile(8, 6, std::vector<uint8_t>(8 * 6 * 3, 0x80));
    std::ofstream(folder / FrameName(0), std::ios::binary)
        .write(file.data(), static_cast<std::streamsize>(file.size()));
    for (int i = 1; i < ScanFrames; ++i)
        fs::create_hard_link(folder / FrameName(0), folder / FrameName(i));
}

struct Program {
    fs::path dir;
    // mv_m with one driver task; the driver's log is left in Log.
    Usage Drive(const std::string& task, std::string& log) const {
        fs::remove(dir / "driver.log");
        const Usage usage =
            Run({(dir / "mv_m").string()},
                {"QT_QPA_PLATFORM=offscreen", std::string("QT_PLUGIN_PATH=") + MV_DRIVER_PLUGINS,
                 "QT_QPA_GENERIC_PLUGINS=mvmdriver:" + task},
                (dir / "output.log").string());
        log = ReadText(dir / "driver.log");
        return usage;
    }
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds the driver logged between two "clock:" events; negative when missing.
double ClockSpan(const std::string& log, const std::string& from, const std::string& to) {
    auto at = [&](const std::string& event) -> std::optional<double> {
        const size_t p = log.find("clock: " + event + " ");
        if (p == std::string::npos) return std::nullopt;
        return std::stod(log.substr(p + 8 + event.size()));
    };
    const auto a = at(from), b = at(to);
    return a && b ? *b - *a : -1;
}

bool Succeeded(const Usage& u) {
    return WIFEXITED(u.status) && WEXITSTATUS(u.status) == 0;
}

// One movie kind: mv_m and ffmpeg on the same frames, three times each; false on a failed run.
bool CompareMovies(const Program& program, const fs::path& frames, const char* label,
                   const std::string& codec, const std::vector<std::string>& ffmpegCodec) {
    std::printf("\n%s movie, %d frames %dx%d\n", label, MovieFrames, Width, Height);
    std::vector<double> walls, makes, ffmpegs, ratios, faults, cpus, ffmpegCpus;
    for (int run = 1; run <= Runs; ++run) {
        const fs::path movie = program.dir / "movie.avi", peer = program.dir / "peer.avi";
        std::string log;
        const Usage ours = program.Drive(
            "make;" + (frames / FrameName(0)).string() + ";" + movie.string() + ";" + codec, log);
        if (!Succeeded(ours) || log.find(" : 完了.") == std::string::npos) {
            std::printf("mv_m failed (status %d):\n%s\n", ours.status, log.c_str());
            return false;
        }
        const uintmax_t ourBytes = fs::file_size(movie);
        fs::remove(movie);

        std::vector<std::string> args = {"/usr/bin/ffmpeg",
                                         "-nostdin",
                                         "-loglevel",
                                         "error",
                                         "-y",
                                         "-framerate",
                                         "30",
                                         "-i",
                                         (frames / "%04d.bmp").string()};
        args.insert(args.end(), ffmpegCodec.begin(), ffmpegCodec.end());
        args.push_back(peer.string());
        const Usage theirs = Run(args, {}, (program.dir / "ffmpeg.log").string());
        if (!Succeeded(theirs)) {
            std::printf("ffmpeg failed:\n%s\n", ReadText(program.dir / "ffmpeg.log").c_str());
            return false;
        }
        const uintmax_t peerBytes = fs::file_size(peer);
        fs::remove(peer);

        const double made = ours.wall - PlaceholderSeconds;
        const double movieMs = ClockSpan(log, "make", "made");
        std::printf("run %d: mv_m %.2f s (cpu %.2f s), minus the 3 s wait %.2f s (movie in the "
                    "window %.0f ms), ffmpeg %.2f s (cpu %.2f s), ratio %.2f, mv_m page faults "
                    "%ld; sizes %ju / %ju bytes\n",
                    run, ours.wall, ours.cpu, made, movieMs, theirs.wall, theirs.cpu,
                    made / theirs.wall, ours.faults, ourBytes, peerBytes);
        walls.push_back(ours.wall);
        makes.push_back(made);
        ffmpegs.push_back(theirs.wall);
        ratios.push_back(made / theirs.wall);
        faults.push_back(static_cast<double>(ours.faults));
        cpus.push_back(ours.cpu);
        ffmpegCpus.push_back(theirs.cpu);
    }
    std::printf("median: mv_m %.2f s (cpu %.2f s), minus the 3 s wait %.2f s, ffmpeg %.2f s "
                "(cpu %.2f s), ratio %.2f (target <= %.1f), mv_m page faults %.0f (target <= "
                "%ld)\n",
                Median(walls), Median(cpus), Median(makes), Median(ffmpegs), Median(ffmpegCpus),
                Median(ratios), RatioTarget, Median(faults), FaultTarget);
    return true;
}

bool MeasureScan(const Program& program, const fs::path& frames) {
    std::printf("\nlisting a dropped folder of %d frames\n", ScanFrames);
    std::vector<double> scans, walls;
    for (int run = 1; run <= Runs; ++run) {
        std::string log;
        const Usage usage = program.Drive("scan;" + (frames / FrameName(0)).string(), log);
        const std::string expected = "scan: " + std::to_string(ScanFrames) + " File. in ";
        const size_t p = log.find(expected);
        if (!Succeeded(usage) || p == std::string::npos) {
            std::printf("mv_m failed (status %d):\n%s\n", usage.status, log.c_str());
            return false;
        }
        const double seconds = std::stod(log.substr(p + expected.size())) / 1000;
        std::printf("run %d: drop to \"%d File.\" %.3f s; mv_m %.2f s, page faults %ld\n", run,
                    ScanFrames, seconds, usage.wall, usage.faults);
        scans.push_back(seconds);
        walls.push_back(usage.wall);
    }
    std::printf("median: drop to \"%d File.\" %.3f s (target <= %.1f s), mv_m %.2f s\n", ScanFrames,
                Median(scans), ScanTarget, Median(walls));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const bool own = argc < 2;
    const fs::path work =
        own ? fs::temp_directory_path() / ("bench_program." + std::to_string(getpid()))
            : fs::path(argv[1]);
    const Program program{work / "program"};
    const fs::path movieFrames = work / "frames", scanFrames = work / "scan";
    for (const fs::path& dir : {program.dir, movieFrames, scanFrames})
        fs::create_directories(dir);
    // A copy, not a link: the program finds its folder through the executable's own path.
    fs::copy_file(MV_M_PROGRAM, program.dir / "mv_m", fs::copy_options::overwrite_existing);
    fs::copy_file(MV_PROGRAM_DIR "/avi_logo.bmp", program.dir / "avi_logo.bmp",
                  fs::copy_options::overwrite_existing);
    WriteMovieFrames(movieFrames);
    WriteScanFrames(scanFrames);

    const bool ok = CompareMovies(program, movieFrames, "uncompressed", "raw",
                                  {"-c:v", "rawvideo", "-pix_fmt", "bgr24"}) &&
                    CompareMovies(program, movieFrames, "MJPG (compressed while writing)", "MJPG",
                                  {"-c:v", "mjpeg", "-q:v", FfmpegQuantiser}) &&
                    MeasureScan(program, scanFrames);
    if (own) fs::remove_all(work);
    return ok ? 0 : 1;
}
