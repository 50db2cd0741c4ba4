// Movies written through the AVI file services, checked by ffprobe and ffmpeg and read back.
#include "AviTestSupport.h"

#include <gtest/gtest.h>

using namespace avitest;

namespace {

constexpr int kWidth = 38; // rows of 114 bytes, padded to 116
constexpr int kHeight = 20;
constexpr uint32_t kRate = 15;
constexpr int kFrames = 12;

class AviWriteTest : public ::testing::Test {
protected:
    void SetUp() override { AVIFileInit(); }
    void TearDown() override { AVIFileExit(); }
    ScratchDir dir_;
};

std::vector<Bytes> Frames(int count) {
    std::vector<Bytes> frames;
    for (int i = 0; i < count; ++i)
        frames.push_back(MakeFrame(kWidth, kHeight, i));
    return frames;
}

// Frames encoded by ffmpeg, one packet each, with the key flags the encoder gave them.
struct Encoded {
    std::vector<Bytes> frames;
    std::vector<uint32_t> flags;
};

Encoded EncodeFrames(const ScratchDir& dir, const std::string& codec, int count) {
    const std::string source = "ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=10 -frames:v " +
                               std::to_string(count) + " " + codec;
    Encoded encoded;
    const CommandResult packets = RunCommand(source + " -f framecrc -");
    if (!RunCommand(source + " -f image2 '" + dir / "%02d.bin" + "'").ok || !packets.ok)
        return encoded;
    std::istringstream lines(packets.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        char name[16];
        std::snprintf(name, sizeof name, "%02zu.bin", encoded.frames.size() + 1);
        encoded.frames.push_back(ReadFile(dir / name));
        encoded.flags.push_back(line.find("F=") == std::string::npos ? AVIIF_KEYFRAME : 0);
    }
    return encoded;
}

TEST_F(AviWriteTest, UncompressedFramesComeBackByteForByteThroughFfmpegAndOurReader) {
    const std::string path = dir_ / "movie.avi";
    const std::vector<Bytes> frames = Frames(kFrames);
    ASSERT_EQ(WriteMovie(path, VideoInfo(kWidth, kHeight, kRate), FrameHeader(kWidth, kHeight),
                         frames, std::vector<uint32_t>(kFrames, AVIIF_KEYFRAME)),
              AVIERR_OK);

    std::vector<Fields> streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0]["codec_name"], "rawvideo");
    EXPECT_EQ(streams[0]["width"], std::to_string(kWidth));
    EXPECT_EQ(streams[0]["height"], std::to_string(kHeight));
    EXPECT_EQ(streams[0]["r_frame_rate"], "15/1");
    EXPECT_EQ(streams[0]["nb_frames"], std::to_string(kFrames));
    EXPECT_EQ(streams[0]["nb_read_packets"], std::to_string(kFrames));

    Bytes expected;
    for (const Bytes& f : frames) {
        const Bytes rows = TopDownRows(f, kWidth, kHeight);
        expected.insert(expected.end(), rows.begin(), rows.end());
    }
    EXPECT_EQ(Decode(path, "v:0", "-f rawvideo -pix_fmt bgr24"), expected);

    const Layout layout = ReadLayout(path);
    const uint32_t frameBytes = static_cast<uint32_t>(frames[0].size());
    EXPECT_EQ(layout.microSecPerFrame, 66667u); // 1/15 s
    EXPECT_EQ(layout.maxBytesPerSec, frameBytes * kRate);
    EXPECT_NE(layout.flags & 0x10, 0u); // AVIF_HASINDEX
    EXPECT_EQ(layout.totalFrames, static_cast<uint32_t>(kFrames));
    EXPECT_EQ(layout.streams, 1u);
    EXPECT_EQ(layout.suggestedBufferSize, frameBytes);
    EXPECT_EQ(layout.width, static_cast<uint32_t>(kWidth));
    EXPECT_EQ(layout.height, static_cast<uint32_t>(kHeight));
    EXPECT_EQ(layout.odmlTotalFrames, 0u); // a plain AVI 1.0 file
    EXPECT_EQ(layout.idx1Entries, static_cast<uint32_t>(kFrames));
    EXPECT_EQ(layout.firstIdx1Offset, 4u); // from the 'movi' type: the first chunk follows it

    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpen(&file, path, OF_READ), AVIERR_OK);
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &stream, streamtypeVIDEO, 0), AVIERR_OK);
    AVISTREAMINFO info;
    ASSERT_EQ(AVIStreamInfo(stream, &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.dwRate, kRate);
    EXPECT_EQ(info.dwScale, 1u);
    EXPECT_EQ(info.dwLength, static_cast<uint32_t>(kFrames));
    EXPECT_EQ(info.dwQuality, 10000u);
    EXPECT_EQ(info.rcFrame, Rect(0, 0, kWidth, kHeight));
    EXPECT_STREQ(info.szName, "VIDEO");
    int32_t formatSize = 0;
    ASSERT_EQ(AVIStreamReadFormat(stream, 0, nullptr, &formatSize), AVIERR_OK);
    ASSERT_EQ(formatSize, static_cast<int32_t>(sizeof(BITMAPINFOHEADER)));
    BITMAPINFOHEADER format;
    ASSERT_EQ(AVIStreamReadFormat(stream, 0, &format, &formatSize), AVIERR_OK);
    EXPECT_EQ(format.biWidth, kWidth);
    EXPECT_EQ(format.biBitCount, 24);
    EXPECT_EQ(ReadSamples(stream), frames);
    EXPECT_EQ(AVIStreamRelease(stream), 0u);
    EXPECT_EQ(AVIFileRelease(file), 0u);
}

struct Compressor {
    const char* handler;
    const char* ffmpegArgs;
    const char* codecName;
    uint16_t bitCount;
};

class AviCompressedTest : public AviWriteTest, public ::testing::WithParamInterface<Compressor> {};

// MJPG is intra-only (ffmpeg calls every packet a key frame); Microsoft Video 1 has frames that
// depend on the one before, so ffprobe shows the flags of the index as written.
INSTANTIATE_TEST_SUITE_P(Handlers, AviCompressedTest,
                         ::testing::Values(Compressor{"MJPG", "-c:v mjpeg -q:v 5", "mjpeg", 24},
                                           Compressor{"MSVC", "-c:v msvideo1 -keyint_min 3",
                                                      "msvideo1", 16}),
                         [](const auto& test) { return std::string(test.param.handler); });

TEST_P(AviCompressedTest, SamplesKeepTheirSizesAndKeyFlagsAsWritten) {
    const Compressor c = GetParam();
    const std::string path = dir_ / "compressed.avi";
    const FOURCC handler = mmioFOURCC(c.handler[0], c.handler[1], c.handler[2], c.handler[3]);
    Encoded encoded = EncodeFrames(dir_, c.ffmpegArgs, 6);
    ASSERT_EQ(encoded.frames.size(), 6u);
    ASSERT_NE(std::count(encoded.flags.begin(), encoded.flags.end(), AVIIF_KEYFRAME), 0);
    BITMAPINFOHEADER format = FrameHeader(64, 48, handler);
    format.biBitCount = c.bitCount;
    ASSERT_EQ(
        WriteMovie(path, VideoInfo(64, 48, 10, handler), format, encoded.frames, encoded.flags),
        AVIERR_OK);

    std::vector<Fields> streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0]["codec_name"], c.codecName);
    EXPECT_EQ(streams[0]["codec_tag_string"], c.handler);
    EXPECT_EQ(streams[0]["nb_read_packets"], "6");
    KeepAsSeed(path, std::string(c.handler) + ".avi");
    const std::vector<Fields> packets = ProbePackets(path, "v:0");
    ASSERT_EQ(packets.size(), encoded.frames.size());
    bool odd = false;
    for (size_t i = 0; i < encoded.frames.size(); ++i) {
        EXPECT_EQ(packets[i].at("size"), std::to_string(encoded.frames[i].size())) << i;
        EXPECT_EQ(packets[i].at("flags")[0] == 'K', encoded.flags[i] == AVIIF_KEYFRAME) << i;
        odd = odd || encoded.frames[i].size() % 2 != 0;
    }
    EXPECT_EQ(Decode(path, "v:0", "-f rawvideo -pix_fmt bgr24").size(), 6u * 64 * 48 * 3);

    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpen(&file, path, OF_READWRITE), AVIERR_OK);
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &stream, streamtypeVIDEO, 0), AVIERR_OK);
    EXPECT_EQ(ReadSamples(stream), encoded.frames);
    AVIStreamRelease(stream);
    AVIFileRelease(file);
}

// The movie maker's rebuild copies its streams one after the other: the audio stream is
// created after every video frame is written.
TEST_F(AviWriteTest, StreamCreatedAfterTheFirstSamplesJoinsTheHeaders) {
    const std::string path = dir_ / "av.avi";
    constexpr uint32_t kSampleRate = 8000;
    const std::vector<Bytes> frames = Frames(kFrames);
    Bytes pcm(kSampleRate * 4 * kFrames / kRate);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<uint8_t>(i * 31 / 7);

    VideoWriter movie(path, VideoInfo(kWidth, kHeight, kRate), FrameHeader(kWidth, kHeight));
    for (const Bytes& frame : frames)
        ASSERT_EQ(movie.Write(frame, AVIIF_KEYFRAME), AVIERR_OK);
    PAVIFILE file = movie.File();
    PAVISTREAM audio = nullptr;
    ASSERT_EQ(AVIFileCreateStream(file, &audio, AudioInfo(kSampleRate, 2)), AVIERR_OK);
    const Bytes wave = PcmFormat(kSampleRate, 2);
    ASSERT_EQ(AVIStreamSetFormat(audio, 0, wave.data(), static_cast<int32_t>(wave.size())),
              AVIERR_OK);
    constexpr int32_t kBlock = 800; // samples per chunk, 8 chunks
    for (int32_t s = 0; s * 4 < static_cast<int32_t>(pcm.size()); s += kBlock) {
        int32_t samples = 0, bytes = 0;
        ASSERT_EQ(
            AVIStreamWrite(audio, s, kBlock, pcm.data() + s * 4, kBlock * 4, 0, &samples, &bytes),
            AVIERR_OK);
        EXPECT_EQ(samples, kBlock);
        EXPECT_EQ(bytes, kBlock * 4);
    }
    EXPECT_EQ(AVIStreamLength(audio), static_cast<int32_t>(pcm.size() / 4));
    AVIStreamRelease(audio);
    ASSERT_EQ(movie.Close(), AVIERR_OK);

    KeepAsSeed(path, "late-audio.avi");
    std::vector<Fields> streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0]["nb_read_packets"], std::to_string(kFrames));
    EXPECT_EQ(streams[1]["codec_name"], "pcm_s16le");
    EXPECT_EQ(streams[1]["sample_rate"], std::to_string(kSampleRate));
    EXPECT_EQ(streams[1]["channels"], "2");
    EXPECT_EQ(Decode(path, "a:0", "-f s16le"), pcm);

    ASSERT_EQ(AVIFileOpen(&file, path, OF_READ), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(file, &audio, streamtypeAUDIO, 0), AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(audio), static_cast<int32_t>(pcm.size() / 4));
    Bytes read;
    for (const Bytes& block : ReadSamples(audio))
        read.insert(read.end(), block.begin(), block.end());
    EXPECT_EQ(read, pcm);
    // A block of any number of samples, across chunk boundaries.
    Bytes part(1500 * 4);
    int32_t bytes = 0, samples = 0;
    ASSERT_EQ(AVIStreamRead(audio, 700, 1500, part.data(), static_cast<int32_t>(part.size()),
                            &bytes, &samples),
              AVIERR_OK);
    EXPECT_EQ(samples, 1500);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), pcm.begin() + 700 * 4));
    AVIStreamRelease(audio);
    AVIFileRelease(file);
}

TEST_F(AviWriteTest, HandlesLiveWhileReferencedAndTheLastReleaseFinishesTheFile) {
    const std::string path = dir_ / "refs.avi";
    const std::vector<Bytes> frames = Frames(2);
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpen(&file, path, OF_WRITE | OF_CREATE), AVIERR_OK);
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileCreateStream(file, &stream, VideoInfo(kWidth, kHeight, kRate)), AVIERR_OK);
    PAVISTREAM again = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &again, 0, 0), AVIERR_OK);
    EXPECT_EQ(again, stream);
    EXPECT_EQ(AVIStreamRelease(again), 1u);
    PAVISTREAM missing = nullptr;
    EXPECT_NE(AVIFileGetStream(file, &missing, streamtypeAUDIO, 0), AVIERR_OK);
    EXPECT_EQ(missing, nullptr);
    const BITMAPINFOHEADER format = FrameHeader(kWidth, kHeight);
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, &format, sizeof format), AVIERR_OK);
    ASSERT_EQ(AVIStreamWrite(stream, 0, 1, frames[0].data(), static_cast<int32_t>(frames[0].size()),
                             AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_OK);
    // Only the next position can be written; reading a file being written is not offered.
    EXPECT_EQ(AVIStreamWrite(stream, 5, 1, frames[1].data(), static_cast<int32_t>(frames[1].size()),
                             0, nullptr, nullptr),
              AVIERR_BADPARAM);
    int32_t bytes = 0;
    EXPECT_NE(AVIStreamRead(stream, 0, 1, nullptr, 0, &bytes, nullptr), AVIERR_OK);
    // The file outlives its own release while a stream holds it.
    EXPECT_EQ(AVIFileRelease(file), 1u);
    ASSERT_EQ(AVIStreamWrite(stream, 1, 1, frames[1].data(), static_cast<int32_t>(frames[1].size()),
                             AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(stream), 2);
    EXPECT_EQ(AVIStreamRelease(stream), 0u);
    // Released handles are refused, not used.
    EXPECT_EQ(AVIStreamWrite(stream, 2, 1, frames[1].data(), 4, 0, nullptr, nullptr),
              AVIERR_BADHANDLE);
    EXPECT_EQ(AVIStreamLength(stream), -1);
    EXPECT_EQ(AVIFileRelease(file), 0u);
    EXPECT_EQ(AVIFileGetStream(file, &missing, 0, 0), AVIERR_BADHANDLE);

    std::vector<Fields> streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0]["nb_read_packets"], "2");

    // A file opened for reading takes no streams or samples.
    ASSERT_EQ(AVIFileOpen(&file, path, OF_READWRITE), AVIERR_OK);
    EXPECT_EQ(AVIFileCreateStream(file, &missing, VideoInfo(kWidth, kHeight, kRate)),
              AVIERR_READONLY);
    ASSERT_EQ(AVIFileGetStream(file, &stream, streamtypeVIDEO, 0), AVIERR_OK);
    EXPECT_EQ(AVIStreamWrite(stream, 2, 1, frames[1].data(), 4, 0, nullptr, nullptr),
              AVIERR_READONLY);
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    EXPECT_NE(AVIFileOpen(&file, dir_ / "none.avi", OF_READ), AVIERR_OK);
    EXPECT_EQ(file, nullptr);
    EXPECT_NE(AVIFileOpen(&file, dir_ / "no/such/folder.avi", OF_WRITE | OF_CREATE), AVIERR_OK);
}

// The movie maker's rebuild and the save without a compressor copy streams: every sample with
// its key-frame flag, audio blocks as they are, and a stop when the progress callback asks.
TEST_F(AviWriteTest, StreamCopyKeepsEverySampleAndItsKeyFlag) {
    constexpr int kCount = 30;
    const Encoded encoded = EncodeFrames(dir_, "-c:v mpeg4 -g 10 -bf 0", kCount);
    ASSERT_EQ(encoded.frames.size(), static_cast<size_t>(kCount));
    const FOURCC fmp4 = mmioFOURCC('F', 'M', 'P', '4');
    const std::string source = dir_ / "source.avi", copy = dir_ / "copy.avi";
    Bytes pcm(8000 * 2 * 3);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<uint8_t>(i * 13 / 5);
    {
        VideoWriter movie(source, VideoInfo(64, 48, 10, fmp4), FrameHeader(64, 48, fmp4));
        for (int i = 0; i < kCount; ++i)
            ASSERT_EQ(movie.Write(encoded.frames[i], encoded.flags[i]), AVIERR_OK);
        PAVISTREAM audio = nullptr;
        ASSERT_EQ(AVIFileCreateStream(movie.File(), &audio, AudioInfo(8000, 1)), AVIERR_OK);
        const Bytes wave = PcmFormat(8000, 1);
        AVIStreamSetFormat(audio, 0, wave.data(), static_cast<int32_t>(wave.size()));
        for (int32_t s = 0; s < 8000 * 3; s += 1000)
            ASSERT_EQ(AVIStreamWrite(audio, s, 1000, pcm.data() + 2 * s, 2000, 0, nullptr, nullptr),
                      AVIERR_OK);
        AVIStreamRelease(audio);
        ASSERT_EQ(movie.Close(), AVIERR_OK);
    }
    PAVIFILE in = nullptr, out = nullptr;
    ASSERT_EQ(AVIFileOpen(&in, source, OF_READ), AVIERR_OK);
    ASSERT_EQ(AVIFileOpen(&out, copy, OF_WRITE | OF_CREATE), AVIERR_OK);
    PAVISTREAM streams[2] = {};
    ASSERT_EQ(AVIFileGetStream(in, &streams[0], streamtypeVIDEO, 0), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(in, &streams[1], streamtypeAUDIO, 0), AVIERR_OK);
    for (PAVISTREAM stream : streams) {
        int64_t copied = 0;
        const auto count = [&](int32_t samples) {
            copied += samples;
            return true;
        };
        EXPECT_EQ(AVIStreamCopy(stream, out, count), AVIERR_OK);
        EXPECT_EQ(copied, AVIStreamLength(stream));
    }
    EXPECT_EQ(AVIFileFinish(out), AVIERR_OK);
    AVIFileRelease(out);
    int blocks = 0;
    ASSERT_EQ(AVIFileOpen(&out, dir_ / "stopped.avi", OF_WRITE | OF_CREATE), AVIERR_OK);
    EXPECT_EQ(AVIStreamCopy(streams[0], out, [&](int32_t) { return ++blocks < 5; }),
              AVIERR_USERABORT);
    EXPECT_EQ(blocks, 5);
    AVIFileRelease(out);
    for (PAVISTREAM stream : streams)
        AVIStreamRelease(stream);
    AVIFileRelease(in);

    const std::vector<Fields> packets = ProbePackets(copy, "v:0");
    ASSERT_EQ(packets.size(), static_cast<size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(packets[i].at("flags")[0] == 'K', i % 10 == 0) << i;
        EXPECT_EQ(packets[i].at("size"), std::to_string(encoded.frames[i].size())) << i;
    }
    EXPECT_EQ(Decode(copy, "a:0", "-f s16le"), pcm);
    ASSERT_EQ(AVIFileOpen(&in, copy, OF_READ), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(in, &streams[0], streamtypeVIDEO, 0), AVIERR_OK);
    EXPECT_EQ(ReadSamples(streams[0]), encoded.frames);
    // ffprobe takes MPEG-4 key flags from the frames themselves: the index's are read here.
    for (int i = 0; i < kCount; ++i)
        EXPECT_EQ(AVIStreamIsKeyFrame(streams[0], i), i % 10 == 0) << i;
    AVIStreamRelease(streams[0]);
    AVIFileRelease(in);
}

TEST_F(AviWriteTest, ADeviceIsNoMovieFile) {
    VideoWriter movie("/dev/full", VideoInfo(320, 240, kRate), FrameHeader(320, 240));
    EXPECT_EQ(movie.Write(MakeFrame(320, 240, 0), AVIIF_KEYFRAME), AVIERR_FILEOPEN);
}

} // namespace
