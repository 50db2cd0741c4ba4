// Movies past 1 GiB: OpenDML files of our writer counted by ffprobe and decoded by ffmpeg, and
// OpenDML files of ffmpeg read back stream by stream. Large frames keep the frame count small.
#include "platform/AviTestSupport.h"
#include "platform/avi/AviWriter.h"
#include "platform/avi/RiffReader.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace avitest;

namespace {

constexpr int kSide = 4096; // 48 MiB frames
constexpr int kFrames = 25; // 1.2 GB: two RIFF segments
constexpr uint32_t kRate = 10;

// The top-level chunks of a file: 'AVI ' then an 'AVIX' for each further segment.
std::vector<FOURCC> Segments(const std::string& path) {
    std::vector<FOURCC> forms;
    const auto source = avi::OpenFileSource(path);
    avi::Chunk c;
    for (uint64_t at = 0; source && avi::ReadChunk(*source, at, source->Size(), &c); at = c.next)
        forms.push_back(c.listType);
    return forms;
}

// A frame whose bytes tell its number and their own position.
void FillFrame(Bytes& frame, int index) {
    for (size_t i = 0; i < frame.size(); i += 4096)
        frame[i] = static_cast<uint8_t>(index + i / 4096);
}

// Count frames of Width x Height, each filled by FillFrame.
HRESULT WriteFilledMovie(const std::string& path, int width, int height, int count) {
    Bytes frame(static_cast<size_t>(width) * height * 3);
    AVIFileInit();
    VideoWriter movie(path, VideoInfo(width, height, kRate), FrameHeader(width, height));
    for (int i = 0; i < count; ++i) {
        FillFrame(frame, i);
        movie.Write(frame, AVIIF_KEYFRAME);
    }
    const HRESULT r = movie.Close();
    AVIFileExit();
    return r;
}

TEST(AviLongTest, OurMoviePastOneGibGoesOnInOpenDmlAndFfprobeCountsEveryFrame) {
    ScratchDir dir;
    const std::string path = dir / "long.avi";
    ASSERT_EQ(WriteFilledMovie(path, kSide, kSide, kFrames), AVIERR_OK);

    EXPECT_EQ(Segments(path), (std::vector<FOURCC>{avi::kFormAvi, avi::kFormAvix}));
    // The main header and idx1 cover the first segment, the OpenDML header every frame.
    const Layout layout = ReadLayout(path);
    const uint32_t firstSegment = (1u << 30) / (kSide * kSide * 3 + 8);
    EXPECT_EQ(layout.totalFrames, firstSegment);
    EXPECT_EQ(layout.idx1Entries, firstSegment);
    EXPECT_EQ(layout.odmlTotalFrames, static_cast<uint32_t>(kFrames));
    std::vector<Fields> streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0]["nb_frames"], std::to_string(kFrames));
    EXPECT_EQ(streams[0]["nb_read_packets"], std::to_string(kFrames));
    // Every frame decoded, and not one warning on the way.
    const CommandResult decoded = RunCommand("ffprobe -v warning -count_frames -show_entries "
                                             "stream=nb_read_frames -of csv=p=0 '" +
                                             path + "' 2>&1");
    EXPECT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.out, std::to_string(kFrames) + "\n");

    AVIFileInit();
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpen(&file, path, OF_READ), AVIERR_OK);
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &stream, streamtypeVIDEO, 0), AVIERR_OK);
    ASSERT_EQ(AVIStreamLength(stream), kFrames);
    Bytes expected(static_cast<size_t>(kSide) * kSide * 3), read(expected.size());
    for (int i = 0; i < kFrames; ++i) {
        FillFrame(expected, i);
        int32_t bytes = 0;
        ASSERT_EQ(AVIStreamRead(stream, i, 1, read.data(), static_cast<int32_t>(read.size()),
                                &bytes, nullptr),
                  AVIERR_OK);
        ASSERT_EQ(read, expected) << i;
    }
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    AVIFileExit();
}

// What the player records in five and a half minutes: about 9 GB, so it runs only when
// MV_AVI_TEN_THOUSAND is set.
TEST(AviLongTest, TenThousandVgaFramesMakeOneFileThatFfprobeCountsCompletely) {
    if (std::getenv("MV_AVI_TEN_THOUSAND") == nullptr) GTEST_SKIP() << "MV_AVI_TEN_THOUSAND unset";
    constexpr int kWidth = 640, kHeight = 480, kCount = 10000;
    ScratchDir dir;
    const std::string path = dir / "record.avi";
    ASSERT_EQ(WriteFilledMovie(path, kWidth, kHeight, kCount), AVIERR_OK);

    EXPECT_EQ(Segments(path).size(), 9u);
    std::vector<Fields> streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0]["nb_frames"], std::to_string(kCount));
    EXPECT_EQ(streams[0]["nb_read_packets"], std::to_string(kCount));
}

TEST(AviLongTest, FfmpegOpenDmlMovieWithAudioReadsBackStreamByStream) {
    ScratchDir dir;
    const std::string path = dir / "ffmpeg.avi";
    ASSERT_TRUE(
        RunCommand("ffmpeg -v error -f lavfi -i color=c=teal:size=4096x4096:rate=10 -f lavfi "
                   "-i sine=sample_rate=8000 -t 2.5 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le '" +
                   path + "'")
            .ok);
    ASSERT_EQ(Segments(path).size(), 2u);
    std::vector<Fields> streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), 2u);
    const Bytes pcm = Decode(path, "a:0", "-f s16le");
    ASSERT_FALSE(pcm.empty());

    AVIFileInit();
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpen(&file, path, OF_READ), AVIERR_OK);
    PAVISTREAM video = nullptr, audio = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &video, streamtypeVIDEO, 0), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(file, &audio, streamtypeAUDIO, 0), AVIERR_OK);
    EXPECT_EQ(std::to_string(AVIStreamLength(video)), streams[0]["nb_read_packets"]);
    EXPECT_EQ(static_cast<size_t>(AVIStreamLength(audio)), pcm.size() / 2);
    Bytes read;
    for (const Bytes& block : ReadSamples(audio))
        read.insert(read.end(), block.begin(), block.end());
    EXPECT_EQ(read, pcm);
    int32_t bytes = 0;
    EXPECT_EQ(AVIStreamRead(video, AVIStreamLength(video) - 1, 1, nullptr, 0, &bytes, nullptr),
              AVIERR_OK);
    EXPECT_EQ(bytes, kSide * kSide * 3);
    AVIStreamRelease(video);
    AVIStreamRelease(audio);
    AVIFileRelease(file);
    AVIFileExit();
}

} // namespace
