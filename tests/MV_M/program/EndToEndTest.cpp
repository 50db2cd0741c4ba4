// Both real programs, started headless in a program folder of their own and played by the input
// plugins of tests/MV_X/driver/ and tests/MV_M/driver/: the player records frames, its movie
// maker button is enabled and starts mv_m, and mv_m makes an uncompressed and a compressed movie of
// the frames, which ffprobe counts and ffmpeg decodes.
#include "Driven.h"

#include <QThread>

TEST(BothProgramsTest, RecordedFramesBecomeUncompressedAndCompressedMovies) {
    const avitest::ScratchDir folder;
    const std::string dir = folder / "";
    CopyPrograms(dir, {MV_X_PROGRAM, MV_M_PROGRAM});
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
