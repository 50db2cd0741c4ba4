// Sequential RIFF output to a file: chunks are started with a placeholder size and ended by
// writing the size back, odd chunks get one pad byte that their size does not count. Small
// writes are buffered, sample data goes straight to the file. A failed write makes the writer
// failed for good; later writes do nothing.
#pragma once

#include "platform/avi/RiffFormat.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace avi {

class RiffWriter {
public:
    RiffWriter() = default;
    RiffWriter(const RiffWriter&) = delete;
    RiffWriter& operator=(const RiffWriter&) = delete;
    ~RiffWriter();

    // Creates (or truncates) the file.
    bool Create(const std::string& path);
    bool Good() const { return fd_ >= 0 && !failed_; }
    uint64_t Position() const { return position_; }

    void Write(const void* data, size_t size);
    // A whole chunk: header, data and pad byte.
    void WriteChunk(FOURCC id, const void* data, uint32_t size);
    // Starts a chunk (or, with a list type, a 'RIFF' or 'LIST') and returns its position.
    uint64_t BeginChunk(FOURCC id);
    uint64_t BeginList(FOURCC id, FOURCC type);
    // Writes back the size of the chunk started at Start and pads it to even length.
    void EndChunk(uint64_t start);
    // Overwrites bytes already written.
    void PatchAt(uint64_t offset, const void* data, size_t size);
    // Flushes and closes; true when every write reached the file.
    bool Close();

private:
    void Flush();
    void WriteOut(const void* data, size_t size);

    static constexpr size_t kBufferSize = 64 * 1024;
    int fd_ = -1;
    bool failed_ = false;
    uint64_t position_ = 0;
    std::vector<uint8_t> buffer_;
};

} // namespace avi
