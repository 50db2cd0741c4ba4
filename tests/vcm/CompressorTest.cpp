// The compressor list and frame-sequence compression: every offered compressor encodes frames
// whose packets libavcodec decodes back to the frames written.
#include "Frames.h"
#include "platform/vcm/Encoder.h"
#include "platform/vcm/Vcm.h"
#include "tests/platform/AviTestSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <string>

namespace {

using frames::Compress;
using frames::FourccText;
using frames::Sequence;
using frames::SequenceFrames;
using frames::Vars;

// Worst mean error per colour sample of a lossy compressor at its default quality on the test
// frames, 0..255 (Cirrus Logic's 4:1:1 and the 15-bit frames' rounding are the coarsest).
constexpr double LossyBound = 10.0;
constexpr int KeyEvery = 5;

// Decodes every packet in turn, and every key frame also alone (it needs no frame before it);
// returns the worst mean error against the frames written.
double WorstError(const Sequence& s, const BITMAPINFOHEADER& h) {
    auto decoder = vcm::Decoder::Open(s.format);
    EXPECT_NE(decoder, nullptr);
    if (!decoder) return 255;
    double worst = 0;
    std::vector<uint8_t> picture, alone;
    for (size_t i = 0; i < s.packets.size(); ++i) {
        const auto& p = s.packets[i];
        const auto size = static_cast<int32_t>(p.size());
        EXPECT_TRUE(decoder->Decode(p.data(), size, picture)) << "frame " << i;
        const auto written = frames::Bgr(h, frames::Make(h, static_cast<int>(i)));
        worst = std::max(worst, frames::MeanError(picture, written));
        if (!s.keys[i]) continue;
        EXPECT_TRUE(vcm::Decoder::Open(s.format)->Decode(p.data(), size, alone)) << "key " << i;
        worst = std::max(worst, frames::MeanError(alone, written));
    }
    return worst;
}

TEST(CompressorList, OffersTheExpectedCompressorsOncePerFourcc) {
    const auto list = ICCompressorList(frames::Header(640, 480));
    std::set<std::string> fourccs;
    for (const TCompressorInfo& info : list) {
        EXPECT_TRUE(fourccs.insert(FourccText(info.fccHandler)).second) << info.name;
        EXPECT_NE(info.fccHandler, comptypeDIB);
    }
    std::vector<std::string> expected = {"MJPG", "FFV1", "HFYU", "FFVH", "ULRG",
                                         "MP42", "MP43", "cvid", "MSVC", "FMP4"};
    if (avcodec_find_encoder_by_name("libx264") != nullptr) expected.push_back("H264");
    for (const std::string& f : expected)
        EXPECT_TRUE(fourccs.count(f)) << f;
    // Not offered: encoders that hold frames back, and H.263+, whose tag names plain H.263.
    for (const char* unfit : {"mpg1", "mpg2", "H263"})
        EXPECT_FALSE(fourccs.count(unfit));
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end(), [](const auto& a, const auto& b) {
        return std::lexicographical_compare(
            a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
            [](char x, char y) { return std::tolower(x) < std::tolower(y); });
    }));

    const auto rgb555 = ICCompressorList(frames::Header(640, 480, 16));
    EXPECT_TRUE(std::any_of(rgb555.begin(), rgb555.end(),
                            [](const auto& i) { return FourccText(i.fccHandler) == "MSVC"; }));
    // Formats the compressors cannot take get no list.
    auto rle = frames::Header(64, 48);
    rle.biCompression = 1;
    for (const auto& h : {frames::Header(64, 48, 32), frames::Header(0, 48), rle})
        EXPECT_TRUE(ICCompressorList(h).empty());
}

TEST(CompressorSequence, EveryCompressorGivesItsFramesBack) {
    for (const int bits : {24, 16}) {
        const auto h = frames::Header(96, 64, bits);
        for (const vcm::Candidate& c : vcm::Candidates(h)) {
            SCOPED_TRACE(FourccText(c.fccHandler) + " at " + std::to_string(bits) + " bits");
            auto cv = Vars(c.fccHandler, ICQUALITY_DEFAULT, KeyEvery);
            const Sequence s = Compress(cv, h);
            ASSERT_EQ(s.packets.size(), static_cast<size_t>(SequenceFrames));
            const auto* out = reinterpret_cast<const BITMAPINFOHEADER*>(s.format.data());
            EXPECT_EQ(out->biCompression, c.fccHandler);
            EXPECT_EQ(out->biWidth, 96);
            EXPECT_EQ(out->biHeight, 64);
            EXPECT_TRUE(s.keys[0]);
            const double error = WorstError(s, h);
            if (c.exact && bits == 24)
                EXPECT_EQ(error, 0);
            else
                EXPECT_LE(error, LossyBound);
        }
    }
}

constexpr uint32_t Mjpg = mmioFOURCC('M', 'J', 'P', 'G');
constexpr uint32_t Fmp4 = mmioFOURCC('F', 'M', 'P', '4');
constexpr uint32_t H264 = mmioFOURCC('H', '2', '6', '4');
constexpr uint32_t Ffv1 = mmioFOURCC('F', 'F', 'V', '1');
constexpr uint32_t Vp80 = mmioFOURCC('V', 'P', '8', '0');

size_t TotalBytes(const Sequence& s) {
    size_t total = 0;
    for (const auto& p : s.packets)
        total += p.size();
    return total;
}

std::vector<int> KeyFrames(const Sequence& s) {
    std::vector<int> keys;
    for (size_t i = 0; i < s.keys.size(); ++i)
        if (s.keys[i]) keys.push_back(static_cast<int>(i));
    return keys;
}

TEST(CompressorSettings, QualityKeyFramesAndDataRateReachTheEncoder) {
    const auto h = frames::Header(160, 120);
    // Quality: more bytes and smaller errors as it rises, MPEG-style quantiser and x264's crf.
    for (const uint32_t handler : {Mjpg, H264}) {
        if (!vcm::FindCandidate(h, handler)) continue;
        SCOPED_TRACE(FourccText(handler));
        auto low = Vars(handler, ICQUALITY_LOW), high = Vars(handler, ICQUALITY_HIGH);
        const Sequence coarse = Compress(low, h), fine = Compress(high, h);
        EXPECT_GT(TotalBytes(fine), 2 * TotalBytes(coarse));
        EXPECT_LT(WorstError(fine, h), WorstError(coarse, h));
    }
    // The default quality is the dialog's default for every encoder (the slider shows what
    // it gives), not a rate of a few hundred kbit/s that would starve full-size frames.
    const auto vga = frames::Header(640, 480);
    for (const uint32_t handler : {Mjpg, H264, Vp80}) {
        if (!vcm::FindCandidate(vga, handler)) continue;
        SCOPED_TRACE(FourccText(handler));
        auto byDefault = Vars(handler), byDialog = Vars(handler, vcm::DefaultQuality);
        const Sequence defaultFrames = Compress(byDefault, vga, 3, true);
        EXPECT_TRUE(defaultFrames.packets == Compress(byDialog, vga, 3, true).packets);
        EXPECT_GT(TotalBytes(defaultFrames), 3 * 256000 / 8 / 30 * 4);
    }
    // Key frame every 3 frames, and no key frame in between.
    for (const uint32_t handler : {Fmp4, H264}) {
        if (!vcm::FindCandidate(h, handler)) continue;
        SCOPED_TRACE(FourccText(handler));
        auto cv = Vars(handler, ICQUALITY_DEFAULT, 3);
        EXPECT_EQ(KeyFrames(Compress(cv, h)), (std::vector<int>{0, 3, 6, 9}));
    }
    // Data rate in kilobytes per second at 30 frames per second, over the quality: after the
    // first frame the rate control keeps within twice the budget.
    auto slow = Vars(Mjpg, ICQUALITY_HIGH, 0, 20), fast = Vars(Mjpg, ICQUALITY_LOW, 0, 2000);
    const Sequence slowFrames = Compress(slow, h, SequenceFrames, true);
    const size_t slowBytes = TotalBytes(slowFrames) - slowFrames.packets.at(0).size();
    EXPECT_LT(slowBytes, 20 * 1024 * (SequenceFrames - 1) / 30 * 2);
    EXPECT_GT(TotalBytes(Compress(fast, h, SequenceFrames, true)), 4 * slowBytes);
    // A lossless compressor stays lossless at the lowest quality.
    auto lossless = Vars(Ffv1, ICQUALITY_LOW);
    EXPECT_EQ(WorstError(Compress(lossless, h), h), 0);
    // Rows padded to four bytes: 642 pixels take 1926 bytes, a row 1928.
    const auto padded = frames::Header(642, 16);
    auto exact = Vars(Ffv1);
    EXPECT_EQ(WorstError(Compress(exact, padded), padded), 0);
}

// The sequence in an AVI file, its stream format with the codec data.
void WriteMovie(const std::string& path, const Sequence& s, const BITMAPINFOHEADER& h) {
    const auto* format = reinterpret_cast<const BITMAPINFOHEADER*>(s.format.data());
    const auto info = avitest::VideoInfo(h.biWidth, h.biHeight, 30, format->biCompression);
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileOpen(&file, path, OF_WRITE | OF_CREATE), AVIERR_OK);
    EXPECT_EQ(AVIFileCreateStream(file, &stream, info), AVIERR_OK);
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, s.format.data(), static_cast<int32_t>(s.format.size())),
              AVIERR_OK);
    for (size_t i = 0; i < s.packets.size(); ++i)
        EXPECT_EQ(AVIStreamWrite(stream, static_cast<int32_t>(i), 1, s.packets[i].data(),
                                 static_cast<int32_t>(s.packets[i].size()),
                                 s.keys[i] ? AVIIF_KEYFRAME : 0, nullptr, nullptr),
                  AVIERR_OK);
    AVIStreamRelease(stream);
    AVIFileRelease(file);
}

TEST(CompressorFormats, LossyMoviesAreFourTwoZeroWhereTheEncoderTakesTheSize) {
    struct Expected {
        const char* fourcc;
        const char* even; // pix_fmt at an even size
        const char* odd;  // and at an odd one
    };
    // x264 takes 4:2:0 at even sizes only; Motion JPEG is full-range, as ffmpeg writes it.
    const Expected table[] = {{"H264", "yuv420p", "yuv444p"}, {"MJPG", "yuvj420p", "yuvj420p"},
                              {"FMP4", "yuv420p", "yuv420p"}, {"VP90", "yuv420p", "yuv420p"},
                              {"AV01", "yuv420p", "yuv420p"}, {"theo", "yuv420p", "yuv420p"}};
    const std::string dir = ::testing::TempDir();
    for (const auto& h : {frames::Header(96, 64), frames::Header(97, 65)}) {
        const bool odd = h.biWidth % 2 != 0;
        for (const Expected& e : table) {
            const uint32_t handler = mmioFOURCC(e.fourcc[0], e.fourcc[1], e.fourcc[2], e.fourcc[3]);
            if (!vcm::FindCandidate(h, handler)) continue;
            SCOPED_TRACE(std::string(e.fourcc) + (odd ? " odd" : " even"));
            auto cv = Vars(handler);
            const Sequence s = Compress(cv, h);
            const std::string path = dir + "/vcm_format_" + e.fourcc + ".avi";
            WriteMovie(path, s, h);
            // The movie keeps its size, and ffmpeg decodes it whole.
            EXPECT_EQ(
                avitest::RunCommand(
                    "ffprobe -v error -show_entries stream=pix_fmt,width,height -of csv=p=0 '" +
                    path + "'")
                    .out,
                std::to_string(h.biWidth) + "," + std::to_string(h.biHeight) + "," +
                    (odd ? e.odd : e.even) + "\n");
            const auto decoded = avitest::Decode(path, "0", "-f rawvideo -pix_fmt bgr24");
            const size_t frameBytes = static_cast<size_t>(h.biWidth) * h.biHeight * 3;
            ASSERT_EQ(decoded.size(), frameBytes * SequenceFrames);
            const std::vector<uint8_t> last(decoded.end() - static_cast<ptrdiff_t>(frameBytes),
                                            decoded.end());
            EXPECT_LE(frames::MeanError(last, frames::Bgr(h, frames::Make(h, SequenceFrames - 1))),
                      LossyBound);
            std::remove(path.c_str());
        }
    }
    // Lossless ones stay exact at any size.
    const auto odd = frames::Header(97, 65);
    for (const uint32_t handler :
         {Ffv1, mmioFOURCC('H', 'F', 'Y', 'U'), mmioFOURCC('U', 'L', 'R', 'G')}) {
        SCOPED_TRACE(FourccText(handler));
        auto cv = Vars(handler);
        EXPECT_EQ(WorstError(Compress(cv, odd), odd), 0);
    }
}

TEST(CompressorCalls, MisuseFailsCleanly) {
    const auto h = frames::Header(64, 48);
    const auto bits = frames::Make(h, 0);
    bool key = false;
    int32_t size = 0;
    COMPVARS none = Vars(comptypeDIB);
    EXPECT_FALSE(ICSeqCompressFrameStart(&none, &h));
    EXPECT_EQ(ICSeqCompressFrame(&none, 0, bits.data(), &key, &size), nullptr);
    COMPVARS unknown = Vars(mmioFOURCC('X', 'X', 'X', 'X'));
    EXPECT_FALSE(ICSeqCompressFrameStart(&unknown, &h));
    EXPECT_FALSE(ICSeqCompressFrameStart(nullptr, &h));
    COMPVARS mjpg = Vars(Mjpg);
    EXPECT_FALSE(ICSeqCompressFrameStart(&mjpg, nullptr));
    const auto wide = frames::Header(64, 48, 32);
    EXPECT_FALSE(ICSeqCompressFrameStart(&mjpg, &wide));

    // After the end of a sequence no frame is taken, but the output format stays readable
    // until the compressor is freed; freeing twice is harmless.
    ASSERT_TRUE(ICSeqCompressFrameStart(&mjpg, &h));
    EXPECT_NE(ICSeqCompressFrame(&mjpg, 0, bits.data(), &key, &size), nullptr);
    EXPECT_EQ(ICSeqCompressFrame(&mjpg, 0, nullptr, &key, &size), nullptr);
    ICSeqCompressFrameEnd(&mjpg);
    EXPECT_EQ(ICSeqCompressFrame(&mjpg, 0, bits.data(), &key, &size), nullptr);
    EXPECT_EQ(mjpg.lpbiOut->biCompression, Mjpg);
    ICCompressorFree(&mjpg);
    EXPECT_EQ(mjpg.hic, nullptr);
    EXPECT_EQ(mjpg.lpbiOut, nullptr);
    ICCompressorFree(&mjpg);
    ICSeqCompressFrameEnd(&mjpg);
}

} // namespace
