// Writes one AVI file: the header region is laid out when the first sample comes (after the
// streams and their formats are known, with room for streams created later), samples go into
// 'movi' as they come, and Finish writes the indexes and rewrites the headers with the final
// counts. Past kRiffSegmentLimit bytes of samples the file goes on in OpenDML 'AVIX' segments.
// Whenever the file system refuses a write (a full disk, a file size limit), the file is cut
// back to whole samples, so that it can still be finished as a movie of fewer samples.
#pragma once

#include "platform/avi/AviTypes.h"
#include "platform/avi/RiffFormat.h"
#include "platform/avi/RiffWriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace avi {

// Bytes of samples in one RIFF segment before the next one starts (FFmpeg's AVI_MAX_RIFF_SIZE).
inline constexpr uint64_t kRiffSegmentLimit = uint64_t{1} << 30;
// Entries of each stream's super index: one per segment, so files up to 256 GiB.
inline constexpr uint32_t kSuperIndexEntries = 256;
// Room left in the header region for streams created after the first sample (a rebuild copies
// its streams one after the other): a few audio streams with their OpenDML indexes.
inline constexpr uint32_t kHeaderSlack = 16 * 1024;

class AviWriter {
public:
    // A smaller segment limit lets tests make OpenDML files of a few frames.
    explicit AviWriter(uint64_t segmentLimit = kRiffSegmentLimit) : segmentLimit_(segmentLimit) {}
    HRESULT Create(const std::string& path);
    // Writes into File, an empty file the caller keeps open; Name stands for it.
    HRESULT CreateIn(const TFileHandle& file, const std::string& name);

    int StreamCount() const { return static_cast<int>(streams_.size()); }
    HRESULT AddStream(const AVISTREAMINFO& info, int* index);
    HRESULT SetFormat(int stream, const void* format, int32_t size);
    const std::vector<uint8_t>& Format(int stream) const { return streams_[stream].format; }
    // The stream's header record with the samples written so far.
    AVISTREAMINFO Info(int stream) const;
    int32_t Start(int stream) const { return static_cast<int32_t>(streams_[stream].info.dwStart); }
    int32_t Length(int stream) const { return static_cast<int32_t>(streams_[stream].length); }

    HRESULT WriteSample(int stream, int32_t start, int32_t samples, const void* data, int32_t size,
                        uint32_t flags);
    // Indexes and final headers; the file is closed afterwards. AVIERR_OK when all of it
    // reached the file. Otherwise AVIERR_FILEWRITE, and the file is a movie of the samples that
    // were written, fewer when their indexes needed the room of the last ones (Length tells how
    // many), or, when not even the headers fit, an empty file. A second call gives the first
    // one's result.
    HRESULT Finish();

private:
    struct SuperIndexEntry {
        uint64_t offset = 0;
        uint32_t size = 0;
        uint32_t duration = 0;
    };
    struct Stream {
        AVISTREAMINFO info;
        std::vector<uint8_t> format;
        uint32_t length = 0;
        uint32_t largestChunk = 0;
        uint32_t firstSegmentSamples = 0;
        // The current segment's samples, for its standard index.
        std::vector<SampleEntry> segmentIndex;
        uint32_t segmentSamples = 0;
        std::vector<SuperIndexEntry> superIndex;
    };
    struct Idx1Entry {
        FOURCC id = 0;
        uint32_t flags = 0;
        uint32_t offset = 0;
        uint32_t size = 0;
    };

    // What a failed step gives back: the counts and indexes before it, and the file's end.
    struct Snapshot {
        std::vector<Stream> streams;
        std::vector<Idx1Entry> idx1;
        uint64_t riffStart = 0, moviStart = 0, end = 0;
        int segment = 0;
        bool segmentOpen = true;
    };

    FOURCC ChunkId(int stream) const;
    std::vector<uint8_t> HeaderList() const;
    void AppendMainHeader(ByteBuffer& out) const;
    void AppendStreamList(ByteBuffer& out, int stream) const;
    void AppendSuperIndex(ByteBuffer& out, int stream) const;
    void AppendOpenDmlList(ByteBuffer& out) const;
    bool HeadersFit() const;
    void LayOut();
    void WriteHeaderRegion();
    void WriteStandardIndexes();
    void WriteIdx1();
    HRESULT StartNextSegment();
    bool CloseFile();
    Snapshot Take() const;
    void Restore(const Snapshot& before);
    // The end of the current segment's last sample (of its 'movi' header when it has none).
    uint64_t SamplesEnd() const;
    // Bytes the current segment's indexes take.
    uint64_t IndexBytes() const;
    bool DropLastSample();
    bool MakeRoom(uint64_t reached);
    void KeepWhatReachedTheFile();
    void Empty();

    uint64_t segmentLimit_;
    RiffWriter out_;
    std::vector<Stream> streams_;
    bool laidOut_ = false;
    bool finished_ = false;
    HRESULT finishResult_ = AVIERR_OK;
    uint64_t headerRegionEnd_ = 0; // where the first 'movi' list starts
    uint64_t riffStart_ = 0;       // the current RIFF segment
    uint64_t moviStart_ = 0;       // the current 'movi' list
    int segment_ = 0;
    // False when the last segment was given up: the file ends with the one before.
    bool segmentOpen_ = true;
    std::vector<Idx1Entry> idx1_;
};

} // namespace avi
