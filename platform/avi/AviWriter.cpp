#include "platform/avi/AviWriter.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace avi {

namespace {

constexpr double kMicrosecondsPerSecond = 1e6;
constexpr uint32_t kOpenDmlListSize = kListHeaderSize + kChunkHeaderSize + kDmlhSize;
constexpr uint32_t kSuperIndexChunkSize =
    kChunkHeaderSize + kIndexHeaderSize + kSuperIndexEntries * kSuperIndexEntrySize;

// A JUNK chunk of Total bytes, header included, standing where a chunk will go later.
void AppendPlaceholder(ByteBuffer& out, uint32_t total) {
    const size_t start = out.BeginChunk(kJunk);
    out.Zeros(total - kChunkHeaderSize);
    out.EndChunk(start);
}

uint32_t Clamp32(double v) {
    if (!(v > 0)) return 0;
    return v >= std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                     : static_cast<uint32_t>(std::lround(v));
}

bool IsVideo(const AVISTREAMINFO& info) {
    return info.fccType == streamtypeVIDEO;
}

} // namespace

HRESULT AviWriter::Create(const std::string& path) {
    return out_.Create(path) ? AVIERR_OK : AVIERR_FILEOPEN;
}

HRESULT AviWriter::CreateIn(const TFileHandle& file, const std::string& name) {
    return out_.CreateIn(file, name) ? AVIERR_OK : AVIERR_FILEOPEN;
}

HRESULT AviWriter::AddStream(const AVISTREAMINFO& info, int* index) {
    if (finished_) return AVIERR_ERROR;
    if (info.dwScale == 0 || info.dwRate == 0) return AVIERR_BADPARAM;
    if (streams_.size() >= static_cast<size_t>(kMaxStreams)) return AVIERR_UNSUPPORTED;
    streams_.push_back(Stream{.info = info});
    streams_.back().info.dwLength = 0;
    if (!HeadersFit()) {
        streams_.pop_back();
        return AVIERR_UNSUPPORTED;
    }
    *index = StreamCount() - 1;
    return AVIERR_OK;
}

HRESULT AviWriter::SetFormat(int stream, const void* format, int32_t size) {
    if (finished_) return AVIERR_ERROR;
    if (size < 0 || (format == nullptr && size > 0)) return AVIERR_BADPARAM;
    const auto* p = static_cast<const uint8_t*>(format);
    std::vector<uint8_t> bytes(p, p + size);
    streams_[stream].format.swap(bytes);
    if (!HeadersFit()) {
        streams_[stream].format.swap(bytes); // the format before
        return AVIERR_UNSUPPORTED;
    }
    return AVIERR_OK;
}

AVISTREAMINFO AviWriter::Info(int stream) const {
    const Stream& s = streams_[stream];
    AVISTREAMINFO info = s.info;
    info.dwLength = s.length;
    info.dwSuggestedBufferSize = std::max(info.dwSuggestedBufferSize, s.largestChunk);
    return info;
}

FOURCC AviWriter::ChunkId(int stream) const {
    const Stream& s = streams_[stream];
    if (s.info.fccType == streamtypeAUDIO) return StreamChunkId(stream, 'w', 'b');
    if (!IsVideo(s.info)) return StreamChunkId(stream, 'd', 'c');
    const bool compressed = s.format.size() >= kBitmapCompressionOffset + 4
                                ? GetU32(s.format.data() + kBitmapCompressionOffset) != BI_RGB
                                : s.info.fccHandler != 0 && s.info.fccHandler != comptypeDIB;
    return StreamChunkId(stream, 'd', compressed ? 'c' : 'b');
}

void AviWriter::AppendMainHeader(ByteBuffer& out) const {
    const auto video = std::find_if(streams_.begin(), streams_.end(),
                                    [](const Stream& s) { return IsVideo(s.info); });
    double bytesPerSecond = 0;
    uint32_t suggestedBufferSize = 0;
    for (const Stream& s : streams_) {
        const double rate = static_cast<double>(s.info.dwRate) / s.info.dwScale;
        bytesPerSecond +=
            s.info.dwSampleSize > 0 ? rate * s.info.dwSampleSize : rate * s.largestChunk;
        suggestedBufferSize =
            std::max({suggestedBufferSize, s.largestChunk, s.info.dwSuggestedBufferSize});
    }
    int32_t width = 0, height = 0;
    if (video != streams_.end()) {
        width = video->info.rcFrame.Width();
        height = video->info.rcFrame.Height();
        if ((width <= 0 || height <= 0) && video->format.size() >= sizeof(BITMAPINFOHEADER)) {
            width = static_cast<int32_t>(GetU32(video->format.data() + kBitmapWidthOffset));
            height =
                std::abs(static_cast<int32_t>(GetU32(video->format.data() + kBitmapHeightOffset)));
        }
    }
    const size_t start = out.BeginChunk(kAvih);
    out.U32(video == streams_.end() ? 0
                                    : Clamp32(kMicrosecondsPerSecond * video->info.dwScale /
                                              video->info.dwRate));    // dwMicroSecPerFrame
    out.U32(Clamp32(bytesPerSecond));                                  // dwMaxBytesPerSec
    out.U32(0);                                                        // dwPaddingGranularity
    out.U32(AVIF_HASINDEX);                                            // dwFlags
    out.U32(video == streams_.end() ? 0 : video->firstSegmentSamples); // dwTotalFrames
    out.U32(0);                                                        // dwInitialFrames
    out.U32(static_cast<uint32_t>(streams_.size()));                   // dwStreams
    out.U32(suggestedBufferSize);                                      // dwSuggestedBufferSize
    out.U32(static_cast<uint32_t>(std::max(width, 0)));                // dwWidth
    out.U32(static_cast<uint32_t>(std::max(height, 0)));               // dwHeight
    out.Zeros(16);                                                     // dwReserved
    out.EndChunk(start);
}

void AviWriter::AppendStreamList(ByteBuffer& out, int stream) const {
    const AVISTREAMINFO info = Info(stream);
    const Stream& s = streams_[stream];
    const size_t list = out.BeginList(kStrl);
    const size_t strh = out.BeginChunk(kStrh);
    out.U32(info.fccType);
    out.U32(info.fccHandler);
    out.U32(info.dwFlags);
    out.U16(info.wPriority);
    out.U16(info.wLanguage);
    for (const auto field : kStreamHeaderWords)
        out.U32(info.*field);
    out.U16(static_cast<uint16_t>(info.rcFrame.Left)); // rcFrame, 16-bit fields
    out.U16(static_cast<uint16_t>(info.rcFrame.Top));
    out.U16(static_cast<uint16_t>(info.rcFrame.Right));
    out.U16(static_cast<uint16_t>(info.rcFrame.Bottom));
    out.EndChunk(strh);
    if (!s.format.empty()) {
        const size_t strf = out.BeginChunk(kStrf);
        out.Bytes(s.format.data(), s.format.size());
        out.EndChunk(strf);
    }
    if (const std::string name = StreamName(info); !name.empty()) {
        const size_t strn = out.BeginChunk(kStrn);
        out.Bytes(name.c_str(), name.size() + 1);
        out.EndChunk(strn);
    }
    AppendSuperIndex(out, stream);
    out.EndChunk(list);
}

void AviWriter::AppendSuperIndex(ByteBuffer& out, int stream) const {
    if (segment_ == 0) {
        AppendPlaceholder(out, kSuperIndexChunkSize);
        return;
    }
    const Stream& s = streams_[stream];
    const size_t start = out.BeginChunk(kIndx);
    out.U16(kSuperIndexLongsPerEntry);                   // wLongsPerEntry
    out.U8(0);                                           // bIndexSubType
    out.U8(AVI_INDEX_OF_INDEXES);                        // bIndexType
    out.U32(static_cast<uint32_t>(s.superIndex.size())); // nEntriesInUse
    out.U32(ChunkId(stream));                            // dwChunkId
    out.Zeros(12);                                       // dwReserved
    for (const SuperIndexEntry& e : s.superIndex) {
        out.U64(e.offset);
        out.U32(e.size);
        out.U32(e.duration);
    }
    out.Zeros((kSuperIndexEntries - s.superIndex.size()) * kSuperIndexEntrySize);
    out.EndChunk(start);
}

void AviWriter::AppendOpenDmlList(ByteBuffer& out) const {
    if (segment_ == 0) {
        AppendPlaceholder(out, kOpenDmlListSize);
        return;
    }
    const auto video = std::find_if(streams_.begin(), streams_.end(),
                                    [](const Stream& s) { return IsVideo(s.info); });
    const size_t list = out.BeginList(kOdml);
    const size_t dmlh = out.BeginChunk(kDmlh);
    out.U32(video == streams_.end() ? 0 : video->length); // dwTotalFrames
    out.Zeros(kDmlhSize - 4);
    out.EndChunk(dmlh);
    out.EndChunk(list);
}

std::vector<uint8_t> AviWriter::HeaderList() const {
    ByteBuffer out;
    const size_t list = out.BeginList(kHdrl);
    AppendMainHeader(out);
    for (int i = 0; i < StreamCount(); ++i)
        AppendStreamList(out, i);
    AppendOpenDmlList(out);
    out.EndChunk(list);
    return out.Data();
}

bool AviWriter::HeadersFit() const {
    if (!laidOut_) return true;
    const uint64_t end = kListHeaderSize + HeaderList().size();
    return end == headerRegionEnd_ || end + kChunkHeaderSize <= headerRegionEnd_;
}

// The header list followed by a JUNK chunk up to the end of the header region.
void AviWriter::WriteHeaderRegion() {
    ByteBuffer region;
    const std::vector<uint8_t> headers = HeaderList();
    region.Bytes(headers.data(), headers.size());
    const uint64_t end = kListHeaderSize + headers.size();
    if (end < headerRegionEnd_)
        AppendPlaceholder(region, static_cast<uint32_t>(headerRegionEnd_ - end));
    out_.PatchAt(kListHeaderSize, region.Data().data(), region.Size());
}

void AviWriter::LayOut() {
    riffStart_ = out_.BeginList(kRiff, kFormAvi);
    headerRegionEnd_ = kListHeaderSize + HeaderList().size() + kHeaderSlack;
    std::vector<uint8_t> zeros(headerRegionEnd_ - kListHeaderSize);
    out_.Write(zeros.data(), zeros.size());
    laidOut_ = true;
    WriteHeaderRegion();
    moviStart_ = out_.BeginList(kList, kMovi);
}

HRESULT AviWriter::WriteSample(int stream, int32_t start, int32_t samples, const void* data,
                               int32_t size, uint32_t flags) {
    if (finished_) return AVIERR_ERROR;
    Stream& s = streams_[stream];
    if (samples < 0 || size < 0 || (data == nullptr && size > 0)) return AVIERR_BADPARAM;
    if (static_cast<int64_t>(start) != static_cast<int64_t>(s.info.dwStart) + s.length)
        return AVIERR_BADPARAM;
    if (!CountsBlocks(s.info) ? samples != 1
                              : static_cast<int64_t>(samples) * s.info.dwSampleSize != size)
        return AVIERR_BADSIZE;
    if (static_cast<int64_t>(s.length) + samples > std::numeric_limits<int32_t>::max())
        return AVIERR_BADPARAM;
    if (!laidOut_) LayOut();
    const auto bytes = static_cast<uint32_t>(size);
    const uint64_t chunkBytes = kChunkHeaderSize + bytes + bytes % 2;
    const bool segmentHasSamples = out_.Position() > moviStart_ + kListHeaderSize;
    if (segmentHasSamples && out_.Position() - moviStart_ + chunkBytes > segmentLimit_)
        if (const HRESULT r = StartNextSegment(); r != AVIERR_OK) return r;
    const FOURCC id = ChunkId(stream);
    const uint64_t offset = out_.Position();
    out_.WriteChunk(id, data, bytes);
    // A sample said to be written is in the file: a full disk is told for the sample it stops.
    out_.Flush();
    if (!out_.Good()) {
        KeepWhatReachedTheFile();
        return AVIERR_FILEWRITE;
    }
    const uint32_t keyFlag = flags & AVIIF_KEYFRAME;
    if (segment_ == 0) {
        idx1_.push_back({.id = id,
                         .flags = keyFlag,
                         .offset = static_cast<uint32_t>(offset - (moviStart_ + kChunkHeaderSize)),
                         .size = bytes});
        s.firstSegmentSamples += static_cast<uint32_t>(samples);
    }
    s.segmentIndex.push_back(
        {.offset = offset + kChunkHeaderSize, .size = bytes, .flags = keyFlag});
    s.segmentSamples += static_cast<uint32_t>(samples);
    s.length += static_cast<uint32_t>(samples);
    s.largestChunk = std::max(s.largestChunk, bytes);
    return AVIERR_OK;
}

AviWriter::Snapshot AviWriter::Take() const {
    return {.streams = streams_,
            .idx1 = idx1_,
            .riffStart = riffStart_,
            .moviStart = moviStart_,
            .end = out_.Position(),
            .segment = segment_,
            .segmentOpen = segmentOpen_};
}

// Forgets what was written after the snapshot, in the file too.
void AviWriter::Restore(const Snapshot& before) {
    streams_ = before.streams;
    idx1_ = before.idx1;
    riffStart_ = before.riffStart;
    moviStart_ = before.moviStart;
    segment_ = before.segment;
    segmentOpen_ = before.segmentOpen;
    out_.RollBack(before.end);
}

uint64_t AviWriter::SamplesEnd() const {
    uint64_t end = moviStart_ + kListHeaderSize;
    for (const Stream& s : streams_)
        if (!s.segmentIndex.empty()) {
            const SampleEntry& last = s.segmentIndex.back();
            end = std::max(end, last.offset + last.size + last.size % 2);
        }
    return end;
}

uint64_t AviWriter::IndexBytes() const {
    if (!segmentOpen_) return 0;
    if (segment_ == 0) return kChunkHeaderSize + idx1_.size() * kIdx1EntrySize;
    uint64_t bytes = 0;
    for (const Stream& s : streams_)
        if (!s.segmentIndex.empty())
            bytes +=
                kChunkHeaderSize + kIndexHeaderSize + s.segmentIndex.size() * kStdIndexEntrySize;
    return bytes;
}

// Forgets the current segment's last sample; false when it has none.
bool AviWriter::DropLastSample() {
    Stream* last = nullptr;
    for (Stream& s : streams_)
        if (!s.segmentIndex.empty() &&
            (last == nullptr || s.segmentIndex.back().offset > last->segmentIndex.back().offset))
            last = &s;
    if (last == nullptr) return false;
    const uint32_t size = last->segmentIndex.back().size;
    const uint32_t samples = CountsBlocks(last->info) ? size / last->info.dwSampleSize : 1;
    last->length -= samples;
    last->segmentSamples -= samples;
    last->segmentIndex.pop_back();
    if (segment_ == 0) {
        last->firstSegmentSamples -= samples;
        idx1_.pop_back();
    }
    return true;
}

// After the file could take only Reached bytes: cuts samples off its end until the rest and
// its indexes fit, or the current segment when it has none left. False when nothing is left
// to cut.
bool AviWriter::MakeRoom(uint64_t reached) {
    // The file system counts whole blocks.
    constexpr uint64_t kBlock = 4096;
    bool dropped = false;
    while ((!dropped || SamplesEnd() + IndexBytes() + kBlock > reached) && DropLastSample())
        dropped = true;
    if (dropped) return out_.RollBack(SamplesEnd());
    if (segment_ == 0 || !segmentOpen_) return false;
    segmentOpen_ = false;
    return out_.RollBack(riffStart_);
}

// After a failed write: the samples that reached the file whole stay, and the file is cut after
// the last of them, so that the movie can still be finished. Not before the segment's own
// headers are in the file.
void AviWriter::KeepWhatReachedTheFile() {
    if (out_.Durable() < moviStart_ + kListHeaderSize) return;
    while (SamplesEnd() > out_.Durable() && DropLastSample()) {
    }
    out_.RollBack(SamplesEnd());
}

// Not even the headers fit: the file holds nothing.
void AviWriter::Empty() {
    for (Stream& s : streams_) {
        s.length = s.firstSegmentSamples = s.segmentSamples = 0;
        s.segmentIndex.clear();
        s.superIndex.clear();
    }
    idx1_.clear();
    out_.RollBack(0);
}

void AviWriter::WriteStandardIndexes() {
    for (int i = 0; i < StreamCount(); ++i) {
        Stream& s = streams_[i];
        if (s.segmentIndex.empty()) continue;
        ByteBuffer index;
        index.U16(kStdIndexLongsPerEntry);                       // wLongsPerEntry
        index.U8(0);                                             // bIndexSubType
        index.U8(AVI_INDEX_OF_CHUNKS);                           // bIndexType
        index.U32(static_cast<uint32_t>(s.segmentIndex.size())); // nEntriesInUse
        index.U32(ChunkId(i));                                   // dwChunkId
        index.U64(riffStart_);                                   // qwBaseOffset
        index.U32(0);                                            // dwReserved
        for (const SampleEntry& e : s.segmentIndex) {
            index.U32(static_cast<uint32_t>(e.offset - riffStart_));
            index.U32(e.size | ((e.flags & AVIIF_KEYFRAME) != 0 ? 0 : kStdIndexNonKeyBit));
        }
        const uint64_t offset = out_.Position();
        out_.WriteChunk(IndexChunkId(i), index.Data().data(), static_cast<uint32_t>(index.Size()));
        s.superIndex.push_back({.offset = offset,
                                .size = static_cast<uint32_t>(out_.Position() - offset),
                                .duration = s.segmentSamples});
        s.segmentIndex.clear();
        s.segmentSamples = 0;
    }
}

void AviWriter::WriteIdx1() {
    ByteBuffer index;
    for (const Idx1Entry& e : idx1_) {
        index.U32(e.id);
        index.U32(e.flags);
        index.U32(e.offset);
        index.U32(e.size);
    }
    out_.WriteChunk(kIdx1, index.Data().data(), static_cast<uint32_t>(index.Size()));
}

HRESULT AviWriter::StartNextSegment() {
    if (static_cast<uint32_t>(segment_) + 1 >= kSuperIndexEntries) return AVIERR_UNSUPPORTED;
    const Snapshot before = Take();
    WriteStandardIndexes();
    out_.EndChunk(moviStart_);
    if (segment_ == 0) WriteIdx1();
    out_.EndChunk(riffStart_);
    ++segment_;
    riffStart_ = out_.BeginList(kRiff, kFormAvix);
    moviStart_ = out_.BeginList(kList, kMovi);
    out_.Flush();
    if (out_.Good()) {
        // The first segment's index is in the file.
        idx1_ = {};
        return AVIERR_OK;
    }
    // The segment before goes on, to be finished when the room is found.
    Restore(before);
    return AVIERR_FILEWRITE;
}

// The last segment's indexes and the final headers; true when all of it reached the file.
bool AviWriter::CloseFile() {
    if (segmentOpen_) {
        if (segment_ > 0) WriteStandardIndexes();
        out_.EndChunk(moviStart_);
        if (segment_ == 0) WriteIdx1();
        out_.EndChunk(riffStart_);
    }
    WriteHeaderRegion();
    out_.Flush();
    return out_.Good();
}

HRESULT AviWriter::Finish() {
    if (finished_) return finishResult_;
    finished_ = true;
    finishResult_ = AVIERR_FILEWRITE; // until the file is closed whole
    if (!laidOut_) LayOut();
    out_.Flush();
    bool whole = out_.Good();
    if (out_.Durable() < moviStart_ + kListHeaderSize) {
        Empty();
    } else {
        if (!whole) out_.RollBack(SamplesEnd());
        for (;;) {
            const Snapshot before = Take();
            if (CloseFile()) break;
            const uint64_t reached = out_.Durable();
            Restore(before);
            whole = false;
            if (!MakeRoom(reached)) {
                Empty();
                break;
            }
        }
    }
    finishResult_ = out_.Close() && whole ? AVIERR_OK : AVIERR_FILEWRITE;
    return finishResult_;
}

} // namespace avi
