// The compressor list and frame-sequence compression: every offered compressor encodes frames
// whose packets libavcodec decodes back to the frames written.
#include "Frames.h"
#include "platform/vcm/Encoder.h"
#include "platform/vcm/Vcm.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <string>

namespace {

// Worst mean error per colour sample of a lossy compressor at its default quality on the test
// frames, 0..255 (Cirrus Logic's 4:1:1 and the 15-bit frames' rounding are the coarsest).
constexpr double LossyBound = 10.0;
constexpr int SequenceFrames = 10;
constexpr int KeyEvery = 5;

std::string FourccText(uint32_t f) {
    return {static_cast<char>(f), static_cast<char>(f >> 8), static_cast<char>(f >> 16),
            static_cast<char>(f >> 24)};
}

COMPVARS Vars(uint32_t handler, int32_t quality = ICQUALITY_DEFAULT, int32_t key = 0,
              int32_t dataRate = 0) {
    COMPVARS cv;
    cv.cbSize = sizeof cv;
    cv.dwFlags = ICMF_COMPVARS_VALID;
    cv.fccHandler = handler;
    cv.lQ = quality;
    cv.lKey = key;
    cv.lDataRate = dataRate;
    return cv;
}

std::vector<uint8_t> FormatOf(const COMPVARS& cv) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(cv.lpbiOut);
    return {bytes, bytes + cv.lpbiOut->biSize};
}

struct Sequence {
    std::vector<std::vector<uint8_t>> packets;
    std::vector<bool> keys;
    std::vector<uint8_t> format;
};

// Frames 0..Count-1 through the compressor, as the movie maker hands them over.
Sequence Compress(COMPVARS& cv, const BITMAPINFOHEADER& h, int count = SequenceFrames) {
    Sequence s;
    EXPECT_TRUE(ICSeqCompressFrameStart(&cv, &h));
    if (cv.lpbiOut == nullptr) return s;
    s.format = FormatOf(cv);
    for (int i = 0; i < count; ++i) {
        const auto bits = frames::Make(h, i);
        bool key = false;
        int32_t size = static_cast<int32_t>(bits.size());
        const auto* data =
            static_cast<const uint8_t*>(ICSeqCompressFrame(&cv, 0, bits.data(), &key, &size));
        EXPECT_NE(data, nullptr) << "frame " << i;
        if (data == nullptr) break;
        s.packets.emplace_back(data, data + size);
        s.keys.push_back(key);
    }
    ICSeqCompressFrameEnd(&cv);
    ICCompressorFree(&cv);
    return s;
}

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
    // Encoders that hold frames back are not offered.
    for (const char* delayed : {"mpg1", "mpg2"})
        EXPECT_FALSE(fourccs.count(delayed));
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

} // namespace
