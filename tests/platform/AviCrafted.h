// Small AVI files put together chunk by chunk, in the shapes other tools write (records,
// JUNK, odd chunks, absolute idx1 offsets), for the reader and hostile tests.
#pragma once

#include "AviTestSupport.h"
#include "platform/avi/AviWriter.h"
#include "platform/avi/RiffFormat.h"

namespace avitest {

inline constexpr int kCraftedWidth = 8;
inline constexpr int kCraftedHeight = 4;
inline constexpr int kCraftedFrames = 5;
inline constexpr uint32_t kCraftedSampleRate = 8000;

// Audio chunks of 8-bit mono samples, odd sizes among them.
inline Bytes CraftedAudio(int chunk) {
    return Bytes(static_cast<size_t>(101 + 2 * chunk), static_cast<uint8_t>(0x80 + chunk));
}

enum class CraftedIndex { None, Idx1Relative, Idx1Absolute };

struct CraftedOptions {
    CraftedIndex index = CraftedIndex::None;
    bool records = false; // each frame and its audio in a 'LIST rec '
};

// A video stream (8 x 4, 24 bits, 10 frames per second) and an audio stream (8000 Hz, 8 bits).
inline Bytes CraftAvi(const CraftedOptions& options) {
    using namespace avi;
    ByteBuffer b;
    const size_t riff = b.BeginChunk(kRiff);
    b.U32(kFormAvi);
    const size_t hdrl = b.BeginList(kHdrl);
    const size_t avih = b.BeginChunk(kAvih);
    b.Zeros(kMainHeaderSize);
    b.EndChunk(avih);
    auto streamList = [&](FOURCC type, uint32_t rate, uint32_t sampleSize, const Bytes& format) {
        const size_t strl = b.BeginList(kStrl);
        const size_t strh = b.BeginChunk(kStrh);
        b.U32(type);
        b.Zeros(16);
        b.U32(1); // dwScale
        b.U32(rate);
        b.Zeros(16);
        b.U32(sampleSize);
        b.Zeros(8);
        b.EndChunk(strh);
        const size_t strf = b.BeginChunk(kStrf);
        b.Bytes(format.data(), format.size());
        b.EndChunk(strf);
        b.EndChunk(strl);
    };
    const BITMAPINFOHEADER video = FrameHeader(kCraftedWidth, kCraftedHeight);
    const auto* v = reinterpret_cast<const uint8_t*>(&video);
    const Bytes wave = PcmFormat(kCraftedSampleRate, 1, 8);
    streamList(streamtypeVIDEO, 10, 0, Bytes(v, v + sizeof video));
    streamList(streamtypeAUDIO, kCraftedSampleRate, 1, wave);
    b.EndChunk(hdrl);
    const size_t junk = b.BeginChunk(kJunk);
    b.Zeros(13);
    b.EndChunk(junk);

    const size_t movi = b.BeginList(kMovi);
    struct Written {
        FOURCC id;
        size_t offset;
        uint32_t size;
        uint32_t flags;
    };
    std::vector<Written> written;
    auto sample = [&](FOURCC id, const Bytes& data, uint32_t flags) {
        written.push_back({id, b.Size(), static_cast<uint32_t>(data.size()), flags});
        const size_t c = b.BeginChunk(id);
        b.Bytes(data.data(), data.size());
        b.EndChunk(c);
    };
    for (int i = 0; i < kCraftedFrames; ++i) {
        const size_t rec = options.records ? b.BeginList(kRec) : 0;
        sample(StreamChunkId(0, 'd', 'b'), MakeFrame(kCraftedWidth, kCraftedHeight, i),
               AVIIF_KEYFRAME);
        sample(StreamChunkId(1, 'w', 'b'), CraftedAudio(i), AVIIF_KEYFRAME);
        if (options.records) b.EndChunk(rec);
        const size_t pad = b.BeginChunk(kJunk);
        b.Zeros(static_cast<size_t>(i));
        b.EndChunk(pad);
    }
    b.EndChunk(movi);
    if (options.index == CraftedIndex::Idx1Relative ||
        options.index == CraftedIndex::Idx1Absolute) {
        const size_t idx1 = b.BeginChunk(kIdx1);
        const size_t base = options.index == CraftedIndex::Idx1Relative ? movi + 8 : 0;
        for (const Written& w : written) {
            b.U32(w.id);
            b.U32(w.flags);
            b.U32(static_cast<uint32_t>(w.offset - base));
            b.U32(w.size);
        }
        b.EndChunk(idx1);
    }
    b.EndChunk(riff);
    return b.Data();
}

// The crafted streams written by our writer with segments of two frames and their sound:
// OpenDML with three 'AVIX' segments, an 'indx' per stream and an 'ix##' per segment.
inline Bytes SmallOpenDml(const std::string& path) {
    constexpr uint64_t kSegment = 500;
    avi::AviWriter writer(kSegment);
    int video = 0, audio = 0;
    AVISTREAMINFO audioInfo = AudioInfo(kCraftedSampleRate, 1);
    audioInfo.dwSampleSize = 1;
    const BITMAPINFOHEADER format = FrameHeader(kCraftedWidth, kCraftedHeight);
    const Bytes wave = PcmFormat(kCraftedSampleRate, 1, 8);
    if (writer.Create(path) != AVIERR_OK ||
        writer.AddStream(VideoInfo(kCraftedWidth, kCraftedHeight, 10), &video) != AVIERR_OK ||
        writer.AddStream(audioInfo, &audio) != AVIERR_OK ||
        writer.SetFormat(video, &format, sizeof format) != AVIERR_OK ||
        writer.SetFormat(audio, wave.data(), static_cast<int32_t>(wave.size())) != AVIERR_OK)
        return {};
    for (int i = 0, at = 0; i < kCraftedFrames; ++i) {
        const Bytes frame = MakeFrame(kCraftedWidth, kCraftedHeight, i), sound = CraftedAudio(i);
        const auto size = static_cast<int32_t>(sound.size());
        if (writer.WriteSample(video, i, 1, frame.data(), static_cast<int32_t>(frame.size()),
                               AVIIF_KEYFRAME) != AVIERR_OK ||
            writer.WriteSample(audio, at, size, sound.data(), size, AVIIF_KEYFRAME) != AVIERR_OK)
            return {};
        at += size;
    }
    return writer.Finish() == AVIERR_OK ? ReadFile(path) : Bytes{};
}

} // namespace avitest
