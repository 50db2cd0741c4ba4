// The movie job without a window or application object: the frames of a folder, the loop over a
// real AVI writer and what it tells its window, the logo's fade over whole movies, stopping and
// failing. Every movie is decoded by ffmpeg.
#include "MV_M/MovieJob.h"

#include "MV_M/JxAvi.h"
#include "common/Qmlib2002.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/rtl/SysUtils.h"
#include "tests/common/TestBitmaps.h"
#include "tests/platform/AviTestSupport.h"

#include <fstream>
#include <gtest/gtest.h>

namespace {

using avitest::Bytes;

std::unique_ptr<TBitmap> Pattern(int w, int h, int seed) {
    std::mt19937 random(static_cast<unsigned>(seed));
    return test_bitmaps::Noise(w, h, random);
}

void AppendRows(Bytes& out, const TBitmap& b) {
    for (int y = 0; y < b.Height(); ++y)
        out.insert(out.end(), b.ScanLine(y), b.ScanLine(y) + 3 * b.Width());
}

// The loop's calls in order; StopRequested answers true on its StopAt-th call.
class Recorder final : public TMovieEvents {
public:
    explicit Recorder(const TMovieJob& job, int stopAt = 0) : job_(job), stopAt_(stopAt) {}
    std::string calls;
    std::vector<int> loadedWidths;

    void BetweenFrames() override { calls += "between, "; }
    bool StopRequested() override {
        calls += "stop?, ";
        return ++asked_ == stopAt_;
    }
    void FrameLoaded(int index) override {
        calls += Format("loaded %d, ", index);
        loadedWidths.push_back(job_.Frame().Width());
    }
    void FrameWritten(int index, int count) override {
        calls += Format("written %d/%d, ", index, count);
    }

private:
    const TMovieJob& job_;
    int stopAt_;
    int asked_ = 0;
};

class MovieJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Application, nullptr);
        SetDialogAnswerer([this](const DialogRequest& r) {
            messages.push_back(r.text);
            return DialogAnswer{mrOk};
        });
        writer.SetCompress(false);
        writer.SetBitDepth(24);
        writer.SetFileName(Movie());
    }
    void TearDown() override {
        SetDialogAnswerer({});
        EXPECT_TRUE(messages.empty());
    }

    std::string Folder() const { return dir / ""; }
    std::string Movie() const { return dir / "movie.avi"; }
    // Frames 0000.bmp, 0001.bmp, ... of W x H, frame n the pattern of seed n.
    void WriteFrames(int count, int w, int h) {
        for (int n = 0; n < count; ++n)
            Pattern(w, h, n)->SaveToFile(Folder() + Format("%.4d.bmp", n));
        job.SetFrames(FrameFiles(Folder()));
    }
    bool Open(int w, int h) {
        writer.SetWidth(static_cast<uint16_t>(w));
        writer.SetHeight(static_cast<uint16_t>(h));
        return writer.Open();
    }
    // A movie of W x H.
    TMovieOutcome Make(const TMovieSettings& settings, TMovieEvents& events, int w = 8, int h = 6) {
        EXPECT_TRUE(Open(w, h));
        const TMovieOutcome outcome = job.Run(settings, writer, events);
        writer.Close();
        return outcome;
    }
    Bytes Decoded() const { return avitest::Decode(Movie(), "v:0", "-f rawvideo -pix_fmt bgr24"); }

    avitest::ScratchDir dir;
    TJxAvi writer;
    TMovieJob job;
    std::vector<std::string> messages;
};

} // namespace

TEST_F(MovieJobTest, ScanListsTheFramesOfANumberBeforeTellingIt) {
    for (const char* name : {"0003.bmp", "0001.png", "0001.bmp", "0000.JPG", "notes.txt"})
        std::ofstream(Folder() + name) << "x";
    std::vector<size_t> listed;
    job.ScanFrameFolder(Folder(), [&](int n) {
        ASSERT_EQ(n, static_cast<int>(listed.size()));
        listed.push_back(job.Frames().size());
    });
    ASSERT_EQ(listed.size(), 10000u);
    EXPECT_EQ(std::vector(listed.begin(), listed.begin() + 4), (std::vector<size_t>{1, 3, 3, 4}));
    EXPECT_EQ(job.Frames(),
              (std::vector<std::string>{Folder() + "0000.JPG", Folder() + "0001.bmp",
                                        Folder() + "0001.png", Folder() + "0003.bmp"}));
    EXPECT_EQ(FrameFiles(Folder()), job.Frames());
    // A new scan starts a new list.
    job.ScanFrameFolder(Folder() + "missing/", {});
    EXPECT_TRUE(job.Frames().empty());
}

TEST_F(MovieJobTest, EveryFrameIsLoadedFittedAndWrittenInTheEventsOrder) {
    WriteFrames(3, 8, 6);
    Recorder events(job);
    EXPECT_EQ(Make({.FitFrames = true, .Size = {16, 12}}, events, 16, 12), TMovieOutcome::Complete);
    EXPECT_EQ(events.calls, "between, stop?, loaded 0, written 0/3, between, stop?, loaded 1, "
                            "written 1/3, between, stop?, loaded 2, written 2/3, ");
    EXPECT_EQ(events.loadedWidths, (std::vector<int>{8, 8, 8})) << "seen as loaded, not fitted";
    // Each frame centred on black.
    Bytes fitted;
    for (int n = 0; n < 3; ++n) {
        const auto frame = Pattern(8, 6, n);
        const auto movieFrame = test_bitmaps::Solid(16, 12, 0);
        for (int y = 0; y < 6; ++y)
            std::copy_n(frame->ScanLine(y), 24, movieFrame->ScanLine(y + 3) + 12);
        AppendRows(fitted, *movieFrame);
    }
    EXPECT_EQ(Decoded(), fitted);

    // Not fitted: the frames go to the writer as loaded, whatever size is set.
    Recorder again(job);
    Make({.FitFrames = false, .Size = {16, 12}}, again);
    Bytes loaded;
    for (int n = 0; n < 3; ++n)
        AppendRows(loaded, *Pattern(8, 6, n));
    EXPECT_EQ(Decoded(), loaded);
}

TEST_F(MovieJobTest, LogoIsHalfForSixtyFourFramesThenFadesOutInEveryMovie) {
    WriteFrames(1, 8, 6);
    job.SetFrames(std::vector<std::string>(130, job.Frames()[0]));
    job.Logo().Assign(Pattern(4, 4, 9).get());
    Bytes faded;
    for (int n = 1; n <= 130; ++n) {
        const auto frame = Pattern(8, 6, 0);
        const int level = n <= 64 ? 128 : 2 * n;
        if (level < 256)
            BlendBitmap24(0, 0, *frame, *frame, job.Logo(), static_cast<uint16_t>(level));
        AppendRows(faded, *frame);
    }
    const TMovieSettings withLogo{.FitFrames = false, .Logo = true};
    for (int movie = 1; movie <= 2; ++movie) {
        Recorder events(job);
        Make(withLogo, events);
        EXPECT_EQ(Decoded(), faded) << "movie " << movie;
    }
    Recorder events(job);
    Make({.FitFrames = false, .Logo = false}, events);
    const Bytes plain = Decoded();
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + 8 * 6 * 3, faded.end() - 8 * 6 * 3));
}

TEST_F(MovieJobTest, StopEndsBeforeTheNextFrameAndAnUnreadableFrameRaisesAfterTheWrittenOnes) {
    WriteFrames(4, 8, 6);
    std::ofstream(Folder() + "0002.bmp", std::ios::trunc) << "broken";
    Bytes first;
    AppendRows(first, *Pattern(8, 6, 0));
    const TMovieSettings settings{.FitFrames = true, .Size = {8, 6}};

    Recorder stopped(job, 2);
    EXPECT_EQ(Make(settings, stopped), TMovieOutcome::Stopped);
    EXPECT_EQ(stopped.calls, "between, stop?, loaded 0, written 0/4, between, stop?, ");
    EXPECT_EQ(Decoded(), first);

    Recorder failed(job);
    ASSERT_TRUE(Open(8, 6));
    EXPECT_ANY_THROW(job.Run(settings, writer, failed));
    writer.Close();
    EXPECT_EQ(failed.calls, "between, stop?, loaded 0, written 0/4, between, stop?, loaded 1, "
                            "written 1/4, between, stop?, ");
    AppendRows(first, *Pattern(8, 6, 1));
    EXPECT_EQ(Decoded(), first);
}
