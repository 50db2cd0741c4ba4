// The AVI file services where the file system gets in the way: a full disk (the test override,
// a small tmpfs, a file size limit), a FIFO at the path, a symbolic link at the target.
#include "AviTestSupport.h"
#include "platform/avi/AviWriter.h"
#include "platform/classes/Classes.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace avitest;

namespace {

constexpr uint32_t kRate = 10;
constexpr auto kHangLimit = std::chrono::seconds(5);

class AviFaultTest : public ::testing::Test {
protected:
    void SetUp() override { AVIFileInit(); }
    void TearDown() override {
        SetFileWriteFailureOverride({});
        AVIFileExit();
    }
    // Small frames: a dozen of them stay in the writer's buffer until the file is finished.
    static HRESULT WriteSmall(VideoWriter& movie, int frames) {
        for (int i = 0; i < frames; ++i)
            if (const HRESULT r = movie.Write(MakeFrame(38, 20, i), AVIIF_KEYFRAME); r != AVIERR_OK)
                return r;
        return AVIERR_OK;
    }
    ScratchDir dir_;
};

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

TEST_F(AviFaultTest, FinishingReportsAFullDiskAndEndsTheFile) {
    const std::string path = dir_ / "full.avi";
    bool full = false;
    SetFileWriteFailureOverride([&](const std::string& name) { return full && name == path; });
    {
        // Every sample was taken, the disk fills before the file is finished.
        VideoWriter movie(path, VideoInfo(38, 20, kRate), FrameHeader(38, 20));
        ASSERT_EQ(WriteSmall(movie, 12), AVIERR_OK);
        full = true;
        EXPECT_EQ(AVIFileFinish(movie.File()), AVIERR_FILEWRITE);
        EXPECT_EQ(AVIFileFinish(movie.File()), AVIERR_FILEWRITE);
        EXPECT_NE(WriteSmall(movie, 1), AVIERR_OK);
    }
    {
        // A frame larger than the buffer fails at once.
        VideoWriter movie(path, VideoInfo(320, 240, kRate), FrameHeader(320, 240));
        EXPECT_EQ(movie.Write(MakeFrame(320, 240, 0), AVIIF_KEYFRAME), AVIERR_FILEWRITE);
        EXPECT_EQ(AVIFileFinish(movie.File()), AVIERR_FILEWRITE);
    }
    full = false;
    {
        VideoWriter movie(path, VideoInfo(38, 20, kRate), FrameHeader(38, 20));
        ASSERT_EQ(WriteSmall(movie, 3), AVIERR_OK);
        EXPECT_EQ(AVIFileFinish(movie.File()), AVIERR_OK);
        EXPECT_EQ(AVIFileFinish(movie.File()), AVIERR_OK);
        EXPECT_NE(WriteSmall(movie, 1), AVIERR_OK);
        // Finished before its last release: complete for other readers at once.
        const std::vector<Fields> streams = ProbeStreams(path);
        ASSERT_EQ(streams.size(), 1u);
        EXPECT_EQ(streams[0].at("nb_read_packets"), "3");
        PAVIFILE reading = nullptr;
        ASSERT_EQ(AVIFileOpen(&reading, path, OF_READ), AVIERR_OK);
        EXPECT_EQ(AVIFileFinish(reading), AVIERR_OK);
        AVIFileRelease(reading);
    }
}

// A file size limit as `ulimit -f` sets it; the signal it raises is ignored, so writes past it
// fail with EFBIG (a write that crosses it is short).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        signal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, signal_);
    }

private:
    rlimit saved_{};
    void (*signal_)(int) = nullptr;
};

// The frames written before the one that failed stay: the file is cut after them and still
// finished when its index fits.
void ExpectFramesBeforeTheFailureKept(const std::string& path, int width, int height) {
    int written = 0;
    {
        VideoWriter movie(path, VideoInfo(width, height, kRate), FrameHeader(width, height));
        HRESULT r = AVIERR_OK;
        for (; written < 10; ++written)
            if ((r = movie.Write(MakeFrame(width, height, written), AVIIF_KEYFRAME)) != AVIERR_OK)
                break;
        EXPECT_EQ(r, AVIERR_FILEWRITE);
        ASSERT_GT(written, 0);
        EXPECT_EQ(AVIFileFinish(movie.File()), AVIERR_OK);
    }
    const std::vector<Fields> streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("nb_read_packets"), std::to_string(written));
}

TEST_F(AviFaultTest, AFileSizeLimitIsAWriteErrorNotATruncatedSuccess) {
    const FileSizeLimit limit(100 * 1000);
    ExpectFramesBeforeTheFailureKept(dir_ / "large.avi", 100, 100);
}

// Eight frames in OpenDML segments of two frames each; whether all of it was written.
HRESULT WriteSegmented(const std::string& path) {
    constexpr uint64_t kTwoFrames = 5000;
    avi::AviWriter writer(kTwoFrames);
    int video = 0;
    const BITMAPINFOHEADER format = FrameHeader(38, 20);
    if (writer.Create(path) != AVIERR_OK ||
        writer.AddStream(VideoInfo(38, 20, kRate), &video) != AVIERR_OK ||
        writer.SetFormat(video, &format, sizeof format) != AVIERR_OK)
        return AVIERR_ERROR;
    HRESULT written = AVIERR_OK;
    for (int i = 0; i < 8 && written == AVIERR_OK; ++i) {
        const Bytes frame = MakeFrame(38, 20, i);
        written = writer.WriteSample(video, i, 1, frame.data(), static_cast<int32_t>(frame.size()),
                                     AVIIF_KEYFRAME);
    }
    const HRESULT finished = writer.Finish();
    return written != AVIERR_OK ? written : finished;
}

TEST_F(AviFaultTest, WhereverTheDiskEndsTheFileIsAMovieOfTheFramesItsHeadersClaim) {
    const std::string path = dir_ / "limited.avi";
    ASSERT_EQ(WriteSegmented(path), AVIERR_OK);
    const auto whole = std::filesystem::file_size(path);
    // Every few bytes: in the headers, in a frame, in a segment's start, at an index.
    for (uintmax_t limit = 0, n = 0; limit <= whole; limit += 97, ++n) {
        SCOPED_TRACE(limit);
        HRESULT finished = AVIERR_OK;
        {
            const FileSizeLimit fileSize(limit);
            finished = WriteSegmented(path);
        }
        EXPECT_EQ(finished == AVIERR_OK, limit >= whole);
        // Not even the headers: nothing the caller should keep.
        if (std::filesystem::file_size(path) == 0) continue;
        PAVIFILE file = nullptr;
        PAVISTREAM stream = nullptr;
        ASSERT_EQ(AVIFileOpen(&file, path, OF_READ), AVIERR_OK);
        ASSERT_EQ(AVIFileGetStream(file, &stream, streamtypeVIDEO, 0), AVIERR_OK);
        const std::vector<Bytes> samples = ReadSamples(stream);
        const auto frames = static_cast<size_t>(AVIStreamLength(stream));
        AVIStreamRelease(stream);
        AVIFileRelease(file);
        ASSERT_EQ(samples.size(), frames);
        for (size_t i = 0; i < frames; ++i)
            EXPECT_EQ(samples[i], MakeFrame(38, 20, static_cast<int>(i))) << i;
        // A movie of no frames is not kept by its maker.
        if (frames == 0 || n % 8 != 0) continue;
        const std::vector<Fields> streams = ProbeStreams(path);
        ASSERT_EQ(streams.size(), 1u);
        EXPECT_EQ(streams[0].at("nb_frames"), std::to_string(frames));
        EXPECT_EQ(streams[0].at("nb_read_packets"), std::to_string(frames));
    }
}

// A real full disk: a tmpfs of 1 MiB, mounted where the tests run as root.
class AviTmpfsTest : public AviFaultTest {
protected:
    void SetUp() override {
        AviFaultTest::SetUp();
        if (::getuid() != 0) GTEST_SKIP() << "mounting needs root";
        mount_ = dir_ / "mnt";
        std::filesystem::create_directory(mount_);
        if (::mount("tmpfs", mount_.c_str(), "tmpfs", 0, "size=1m") != 0)
            GTEST_SKIP() << "tmpfs cannot be mounted here";
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_) ::umount2(mount_.c_str(), MNT_DETACH);
        AviFaultTest::TearDown();
    }
    std::string mount_;
    bool mounted_ = false;
};

TEST_F(AviTmpfsTest, WritesAndTheFinishFailWhenTheDiskIsFull) {
    const std::string path = mount_ + "/movie.avi";
    ExpectFramesBeforeTheFailureKept(path, 320, 240);
    // Every sample written, then the disk filled by another file: only the finish fails.
    std::filesystem::remove(path);
    VideoWriter movie(path, VideoInfo(38, 20, kRate), FrameHeader(38, 20));
    ASSERT_EQ(WriteSmall(movie, 12), AVIERR_OK);
    {
        std::ofstream filler(mount_ + "/filler", std::ios::binary);
        const std::vector<char> block(64 * 1024);
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
        }
    }
    // The last frames make room for the index of the others.
    EXPECT_EQ(AVIFileFinish(movie.File()), AVIERR_FILEWRITE);
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileGetStream(movie.File(), &stream, streamtypeVIDEO, 0), AVIERR_OK);
    const int32_t kept = AVIStreamLength(stream);
    AVIStreamRelease(stream);
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, 12);
    const std::vector<Fields> streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("nb_read_packets"), std::to_string(kept));
}

// Runs Open on a thread; when it has not returned in time, Unblock frees it and the open counts
// as hung.
HRESULT OpenWithin(const std::string& path, uint32_t mode, const std::function<void()>& unblock,
                   bool& hung) {
    std::packaged_task<HRESULT()> task([&] {
        PAVIFILE file = nullptr;
        const HRESULT r = AVIFileOpen(&file, path, mode);
        if (file) AVIFileRelease(file);
        return r;
    });
    std::future<HRESULT> result = task.get_future();
    std::thread thread(std::move(task));
    hung = result.wait_for(kHangLimit) != std::future_status::ready;
    if (hung) unblock();
    thread.join();
    return result.get();
}

TEST_F(AviFaultTest, AFifoIsRefusedWithoutWaitingForItsOtherEnd) {
    const std::string fifo = dir_ / "fifo.avi";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Opening the other end lets a hung open go on.
    const auto openWriter = [&] { ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)); };
    const auto openReader = [&] { ::close(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK)); };
    bool hung = false;
    EXPECT_EQ(OpenWithin(fifo, OF_READ, openWriter, hung), AVIERR_FILEOPEN);
    EXPECT_FALSE(hung);
    EXPECT_NE(OpenWithin(fifo, OF_WRITE | OF_CREATE, openReader, hung), AVIERR_OK);
    EXPECT_FALSE(hung);
}

TEST_F(AviFaultTest, ASymbolicLinkAtTheTargetIsReplacedNotWrittenThrough) {
    const std::string keep = dir_ / "keep.txt", movie = dir_ / "movie.avi";
    WriteFile(keep, Bytes{'k', 'e', 'e', 'p'});
    std::filesystem::create_symlink(keep, movie);
    const std::vector<Bytes> frames = {MakeFrame(38, 20, 0), MakeFrame(38, 20, 1)};
    const std::vector<uint32_t> flags(2, AVIIF_KEYFRAME);
    ASSERT_EQ(WriteMovie(movie, VideoInfo(38, 20, kRate), FrameHeader(38, 20), frames, flags),
              AVIERR_OK);
    EXPECT_EQ(ReadFile(keep), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_TRUE(IsRegularFile(movie));
    const std::vector<Fields> streams = ProbeStreams(movie);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("nb_read_packets"), "2");

    const std::string missing = dir_ / "missing.avi", dangling = dir_ / "dangling.avi";
    std::filesystem::create_symlink(missing, dangling);
    ASSERT_EQ(WriteMovie(dangling, VideoInfo(38, 20, kRate), FrameHeader(38, 20), frames, flags),
              AVIERR_OK);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(missing)));
    EXPECT_TRUE(IsRegularFile(dangling));
}

} // namespace
