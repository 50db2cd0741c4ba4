// Compressed movies in AVI files: every compressor's frames written through the AVI file
// services, and the save-options dialog and re-compressing save; ffprobe and ffmpeg check every
// file written.
#include "platform/vcm/AviSave.h"

#include "Frames.h"
#include "platform/classes/Classes.h"
#include "platform/forms/Dialogs.h"
#include "platform/vcm/Encoder.h"
#include "platform/vcm/Vcm.h"
#include "tests/platform/AviTestSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using avitest::Bytes;
using avitest::ScratchDir;

constexpr int Width = 96, Height = 64;
constexpr uint32_t Rate = 30;
constexpr int SourceFrames = 20;
constexpr uint32_t Mjpg = mmioFOURCC('M', 'J', 'P', 'G');
constexpr uint32_t Ffv1 = mmioFOURCC('F', 'F', 'V', '1');
constexpr double LossyBound = 10.0; // mean error per colour sample, as for the packets
constexpr uint32_t AllChooseFlags =
    ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE | ICMF_CHOOSE_PREVIEW;

// The worst mean error of ffmpeg's decoding of a file's frames against the test frames.
double FileError(const std::string& path, const BITMAPINFOHEADER& h, int count) {
    const Bytes decoded = avitest::Decode(path, "0", "-f rawvideo -pix_fmt bgr24");
    const size_t frameBytes = static_cast<size_t>(h.biWidth) * h.biHeight * 3;
    EXPECT_EQ(decoded.size(), frameBytes * count) << path;
    if (decoded.size() != frameBytes * count) return 255;
    double worst = 0;
    for (int i = 0; i < count; ++i) {
        const Bytes frame(decoded.begin() + static_cast<ptrdiff_t>(frameBytes * i),
                          decoded.begin() + static_cast<ptrdiff_t>(frameBytes * (i + 1)));
        worst = std::max(worst, frames::MeanError(frame, frames::Bgr(h, frames::Make(h, i))));
    }
    return worst;
}

void ExpectVideoStream(const std::string& path, const std::string& codec, const std::string& fourcc,
                       int count) {
    const auto streams = avitest::ProbeStreams(path);
    ASSERT_EQ(streams.size(), 1u) << path;
    auto s = streams[0];
    EXPECT_EQ(s["codec_type"], "video");
    EXPECT_EQ(s["codec_name"], codec);
    EXPECT_EQ(s["codec_tag_string"], fourcc);
    EXPECT_EQ(s["width"], std::to_string(Width));
    EXPECT_EQ(s["height"], std::to_string(Height));
    EXPECT_EQ(s["r_frame_rate"], std::to_string(Rate) + "/1");
    EXPECT_EQ(s["nb_read_packets"], std::to_string(count));
}

TEST(CompressorFiles, EveryCompressorWritesMoviesFfmpegPlays) {
    const ScratchDir dir;
    const auto h = frames::Header(Width, Height);
    for (const vcm::Candidate& c : vcm::Candidates(h)) {
        const std::string fourcc = frames::FourccText(c.fccHandler);
        SCOPED_TRACE(fourcc);
        auto cv = frames::Vars(c.fccHandler);
        const auto s = frames::Compress(cv, h);
        ASSERT_EQ(s.packets.size(), static_cast<size_t>(frames::SequenceFrames));
        std::vector<uint32_t> flags;
        for (const bool key : s.keys)
            flags.push_back(key ? AVIIF_KEYFRAME : 0);
        const std::string path = dir / (c.name + ".avi");
        // The stream format as the compressor gives it, codec data included.
        PAVIFILE file = nullptr;
        ASSERT_EQ(AVIFileOpen(&file, path, OF_WRITE | OF_CREATE), AVIERR_OK);
        PAVISTREAM stream = nullptr;
        ASSERT_EQ(AVIFileCreateStream(file, &stream,
                                      avitest::VideoInfo(Width, Height, Rate, c.fccHandler)),
                  AVIERR_OK);
        EXPECT_EQ(
            AVIStreamSetFormat(stream, 0, s.format.data(), static_cast<int32_t>(s.format.size())),
            AVIERR_OK);
        for (size_t i = 0; i < s.packets.size(); ++i)
            EXPECT_EQ(AVIStreamWrite(stream, static_cast<int32_t>(i), 1, s.packets[i].data(),
                                     static_cast<int32_t>(s.packets[i].size()), flags[i], nullptr,
                                     nullptr),
                      AVIERR_OK);
        AVIStreamRelease(stream);
        AVIFileRelease(file);

        ExpectVideoStream(path, avcodec_get_name(c.codec->id), fourcc, frames::SequenceFrames);
        // Seeds for the reader's fuzzing: a stream format with codec data, and H.264.
        if (fourcc == "ULRG" || fourcc == "H264")
            avitest::KeepAsSeed(path, "Vcm" + fourcc + ".avi");
        const auto packets = avitest::ProbePackets(path, "v:0");
        ASSERT_EQ(packets.size(), s.keys.size());
        for (size_t i = 0; i < packets.size(); ++i)
            EXPECT_EQ(packets[i].at("flags")[0] == 'K', s.keys[i]) << "frame " << i;
        const double error = FileError(path, h, frames::SequenceFrames);
        if (c.exact)
            EXPECT_EQ(error, 0);
        else
            EXPECT_LE(error, LossyBound);
    }
}

class AviSaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<Bytes> samples;
        for (int i = 0; i < SourceFrames; ++i)
            samples.push_back(frames::Make(header, i));
        ASSERT_EQ(avitest::WriteMovie(source, avitest::VideoInfo(Width, Height, Rate), header,
                                      samples, std::vector<uint32_t>(SourceFrames, AVIIF_KEYFRAME)),
                  AVIERR_OK);
        ASSERT_EQ(AVIFileOpen(&file, source, OF_READ), AVIERR_OK);
        ASSERT_EQ(AVIFileGetStream(file, &stream, streamtypeVIDEO, 0), AVIERR_OK);
        options.fccType = streamtypeVIDEO;
        options.fccHandler = comptypeDIB;
        percents.clear();
        stopAt = 101;
    }
    void TearDown() override {
        SetDialogAnswerer({});
        SetFileWriteFailureOverride({});
        if (stream) AVIStreamRelease(stream);
        if (file) AVIFileRelease(file);
    }
    HRESULT Save(const std::string& path) {
        return AVISaveV(path, nullptr, &Callback, 1, &stream, &optionsRef);
    }
    // Records every percentage and asks to stop from StopAt on.
    static int32_t Callback(int32_t percent) {
        percents.push_back(percent);
        return percent >= stopAt ? 1 : 0;
    }

    static inline std::vector<int32_t> percents;
    static inline int32_t stopAt = 101;
    const ScratchDir dir;
    const std::string source = dir / "movie.avi";
    const BITMAPINFOHEADER header = frames::Header(Width, Height);
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    AVICOMPRESSOPTIONS options;
    LPAVICOMPRESSOPTIONS optionsRef = &options;
};

TEST_F(AviSaveTest, RecompressesWithProgressAndCopiesFullFrames) {
    // A record the dialog never filled (all zero but the handler) asks for the default
    // quality, not the lowest.
    options.fccHandler = Mjpg;
    const std::string target = dir / "movie_.avi";
    ASSERT_EQ(Save(target), AVIERR_OK);
    options.dwQuality = static_cast<uint32_t>(ICQUALITY_DEFAULT);
    options.dwFlags = AVICOMPRESSF_VALID;
    ASSERT_EQ(Save(dir / "default.avi"), AVIERR_OK);
    EXPECT_EQ(avitest::ReadFile(target), avitest::ReadFile(dir / "default.avi"));
    percents.clear();
    ASSERT_EQ(Save(target), AVIERR_OK);
    ExpectVideoStream(target, "mjpeg", "MJPG", SourceFrames);
    EXPECT_LE(FileError(target, header, SourceFrames), LossyBound);
    ASSERT_GE(percents.size(), static_cast<size_t>(SourceFrames));
    EXPECT_EQ(percents.front(), 0);
    EXPECT_EQ(percents.back(), 100);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));

    // Lossless re-compression and full frames give the very frames back.
    options.fccHandler = Ffv1;
    const std::string lossless = dir / "ffv1.avi";
    ASSERT_EQ(Save(lossless), AVIERR_OK);
    ExpectVideoStream(lossless, "ffv1", "FFV1", SourceFrames);
    EXPECT_EQ(FileError(lossless, header, SourceFrames), 0);
    options.fccHandler = comptypeDIB;
    const std::string copy = dir / "copy.avi";
    ASSERT_EQ(Save(copy), AVIERR_OK);
    ExpectVideoStream(copy, "rawvideo", "[0][0][0][0]", SourceFrames);
    EXPECT_EQ(FileError(copy, header, SourceFrames), 0);
}

TEST_F(AviSaveTest, AbortStopsAtOnceLeavesTheSourceAndTheNextSaveRuns) {
    const Bytes before = avitest::ReadFile(source);
    options.fccHandler = Mjpg;
    const std::string target = dir / "movie_.avi";
    stopAt = 50;
    EXPECT_EQ(Save(target), AVIERR_USERABORT);
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 50); // not called again after the stop
    EXPECT_EQ(std::count_if(percents.begin(), percents.end(), [](int p) { return p >= 50; }), 1);
    std::filesystem::remove(target); // as the movie maker does
    EXPECT_EQ(avitest::ReadFile(source), before);
    ExpectVideoStream(source, "rawvideo", "[0][0][0][0]", SourceFrames);

    stopAt = 101;
    percents.clear();
    EXPECT_EQ(Save(target), AVIERR_OK);
    ExpectVideoStream(target, "mjpeg", "MJPG", SourceFrames);
    EXPECT_LE(FileError(target, header, SourceFrames), LossyBound);
}

TEST_F(AviSaveTest, BadRequestsFailWithTheirCodes) {
    options.fccHandler = mmioFOURCC('X', 'X', 'X', 'X');
    EXPECT_EQ(Save(dir / "none.avi"), AVIERR_NOCOMPRESSOR);
    EXPECT_EQ(AVISaveV(dir / "none.avi", nullptr, nullptr, 0, &stream, &optionsRef),
              AVIERR_BADPARAM);
    PAVISTREAM missing = nullptr;
    EXPECT_EQ(AVISaveV(dir / "none.avi", nullptr, nullptr, 1, &missing, &optionsRef),
              AVIERR_BADHANDLE);
    options.fccHandler = Mjpg;
    EXPECT_NE(Save(dir / "no-such-folder/x.avi"), AVIERR_OK);

    // Samples shorter than their frames (another tool's file) are completed, not overread.
    const std::string shortSamples = dir / "short.avi";
    ASSERT_EQ(avitest::WriteMovie(shortSamples, avitest::VideoInfo(Width, Height, Rate), header,
                                  {Bytes(100, 0x80), Bytes(7, 0x10)},
                                  {AVIIF_KEYFRAME, AVIIF_KEYFRAME}),
              AVIERR_OK);
    PAVIFILE shortFile = nullptr;
    PAVISTREAM shortStream = nullptr;
    ASSERT_EQ(AVIFileOpen(&shortFile, shortSamples, OF_READ), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(shortFile, &shortStream, streamtypeVIDEO, 0), AVIERR_OK);
    EXPECT_EQ(AVISaveV(dir / "padded.avi", nullptr, nullptr, 1, &shortStream, &optionsRef),
              AVIERR_OK);
    AVIStreamRelease(shortStream);
    AVIFileRelease(shortFile);
    ExpectVideoStream(dir / "padded.avi", "mjpeg", "MJPG", 2);
    EXPECT_EQ(avitest::Decode(dir / "padded.avi", "0", "-f rawvideo -pix_fmt bgr24").size(),
              2u * Width * Height * 3);
}

// A save without a compressor copies the key frames as they are (one every ten here), and a
// file that cannot be written or finished whole is a write error, whichever way it is saved.
TEST_F(AviSaveTest, CopyKeepsKeyFramesAndAFullDiskIsAWriteError) {
    const auto candidates = vcm::Candidates(header);
    const auto mpeg4 = std::find_if(candidates.begin(), candidates.end(),
                                    [](const auto& c) { return c.codec->id == AV_CODEC_ID_MPEG4; });
    ASSERT_NE(mpeg4, candidates.end());
    options.fccHandler = mpeg4->fccHandler;
    options.dwKeyFrameEvery = 10;
    options.dwFlags = AVICOMPRESSF_VALID | AVICOMPRESSF_KEYFRAMES;
    const std::string compressed = dir / "mpeg4.avi", copy = dir / "copy.avi";
    ASSERT_EQ(Save(compressed), AVIERR_OK);
    PAVIFILE compressedFile = nullptr;
    PAVISTREAM compressedStream = nullptr;
    ASSERT_EQ(AVIFileOpen(&compressedFile, compressed, OF_READ), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(compressedFile, &compressedStream, streamtypeVIDEO, 0), AVIERR_OK);
    options.fccHandler = comptypeDIB;
    percents.clear();
    EXPECT_EQ(AVISaveV(copy, nullptr, &Callback, 1, &compressedStream, &optionsRef), AVIERR_OK);
    EXPECT_EQ(percents.size(), static_cast<size_t>(SourceFrames + 1));
    EXPECT_EQ(percents.back(), 100);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    const auto packets = avitest::ProbePackets(copy, "v:0");
    ASSERT_EQ(packets.size(), static_cast<size_t>(SourceFrames));
    for (size_t i = 0; i < packets.size(); ++i)
        EXPECT_EQ(packets[i].at("flags")[0] == 'K', i % 10 == 0) << i;

    const std::string full = dir / "full.avi";
    SetFileWriteFailureOverride([&](const std::string& name) { return name == full; });
    // Small frames all wait in the writer's buffer: only finishing the file shows the failure.
    EXPECT_EQ(AVISaveV(full, nullptr, nullptr, 1, &compressedStream, &optionsRef),
              AVIERR_FILEWRITE);
    EXPECT_EQ(Save(full), AVIERR_FILEWRITE);
    options.fccHandler = Mjpg;
    EXPECT_EQ(Save(full), AVIERR_FILEWRITE);
    // Every sample in, then the disk fills at the index: only the finishing tells.
    options.fccHandler = comptypeDIB;
    int writes = 0;
    SetFileWriteFailureOverride(
        [&](const std::string& name) { return name == full && ++writes > SourceFrames; });
    EXPECT_EQ(Save(full), AVIERR_FILEWRITE);
    AVIStreamRelease(compressedStream);
    AVIFileRelease(compressedFile);
}

TEST_F(AviSaveTest, OptionsDialogFillsTheRecordOrKeepsTheHandler) {
    std::vector<DialogRequest> requests;
    DialogAnswer answer;
    SetDialogAnswerer([&](const DialogRequest& r) {
        requests.push_back(r);
        return answer;
    });
    options.dwQuality = 1234;
    EXPECT_FALSE(AVISaveOptions(nullptr, AllChooseFlags, 1, &stream, &optionsRef));
    EXPECT_EQ(options.fccHandler, comptypeDIB);
    EXPECT_EQ(options.dwQuality, 1234u);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].kind, DialogRequest::ChooseCompressor);
    EXPECT_EQ(requests[0].caption, "圧縮オプション");
    EXPECT_EQ(requests[0].chooseFlags, AllChooseFlags);
    EXPECT_EQ(requests[0].compressors.size(), ICCompressorList(header).size());

    answer.accepted = true;
    answer.fccHandler = Mjpg;
    answer.quality = 8000;
    answer.keyFrameEvery = 10;
    answer.dataRate = 300;
    EXPECT_TRUE(AVISaveOptions(nullptr, AllChooseFlags, 1, &stream, &optionsRef));
    EXPECT_EQ(options.fccType, streamtypeVIDEO);
    EXPECT_EQ(options.fccHandler, Mjpg);
    EXPECT_EQ(options.dwQuality, 8000u);
    EXPECT_EQ(options.dwKeyFrameEvery, 10u);
    EXPECT_EQ(options.dwBytesPerSecond, 300u * 1024);
    EXPECT_EQ(options.dwFlags, AVICOMPRESSF_VALID | AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_DATARATE);
    EXPECT_EQ(AVISaveOptionsFree(1, &optionsRef), AVIERR_OK);
    EXPECT_EQ(Save(dir / "chosen.avi"), AVIERR_OK);
    ExpectVideoStream(dir / "chosen.avi", "mjpeg", "MJPG", SourceFrames);
    EXPECT_LE(FileError(dir / "chosen.avi", header, SourceFrames), LossyBound);
}

} // namespace
