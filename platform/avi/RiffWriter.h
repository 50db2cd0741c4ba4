// Sequential RIFF output to a file (the chunk rule of ChunkWriter). Small writes are gathered in
// a buffer; a write that does not fit goes out together with what is buffered in one call, so a
// large sample costs one system call. A failed or short write (a full disk, a file size limit,
// the test override) makes the writer failed for good; later writes do nothing.
#pragma once

#include "platform/avi/RiffFormat.h"
#include "platform/rtl/NewFiles.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace avi {

class RiffWriter : public ChunkWriter<RiffWriter> {
public:
    RiffWriter() = default;
    RiffWriter(const RiffWriter&) = delete;
    RiffWriter& operator=(const RiffWriter&) = delete;

    // Creates (or empties) the file. A symbolic link at the path is replaced by a new file,
    // never written through.
    bool Create(const std::string& path);
    // Writes into File, an empty file the caller keeps open; Name stands for it.
    bool CreateIn(const TFileHandle& file, const std::string& name);
    bool Good() const { return file_.Valid() && !failed_; }
    uint64_t Position() const { return position_; }

    void Write(const void* data, size_t size);
    // Overwrites bytes already written.
    void PatchAt(uint64_t offset, const void* data, size_t size);
    // Sends what is buffered to the file.
    void Flush();
    // Flushes and closes; true when every write reached the file.
    bool Close();

    // The bytes from the start that reached the file, in order.
    uint64_t Durable() const { return written_; }
    // Forgets everything from Position on, which must lie within what reached the file, cuts
    // the file there and makes the writer good again (after a failed write too).
    bool RollBack(uint64_t position);

private:
    // Buffered bytes, then Size bytes of Data, at the end of the file.
    void WriteOut(const void* data, size_t size);

    static constexpr size_t kBufferSize = 64 * 1024;
    std::string path_;
    TFileHandle file_;
    bool failed_ = false;
    uint64_t position_ = 0;
    uint64_t written_ = 0;
    std::vector<uint8_t> buffer_;
};

} // namespace avi
