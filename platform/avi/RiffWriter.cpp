#include "platform/avi/RiffWriter.h"

#include "platform/rtl/FileWrite.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace avi {

namespace {

constexpr mode_t kFileMode = 0644;
// Rounds of removing a link that another process puts back at once.
constexpr int kCreateAttempts = 4;

// Opens Path for writing without following a symbolic link there: a link (dangling or not) is
// removed and a new file made in its place, so the link's target is never touched. Without
// blocking on a FIFO that has no reader.
int CreateFile(const std::string& path) {
    constexpr int kFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        const int fd = ::open(path.c_str(), kFlags | O_TRUNC, kFileMode);
        if (fd >= 0 || errno != ELOOP) return fd;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return -1;
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) return -1;
        // Whatever appears at the path in between is not opened: the next round looks again.
        const int created = ::open(path.c_str(), kFlags | O_EXCL, kFileMode);
        if (created >= 0 || errno != EEXIST) return created;
    }
    errno = ELOOP;
    return -1;
}

} // namespace

RiffWriter::~RiffWriter() {
    if (fd_ >= 0) ::close(fd_);
}

bool RiffWriter::Create(const std::string& path) {
    path_ = path;
    fd_ = CreateFile(path);
    if (fd_ < 0) return false;
    if (::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    buffer_.reserve(kBufferSize);
    return true;
}

void RiffWriter::WriteOut(const void* data, size_t size) {
    // The system's record takes a mutable pointer but only reads through it.
    const iovec parts[] = {{buffer_.data(), buffer_.size()}, {const_cast<void*>(data), size}};
    const size_t written = FileWriteFails(path_) ? 0 : WriteAll(fd_, parts);
    written_ += written;
    if (written != buffer_.size() + size) failed_ = true;
    buffer_.clear();
}

void RiffWriter::Flush() {
    if (!buffer_.empty()) WriteOut(nullptr, 0);
}

void RiffWriter::Write(const void* data, size_t size) {
    if (!Good()) return;
    position_ += size;
    if (buffer_.size() + size <= kBufferSize) {
        const auto* p = static_cast<const uint8_t*>(data);
        buffer_.insert(buffer_.end(), p, p + size);
        return;
    }
    WriteOut(data, size);
}

void RiffWriter::PatchAt(uint64_t offset, const void* data, size_t size) {
    if (!Good()) return;
    const uint64_t buffered = position_ - buffer_.size();
    if (offset >= buffered) {
        std::memcpy(buffer_.data() + (offset - buffered), data, size);
        return;
    }
    Flush();
    if (!failed_ && (FileWriteFails(path_) || WriteAll(fd_, data, size, offset) != size))
        failed_ = true;
}

bool RiffWriter::RollBack(uint64_t position) {
    if (fd_ < 0 || position > written_) return false;
    if (::ftruncate(fd_, static_cast<off_t>(position)) != 0 ||
        ::lseek(fd_, static_cast<off_t>(position), SEEK_SET) < 0)
        return false;
    buffer_.clear();
    position_ = written_ = position;
    failed_ = false;
    return true;
}

bool RiffWriter::Close() {
    if (fd_ < 0) return false;
    Flush();
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return closed && !failed_;
}

} // namespace avi
