#include "platform/avi/RiffWriter.h"

#include "platform/rtl/FileWrite.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace avi {

bool RiffWriter::Create(const std::string& path) {
    path_ = path;
    file_ = CreateFileReplacingLink(path);
    if (file_.Valid()) buffer_.reserve(kBufferSize);
    return file_.Valid();
}

bool RiffWriter::CreateIn(const TFileHandle& file, const std::string& name) {
    path_ = name;
    // A descriptor of its own, so that closing reports what the file system reports.
    file_ = TFileHandle(file.Valid() ? ::fcntl(file.Get(), F_DUPFD_CLOEXEC, 0) : -1);
    if (file_.Valid()) buffer_.reserve(kBufferSize);
    return file_.Valid();
}

void RiffWriter::WriteOut(const void* data, size_t size) {
    // The system's record takes a mutable pointer but only reads through it.
    const iovec parts[] = {{buffer_.data(), buffer_.size()}, {const_cast<void*>(data), size}};
    const size_t written = FileWriteFails(path_) ? 0 : WriteAll(file_.Get(), parts);
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
    if (!failed_ && (FileWriteFails(path_) || WriteAll(file_.Get(), data, size, offset) != size))
        failed_ = true;
}

bool RiffWriter::RollBack(uint64_t position) {
    if (!file_.Valid() || position > written_) return false;
    if (::ftruncate(file_.Get(), static_cast<off_t>(position)) != 0 ||
        ::lseek(file_.Get(), static_cast<off_t>(position), SEEK_SET) < 0)
        return false;
    buffer_.clear();
    position_ = written_ = position;
    failed_ = false;
    return true;
}

bool RiffWriter::Close() {
    if (!file_.Valid()) return false;
    Flush();
    return file_.Close() && !failed_;
}

} // namespace avi
