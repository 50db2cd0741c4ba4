#include "platform/avi/RiffWriter.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace avi {

namespace {

constexpr mode_t kFileMode = 0644;

} // namespace

RiffWriter::~RiffWriter() {
    if (fd_ >= 0) ::close(fd_);
}

bool RiffWriter::Create(const std::string& path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode);
    buffer_.reserve(kBufferSize);
    return fd_ >= 0;
}

void RiffWriter::WriteOut(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0 && !failed_) {
        const ssize_t done = ::write(fd_, p, size);
        if (done < 0) {
            if (errno == EINTR) continue;
            failed_ = true;
            return;
        }
        p += done;
        size -= static_cast<size_t>(done);
    }
}

void RiffWriter::Flush() {
    if (!buffer_.empty()) WriteOut(buffer_.data(), buffer_.size());
    buffer_.clear();
}

void RiffWriter::Write(const void* data, size_t size) {
    if (!Good()) return;
    position_ += size;
    if (buffer_.size() + size <= kBufferSize) {
        const auto* p = static_cast<const uint8_t*>(data);
        buffer_.insert(buffer_.end(), p, p + size);
        return;
    }
    Flush();
    WriteOut(data, size);
}

void RiffWriter::WriteChunk(FOURCC id, const void* data, uint32_t size) {
    uint8_t header[kChunkHeaderSize];
    PutU32(header, id);
    PutU32(header + 4, size);
    Write(header, sizeof header);
    Write(data, size);
    if (size % 2 != 0) Write("", 1);
}

uint64_t RiffWriter::BeginChunk(FOURCC id) {
    const uint64_t start = position_;
    uint8_t header[kChunkHeaderSize];
    PutU32(header, id);
    PutU32(header + 4, 0);
    Write(header, sizeof header);
    return start;
}

uint64_t RiffWriter::BeginList(FOURCC id, FOURCC type) {
    const uint64_t start = BeginChunk(id);
    uint8_t t[4];
    PutU32(t, type);
    Write(t, sizeof t);
    return start;
}

void RiffWriter::EndChunk(uint64_t start) {
    const uint64_t size = position_ - start - kChunkHeaderSize;
    uint8_t s[4];
    PutU32(s, static_cast<uint32_t>(size));
    PatchAt(start + 4, s, sizeof s);
    if (size % 2 != 0) Write("", 1);
}

void RiffWriter::PatchAt(uint64_t offset, const void* data, size_t size) {
    if (!Good()) return;
    const uint64_t buffered = position_ - buffer_.size();
    if (offset >= buffered) {
        std::memcpy(buffer_.data() + (offset - buffered), data, size);
        return;
    }
    Flush();
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0 && !failed_) {
        const ssize_t done = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
        if (done < 0) {
            if (errno == EINTR) continue;
            failed_ = true;
            return;
        }
        p += done;
        offset += static_cast<uint64_t>(done);
        size -= static_cast<size_t>(done);
    }
}

bool RiffWriter::Close() {
    if (fd_ < 0) return false;
    Flush();
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return closed && !failed_;
}

} // namespace avi
