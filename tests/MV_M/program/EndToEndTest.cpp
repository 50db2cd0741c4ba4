// Both real programs, started headless in a program folder of their own and played by the input
// plugins of tests/MV_X/driver/ and tests/MV_M/driver/: the player records frames, its movie
// maker button is enabled and starts mv_m, and mv_m makes an uncompressed and a compressed movie of
// the frames, which ffprobe counts and ffmpeg decodes.
#include "Harness.h"

#include <QProcess>
#include <QThread>

namespace {

// Runs a program of the folder with one driver task; returns its log.
std::string RunDriven(const std::string& dir, const std::string& program, const std::string& task,
                      int& exitCode) {
    fs::remove(dir + "driver.log");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QT_PLUGIN_PATH", MV_TEST_PLUGINS);
    env.insert("QT_QPA_GENERIC_PLUGINS", QString::fromStdString(task));
    if (!env.contains("LSAN_OPTIONS"))
        env.insert("LSAN_OPTIONS", QString("suppressions=%1/tests/lsan.supp").arg(MV_SOURCE_DIR));
    process.setProcessEnvironment(env);
    // Into files, not pipes: a program it starts outlives it and writes there too.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QString::fromStdString(dir + "stderr.log"));
    process.start(QString::fromStdString(dir + program), {});
    exitCode = process.waitForFinished(180000) ? process.exitCode() : -1;
    const avitest::Bytes log = avitest::ReadFile(dir + "driver.log");
    const avitest::Bytes err = avitest::ReadFile(dir + "stderr.log");
    return std::string(log.begin(), log.end()) + std::string(err.begin(), err.end());
}

} // namespace

TEST(BothProgramsTest, RecordedFramesBecomeUncompressedAndCompressedMovies) {
    const avitest::ScratchDir folder;
    const std::string dir = folder / "";
    for (const char* program : {MV_X_PROGRAM, MV_M_PROGRAM}) {
        const std::string copy = dir + fs::path(program).filename().string();
        fs::copy_file(program, copy); // ExeDir follows links: copies
        fs::permissions(copy, fs::perms::owner_all);
    }
    fs::copy(MV_X_SPRITES, dir + "ekiimg");
    fs::copy_file(std::string(MV_SOURCE_DIR) + "/assets/avi_logo.bmp", dir + "avi_logo.bmp");
    Pattern(120, 90)->SaveToFile(dir + "face.bmp");

    int exitCode = 0;
    std::string log = RunDriven(dir, "mv_x", "mvxdriver:" + dir + "face.bmp", exitCode);
    ASSERT_EQ(exitCode, 0) << log;
    std::vector<fs::path> takes(fs::directory_iterator(dir + "record"), fs::directory_iterator());
    ASSERT_EQ(takes.size(), 1u);
    const std::string take = takes[0].string() + "/";
    const auto frames = std::distance(fs::directory_iterator(take), fs::directory_iterator());
    ASSERT_GE(frames, 4);

    log = RunDriven(dir, "mv_x", "mvmdriver:button", exitCode);
    EXPECT_EQ(exitCode, 0) << log;
    EXPECT_NE(log.find("movie maker button: enabled"), std::string::npos) << log;
    // The button started the movie maker beside the player, which logs its own window.
    const std::string started = "movie maker button: absent in Morvane M (動画 AVI 作成)";
    for (int wait = 0; wait < 300 && log.find(started) == std::string::npos; ++wait) {
        QThread::msleep(100);
        const avitest::Bytes bytes = avitest::ReadFile(dir + "driver.log");
        log.assign(bytes.begin(), bytes.end());
    }
    EXPECT_NE(log.find(started), std::string::npos) << log;

    const std::string count = std::to_string(frames);
    log = RunDriven(dir, "mv_m", "mvmdriver:make;" + take + "0000.bmp;" + dir + "raw.avi;raw",
                    exitCode);
    ASSERT_EQ(exitCode, 0) << log;
    EXPECT_NE(log.find("status: " + count + " File."), std::string::npos) << log;
    EXPECT_NE(log.find("box: 現在作成したファイルを実行しますか?"), std::string::npos) << log;
    EXPECT_NE(log.find("status: " + dir + "raw.avi : 完了."), std::string::npos) << log;
    EXPECT_EQ(Movie(dir + "raw.avi"), "rawvideo,640,480," + count);

    log = RunDriven(dir, "mv_m", "mvmdriver:make;" + take + "0001.bmp;" + dir + "mjpg.avi;MJPG",
                    exitCode);
    ASSERT_EQ(exitCode, 0) << log;
    EXPECT_NE(log.find("compressor: "), std::string::npos) << log;
    EXPECT_EQ(Movie(dir + "mjpg.avi"), "mjpeg,640,480," + count);
}
