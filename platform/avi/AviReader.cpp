#include "platform/avi/AviReader.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <optional>

namespace avi {

namespace {

constexpr FOURCC kPaletteChangeKind = mmioFOURCC('\0', '\0', 'p', 'c');
constexpr uint32_t kKindMask = 0xFFFF0000u;
constexpr size_t kNameLimit = sizeof(AVISTREAMINFO::szName) - 1;
// Memory of one index entry: the index may take no more memory than the file's own size.
constexpr uint64_t kIndexEntryBudget = sizeof(SampleEntry);

int16_t GetI16(const uint8_t* p) {
    return static_cast<int16_t>(GetU16(p));
}

AVISTREAMINFO ParseStreamHeader(const uint8_t* h, uint32_t size) {
    AVISTREAMINFO info;
    info.fccType = GetU32(h);
    info.fccHandler = GetU32(h + 4);
    info.dwFlags = GetU32(h + 8);
    info.wPriority = GetU16(h + 12);
    info.wLanguage = GetU16(h + 14);
    const uint8_t* word = h + kStreamHeaderWordsOffset;
    for (const auto field : kStreamHeaderWords) {
        info.*field = GetU32(word);
        word += 4;
    }
    const uint8_t* frame = h + kStreamHeaderFrameOffset;
    if (size >= kStreamHeaderSize)
        info.rcFrame = Rect(GetI16(frame), GetI16(frame + 2), GetI16(frame + 4), GetI16(frame + 6));
    return info;
}

} // namespace

HRESULT AviReader::Open(std::unique_ptr<ByteSource> source) {
    source_ = std::move(source);
    if (!source_) return AVIERR_FILEOPEN;
    if (const HRESULT r = ReadTopLevel(); r != AVIERR_OK) return r;
    if (streams_.empty()) return AVIERR_NODATA;
    return BuildIndexes();
}

HRESULT AviReader::ForEachChunk(uint64_t begin, uint64_t end,
                                const std::function<HRESULT(const Chunk&)>& visit) const {
    for (uint64_t offset = begin; end - offset >= kChunkHeaderSize;) {
        Chunk c;
        if (!ReadChunk(*source_, offset, end, &c)) return AVIERR_BADFORMAT;
        if (const HRESULT r = visit(c); r != AVIERR_OK) return r;
        offset = c.next;
    }
    return AVIERR_OK;
}

HRESULT AviReader::ReadTopLevel() {
    const uint64_t size = source_->Size();
    Chunk riff;
    if (!ReadChunk(*source_, 0, size, &riff) || !riff.IsList(kFormAvi)) return AVIERR_BADFORMAT;
    if (const HRESULT r = ReadFirstRiff(riff); r != AVIERR_OK) return r;
    return ForEachChunk(riff.next, size, [&](const Chunk& c) {
        return c.IsList(kFormAvix) ? ReadSegment(c) : AVIERR_OK;
    });
}

HRESULT AviReader::ReadFirstRiff(const Chunk& riff) {
    bool headers = false;
    const HRESULT r = ForEachChunk(riff.data, riff.data + riff.size, [&](const Chunk& c) {
        if (c.IsList(kHdrl) && !headers) {
            headers = true;
            return ReadHeaderList(c);
        }
        if (c.IsList(kMovi)) movi_.push_back({.listType = c.data - 4, .end = c.data + c.size});
        if (c.id == kIdx1 && idx1_ == 0) {
            idx1_ = c.data;
            idx1Size_ = c.size;
        }
        return AVIERR_OK;
    });
    return r == AVIERR_OK && !headers ? AVIERR_BADFORMAT : r;
}

HRESULT AviReader::ReadSegment(const Chunk& riff) {
    return ForEachChunk(riff.data, riff.data + riff.size, [&](const Chunk& c) {
        if (c.IsList(kMovi)) movi_.push_back({.listType = c.data - 4, .end = c.data + c.size});
        return AVIERR_OK;
    });
}

HRESULT AviReader::ReadHeaderList(const Chunk& hdrl) {
    return ForEachChunk(hdrl.data, hdrl.data + hdrl.size, [&](const Chunk& c) {
        return c.IsList(kStrl) ? ReadStreamList(c) : AVIERR_OK;
    });
}

HRESULT AviReader::ReadStreamHeader(const Chunk& strh, Stream& s) const {
    uint8_t h[kStreamHeaderSize];
    const auto size = static_cast<uint32_t>(std::min<uint64_t>(strh.size, sizeof h));
    if (size < kShortStreamHeaderSize || !source_->ReadAt(strh.data, h, size))
        return AVIERR_BADFORMAT;
    const std::string name = StreamName(s.info);
    s.info = ParseStreamHeader(h, size);
    name.copy(s.info.szName, kNameLimit);
    // Sample positions are 32-bit signed.
    return s.info.dwStart > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())
               ? AVIERR_BADFORMAT
               : AVIERR_OK;
}

HRESULT AviReader::ReadStreamList(const Chunk& strl) {
    if (streams_.size() >= static_cast<size_t>(kMaxStreams)) return AVIERR_BADFORMAT;
    Stream s;
    bool header = false;
    const HRESULT r = ForEachChunk(strl.data, strl.data + strl.size, [&](const Chunk& c) {
        if (c.id == kStrh) {
            header = true;
            return ReadStreamHeader(c, s);
        }
        if (c.id == kStrf) {
            s.format.resize(c.size);
            return source_->ReadAt(c.data, s.format.data(), c.size) ? AVIERR_OK : AVIERR_FILEREAD;
        }
        if (c.id == kStrn) {
            char name[sizeof s.info.szName] = {};
            if (!source_->ReadAt(c.data, name, std::min<uint64_t>(c.size, kNameLimit)))
                return AVIERR_FILEREAD;
            std::copy(std::begin(name), std::end(name), s.info.szName);
        }
        if (c.id == kIndx) {
            s.superIndex = c.data;
            s.superIndexSize = c.size;
        }
        return AVIERR_OK;
    });
    if (r != AVIERR_OK) return r;
    if (!header) return AVIERR_BADFORMAT;
    streams_.push_back(std::move(s));
    return AVIERR_OK;
}

HRESULT AviReader::AddChunk(int stream, const SampleEntry& entry) {
    if (entry.offset < kChunkHeaderSize || !source_->Contains(entry.offset, entry.size))
        return AVIERR_BADFORMAT;
    if (++indexEntries_ > source_->Size() / kIndexEntryBudget) return AVIERR_BADFORMAT;
    streams_[stream].chunks.push_back(entry);
    return AVIERR_OK;
}

// The chunks of every standard index the stream's super index lists; AVIERR_NODATA when it lists
// none, which leaves the stream to 'idx1' or the scan.
HRESULT AviReader::ReadSuperIndex(int stream) {
    const Stream& s = streams_[stream];
    uint8_t header[kIndexHeaderSize];
    if (s.superIndexSize < kIndexHeaderSize ||
        !source_->ReadAt(s.superIndex, header, sizeof header))
        return AVIERR_BADFORMAT;
    const uint32_t count = GetU32(header + 4);
    if (header[3] != AVI_INDEX_OF_INDEXES || count == 0) return AVIERR_NODATA;
    if (GetU16(header) != kSuperIndexLongsPerEntry ||
        count > (s.superIndexSize - kIndexHeaderSize) / kSuperIndexEntrySize)
        return AVIERR_BADFORMAT;
    std::vector<uint8_t> entries(static_cast<size_t>(count) * kSuperIndexEntrySize);
    if (!source_->ReadAt(s.superIndex + kIndexHeaderSize, entries.data(), entries.size()))
        return AVIERR_FILEREAD;
    for (uint32_t i = 0; i < count; ++i)
        if (const HRESULT r = ReadStandardIndex(stream, GetU64(&entries[i * kSuperIndexEntrySize]));
            r != AVIERR_OK)
            return r;
    return AVIERR_OK;
}

HRESULT AviReader::ReadStandardIndex(int stream, uint64_t offset) {
    // An index listed twice would count its chunks twice (or loop a hostile file).
    if (!visitedIndexes_.insert(offset).second) return AVIERR_BADFORMAT;
    Chunk c;
    uint8_t header[kIndexHeaderSize];
    if (!ReadChunk(*source_, offset, source_->Size(), &c) || c.size < kIndexHeaderSize ||
        !source_->ReadAt(c.data, header, sizeof header))
        return AVIERR_BADFORMAT;
    const uint32_t count = GetU32(header + 4);
    const uint64_t base = GetU64(header + 12);
    if (GetU16(header) != kStdIndexLongsPerEntry || header[3] != AVI_INDEX_OF_CHUNKS ||
        count > (c.size - kIndexHeaderSize) / kStdIndexEntrySize || base > source_->Size())
        return AVIERR_BADFORMAT;
    std::vector<uint8_t> entries(static_cast<size_t>(count) * kStdIndexEntrySize);
    if (!source_->ReadAt(c.data + kIndexHeaderSize, entries.data(), entries.size()))
        return AVIERR_FILEREAD;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = &entries[i * kStdIndexEntrySize];
        const uint32_t size = GetU32(e + 4);
        const SampleEntry entry{.offset = base + GetU32(e),
                                .size = size & ~kStdIndexNonKeyBit,
                                .flags = (size & kStdIndexNonKeyBit) != 0 ? 0 : AVIIF_KEYFRAME};
        if (const HRESULT r = AddChunk(stream, entry); r != AVIERR_OK) return r;
    }
    return AVIERR_OK;
}

HRESULT AviReader::ReadIdx1(const std::vector<bool>& wanted) {
    std::vector<uint8_t> entries(idx1Size_ / kIdx1EntrySize * kIdx1EntrySize);
    if (!source_->ReadAt(idx1_, entries.data(), entries.size())) return AVIERR_FILEREAD;
    // Offsets count from the 'movi' list type, or (some writers) from the file's start.
    const uint64_t relativeBase = movi_.empty() ? 0 : movi_.front().listType;
    std::optional<uint64_t> base;
    for (size_t i = 0; i < entries.size(); i += kIdx1EntrySize) {
        const uint8_t* e = &entries[i];
        const FOURCC id = GetU32(e);
        const uint32_t flags = GetU32(e + 4);
        const int stream = StreamOfChunkId(id);
        if (stream < 0 || stream >= StreamCount() || (flags & AVIIF_LIST) != 0 ||
            (id & kKindMask) == kPaletteChangeKind)
            continue;
        const uint32_t offset = GetU32(e + 8);
        if (!base) {
            for (const uint64_t candidate : {relativeBase, uint64_t{0}}) {
                uint8_t found[4];
                if (source_->ReadAt(candidate + offset, found, sizeof found) &&
                    GetU32(found) == id) {
                    base = candidate;
                    break;
                }
            }
            if (!base) return AVIERR_BADFORMAT;
        }
        if (!wanted[stream]) continue;
        const SampleEntry entry{.offset = *base + offset + kChunkHeaderSize,
                                .size = GetU32(e + 12),
                                .flags = flags & AVIIF_KEYFRAME};
        if (const HRESULT r = AddChunk(stream, entry); r != AVIERR_OK) return r;
    }
    return AVIERR_OK;
}

HRESULT AviReader::ScanList(uint64_t begin, uint64_t end, bool inRecord,
                            const std::vector<bool>& wanted) {
    return ForEachChunk(begin, end, [&](const Chunk& c) {
        if (c.IsList(kRec) && !inRecord) return ScanList(c.data, c.data + c.size, true, wanted);
        const int stream = StreamOfChunkId(c.id);
        if (stream < 0 || stream >= StreamCount() || !wanted[stream] ||
            (c.id & kKindMask) == kPaletteChangeKind)
            return AVIERR_OK;
        return AddChunk(
            stream,
            {.offset = c.data, .size = static_cast<uint32_t>(c.size), .flags = AVIIF_KEYFRAME});
    });
}

HRESULT AviReader::ScanMovi(const std::vector<bool>& wanted) {
    for (const Movi& m : movi_)
        if (const HRESULT r = ScanList(m.listType + 4, m.end, false, wanted); r != AVIERR_OK)
            return r;
    return AVIERR_OK;
}

uint32_t AviReader::ChunkSamples(const Stream& s, size_t chunk) const {
    return CountsBlocks(s.info) ? s.chunks[chunk].size / s.info.dwSampleSize : 1;
}

void AviReader::CountSamples(Stream& s) {
    uint64_t total = 0;
    if (CountsBlocks(s.info)) {
        s.firstSample.reserve(s.chunks.size());
        for (size_t i = 0; i < s.chunks.size(); ++i) {
            s.firstSample.push_back(total);
            total += ChunkSamples(s, i);
        }
    } else {
        total = s.chunks.size();
    }
    // Positions are 32-bit: what lies beyond cannot be reached.
    s.info.dwLength = static_cast<uint32_t>(
        std::min<uint64_t>(total, std::numeric_limits<int32_t>::max() - uint64_t{s.info.dwStart}));
}

HRESULT AviReader::BuildIndexes() {
    std::vector<bool> wanted(streams_.size(), true);
    for (int i = 0; i < StreamCount(); ++i) {
        if (streams_[i].superIndex == 0) continue;
        const HRESULT r = ReadSuperIndex(i);
        if (r == AVIERR_OK)
            wanted[i] = false;
        else if (r != AVIERR_NODATA)
            return r;
    }
    if (std::find(wanted.begin(), wanted.end(), true) != wanted.end()) {
        const HRESULT r = idx1_ != 0 ? ReadIdx1(wanted) : ScanMovi(wanted);
        if (r != AVIERR_OK) return r;
    }
    for (Stream& s : streams_)
        CountSamples(s);
    return AVIERR_OK;
}

bool AviReader::IsKeyFrame(int stream, int32_t sample) const {
    const Stream& s = streams_[stream];
    const int64_t position = static_cast<int64_t>(sample) - s.info.dwStart;
    if (position < 0 || position >= s.info.dwLength) return false;
    return CountsBlocks(s.info) ||
           (s.chunks[static_cast<size_t>(position)].flags & AVIIF_KEYFRAME) != 0;
}

HRESULT AviReader::Read(int stream, int32_t start, int32_t samples, void* buffer,
                        int32_t bufferSize, int32_t* bytes, int32_t* samplesRead) const {
    if (bytes) *bytes = 0;
    if (samplesRead) *samplesRead = 0;
    const Stream& s = streams_[stream];
    if (samples < AVISTREAMREAD_CONVENIENT || samples == 0 || bufferSize < 0)
        return AVIERR_BADPARAM;
    const int64_t position = static_cast<int64_t>(start) - s.info.dwStart;
    if (position < 0 || position >= s.info.dwLength) return AVIERR_NODATA;
    const auto first = static_cast<uint64_t>(position);
    auto* out = static_cast<uint8_t*>(buffer);
    if (!CountsBlocks(s.info)) {
        const SampleEntry& e = s.chunks[first];
        if (e.size > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
            return AVIERR_BADSIZE;
        if (bytes) *bytes = static_cast<int32_t>(e.size);
        if (samplesRead) *samplesRead = 1;
        if (out == nullptr) return AVIERR_OK;
        if (static_cast<uint32_t>(bufferSize) < e.size) return AVIERR_BUFFERTOOSMALL;
        return source_->ReadAt(e.offset, out, e.size) ? AVIERR_OK : AVIERR_FILEREAD;
    }
    const uint64_t sampleSize = s.info.dwSampleSize;
    size_t chunk =
        static_cast<size_t>(std::upper_bound(s.firstSample.begin(), s.firstSample.end(), first) -
                            s.firstSample.begin() - 1);
    uint64_t count = samples == AVISTREAMREAD_CONVENIENT
                         ? s.firstSample[chunk] + ChunkSamples(s, chunk) - first
                         : static_cast<uint64_t>(samples);
    count = std::min({count, uint64_t{s.info.dwLength} - first,
                      std::numeric_limits<int32_t>::max() / sampleSize});
    if (out != nullptr) {
        count = std::min(count, static_cast<uint64_t>(bufferSize) / sampleSize);
        if (count == 0) return AVIERR_BUFFERTOOSMALL;
        for (uint64_t done = 0; done < count; ++chunk) {
            const uint64_t skip = first + done - s.firstSample[chunk];
            const uint64_t take = std::min<uint64_t>(ChunkSamples(s, chunk) - skip, count - done);
            if (take > 0 && !source_->ReadAt(s.chunks[chunk].offset + skip * sampleSize,
                                             out + done * sampleSize, take * sampleSize))
                return AVIERR_FILEREAD;
            done += take;
        }
    }
    if (bytes) *bytes = static_cast<int32_t>(count * sampleSize);
    if (samplesRead) *samplesRead = static_cast<int32_t>(count);
    return AVIERR_OK;
}

} // namespace avi
