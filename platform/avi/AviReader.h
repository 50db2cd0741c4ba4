// Reads an AVI file (AVI 1.0, or OpenDML with 'AVIX' segments): the stream headers and formats,
// and one sample index per stream taken from the OpenDML indexes, else from 'idx1', else from a
// scan of the 'movi' lists. Every size and offset is checked against the file, so a damaged or
// hostile file gives an error result.
#pragma once

#include "platform/avi/AviTypes.h"
#include "platform/avi/RiffFormat.h"
#include "platform/avi/RiffReader.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <vector>

namespace avi {

class AviReader {
public:
    HRESULT Open(std::unique_ptr<ByteSource> source);

    int StreamCount() const { return static_cast<int>(streams_.size()); }
    const AVISTREAMINFO& Info(int stream) const { return streams_[stream].info; }
    const std::vector<uint8_t>& Format(int stream) const { return streams_[stream].format; }
    int32_t Start(int stream) const { return static_cast<int32_t>(streams_[stream].info.dwStart); }
    int32_t Length(int stream) const {
        return static_cast<int32_t>(streams_[stream].info.dwLength);
    }

    // Samples from Start: AVISTREAMREAD_CONVENIENT for one chunk's worth (one frame, or the
    // rest of an audio chunk). Buffer null: only the sizes. Video and other streams without a
    // sample size give one sample per call.
    HRESULT Read(int stream, int32_t start, int32_t samples, void* buffer, int32_t bufferSize,
                 int32_t* bytes, int32_t* samplesRead) const;
    // Whether the index marks the sample at Sample a key frame; every sample of a stream
    // with a sample size is one. False outside the stream.
    bool IsKeyFrame(int stream, int32_t sample) const;

private:
    struct Stream {
        AVISTREAMINFO info;
        std::vector<uint8_t> format;
        uint64_t superIndex = 0; // data offset of the 'indx' chunk, 0 when none
        uint64_t superIndexSize = 0;
        std::vector<SampleEntry> chunks;
        // For streams with a sample size: the first sample of each chunk.
        std::vector<uint64_t> firstSample;
    };
    struct Movi {
        uint64_t listType = 0; // position of the 'movi' type, the base of 'idx1' offsets
        uint64_t end = 0;
    };

    // Calls Visit for each chunk from Begin to End, up to the first error.
    HRESULT ForEachChunk(uint64_t begin, uint64_t end,
                         const std::function<HRESULT(const Chunk&)>& visit) const;
    HRESULT ReadTopLevel();
    HRESULT ReadHeaderList(const Chunk& hdrl);
    HRESULT ReadStreamList(const Chunk& strl);
    HRESULT ReadStreamHeader(const Chunk& strh, Stream& s) const;
    HRESULT ReadFirstRiff(const Chunk& riff);
    HRESULT ReadSegment(const Chunk& riff);
    HRESULT ReadSuperIndex(int stream);
    HRESULT ReadStandardIndex(int stream, uint64_t offset);
    HRESULT ReadIdx1(const std::vector<bool>& wanted);
    HRESULT ScanMovi(const std::vector<bool>& wanted);
    HRESULT ScanList(uint64_t begin, uint64_t end, bool inRecord, const std::vector<bool>& wanted);
    HRESULT AddChunk(int stream, const SampleEntry& entry);
    HRESULT BuildIndexes();
    void CountSamples(Stream& s);
    uint32_t ChunkSamples(const Stream& s, size_t chunk) const;

    std::unique_ptr<ByteSource> source_;
    std::vector<Stream> streams_;
    std::vector<Movi> movi_;
    uint64_t idx1_ = 0; // data offset of 'idx1', 0 when none
    uint64_t idx1Size_ = 0;
    uint64_t indexEntries_ = 0;
    std::set<uint64_t> visitedIndexes_;
};

} // namespace avi
