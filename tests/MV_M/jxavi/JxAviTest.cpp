// The AVI writer component: every movie it writes is opened by ffprobe and decoded by ffmpeg.
#include "MV_M/JxAvi.h"

#include "MediaTools.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/graphics/Bitmap.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cstring>
#include <deque>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr FOURCC MJPG = mmioFOURCC('M', 'J', 'P', 'G');
constexpr char ChooseTitle[] = "ＡＶＩ圧縮方式選択";
constexpr char SaveAbortedText[] = "圧縮ＡＶＩファイル作成を中断しました.";

TApplication& App() {
    static int argc = 1;
    static char name[] = "test_jxavi";
    static char* argv[] = {name, nullptr};
    static auto* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new TApplication(argc, argv);
    }();
    return *app;
}

// A 24-bit frame whose every pixel depends on its place and the frame number; smooth enough
// for a lossy compressor below 128 pixels.
std::unique_ptr<TBitmap> Frame(int width, int height, int n) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf24bit);
    b->SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = b->ScanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<uint8_t>(x * 2 + n * 8);
            row[3 * x + 1] = static_cast<uint8_t>(y * 3 + n * 5);
            row[3 * x + 2] = static_cast<uint8_t>(x + y + n * 20);
        }
    }
    return b;
}

// The frames as ffmpeg gives them back: top row first, no padding.
std::vector<uint8_t> Expected(const std::vector<std::unique_ptr<TBitmap>>& frames, int bits) {
    std::vector<uint8_t> out;
    for (const auto& f : frames)
        for (int y = 0; y < f->Height(); ++y) {
            const uint8_t* row = f->ScanLine(y);
            for (int x = 0; x < f->Width(); ++x) {
                const uint8_t* p = row + 3 * x;
                if (bits == 24) {
                    out.insert(out.end(), p, p + 3);
                } else {
                    const int w = (p[2] >> 3) << 10 | (p[1] >> 3) << 5 | p[0] >> 3;
                    out.push_back(static_cast<uint8_t>(w));
                    out.push_back(static_cast<uint8_t>(w >> 8));
                }
            }
        }
    return out;
}

std::vector<std::unique_ptr<TBitmap>> Frames(int width, int height, int count) {
    std::vector<std::unique_ptr<TBitmap>> frames;
    for (int n = 0; n < count; ++n)
        frames.push_back(Frame(width, height, n));
    return frames;
}

// The handler of the file's first stream header, read from the bytes themselves.
FOURCC StreamHandler(const std::string& path) {
    const std::vector<uint8_t> bytes = media::ReadBytes(path);
    const uint8_t tag[] = {'s', 't', 'r', 'h'};
    const auto at = std::search(bytes.begin(), bytes.end(), std::begin(tag), std::end(tag));
    if (bytes.end() - at < 16) return 0xFFFFFFFF;
    FOURCC handler = 0;
    std::memcpy(&handler, &*(at + 12), sizeof(handler));
    return handler;
}

double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += std::abs(a[i] - b[i]);
    return sum / static_cast<double>(a.size());
}

class JxAviTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() /
              ("jxavi_" + std::to_string(::getpid()) + "_" + info->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        SetDialogAnswerer([this](const DialogRequest& r) {
            requests.push_back(r);
            DialogAnswer a;
            a.modalResult = mrOk;
            if (r.kind == DialogRequest::ChooseCompressor) {
                if (!choices.empty()) {
                    a = choices.front();
                    choices.pop_front();
                } else {
                    a.modalResult = mrCancel;
                }
            }
            return a;
        });
    }
    void TearDown() override {
        SetDialogAnswerer({});
        fs::remove_all(dir);
    }

    std::string Path(const std::string& name) const { return (dir / name).string(); }
    std::set<std::string> Files() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.insert(e.path().filename().string());
        return names;
    }
    // The texts of the message boxes shown so far.
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
    void Choose(FOURCC handler) {
        DialogAnswer a;
        a.modalResult = mrOk;
        a.accepted = true;
        a.fccHandler = handler;
        a.quality = 9000;
        choices.push_back(a);
    }
    void CancelChoice() {
        DialogAnswer a;
        a.modalResult = mrCancel;
        choices.push_back(a);
    }

    static void Setup(TJxAvi& avi, const std::string& path, int width, int height, int bits,
                      bool compress, bool preCompress) {
        avi.SetFileName(path);
        avi.SetWidth(static_cast<uint16_t>(width));
        avi.SetHeight(static_cast<uint16_t>(height));
        avi.SetBitDepth(static_cast<uint16_t>(bits));
        avi.SetCompress(compress);
        avi.SetPreCompress(preCompress);
    }
    static void Write(TJxAvi& avi, const std::vector<std::unique_ptr<TBitmap>>& frames) {
        for (const auto& f : frames)
            EXPECT_TRUE(avi.AddFrame(*f));
        avi.Close();
    }
    // An uncompressed movie of Frames, as ffprobe and ffmpeg see it.
    static void ExpectUncompressed(const std::string& path,
                                   const std::vector<std::unique_ptr<TBitmap>>& frames, int bits) {
        const auto s = media::Streams(path);
        EXPECT_EQ(media::StreamCount(s), 1);
        EXPECT_EQ(s.at("0.codec_name"), "rawvideo");
        EXPECT_EQ(s.at("0.width"), std::to_string(frames.front()->Width()));
        EXPECT_EQ(s.at("0.height"), std::to_string(frames.front()->Height()));
        EXPECT_EQ(s.at("0.nb_read_frames"), std::to_string(frames.size()));
        EXPECT_EQ(media::DecodeVideo(path, bits == 24 ? "bgr24" : "rgb555le"),
                  Expected(frames, bits));
    }
    void ExpectMjpg(const std::string& path, const std::vector<std::unique_ptr<TBitmap>>& frames) {
        const auto s = media::Streams(path);
        EXPECT_EQ(media::StreamCount(s), 1);
        EXPECT_EQ(s.at("0.codec_name"), "mjpeg");
        EXPECT_EQ(s.at("0.codec_tag_string"), "MJPG");
        EXPECT_EQ(s.at("0.nb_read_frames"), std::to_string(frames.size()));
        for (const auto& p : media::VideoPackets(path))
            EXPECT_TRUE(p.key);
        // Quality 9000 of smooth frames: well within 3 levels on average.
        EXPECT_LT(MeanDifference(media::DecodeVideo(path), Expected(frames, 24)), 3.0);
    }

    fs::path dir;
    std::vector<DialogRequest> requests;
    std::deque<DialogAnswer> choices;
};

// The progress window while it is shown, as the user sees it.
QWidget* ProgressWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == QString("進行状況")) return w;
    return nullptr;
}

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

    const std::pair<int32_t, int32_t> rates[] = {{0, 1},   {-5, 1},  {1, 1},    {12, 12},
                                                 {30, 30}, {31, 30}, {1000, 30}};
    for (const auto& [given, stored] : rates) {
        avi.SetFrameRate(given);
        EXPECT_EQ(avi.FrameRate(), stored) << given;
    }
    const std::pair<uint16_t, uint16_t> depths[] = {{24, 24}, {16, 16}, {8, 16},
                                                    {32, 16}, {15, 16}, {0, 16}};
    for (const auto& [given, stored] : depths) {
        avi.SetBitDepth(given);
        EXPECT_EQ(avi.BitDepth(), stored) << given;
    }
    EXPECT_EQ(TJxAvi::MakeFourCC('D', 'I', 'B', ' '), 0x20424944u);
}

TEST_F(JxAviTest, UncompressedSamplesHoldTheWholeBufferAndEqualTheDrawnFrames) {
    // Width 642 is not a multiple of four pixels: 644 pixels count in every sample, while
    // the rows take 1928 (24 bits) and 1284 (16 bits) bytes. Compress off never asks anything,
    // PreCompress or not.
    struct Case {
        int bits;
        bool preCompress;
        int64_t sampleBytes;
    };
    for (const Case c : {Case{24, false, 1932 * 480}, Case{16, true, 1288 * 480}}) {
        SCOPED_TRACE(c.bits);
        TJxAvi avi;
        const std::string path = Path("movie" + std::to_string(c.bits) + ".avi");
        Setup(avi, path, 642, 480, c.bits, false, c.preCompress);
        avi.SetFrameRate(12);
        const auto frames = Frames(642, 480, 3);
        ASSERT_TRUE(avi.Open());
        Write(avi, frames);

        EXPECT_TRUE(requests.empty());
        ExpectUncompressed(path, frames, c.bits);
        EXPECT_EQ(media::Streams(path).at("0.r_frame_rate"), "12/1");
        const auto packets = media::VideoPackets(path);
        ASSERT_EQ(packets.size(), 3u);
        for (const auto& p : packets) {
            EXPECT_EQ(p.size, c.sampleBytes);
            EXPECT_TRUE(p.key);
        }
        EXPECT_EQ(StreamHandler(path), 0u);
    }
}

TEST_F(JxAviTest, OpenDeletesWhatLiesAtFileName) {
    // A link there is removed, not written through.
    const std::string other = Path("other.txt");
    { std::ofstream(other) << "keep"; }
    fs::create_symlink(other, Path("movie.avi"));
    TJxAvi avi;
    Setup(avi, Path("movie.avi"), 16, 8, 24, false, false);
    ASSERT_TRUE(avi.Open());
    const auto frames = Frames(16, 8, 2);
    Write(avi, frames);
    EXPECT_FALSE(fs::is_symlink(Path("movie.avi")));
    EXPECT_EQ(media::ReadBytes(other), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    ExpectUncompressed(Path("movie.avi"), frames, 24);
}

TEST_F(JxAviTest, CompressorChosenWhenOpening) {
    const auto frames = Frames(64, 48, 4);
    const std::string path = Path("movie.avi");
    {
        std::ofstream(path) << ""; // the placeholder the movie maker writes
    }

    // Cancelled: no file is touched and the component says nothing.
    TJxAvi avi;
    Setup(avi, path, 64, 48, 24, true, true);
    CancelChoice();
    EXPECT_FALSE(avi.Open());
    ASSERT_EQ(CompressorDialogs().size(), 1u);
    EXPECT_EQ(CompressorDialogs()[0].caption, ChooseTitle);
    EXPECT_EQ(CompressorDialogs()[0].chooseFlags, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(fs::file_size(path), 0u);
    avi.Close(); // nothing open: nothing happens

    // Full frames: an uncompressed movie with the handler 0.
    Choose(comptypeDIB);
    ASSERT_TRUE(avi.Open());
    Write(avi, frames);
    ExpectUncompressed(path, frames, 24);
    EXPECT_EQ(StreamHandler(path), 0u);

    // A compressor: every frame goes through it, and the stream names it.
    Choose(MJPG);
    ASSERT_TRUE(avi.Open());
    Write(avi, frames);
    ExpectMjpg(path, frames);
    EXPECT_EQ(StreamHandler(path), MJPG);

    // Lossless compressors whose decoders need the codec data behind the header.
    BITMAPINFOHEADER input;
    input.biWidth = 64;
    input.biHeight = 48;
    input.biBitCount = 24;
    int tried = 0;
    for (const TCompressorInfo& c : ICCompressorList(input)) {
        if (c.fccHandler != mmioFOURCC('U', 'L', 'R', 'G') &&
            c.fccHandler != mmioFOURCC('H', 'F', 'Y', 'U'))
            continue;
        SCOPED_TRACE(c.name);
        ++tried;
        Choose(c.fccHandler);
        ASSERT_TRUE(avi.Open());
        Write(avi, frames);
        EXPECT_EQ(media::Streams(path).at("0.nb_read_frames"), "4");
        EXPECT_EQ(media::DecodeVideo(path), Expected(frames, 24));
    }
    EXPECT_GT(tried, 0);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Files(), std::set<std::string>{"movie.avi"});
}

TEST_F(JxAviTest, RecompressionAtClosing) {
    const auto frames = Frames(64, 48, 5);
    const std::string path = Path("movie.avi");
    TJxAvi avi;
    Setup(avi, path, 64, 48, 24, true, false);

    // Cancelled: the uncompressed movie stays, without a word.
    ASSERT_TRUE(avi.Open());
    EXPECT_TRUE(CompressorDialogs().empty());
    CancelChoice();
    Write(avi, frames);
    ASSERT_EQ(CompressorDialogs().size(), 1u);
    EXPECT_EQ(CompressorDialogs()[0].chooseFlags,
              ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE | ICMF_CHOOSE_PREVIEW);
    ExpectUncompressed(path, frames, 24);

    // Full frames: the same.
    ASSERT_TRUE(avi.Open());
    Choose(comptypeDIB);
    Write(avi, frames);
    ExpectUncompressed(path, frames, 24);

    // A compressor: the re-compressed movie replaces the uncompressed one.
    ASSERT_TRUE(avi.Open());
    Choose(MJPG);
    Write(avi, frames);
    ExpectMjpg(path, frames);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Files(), std::set<std::string>{"movie.avi"});
    EXPECT_EQ(ProgressWindow(), nullptr);
}

TEST_F(JxAviTest, AbortedRecompressionKeepsTheUncompressedMovie) {
    const auto frames = Frames(64, 48, 5);
    const std::string path = Path("a.b.avi");
    TJxAvi avi;
    Setup(avi, path, 64, 48, 24, true, false);
    ASSERT_TRUE(avi.Open());
    for (const auto& f : frames)
        avi.AddFrame(*f);

    // While the save runs, the window's events go on: look at the progress window, see the
    // temporary file, and press the abort button.
    bool seen = false;
    std::set<std::string> during;
    QTimer::singleShot(0, [&] {
        QWidget* w = ProgressWindow();
        ASSERT_NE(w, nullptr);
        seen = true;
        during = Files();
        EXPECT_FALSE(w->isModal());
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_EQ(w->size(), QSize(200, 80));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        EXPECT_LE((w->frameGeometry().center() - screen.center()).manhattanLength(), 4);
        auto* label = w->findChild<QLabel*>("Label1");
        auto* abort = w->findChild<QPushButton*>("Abort1");
        auto* bar = w->findChild<QProgressBar*>("ProgressBar1");
        ASSERT_TRUE(label && abort && bar);
        EXPECT_EQ(label->text(), QString("圧縮ＡＶＩファイル作成中..."));
        EXPECT_EQ(label->pos(), QPoint(8, 8));
        EXPECT_EQ(abort->text(), QString("中断"));
        EXPECT_EQ(abort->geometry(), QRect(64, 48, 72, 24));
        EXPECT_EQ(bar->geometry(), QRect(20, 24, 160, 16));
        EXPECT_EQ(bar->minimum(), 0);
        EXPECT_EQ(bar->maximum(), 100);
        abort->click();
    });
    Choose(MJPG);
    avi.Close();
    EXPECT_TRUE(seen);
    EXPECT_TRUE(during.contains("a.b_.avi"));
    EXPECT_EQ(Messages(), std::vector<std::string>{SaveAbortedText});
    EXPECT_EQ(Files(), std::set<std::string>{"a.b.avi"});
    EXPECT_EQ(ProgressWindow(), nullptr);
    ExpectUncompressed(path, frames, 24);

    // The next re-compression is not stopped by the earlier abort.
    requests.clear();
    ASSERT_TRUE(avi.Open());
    Choose(MJPG);
    Write(avi, frames);
    EXPECT_TRUE(Messages().empty());
    ExpectMjpg(path, frames);
}

TEST_F(JxAviTest, NameWithoutExtensionGetsTheTemporaryEndingAppended) {
    const auto frames = Frames(32, 16, 2);
    const std::string path = Path("movie");
    TJxAvi avi;
    Setup(avi, path, 32, 16, 24, true, false);
    ASSERT_TRUE(avi.Open());
    std::set<std::string> during;
    QTimer::singleShot(0, [&] { during = Files(); });
    Choose(MJPG);
    Write(avi, frames);
    EXPECT_EQ(during, (std::set<std::string>{"movie", "movie_.avi"}));
    EXPECT_EQ(Files(), std::set<std::string>{"movie"});
    ExpectMjpg(path, frames);

    avi.Rebuild(-1);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Files(), std::set<std::string>{"movie"});
    ExpectMjpg(path, frames);
}

TEST_F(JxAviTest, RebuildCopiesTheVideoStreamAndTheAudioStreamsAsked) {
    // Inter frames (key every 5th) and two audio streams, made by ffmpeg.
    const std::string source = Path("source.avi");
    int status = -1;
    media::Run("ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=10:duration=2 -f lavfi "
               "-i sine=frequency=440:duration=2 -f lavfi -i sine=frequency=880:duration=2 "
               "-map 0 -map 1 -map 2 -c:v msmpeg4v2 -g 5 -bf 0 -c:a pcm_s16le " +
                   media::Quoted(source),
               &status);
    ASSERT_EQ(status, 0);
    const std::vector<uint8_t> video = media::DecodeVideo(source);
    const auto sourcePackets = media::VideoPackets(source);
    ASSERT_EQ(sourcePackets.size(), 20u);
    auto audio = [](const std::string& path, int n) {
        return media::Run("ffmpeg -v error -i " + media::Quoted(path) +
                          " -map 0:a:" + std::to_string(n) + " -f s16le -");
    };

    struct Case {
        int32_t skipAudio;
        std::vector<int> audioKept; // numbers in the source
    };
    for (const Case& c : {Case{-1, {}}, Case{0, {1}}, Case{1, {0}}, Case{7, {0, 1}}}) {
        SCOPED_TRACE(c.skipAudio);
        const std::string path = Path("movie.avi");
        fs::copy_file(source, path, fs::copy_options::overwrite_existing);
        TJxAvi avi;
        avi.SetFileName(path);
        avi.Rebuild(c.skipAudio);
        EXPECT_TRUE(Messages().empty());
        EXPECT_FALSE(fs::exists(Path("movie_.avi")));

        const auto s = media::Streams(path);
        ASSERT_EQ(media::StreamCount(s), 1 + static_cast<int>(c.audioKept.size()));
        EXPECT_EQ(s.at("0.codec_name"), "msmpeg4v2");
        EXPECT_EQ(s.at("0.nb_read_frames"), "20");
        EXPECT_EQ(media::DecodeVideo(path), video);
        // Still seekable: the key frames stay the source's.
        const auto packets = media::VideoPackets(path);
        ASSERT_EQ(packets.size(), sourcePackets.size());
        for (size_t i = 0; i < packets.size(); ++i) {
            EXPECT_EQ(packets[i].size, sourcePackets[i].size) << i;
            EXPECT_EQ(packets[i].key, sourcePackets[i].key) << i;
        }
        for (size_t i = 0; i < c.audioKept.size(); ++i) {
            EXPECT_EQ(s.at(std::to_string(i + 1) + ".codec_name"), "pcm_s16le");
            EXPECT_EQ(audio(path, static_cast<int>(i)), audio(source, c.audioKept[i]));
        }
    }
}

TEST_F(JxAviTest, WhatCannotBeWrittenIsReportedAndNothingIsLeftOpen) {
    // A missing file cannot be rebuilt; it is not created either.
    TJxAvi avi;
    avi.SetFileName(Path("missing.avi"));
    avi.Rebuild(-1);
    EXPECT_EQ(Messages(), std::vector<std::string>{"ＡＶＩファイルを開けませんでした."});
    EXPECT_TRUE(Files().empty());

    // Frames too large for a sample, and empty frames, are refused before any file is made.
    requests.clear();
    for (const auto& [w, h] : {std::pair{65535, 65535}, std::pair{0, 48}, std::pair{64, 0}}) {
        Setup(avi, Path("big.avi"), w, h, 24, false, false);
        EXPECT_FALSE(avi.Open());
    }
    EXPECT_EQ(Messages(), std::vector<std::string>(3, "ＡＶＩファイルを作成できませんでした."));
    EXPECT_TRUE(Files().empty());

    // No folder to create the file in.
    requests.clear();
    Setup(avi, Path("no/such/movie.avi"), 16, 8, 24, false, false);
    EXPECT_FALSE(avi.Open());
    EXPECT_EQ(Messages(), std::vector<std::string>{"ＡＶＩファイルを作成できませんでした."});
    EXPECT_FALSE(avi.AddFrame(*Frame(16, 8, 0)));
}

TEST_F(JxAviTest, EmptyMoviesStretchedFramesAndAMovieLeftOpen) {
    // A movie stopped before its first frame closes and rebuilds without a message.
    TJxAvi avi;
    Setup(avi, Path("empty.avi"), 16, 8, 24, false, false);
    ASSERT_TRUE(avi.Open());
    avi.Close();
    avi.Close();
    avi.Rebuild(-1);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Files(), std::set<std::string>{"empty.avi"});
    EXPECT_EQ(media::Streams(Path("empty.avi")).at("0.codec_type"), "video");

    // A picture of another size is scaled to the movie's: 2 x 1 into 4 x 2 doubles each pixel.
    auto small = std::make_unique<TBitmap>();
    small->SetPixelFormat(pf24bit);
    small->SetSize(2, 1);
    small->SetPixelColor(0, 0, clRed);
    small->SetPixelColor(1, 0, clBlue);
    Setup(avi, Path("stretched.avi"), 4, 2, 24, false, false);
    ASSERT_TRUE(avi.Open());
    EXPECT_TRUE(avi.AddFrame(*small));
    avi.Close();
    const std::vector<uint8_t> red = {0, 0, 255}, blue = {255, 0, 0};
    std::vector<uint8_t> expected;
    for (int i = 0; i < 2; ++i)
        for (const auto* p : {&red, &red, &blue, &blue})
            expected.insert(expected.end(), p->begin(), p->end());
    EXPECT_EQ(media::DecodeVideo(Path("stretched.avi")), expected);

    // A component destroyed with its movie open leaves a finished movie.
    const auto frames = Frames(16, 8, 2);
    {
        TJxAvi open;
        Setup(open, Path("open.avi"), 16, 8, 16, false, false);
        ASSERT_TRUE(open.Open());
        for (const auto& f : frames)
            open.AddFrame(*f);
    }
    ExpectUncompressed(Path("open.avi"), frames, 16);
}
