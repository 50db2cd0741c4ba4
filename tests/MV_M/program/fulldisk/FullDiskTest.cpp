// The real mv_m writing its movie onto a disk too small for it (a tmpfs mounted for the test, so
// that part runs as root only), and after being killed in the middle of a movie: the failure is
// told once, naming the file, and no broken or temporary file is left behind.
#include "../Driven.h"

#include <QThread>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <regex>
#include <sstream>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int Frames = 30;
// Frames of 320 x 240 become 640 x 480 movie frames: 900 KiB each uncompressed.
constexpr int FrameWidth = 320, FrameHeight = 240;
constexpr uintmax_t RawFrameBytes = 640 * 480 * 3 + 8;
constexpr const char* RunQuestion = "box: 現在作成したファイルを実行しますか?";
constexpr const char* Notice = "box: AVI ファイルを作成する場所を指定してください.";
constexpr const char* RecompressAborted = "box: 圧縮ＡＶＩファイル作成を中断しました.";

std::vector<std::string> Lines(const std::string& log, const std::string& prefix) {
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(prefix)) lines.push_back(line);
    return lines;
}

std::vector<std::string> TemporaryFiles(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().ends_with("_.avi"))
            names.push_back(entry.path().filename().string());
    return names;
}

class FullDiskTest : public ::testing::Test {
protected:
    void SetUp() override {
        CopyPrograms(dir, {MV_M_PROGRAM});
        fs::copy_file(std::string(MV_SOURCE_DIR) + "/assets/avi_logo.bmp", dir + "avi_logo.bmp");
        fs::create_directories(frames);
        for (int i = 0; i < Frames; ++i)
            Pattern(FrameWidth, FrameHeight, i)->SaveToFile(frames + Format("%.4d.bmp", i));
        fs::create_directories(disk);
    }
    void TearDown() override {
        // Detached even while busy, so the scratch folder can go.
        if (mounted_) umount2(disk.c_str(), MNT_DETACH);
    }

    bool Mount(uintmax_t bytes) {
        if (mounted_ && umount(disk.c_str()) != 0) return false;
        mounted_ = mount("tmpfs", disk.c_str(), "tmpfs", 0,
                         ("size=" + std::to_string(bytes)).c_str()) == 0;
        return mounted_;
    }

    // Makes the movie with the driver; returns its log, shown once should anything fail.
    std::string Make(const std::string& movie, const std::string& codec) {
        int exitCode = 0;
        const std::string log = RunDriven(
            dir, "mv_m", "mvmdriver:make;" + frames + "0000.bmp;" + movie + ";" + codec, exitCode);
        EXPECT_EQ(exitCode, 0);
        return log;
    }
    void ShowOnFailure(const std::string& log) {
        if (HasFailure()) std::printf("The driver's log:\n%s\n", log.c_str());
    }

    // The movie as ffprobe and ffmpeg see it, from a copy off the full disk, where ffmpeg has
    // room to decode it; empty when there is no file.
    std::string MovieOffDisk(const std::string& movie) {
        if (!fs::exists(movie)) return "no file";
        fs::copy_file(movie, dir + "check.avi", fs::copy_options::overwrite_existing);
        const std::string seen = Movie(dir + "check.avi");
        fs::remove(dir + "check.avi");
        return seen;
    }

    // What every failed movie leaves: no success shown, no temporary file, and the target either
    // gone or a movie ffmpeg reads to the end of its index.
    void ExpectCleanFailure(const std::string& log, const std::string& movie) {
        EXPECT_EQ(log.find(RunQuestion), std::string::npos);
        EXPECT_EQ(log.find(" : 完了."), std::string::npos);
        EXPECT_EQ(TemporaryFiles(disk), std::vector<std::string>());
        EXPECT_NE(MovieOffDisk(movie), "") << "a movie of " << fs::file_size(movie) << " bytes";
    }

    const avitest::ScratchDir folder_;
    const std::string dir = folder_ / "";
    const std::string frames = dir + "frames/";
    const std::string disk = dir + "disk/";

private:
    bool mounted_ = false;
};

TEST_F(FullDiskTest, AMovieTheDiskCannotHoldIsReportedOnceAndLeavesNoBrokenFile) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
    if (!Mount(3 << 20)) GTEST_SKIP() << "mount -t tmpfs failed: " << std::strerror(errno);
    // Uncompressed: the disk is full after three frames.
    const std::string raw = disk + "raw.avi";
    std::string log = Make(raw, "raw");
    std::vector<std::string> boxes;
    for (const std::string& box : Lines(log, "box: "))
        if (!box.starts_with(Notice)) boxes.push_back(box);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes.size() == 1 && boxes[0].find("raw.avi") != std::string::npos &&
                boxes[0].find("書き込め") != std::string::npos);
    ExpectCleanFailure(log, raw);
    ShowOnFailure(log);

    // Re-compressed after writing: the uncompressed movie fits with its headers and index in the
    // 256 KiB spare, its compressed copy (2.7 MB) does not, so the uncompressed movie stays.
    fs::remove(raw);
    ASSERT_TRUE(Mount(Frames * RawFrameBytes + (256 << 10)));
    const std::string recompressed = disk + "recompressed.avi";
    log = Make(recompressed, "MJPG;after");
    EXPECT_NE(log.find("compressor: "), std::string::npos);
    // The uncompressed movie is the whole result: it may be run, and no temporary is left.
    EXPECT_EQ(Lines(log, RecompressAborted).size(), 1u);
    EXPECT_EQ(TemporaryFiles(disk), std::vector<std::string>());
    EXPECT_EQ(MovieOffDisk(recompressed), "rawvideo,640,480," + std::to_string(Frames));
    ShowOnFailure(log);
}

TEST_F(FullDiskTest, AFileSizeLimitIsAnErrorBoxNotTheEndOfTheProgram) {
    // As `ulimit -f` in a shell sets it: within the fourth frame, the signal at its default.
    const std::string movie = dir + "limited.avi";
    QProcess process;
    process.setChildProcessModifier([] {
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 3 * RawFrameBytes + RawFrameBytes / 2;
        setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, SIG_DFL);
    });
    StartDriven(process, dir, "mv_m", "mvmdriver:make;" + frames + "0000.bmp;" + movie + ";raw");
    ASSERT_TRUE(process.waitForFinished(180000));
    const std::string log = DrivenLog(dir);
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(Lines(log, "box: " + movie + "|ＡＶＩファイルに書き込めませんでした.").size(), 1u);
    EXPECT_EQ(log.find(" : 完了."), std::string::npos);
    EXPECT_EQ(Movie(movie), "rawvideo,640,480,3");
    ShowOnFailure(log);
}

TEST_F(FullDiskTest, AMovieKilledMidwayLeavesNoTemporaryFileAfterTheNextMovie) {
    const std::string movie = dir + "killed/movie.avi";
    fs::create_directories(dir + "killed");
    QProcess process;
    StartDriven(process, dir, "mv_m", "mvmdriver:make;" + frames + "0000.bmp;" + movie + ";raw");
    const std::regex counting("status: .*\\(\\d+/\\d+\\)");
    for (int wait = 0; wait < 3000 && !std::regex_search(DrivenLog(dir), counting); ++wait)
        QThread::msleep(10);
    process.kill();
    ASSERT_TRUE(process.waitForFinished(10000));
    const std::string killed = DrivenLog(dir);
    ASSERT_TRUE(std::regex_search(killed, counting)) << killed;
    ASSERT_EQ(killed.find("step: made"), std::string::npos) << "killed too late:\n" << killed;

    const std::string log = Make(movie, "raw");
    EXPECT_NE(log.find(RunQuestion), std::string::npos);
    EXPECT_EQ(Movie(movie), "rawvideo,640,480," + std::to_string(Frames));
    EXPECT_EQ(TemporaryFiles(dir + "killed"), std::vector<std::string>());
    ShowOnFailure(log);
}

} // namespace
