// The AVI writer component: every movie it writes is opened by ffprobe and decoded by ffmpeg.
// No application object: dialogs are answered by script, the progress window is a recorder.
#include "MV_M/JxAvi.h"

#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/forms/Progress.h"
#include "platform/graphics/Bitmap.h"
#include "platform/rtl/FileWrite.h"
#include "platform/rtl/NewFiles.h"
#include "tests/platform/AviTestSupport.h"

#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <sys/mount.h>
#include <unistd.h>

namespace fs = std::filesystem;
using avitest::Bytes;

// Two faults the platform never shows on its own, put between the component and the platform by
// the linker (--wrap, see jxavi.cmake): a file that refuses the video stream, and a compressor
// that refuses one frame of its sequence.
namespace fault {
bool refuseStream = false;
int32_t refuseFrame = -1;
} // namespace fault

extern "C" {
HRESULT
__real__Z19AVIFileCreateStreamP8TAviFilePP10TAviStreamRK13AVISTREAMINFO(PAVIFILE, PAVISTREAM*,
                                                                        const AVISTREAMINFO&);
HRESULT __wrap__Z19AVIFileCreateStreamP8TAviFilePP10TAviStreamRK13AVISTREAMINFO(
    PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFO& info) {
    if (!fault::refuseStream)
        return __real__Z19AVIFileCreateStreamP8TAviFilePP10TAviStreamRK13AVISTREAMINFO(file, stream,
                                                                                       info);
    *stream = nullptr;
    return AVIERR_MEMORY;
}
const void* __real__Z18ICSeqCompressFrameP8COMPVARSjPKvPbPi(COMPVARS*, uint32_t, const void*, bool*,
                                                            int32_t*);
const void* __wrap__Z18ICSeqCompressFrameP8COMPVARSjPKvPbPi(COMPVARS* vars, uint32_t flags,
                                                            const void* bits, bool* key,
                                                            int32_t* size) {
    if (vars->lFrame == fault::refuseFrame) {
        fault::refuseFrame = -1;
        return nullptr;
    }
    return __real__Z18ICSeqCompressFrameP8COMPVARSjPKvPbPi(vars, flags, bits, key, size);
}
}

namespace {

constexpr FOURCC MJPG = mmioFOURCC('M', 'J', 'P', 'G');
using Frames = std::vector<std::unique_ptr<TBitmap>>;

// 24-bit frames whose every pixel depends on its place and number; smooth below 128 pixels,
// for the lossy compressor.
Frames MakeFrames(int width, int height, int count) {
    Frames frames;
    for (int n = 0; n < count; ++n) {
        auto& b = frames.emplace_back(std::make_unique<TBitmap>());
        b->SetPixelFormat(pf24bit);
        b->SetSize(width, height);
        for (int y = 0; y < height; ++y)
            for (uint8_t *p = b->ScanLine(y), *end = p + 3 * width; p < end; p += 3) {
                const int x = static_cast<int>(p - b->ScanLine(y)) / 3;
                p[0] = static_cast<uint8_t>(x * 2 + n * 8);
                p[1] = static_cast<uint8_t>(y * 3 + n * 5);
                p[2] = static_cast<uint8_t>(x + y + n * 20);
            }
    }
    return frames;
}

// The frames as ffmpeg gives them back (bgr24, or rgb555le for 16 bits): top row first.
Bytes Expected(const Frames& frames, int bits) {
    Bytes out;
    for (const auto& f : frames)
        for (int y = 0; y < f->Height(); ++y)
            for (const uint8_t *p = f->ScanLine(y), *end = p + 3 * f->Width(); p < end; p += 3) {
                const int w = (p[2] >> 3) << 10 | (p[1] >> 3) << 5 | p[0] >> 3;
                if (bits == 24)
                    out.insert(out.end(), p, p + 3);
                else
                    out.insert(out.end(), {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8)});
            }
    return out;
}

Bytes DecodeVideo(const std::string& path, const char* pixels = "bgr24") {
    return avitest::Decode(path, "v:0", std::string("-f rawvideo -pix_fmt ") + pixels);
}

// The handler of the file's first stream header, read from the bytes themselves.
FOURCC StreamHandler(const std::string& path) {
    const Bytes bytes = avitest::ReadFile(path);
    const std::string tag = "strh";
    const auto at = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end());
    FOURCC handler = 0xFFFFFFFF;
    if (bytes.end() - at >= 16) std::memcpy(&handler, &*(at + 12), sizeof(handler));
    return handler;
}

// The image size the file's video format declares.
uint32_t ImageSize(const std::string& path) {
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    BITMAPINFOHEADER format{};
    auto size = static_cast<int32_t>(sizeof format);
    if (AVIFileOpen(&file, path, OF_READ) == AVIERR_OK &&
        AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == AVIERR_OK)
        AVIStreamReadFormat(stream, 0, &format, &size);
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    return format.biSizeImage;
}

double MeanDifference(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += std::abs(a[i] - b[i]);
    return sum / static_cast<double>(a.size());
}

// The progress window: what it was asked to show, while it is shown; each move of its bar calls
// OnMove, which may press its abort button.
struct ProgressLog {
    std::vector<ProgressRequest> shown;
    bool open = false;
    ProgressAbort abort;
    std::function<void(int)> onMove;
};

class RecordedProgress final : public TProgressWindow {
public:
    explicit RecordedProgress(ProgressLog& log) : log_(log) { log_.open = true; }
    ~RecordedProgress() override { log_.open = false; }
    void SetPosition(int percent) override {
        if (log_.onMove) log_.onMove(percent);
    }

private:
    ProgressLog& log_;
};

class JxAviTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Application, nullptr);
        SetProgressWindowOverride([this](const ProgressRequest& r, ProgressAbort abort) {
            progress.shown.push_back(r);
            progress.abort = std::move(abort);
            return std::make_unique<RecordedProgress>(progress);
        });
        SetDialogAnswerer([this](const DialogRequest& r) {
            requests.push_back(r);
            DialogAnswer a;
            a.modalResult = mrOk;
            if (r.kind == DialogRequest::ChooseCompressor) {
                a.modalResult = mrCancel; // nothing scripted: cancelled
                if (!choices.empty()) {
                    a = choices.front();
                    choices.pop_front();
                }
            }
            return a;
        });
    }
    void TearDown() override {
        SetDialogAnswerer({});
        SetProgressWindowOverride({});
        SetFileWriteFailureOverride({});
        SetUnnamedFilesAvailable(true);
    }

    std::string Path(const std::string& name) const { return dir / name; }
    std::set<std::string> Files() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(Path("")))
            names.insert(e.path().filename().string());
        return names;
    }
    std::vector<std::string> Messages() const {
        std::vector<std::string> texts;
        for (const auto& r : requests)
            if (r.kind == DialogRequest::Message) texts.push_back(r.text);
        return texts;
    }
    std::vector<DialogRequest> CompressorDialogs() const {
        std::vector<DialogRequest> dialogs;
        for (const auto& r : requests)
            if (r.kind == DialogRequest::ChooseCompressor) dialogs.push_back(r);
        return dialogs;
    }
    // The answer to the next compressor dialog; 0 cancels it.
    void Choose(FOURCC handler) {
        DialogAnswer a;
        a.modalResult = handler != 0 ? mrOk : mrCancel;
        a.accepted = handler != 0;
        a.fccHandler = handler;
        a.quality = 9000;
        choices.push_back(a);
    }

    void Setup(const std::string& name, int width, int height, int bits, bool compress,
               bool preCompress) {
        avi.SetFileName(Path(name));
        avi.SetWidth(static_cast<uint16_t>(width));
        avi.SetHeight(static_cast<uint16_t>(height));
        avi.SetBitDepth(static_cast<uint16_t>(bits));
        avi.SetCompress(compress);
        avi.SetPreCompress(preCompress);
    }
    // Open, every frame, Close; Choice answers the compressor dialog that comes.
    void Make(const Frames& frames, FOURCC choice = 0) {
        if (choice != 0) Choose(choice);
        ASSERT_TRUE(avi.Open());
        for (const auto& f : frames)
            EXPECT_TRUE(avi.AddFrame(*f));
        avi.Close();
    }
    void ExpectUncompressed(const std::string& name, const Frames& frames, int bits) const {
        const auto streams = avitest::ProbeStreams(Path(name));
        ASSERT_EQ(streams.size(), 1u);
        EXPECT_EQ(streams[0].at("codec_name"), "rawvideo");
        EXPECT_EQ(streams[0].at("width"), std::to_string(frames.front()->Width()));
        EXPECT_EQ(streams[0].at("nb_read_packets"), std::to_string(frames.size()));
        EXPECT_EQ(DecodeVideo(Path(name), bits == 24 ? "bgr24" : "rgb555le"),
                  Expected(frames, bits));
    }
    void ExpectMjpg(const std::string& name, const Frames& frames) const {
        const auto streams = avitest::ProbeStreams(Path(name));
        ASSERT_EQ(streams.size(), 1u);
        EXPECT_EQ(streams[0].at("codec_tag_string"), "MJPG");
        EXPECT_EQ(streams[0].at("nb_read_packets"), std::to_string(frames.size()));
        for (const auto& p : avitest::ProbePackets(Path(name), "v:0"))
            EXPECT_EQ(p.at("flags")[0], 'K');
        // Quality 9000 of smooth frames: within 3 levels on average.
        EXPECT_LT(MeanDifference(DecodeVideo(Path(name)), Expected(frames, 24)), 3.0);
    }

    avitest::ScratchDir dir;
    TJxAvi avi;
    std::vector<DialogRequest> requests;
    std::deque<DialogAnswer> choices;
    ProgressLog progress;
};

} // namespace

TEST(JxAviProperties, ConstructorValuesAndSetterRules) {
    TJxAvi avi;
    EXPECT_EQ(avi.FileName(), "");
    EXPECT_EQ(avi.Width(), 320);
    EXPECT_EQ(avi.Height(), 240);
    EXPECT_TRUE(avi.Compress());
    EXPECT_FALSE(avi.PreCompress());
    EXPECT_EQ(avi.FrameRate(), 30);
    EXPECT_EQ(avi.BitDepth(), 16);
    using Pairs = std::initializer_list<std::pair<int, int>>;
    for (const auto& [given, stored] :
         Pairs{{0, 1}, {-5, 1}, {1, 1}, {12, 12}, {30, 30}, {31, 30}, {1000, 30}}) {
        avi.SetFrameRate(given);
        EXPECT_EQ(avi.FrameRate(), stored) << given;
    }
    for (const auto& [given, stored] : Pairs{{24, 24}, {16, 16}, {8, 16}, {32, 16}, {0, 16}}) {
        avi.SetBitDepth(static_cast<uint16_t>(given));
        EXPECT_EQ(avi.BitDepth(), stored) << given;
    }
    EXPECT_EQ(TJxAvi::MakeFourCC('D', 'I', 'B', ' '), 0x20424944u);
}

TEST_F(JxAviTest, UncompressedSamplesAreThePicturesRowsAndEqualTheDrawnFrames) {
    // Width 642: the buffer counts 644 pixels a row, but a sample holds the rows alone, 1928
    // (24 bits) and 1284 (16 bits) bytes each, as the format says: players place the rows from
    // the sample's end. Compress off asks nothing, PreCompress or not.
    using Cases = std::initializer_list<std::tuple<int, bool, uint32_t>>;
    for (const auto& [bits, preCompress, sampleBytes] :
         Cases{{24, false, 1928 * 480}, {16, true, 1284 * 480}}) {
        SCOPED_TRACE(bits);
        const std::string name = "movie" + std::to_string(bits) + ".avi";
        Setup(name, 642, 480, bits, false, preCompress);
        avi.SetFrameRate(12);
        const Frames frames = MakeFrames(642, 480, 3);
        Make(frames);
        EXPECT_TRUE(requests.empty());
        ExpectUncompressed(name, frames, bits);
        EXPECT_EQ(avitest::ProbeStreams(Path(name))[0].at("r_frame_rate"), "12/1");
        const auto packets = avitest::ProbePackets(Path(name), "v:0");
        ASSERT_EQ(packets.size(), 3u);
        for (const auto& p : packets)
            EXPECT_EQ(p.at("size") + p.at("flags"), std::to_string(sampleBytes) + "K_");
        EXPECT_EQ(StreamHandler(Path(name)), 0u);
        EXPECT_EQ(ImageSize(Path(name)), sampleBytes);
    }
}

TEST_F(JxAviTest, OpenDeletesWhatLiesAtFileName) {
    // A link there is removed, not written through.
    avitest::WriteFile(Path("other.txt"), {'k', 'e', 'e', 'p'});
    fs::create_symlink(Path("other.txt"), Path("movie.avi"));
    Setup("movie.avi", 16, 8, 24, false, false);
    const Frames frames = MakeFrames(16, 8, 2);
    Make(frames);
    EXPECT_FALSE(fs::is_symlink(Path("movie.avi")));
    EXPECT_EQ(avitest::ReadFile(Path("other.txt")), (Bytes{'k', 'e', 'e', 'p'}));
    ExpectUncompressed("movie.avi", frames, 24);
}

TEST_F(JxAviTest, CompressorChosenWhenOpening) {
    const Frames frames = MakeFrames(64, 48, 4);
    avitest::WriteFile(Path("movie.avi"), {}); // the placeholder the movie maker writes
    Setup("movie.avi", 64, 48, 24, true, true);

    // Cancelled: nothing is touched and the component says nothing.
    EXPECT_FALSE(avi.Open());
    ASSERT_EQ(CompressorDialogs().size(), 1u);
    EXPECT_EQ(CompressorDialogs()[0].caption, "ＡＶＩ圧縮方式選択");
    EXPECT_EQ(CompressorDialogs()[0].chooseFlags, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE);
    EXPECT_EQ(fs::file_size(Path("movie.avi")), 0u);
    avi.Close(); // nothing open: nothing happens

    // Full frames: an uncompressed movie with the handler 0.
    Make(frames, comptypeDIB);
    ExpectUncompressed("movie.avi", frames, 24);
    EXPECT_EQ(StreamHandler(Path("movie.avi")), 0u);

    // A compressor: every frame goes through it, and the stream names it.
    Make(frames, MJPG);
    ExpectMjpg("movie.avi", frames);
    EXPECT_EQ(StreamHandler(Path("movie.avi")), MJPG);

    // Lossless compressors whose decoders need the codec data behind the stream's header.
    for (const FOURCC handler : {mmioFOURCC('U', 'L', 'R', 'G'), mmioFOURCC('H', 'F', 'Y', 'U')}) {
        SCOPED_TRACE(handler);
        Make(frames, handler);
        EXPECT_EQ(DecodeVideo(Path("movie.avi")), Expected(frames, 24));
    }
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Files(), std::set<std::string>{"movie.avi"});
}

TEST_F(JxAviTest, RecompressionAtClosing) {
    const Frames frames = MakeFrames(64, 48, 5);
    Setup("movie.avi", 64, 48, 24, true, false);
    // Cancelled, or full frames: the uncompressed movie stays, without a word.
    for (const FOURCC choice : {FOURCC{0}, comptypeDIB}) {
        Make(frames, choice);
        ExpectUncompressed("movie.avi", frames, 24);
    }
    ASSERT_EQ(CompressorDialogs().size(), 2u);
    EXPECT_EQ(CompressorDialogs()[0].chooseFlags,
              ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE | ICMF_CHOOSE_PREVIEW);

    // A compressor: the re-compressed movie replaces the uncompressed one.
    Make(frames, MJPG);
    ExpectMjpg("movie.avi", frames);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Files(), std::set<std::string>{"movie.avi"});
}

TEST_F(JxAviTest, AbortedRecompressionKeepsTheUncompressedMovie) {
    const Frames frames = MakeFrames(64, 48, 5);
    Setup("a.b.avi", 64, 48, 24, true, false);
    // While the save runs, the bar moves: look at the progress window and the folder, and
    // press the abort button.
    bool seen = false;
    std::set<std::string> during;
    progress.onMove = [&](int) {
        if (seen) return;
        seen = true;
        during = Files();
        ASSERT_EQ(progress.shown.size(), 1u);
        EXPECT_EQ(progress.shown[0].caption, "進行状況");
        EXPECT_EQ(progress.shown[0].text, "圧縮ＡＶＩファイル作成中...");
        EXPECT_EQ(progress.shown[0].abortText, "中断");
        progress.abort();
    };
    Make(frames, MJPG);
    EXPECT_TRUE(seen);
    EXPECT_EQ(during, std::set<std::string>{"a.b.avi"}) << "the copy has no name yet";
    EXPECT_EQ(Messages(), std::vector<std::string>{"圧縮ＡＶＩファイル作成を中断しました."});
    EXPECT_EQ(Files(), std::set<std::string>{"a.b.avi"});
    EXPECT_FALSE(progress.open);
    ExpectUncompressed("a.b.avi", frames, 24);

    // The next re-compression is not stopped by the earlier abort.
    requests.clear();
    progress.onMove = {};
    Make(frames, MJPG);
    EXPECT_TRUE(Messages().empty());
    ExpectMjpg("a.b.avi", frames);
}

TEST_F(JxAviTest, NameWithoutExtensionGetsTheTemporaryEndingAppended) {
    // Named from the start, as on file systems without unnamed files.
    SetUnnamedFilesAvailable(false);
    const Frames frames = MakeFrames(32, 16, 2);
    Setup("movie", 32, 16, 24, true, false);
    std::set<std::string> during;
    progress.onMove = [&](int) { during = Files(); };
    Make(frames, MJPG);
    EXPECT_EQ(during, (std::set<std::string>{"movie", "movie_.avi"}));
    // A file of the user's own under the temporary name stays as it is.
    avitest::WriteFile(Path("movie_.avi"), {'m', 'i', 'n', 'e'});
    avi.Rebuild(-1);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Files(), (std::set<std::string>{"movie", "movie_.avi"}));
    EXPECT_EQ(avitest::ReadFile(Path("movie_.avi")), (Bytes{'m', 'i', 'n', 'e'}));
    ExpectMjpg("movie", frames);
}

TEST_F(JxAviTest, RebuildCopiesTheVideoStreamAndTheAudioStreamsAsked) {
    // Inter frames (a key frame every 5th, no parser to mend the flags) and two audio streams.
    const std::string source = Path("source.avi");
    ASSERT_TRUE(avitest::RunCommand(
                    "ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=10:duration=2 "
                    "-f lavfi -i sine=frequency=440:duration=2 -f lavfi -i sine=frequency=880:"
                    "duration=2 -map 0 -map 1 -map 2 -c:v msmpeg4v2 -g 5 -bf 0 -c:a pcm_s16le " +
                    source)
                    .ok);
    const auto sourcePackets = avitest::ProbePackets(source, "v:0");
    ASSERT_EQ(sourcePackets.size(), 20u);
    auto audio = [](const std::string& path, int n) {
        return avitest::Decode(path, "a:" + std::to_string(n), "-f s16le");
    };
    // SkipAudio, and the source's audio streams that stay, in order.
    for (const auto& [skip, kept] : std::vector<std::pair<int32_t, std::vector<int>>>{
             {-1, {}}, {0, {1}}, {1, {0}}, {7, {0, 1}}}) {
        SCOPED_TRACE(skip);
        fs::copy_file(source, Path("movie.avi"), fs::copy_options::overwrite_existing);
        avi.SetFileName(Path("movie.avi"));
        avi.Rebuild(skip);
        EXPECT_TRUE(Messages().empty());
        EXPECT_FALSE(fs::exists(Path("movie_.avi")));
        const auto streams = avitest::ProbeStreams(Path("movie.avi"));
        ASSERT_EQ(streams.size(), 1 + kept.size());
        EXPECT_EQ(streams[0].at("codec_name"), "msmpeg4v2");
        // The same samples, and the same key frames, so the copy seeks as the source did.
        EXPECT_EQ(avitest::ProbePackets(Path("movie.avi"), "v:0"), sourcePackets);
        EXPECT_EQ(DecodeVideo(Path("movie.avi")), DecodeVideo(source));
        for (size_t i = 0; i < kept.size(); ++i)
            EXPECT_EQ(audio(Path("movie.avi"), static_cast<int>(i)), audio(source, kept[i]));
    }
}

TEST_F(JxAviTest, WhatCannotBeWrittenIsReportedAndNothingIsLeftOpen) {
    const std::string cannotCreate = "ＡＶＩファイルを作成できませんでした.";
    avi.SetFileName(Path("missing.avi"));
    avi.Rebuild(-1);
    EXPECT_EQ(Messages(), std::vector<std::string>{"ＡＶＩファイルを開けませんでした."});

    // Frames too large for a sample, empty frames, and no folder for the file.
    requests.clear();
    using Cases = std::initializer_list<std::tuple<const char*, int, int>>;
    for (const auto& [name, w, h] : Cases{{"big.avi", 65535, 65535},
                                          {"a.avi", 0, 48},
                                          {"b.avi", 64, 0},
                                          {"no/such/c.avi", 16, 8}}) {
        Setup(name, w, h, 24, false, false);
        EXPECT_FALSE(avi.Open());
    }
    EXPECT_EQ(Messages(), std::vector<std::string>(4, cannotCreate));
    EXPECT_FALSE(avi.AddFrame(*MakeFrames(16, 8, 1)[0]));
    EXPECT_TRUE(Files().empty());
}

TEST_F(JxAviTest, EmptyMoviesStretchedFramesAndAMovieLeftOpen) {
    // A movie stopped before its first frame closes and rebuilds without a message.
    Setup("empty.avi", 16, 8, 24, false, false);
    Make({});
    avi.Close();
    avi.Rebuild(-1);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(avitest::ProbeStreams(Path("empty.avi")).at(0).at("codec_type"), "video");
    EXPECT_TRUE(avitest::ProbePackets(Path("empty.avi"), "v:0").empty());

    // A picture of another size is scaled: 2 x 1 into 4 x 2 doubles each pixel.
    Frames small;
    small.push_back(std::make_unique<TBitmap>());
    small[0]->SetPixelFormat(pf24bit);
    small[0]->SetSize(2, 1);
    small[0]->SetPixelColor(0, 0, clRed);
    small[0]->SetPixelColor(1, 0, clBlue);
    Setup("stretched.avi", 4, 2, 24, false, false);
    Make(small);
    const Bytes row = {0, 0, 255, 0, 0, 255, 255, 0, 0, 255, 0, 0};
    Bytes expected = row;
    expected.insert(expected.end(), row.begin(), row.end());
    EXPECT_EQ(DecodeVideo(Path("stretched.avi")), expected);

    // A component destroyed with its movie open leaves a finished movie.
    const Frames frames = MakeFrames(16, 8, 2);
    {
        TJxAvi open;
        open.SetFileName(Path("open.avi"));
        open.SetWidth(16);
        open.SetHeight(8);
        open.SetCompress(false);
        ASSERT_TRUE(open.Open());
        for (const auto& f : frames)
            open.AddFrame(*f);
    }
    ExpectUncompressed("open.avi", frames, 16);
}

TEST_F(JxAviTest, StreamAndCompressorFailuresAreReportedAndOpenOrTheFrameGivesUp) {
    Frames frames = MakeFrames(64, 48, 4);
    Setup("movie.avi", 64, 48, 24, false, false);
    fault::refuseStream = true;
    EXPECT_FALSE(avi.Open());
    fault::refuseStream = false;

    // A data rate no compressor can keep to: it cannot start its sequence.
    Setup("movie.avi", 64, 48, 24, true, true);
    Choose(MJPG);
    choices.back().dataRate = std::numeric_limits<int32_t>::max();
    EXPECT_FALSE(avi.Open());

    // A frame the compressor fails on is dropped; the frames after it are written.
    Choose(MJPG);
    ASSERT_TRUE(avi.Open());
    fault::refuseFrame = 1;
    std::vector<bool> added;
    for (const auto& f : frames)
        added.push_back(avi.AddFrame(*f));
    avi.Close();
    EXPECT_EQ(added, (std::vector<bool>{true, false, true, true}));
    frames.erase(frames.begin() + 1);
    ExpectMjpg("movie.avi", frames);

    std::vector<std::pair<std::string, TMsgDlgType>> shown;
    for (const auto& r : requests)
        if (r.kind == DialogRequest::Message) shown.emplace_back(r.text, r.type);
    EXPECT_EQ(shown, (std::vector<std::pair<std::string, TMsgDlgType>>{
                         {"映像ストリームを作成できませんでした.", mtWarning},
                         {"フレームシーケンス圧縮のリソースが初期化出来ません.", mtError},
                         {"フレームシーケンス圧縮が出来ませんでした.", mtError}}));
}

TEST_F(JxAviTest, CloseAndRebuildReportMoviesTheyCannotReadOrReplace) {
    const Frames frames = MakeFrames(16, 8, 2);
    const std::string movie = Path("movie.avi");
    const std::string audio = Path("audio.avi");
    ASSERT_TRUE(
        avitest::RunCommand("ffmpeg -v error -f lavfi -i sine=duration=0.2 -c:a pcm_s16le " + audio)
            .ok);
    // The movie removed, or replaced by one without video, while it was written: the
    // re-compression has nothing to read and asks nothing.
    Setup("movie.avi", 16, 8, 24, true, false);
    for (const bool replaced : {false, true}) {
        ASSERT_TRUE(avi.Open());
        for (const auto& f : frames)
            avi.AddFrame(*f);
        fs::remove(movie);
        if (replaced) fs::copy_file(audio, movie);
        avi.Close();
    }
    EXPECT_TRUE(CompressorDialogs().empty());

    // Rebuild: a file that is no AVI, one without video, a movie whose temporary name is taken
    // by a folder (another is found), and one whose stream header has no time scale (no copy
    // can be made of it).
    avitest::WriteFile(movie, {'t', 'e', 'x', 't'});
    avi.Rebuild(-1);
    fs::copy_file(audio, movie, fs::copy_options::overwrite_existing);
    avi.Rebuild(-1);
    Setup("movie.avi", 16, 8, 24, false, false);
    Make(frames);
    fs::create_directory(Path("movie_.avi"));
    avi.Rebuild(-1);
    fs::remove(Path("movie_.avi"));
    ExpectUncompressed("movie.avi", frames, 24);
    Bytes damaged = avitest::ReadFile(movie);
    const std::string strh = "strh";
    const auto header = std::search(damaged.begin(), damaged.end(), strh.begin(), strh.end());
    ASSERT_NE(header, damaged.end());
    std::fill_n(header + 8 + 20, 4, 0); // dwScale
    avitest::WriteFile(movie, damaged);
    avi.Rebuild(-1);
    EXPECT_EQ(avitest::ReadFile(movie), damaged);
    EXPECT_EQ(Files(), (std::set<std::string>{"audio.avi", "movie.avi"}));

    EXPECT_EQ(Messages(), (std::vector<std::string>{"ＡＶＩファイルを開けませんでした.",
                                                    "映像ストリームを開けませんでした.",
                                                    "ＡＶＩファイルを開けませんでした.",
                                                    "映像ストリームを開けませんでした.",
                                                    "ＡＶＩファイルを再構成出来ませんでした."}));
}

TEST_F(JxAviTest, AMovieTheDiskFillsWhileItIsFinishedIsToldAndReplacesNothing) {
    const Frames frames = MakeFrames(16, 8, 3);
    const std::string movie = Path("movie.avi");
    const std::string failed = movie + "\r\nＡＶＩファイルに書き込めませんでした.";
    // Every frame written, then the disk is full for the index: one box, and the frames the
    // file could keep (here none: their room does not free any).
    Setup("movie.avi", 16, 8, 24, true, false);
    bool full = false;
    SetFileWriteFailureOverride([&](const std::string& name) { return full && name == movie; });
    ASSERT_TRUE(avi.Open());
    for (const auto& f : frames)
        avi.AddFrame(*f);
    full = true;
    avi.Close();
    EXPECT_EQ(Messages(), std::vector<std::string>{failed});
    EXPECT_EQ(avi.FrameCount(), 0);
    EXPECT_TRUE(CompressorDialogs().empty());

    // The rebuild's copy fills the disk at its index: the movie stays as it was.
    requests.clear();
    SetFileWriteFailureOverride({});
    Setup("movie.avi", 16, 8, 24, false, false);
    Make(frames);
    const avitest::Bytes made = avitest::ReadFile(movie);
    int writes = 0;
    SetFileWriteFailureOverride([&](const std::string& name) {
        return name == Path("movie_.avi") && ++writes > static_cast<int>(frames.size());
    });
    avi.Rebuild(-1);
    EXPECT_EQ(Messages(), std::vector<std::string>{"ＡＶＩファイルを再構成出来ませんでした."});
    EXPECT_EQ(avitest::ReadFile(movie), made);
    EXPECT_EQ(Files(), std::set<std::string>{"movie.avi"});
}

TEST_F(JxAviTest, ARebuildWithoutAnInodeForItsCopySaysItCouldNotRebuild) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
    const std::string disk = Path("disk");
    fs::create_directory(disk);
    // The folder and the movie take the disk's only inodes.
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m,nr_inodes=2") != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    Setup("disk/movie.avi", 16, 8, 24, false, false);
    const Frames frames = MakeFrames(16, 8, 2);
    Make(frames);
    avi.Rebuild(-1);
    EXPECT_EQ(Messages(), std::vector<std::string>{"ＡＶＩファイルを再構成出来ませんでした."});
    fs::copy_file(Path("disk/movie.avi"), Path("check.avi")); // ffmpeg has no room on the disk
    umount2(disk.c_str(), MNT_DETACH);
    ExpectUncompressed("check.avi", frames, 24);
}
