// Bounded access to RIFF data: a byte source (a file, or memory for the fuzz target) whose
// every read is checked against its size, and chunk headers checked against their parent.
#pragma once

#include "platform/avi/RiffFormat.h"

#include <cstdint>
#include <memory>
#include <string>

namespace avi {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // False when the range lies (partly) outside the source or cannot be read.
    virtual bool ReadAt(uint64_t offset, void* data, size_t size) const = 0;
    bool Contains(uint64_t offset, uint64_t size) const {
        return offset <= Size() && size <= Size() - offset;
    }
};

// Null when the file cannot be opened.
std::unique_ptr<ByteSource> OpenFileSource(const std::string& path);
// The bytes must outlive the source.
std::unique_ptr<ByteSource> MemorySource(const uint8_t* data, size_t size);

// A chunk inside a parent range: its id, data range and, for 'RIFF' and 'LIST', its list type
// (the data then starts after the type).
struct Chunk {
    FOURCC id = 0;
    FOURCC listType = 0;
    uint64_t offset = 0; // of the header
    uint64_t data = 0;
    uint64_t size = 0;
    uint64_t next = 0; // the following chunk (after the pad byte)
    bool IsList(FOURCC type) const { return (id == kList || id == kRiff) && listType == type; }
};

// Reads the chunk at Offset, which must lie whole before End; false when it does not.
bool ReadChunk(const ByteSource& source, uint64_t offset, uint64_t end, Chunk* chunk);

} // namespace avi
