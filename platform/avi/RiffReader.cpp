#include "platform/avi/RiffReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace avi {

namespace {

class FileSource final : public ByteSource {
public:
    FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    ~FileSource() override { ::close(fd_); }
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, void* data, size_t size) const override {
        if (!Contains(offset, size)) return false;
        auto* p = static_cast<uint8_t*>(data);
        while (size > 0) {
            const ssize_t done = ::pread(fd_, p, size, static_cast<off_t>(offset));
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) return false;
            p += done;
            offset += static_cast<uint64_t>(done);
            size -= static_cast<size_t>(done);
        }
        return true;
    }

private:
    int fd_;
    uint64_t size_;
};

class BufferSource final : public ByteSource {
public:
    BufferSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, void* data, size_t size) const override {
        if (!Contains(offset, size)) return false;
        if (size > 0) std::memcpy(data, data_ + offset, size);
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

} // namespace

std::unique_ptr<ByteSource> OpenFileSource(const std::string& path) {
    // Without blocking, so that a FIFO at the path cannot hang the open; only a regular file is
    // taken, and reads then block as usual.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<FileSource>(fd, static_cast<uint64_t>(st.st_size));
}

std::unique_ptr<ByteSource> MemorySource(const uint8_t* data, size_t size) {
    return std::make_unique<BufferSource>(data, size);
}

bool ReadChunk(const ByteSource& source, uint64_t offset, uint64_t end, Chunk* chunk) {
    uint8_t header[kListHeaderSize];
    if (offset > end || end - offset < kChunkHeaderSize ||
        !source.ReadAt(offset, header, kChunkHeaderSize))
        return false;
    chunk->id = GetU32(header);
    chunk->offset = offset;
    chunk->data = offset + kChunkHeaderSize;
    chunk->size = GetU32(header + 4);
    chunk->listType = 0;
    if (chunk->size > end - chunk->data) return false;
    // The pad byte of a last odd chunk may be missing.
    chunk->next = std::min(end, chunk->data + chunk->size + chunk->size % 2);
    if (chunk->id == kList || chunk->id == kRiff) {
        if (chunk->size < 4 || !source.ReadAt(chunk->data, header + kChunkHeaderSize, 4))
            return false;
        chunk->listType = GetU32(header + kChunkHeaderSize);
        chunk->data += 4;
        chunk->size -= 4;
    }
    return true;
}

} // namespace avi
