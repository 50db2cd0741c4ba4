// Chunk identifiers, record sizes and limits of RIFF AVI files (AVI 1.0 and its OpenDML
// extension), and the little-endian helpers that the AVI writer and reader share.
#pragma once

#include "platform/avi/AviTypes.h"
#include "platform/graphics/Dib.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace avi {

inline constexpr FOURCC kRiff = mmioFOURCC('R', 'I', 'F', 'F');
inline constexpr FOURCC kList = mmioFOURCC('L', 'I', 'S', 'T');
inline constexpr FOURCC kFormAvi = mmioFOURCC('A', 'V', 'I', ' ');
inline constexpr FOURCC kFormAvix = mmioFOURCC('A', 'V', 'I', 'X');
inline constexpr FOURCC kHdrl = mmioFOURCC('h', 'd', 'r', 'l');
inline constexpr FOURCC kAvih = mmioFOURCC('a', 'v', 'i', 'h');
inline constexpr FOURCC kStrl = mmioFOURCC('s', 't', 'r', 'l');
inline constexpr FOURCC kStrh = mmioFOURCC('s', 't', 'r', 'h');
inline constexpr FOURCC kStrf = mmioFOURCC('s', 't', 'r', 'f');
inline constexpr FOURCC kStrn = mmioFOURCC('s', 't', 'r', 'n');
inline constexpr FOURCC kIndx = mmioFOURCC('i', 'n', 'd', 'x');
inline constexpr FOURCC kOdml = mmioFOURCC('o', 'd', 'm', 'l');
inline constexpr FOURCC kDmlh = mmioFOURCC('d', 'm', 'l', 'h');
inline constexpr FOURCC kMovi = mmioFOURCC('m', 'o', 'v', 'i');
inline constexpr FOURCC kRec = mmioFOURCC('r', 'e', 'c', ' ');
inline constexpr FOURCC kIdx1 = mmioFOURCC('i', 'd', 'x', '1');
inline constexpr FOURCC kJunk = mmioFOURCC('J', 'U', 'N', 'K');

inline constexpr uint32_t kChunkHeaderSize = 8; // id, size
inline constexpr uint32_t kListHeaderSize = 12; // 'LIST' or 'RIFF', size, list type

// Main header flags.
inline constexpr uint32_t AVIF_HASINDEX = 0x10;

// Fields of a video stream's format (a BITMAPINFOHEADER, perhaps followed by more).
inline constexpr size_t kBitmapWidthOffset = offsetof(BITMAPINFOHEADER, biWidth);
inline constexpr size_t kBitmapHeightOffset = offsetof(BITMAPINFOHEADER, biHeight);
inline constexpr size_t kBitmapCompressionOffset = offsetof(BITMAPINFOHEADER, biCompression);

inline constexpr uint32_t kMainHeaderSize = 56;
inline constexpr uint32_t kStreamHeaderSize = 56;
// Older writers leave out the frame rectangle.
inline constexpr uint32_t kShortStreamHeaderSize = 48;
inline constexpr uint32_t kDmlhSize = 248;

// The 'strh' record: fccType, fccHandler and dwFlags; wPriority and wLanguage (16-bit); the
// 32-bit fields below from kStreamHeaderWordsOffset on; rcFrame as four 16-bit values.
inline constexpr uint32_t kStreamHeaderWordsOffset = 16;
inline constexpr uint32_t kStreamHeaderFrameOffset = 48;
inline constexpr uint32_t AVISTREAMINFO::*kStreamHeaderWords[] = {
    &AVISTREAMINFO::dwInitialFrames, &AVISTREAMINFO::dwScale,
    &AVISTREAMINFO::dwRate,          &AVISTREAMINFO::dwStart,
    &AVISTREAMINFO::dwLength,        &AVISTREAMINFO::dwSuggestedBufferSize,
    &AVISTREAMINFO::dwQuality,       &AVISTREAMINFO::dwSampleSize};
static_assert(kStreamHeaderWordsOffset + 4 * std::size(kStreamHeaderWords) ==
              kStreamHeaderFrameOffset);
static_assert(kStreamHeaderFrameOffset + 4 * 2 == kStreamHeaderSize);

// OpenDML indexes: a super index ('indx' in each strl) lists the standard indexes ('ix##' in
// each movi), which list the chunks.
inline constexpr uint8_t AVI_INDEX_OF_INDEXES = 0x00;
inline constexpr uint8_t AVI_INDEX_OF_CHUNKS = 0x01;
inline constexpr uint32_t kIndexHeaderSize = 24;
inline constexpr uint32_t kSuperIndexEntrySize = 16;
inline constexpr uint32_t kStdIndexEntrySize = 8;
inline constexpr uint16_t kSuperIndexLongsPerEntry = 4;
inline constexpr uint16_t kStdIndexLongsPerEntry = 2;
// Set in a standard index entry's size for a sample that is not a key frame.
inline constexpr uint32_t kStdIndexNonKeyBit = 0x80000000u;
inline constexpr uint32_t kIdx1EntrySize = 16;

// Two-digit stream numbers in chunk ids.
inline constexpr int kMaxStreams = 100;

// Little-endian access to byte buffers.
inline uint16_t GetU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t GetU64(const uint8_t* p) {
    return static_cast<uint64_t>(GetU32(p)) | static_cast<uint64_t>(GetU32(p + 4)) << 32;
}
inline void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The RIFF chunk rule over any sink of bytes: a chunk starts with its id and a placeholder size
// and ends by writing its size back; an odd chunk gets one pad byte that its size does not count.
// The sink (derived from this) has Position(), Write(data, size) and PatchAt(offset, data, size).
template <class Sink>
class ChunkWriter {
public:
    // Starts a chunk and returns its position for EndChunk.
    uint64_t BeginChunk(FOURCC id) { return WriteHeader(id, 0); }
    // A 'RIFF' or 'LIST' of the given type.
    uint64_t BeginList(FOURCC id, FOURCC type) {
        const uint64_t start = BeginChunk(id);
        uint8_t t[4];
        PutU32(t, type);
        sink().Write(t, sizeof t);
        return start;
    }
    uint64_t BeginList(FOURCC type) { return BeginList(kList, type); }
    // Writes back the size of the chunk started at Start and pads it to even length.
    void EndChunk(uint64_t start) {
        const uint64_t size = sink().Position() - start - kChunkHeaderSize;
        uint8_t s[4];
        PutU32(s, static_cast<uint32_t>(size));
        sink().PatchAt(start + 4, s, sizeof s);
        if (size % 2 != 0) sink().Write("", 1);
    }
    // A whole chunk: header, data and pad byte.
    void WriteChunk(FOURCC id, const void* data, uint32_t size) {
        WriteHeader(id, size);
        sink().Write(data, size);
        if (size % 2 != 0) sink().Write("", 1);
    }

private:
    uint64_t WriteHeader(FOURCC id, uint32_t size) {
        const uint64_t start = sink().Position();
        uint8_t header[kChunkHeaderSize];
        PutU32(header, id);
        PutU32(header + 4, size);
        sink().Write(header, sizeof header);
        return start;
    }
    Sink& sink() { return static_cast<Sink&>(*this); }
};

// A growing little-endian byte buffer for headers and indexes.
class ByteBuffer : public ChunkWriter<ByteBuffer> {
public:
    void U8(uint8_t v) { bytes_.push_back(v); }
    void U16(uint16_t v) {
        U8(static_cast<uint8_t>(v));
        U8(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v) {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void U64(uint64_t v) {
        U32(static_cast<uint32_t>(v));
        U32(static_cast<uint32_t>(v >> 32));
    }
    void Bytes(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes_.insert(bytes_.end(), p, p + size);
    }
    void Zeros(size_t count) { bytes_.resize(bytes_.size() + count); }
    const std::vector<uint8_t>& Data() const { return bytes_; }
    size_t Size() const { return bytes_.size(); }

    // The sink of ChunkWriter.
    uint64_t Position() const { return bytes_.size(); }
    void Write(const void* data, size_t size) { Bytes(data, size); }
    void PatchAt(uint64_t offset, const void* data, size_t size) {
        std::memcpy(bytes_.data() + offset, data, size);
    }

private:
    std::vector<uint8_t> bytes_;
};

// The chunk id of stream Stream's samples: two decimal digits, then the two-letter kind.
inline FOURCC StreamChunkId(int stream, char kind0, char kind1) {
    return mmioFOURCC(static_cast<char>('0' + stream / 10), static_cast<char>('0' + stream % 10),
                      kind0, kind1);
}
// 'ix##': the standard index of stream Stream.
inline FOURCC IndexChunkId(int stream) {
    return mmioFOURCC('i', 'x', static_cast<char>('0' + stream / 10),
                      static_cast<char>('0' + stream % 10));
}
// The stream number of a sample chunk id, -1 when the id names no stream.
inline int StreamOfChunkId(FOURCC id) {
    const auto d0 = static_cast<char>(id & 0xFF);
    const auto d1 = static_cast<char>((id >> 8) & 0xFF);
    if (d0 < '0' || d0 > '9' || d1 < '0' || d1 > '9') return -1;
    return (d0 - '0') * 10 + (d1 - '0');
}

// The name a stream header record holds (zero-terminated within its field).
inline std::string StreamName(const AVISTREAMINFO& info) {
    return {info.szName, strnlen(info.szName, sizeof(info.szName))};
}

// Streams whose samples are counted in blocks of dwSampleSize bytes (audio); video is one frame
// per chunk whatever its header's sample size says.
inline bool CountsBlocks(const AVISTREAMINFO& info) {
    return info.fccType != streamtypeVIDEO && info.dwSampleSize > 0;
}

// One sample's chunk: where its data starts, its size and its index flags.
struct SampleEntry {
    uint64_t offset = 0;
    uint32_t size = 0;
    uint32_t flags = 0;
};

} // namespace avi
