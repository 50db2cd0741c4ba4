// Files of other tools read through the AVI file services: ffmpeg's movies with sound, and
// small files in the shapes other writers use (records, JUNK, odd chunks, each kind of index).
#include "AviCrafted.h"

#include <gtest/gtest.h>

using namespace avitest;

namespace {

class AviReadTest : public ::testing::Test {
protected:
    void SetUp() override { AVIFileInit(); }
    void TearDown() override { AVIFileExit(); }
    ScratchDir dir_;
};

// The packets of one stream as ffmpeg reads them, one after the other.
Bytes Packets(const std::string& path, const std::string& stream) {
    return Decode(path, stream, "-c copy -f data");
}

Bytes Joined(const std::vector<Bytes>& blocks) {
    Bytes all;
    for (const Bytes& b : blocks)
        all.insert(all.end(), b.begin(), b.end());
    return all;
}

// Every stream of type Type, its samples in convenient blocks.
std::vector<std::vector<Bytes>> ReadStreams(PAVIFILE file, FOURCC type) {
    std::vector<std::vector<Bytes>> streams;
    PAVISTREAM stream = nullptr;
    for (int32_t n = 0; AVIFileGetStream(file, &stream, type, n) == AVIERR_OK; ++n) {
        streams.push_back(ReadSamples(stream));
        AVIStreamRelease(stream);
    }
    return streams;
}

class AviFfmpegFileTest : public AviReadTest, public ::testing::WithParamInterface<const char*> {};

INSTANTIATE_TEST_SUITE_P(AudioCodecs, AviFfmpegFileTest,
                         ::testing::Values("pcm_s16le", "libmp3lame"));

TEST_P(AviFfmpegFileTest, VideoAndAudioReadBackStreamByStream) {
    const std::string path = dir_ / "ffmpeg.avi";
    ASSERT_TRUE(RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=10 -f lavfi -i "
                           "sine=sample_rate=22050 -t 3 -c:v mjpeg -c:a " +
                           std::string(GetParam()) + " '" + path + "'")
                    .ok);
    std::vector<Fields> probed = ProbeStreams(path);
    ASSERT_EQ(probed.size(), 2u);
    const Bytes video = Packets(path, "v:0"), audio = Packets(path, "a:0");
    ASSERT_FALSE(video.empty());
    ASSERT_FALSE(audio.empty());

    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpen(&file, path, OF_READ), AVIERR_OK);
    const auto videos = ReadStreams(file, streamtypeVIDEO);
    const auto audios = ReadStreams(file, streamtypeAUDIO);
    ASSERT_EQ(videos.size(), 1u);
    ASSERT_EQ(audios.size(), 1u);
    // The frame count of ffmpeg's header: ffprobe skips an empty chunk (a dropped frame) that
    // ffmpeg writes to keep the sound in step, but it still takes a frame's time.
    EXPECT_EQ(std::to_string(videos[0].size()), probed[0]["nb_frames"]);
    EXPECT_EQ(Joined(videos[0]), video);
    EXPECT_EQ(Joined(audios[0]), audio);
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &stream, streamtypeAUDIO, 0), AVIERR_OK);
    AVISTREAMINFO info;
    ASSERT_EQ(AVIStreamInfo(stream, &info, sizeof info), AVIERR_OK);
    // PCM counts sample blocks, MP3 one sample per chunk.
    const size_t expected = info.dwSampleSize > 0 ? audio.size() / info.dwSampleSize
                                                  : std::stoul(probed[1]["nb_read_packets"]);
    EXPECT_EQ(static_cast<size_t>(AVIStreamLength(stream)), expected);
    AVIStreamRelease(stream);
    EXPECT_EQ(AVIFileGetStream(file, &stream, streamtypeAUDIO, 1), AVIERR_NODATA);
    AVIFileRelease(file);
}

struct Shape {
    const char* name;
    Bytes (*make)(const std::string& path);
};

class AviShapeTest : public AviReadTest, public ::testing::WithParamInterface<Shape> {};

INSTANTIATE_TEST_SUITE_P(
    Shapes, AviShapeTest,
    ::testing::Values(
        Shape{"NoIndex", [](const std::string&) { return CraftAvi({}); }},
        Shape{"NoIndexRecords", [](const std::string&) { return CraftAvi({.records = true}); }},
        Shape{"Idx1Records",
              [](const std::string&) {
                  return CraftAvi({.index = CraftedIndex::Idx1Relative, .records = true});
              }},
        Shape{"Idx1Absolute",
              [](const std::string&) { return CraftAvi({.index = CraftedIndex::Idx1Absolute}); }},
        Shape{"OpenDml", SmallOpenDml}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_P(AviShapeTest, EverySampleIsFoundOnceAndInOrder) {
    const std::string path = dir_ / (std::string(GetParam().name) + ".avi");
    WriteFile(path, GetParam().make(path));
    KeepAsSeed(path, std::string(GetParam().name) + ".avi");
    std::vector<Fields> probed = ProbeStreams(path);
    ASSERT_EQ(probed.size(), 2u);
    EXPECT_EQ(probed[0]["nb_read_packets"], std::to_string(kCraftedFrames));
    EXPECT_EQ(probed[1]["nb_read_packets"], std::to_string(kCraftedFrames));

    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpen(&file, path, OF_READ), AVIERR_OK);
    std::vector<Bytes> frames, audio;
    for (int i = 0; i < kCraftedFrames; ++i) {
        frames.push_back(MakeFrame(kCraftedWidth, kCraftedHeight, i));
        audio.push_back(CraftedAudio(i));
    }
    EXPECT_EQ(ReadStreams(file, streamtypeVIDEO), std::vector<std::vector<Bytes>>{frames});
    EXPECT_EQ(ReadStreams(file, streamtypeAUDIO), std::vector<std::vector<Bytes>>{audio});
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &stream, 0, 1), AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(stream), static_cast<int32_t>(Joined(audio).size()));
    int32_t bytesRead = 0, samples = 0;
    EXPECT_EQ(AVIStreamRead(stream, AVIStreamLength(stream), 1, nullptr, 0, &bytesRead, &samples),
              AVIERR_NODATA);
    uint8_t small[1];
    EXPECT_EQ(AVIStreamRead(stream, 0, 1, small, 1, &bytesRead, &samples), AVIERR_OK);
    EXPECT_EQ(samples, 1);
    AVIStreamRelease(stream);
    ASSERT_EQ(AVIFileGetStream(file, &stream, streamtypeVIDEO, 0), AVIERR_OK);
    EXPECT_EQ(AVIStreamRead(stream, 0, 1, small, 1, &bytesRead, &samples), AVIERR_BUFFERTOOSMALL);
    AVIStreamRelease(stream);
    AVIFileRelease(file);
}

} // namespace
