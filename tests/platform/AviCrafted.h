// Small AVI files put together chunk by chunk, in the shapes other tools write (records,
// JUNK, odd chunks, absolute idx1 offsets, OpenDML indexes), for the reader and hostile tests.
#pragma once

#include "AviTestSupport.h"
#include "platform/avi/RiffFormat.h"

#include <functional>

namespace avitest {

inline constexpr int kCraftedWidth = 8;
inline constexpr int kCraftedHeight = 4;
inline constexpr int kCraftedFrames = 5;
inline constexpr uint32_t kCraftedSampleRate = 8000;

// Audio chunks of 8-bit mono samples, odd sizes among them.
inline Bytes CraftedAudio(int chunk) {
    return Bytes(static_cast<size_t>(101 + 2 * chunk), static_cast<uint8_t>(0x80 + chunk));
}

enum class CraftedIndex { None, Idx1Relative, Idx1Absolute, OpenDml };

struct CraftedOptions {
    CraftedIndex index = CraftedIndex::None;
    bool records = false; // each frame and its audio in a 'LIST rec '
    // Rewrites a standard index entry before it is written (hostile variants).
    std::function<void(uint32_t& offset, uint32_t& size)> patchEntry;
    int superIndexRepeat = 1; // how many times the super index lists the video's ix00
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
    auto streamList = [&](FOURCC type, uint32_t rate, uint32_t sampleSize, const Bytes& format,
                          size_t* indx) {
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
        if (options.index == CraftedIndex::OpenDml) {
            const size_t chunk = b.BeginChunk(kIndx);
            *indx = b.Size();
            b.Zeros(kIndexHeaderSize + 4 * kSuperIndexEntrySize);
            b.EndChunk(chunk);
        }
        b.EndChunk(strl);
    };
    const BITMAPINFOHEADER video = FrameHeader(kCraftedWidth, kCraftedHeight);
    const auto* v = reinterpret_cast<const uint8_t*>(&video);
    Bytes wave = PcmFormat(kCraftedSampleRate, 1);
    wave[12] = 1; // nBlockAlign
    wave[14] = 8; // wBitsPerSample
    PutU32(&wave[8], kCraftedSampleRate);
    size_t indx[2] = {};
    streamList(streamtypeVIDEO, 10, 0, Bytes(v, v + sizeof video), &indx[0]);
    streamList(streamtypeAUDIO, kCraftedSampleRate, 1, wave, &indx[1]);
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
    if (options.index == CraftedIndex::OpenDml) {
        for (int stream = 0; stream < 2; ++stream) {
            const size_t start = b.BeginChunk(IndexChunkId(stream));
            b.U16(kStdIndexLongsPerEntry);
            b.U8(0);
            b.U8(AVI_INDEX_OF_CHUNKS);
            b.U32(kCraftedFrames);
            b.U32(written[stream].id);
            b.U64(0); // qwBaseOffset
            b.U32(0);
            for (size_t i = stream; i < written.size(); i += 2) {
                uint32_t offset = static_cast<uint32_t>(written[i].offset + kChunkHeaderSize);
                uint32_t size = written[i].size;
                if (options.patchEntry && stream == 0) options.patchEntry(offset, size);
                b.U32(offset);
                b.U32(size);
            }
            b.EndChunk(start);
            // The super index of this stream: the standard index, perhaps listed again.
            ByteBuffer s;
            s.U16(kSuperIndexLongsPerEntry);
            s.U8(0);
            s.U8(AVI_INDEX_OF_INDEXES);
            const int repeat = stream == 0 ? options.superIndexRepeat : 1;
            s.U32(static_cast<uint32_t>(repeat));
            s.U32(written[stream].id);
            s.Zeros(12);
            for (int r = 0; r < repeat; ++r) {
                s.U64(start);
                s.U32(static_cast<uint32_t>(b.Size() - start));
                s.U32(kCraftedFrames);
            }
            b.Overwrite(indx[stream], s.Data());
        }
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

} // namespace avitest
