#include "platform/classes/Classes.h"

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// ---------------------------------------------------------------- TStream

int64_t TStream::Size() {
    const int64_t position = Seek(0, soCurrent);
    const int64_t size = Seek(0, soEnd);
    Seek(position, soBeginning);
    return size;
}

void TStream::SetSize(int64_t) {}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count != 0 && Read(buffer, count) != count) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count != 0 && Write(buffer, count) != count) throw EWriteError();
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    constexpr int64_t BlockSize = 61440;
    std::vector<uint8_t> block(static_cast<size_t>(std::min(count, BlockSize)));
    int64_t left = count;
    while (left > 0) {
        const int64_t n = std::min(left, BlockSize);
        source.ReadBuffer(block.data(), n);
        WriteBuffer(block.data(), n);
        left -= n;
    }
    return count;
}

// ---------------------------------------------------------------- TFileStream

TFileStream::TFileStream(const std::string& fileName, uint32_t mode) : fileName_(fileName) {
    if (mode == fmCreate || (mode & 0xFF00) == fmCreate) {
        fd_ = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0) throw EFCreateError::ForFile(fileName);
        return;
    }
    int flags = O_RDONLY;
    if ((mode & 3) == fmOpenWrite) flags = O_WRONLY;
    if ((mode & 3) == fmOpenReadWrite) flags = O_RDWR;
    // Without blocking, so that a FIFO at the path cannot hang the open; only a regular file
    // is data that ends, so anything else is refused, and reads then block as usual.
    fd_ = ::open(fileName.c_str(), flags | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) ||
                     ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK) != 0)) {
        ::close(fd_);
        fd_ = -1;
    }
    if (fd_ < 0) throw EFOpenError::ForFile(fileName);
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t done = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (done < count) {
        const ssize_t n = ::read(fd_, out + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

namespace {

std::function<bool(const std::string&)>& WriteFailureOverride() {
    static std::function<bool(const std::string&)> fails;
    return fails;
}

} // namespace

void SetFileWriteFailureOverride(std::function<bool(const std::string& fileName)> fails) {
    WriteFailureOverride() = std::move(fails);
}

bool FileWriteFails(const std::string& fileName) {
    return WriteFailureOverride() && WriteFailureOverride()(fileName);
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    if (FileWriteFails(fileName_)) {
        errno = ENOSPC;
        return 0;
    }
    int64_t done = 0;
    const auto* in = static_cast<const uint8_t*>(buffer);
    while (done < count) {
        const ssize_t n = ::write(fd_, in + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
    return static_cast<int64_t>(::lseek(fd_, static_cast<off_t>(offset), whence));
}

int64_t TFileStream::Size() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return TStream::Size();
    return static_cast<int64_t>(st.st_size);
}

void TFileStream::SetSize(int64_t newSize) {
    const int64_t position = Position();
    if (::ftruncate(fd_, static_cast<off_t>(newSize)) != 0) throw EWriteError();
    if (position > newSize) Seek(newSize, soBeginning);
}

// ---------------------------------------------------------------- TMemoryStream

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t left = Size() - position_;
    const int64_t n = std::clamp<int64_t>(count, 0, std::max<int64_t>(left, 0));
    if (n > 0) std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    const int64_t end = position_ + count;
    if (end > Size()) {
        try {
            data_.resize(static_cast<size_t>(end));
        } catch (const std::bad_alloc&) {
            throw EOutOfMemory();
        }
    }
    std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
    position_ = end;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : Size();
    position_ = base + offset;
    if (position_ < 0) position_ = 0;
    return position_;
}

void TMemoryStream::SetSize(int64_t newSize) {
    try {
        data_.resize(static_cast<size_t>(std::max<int64_t>(newSize, 0)));
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
    if (position_ > newSize) position_ = newSize;
}

void TMemoryStream::Clear() {
    data_.clear();
    data_.shrink_to_fit();
    position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
    stream.SetPosition(0);
    const int64_t count = stream.Size();
    SetSize(count);
    if (count != 0) stream.ReadBuffer(data_.data(), count);
    position_ = 0;
}

void TMemoryStream::SaveToStream(TStream& stream) {
    if (!data_.empty()) stream.WriteBuffer(data_.data(), Size());
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
    TFileStream file(fileName, fmCreate);
    SaveToStream(file);
}

// ---------------------------------------------------------------- TStringList

void TStringList::CheckIndex(int index, bool allowEnd) const {
    if (index < 0 || index > Count() || (index == Count() && !allowEnd))
        throw EListError(Format(Msg::ListIndexError, index));
}

const std::string& TStringList::operator[](int index) const {
    CheckIndex(index);
    return items_[static_cast<size_t>(index)];
}

std::string& TStringList::operator[](int index) {
    CheckIndex(index);
    return items_[static_cast<size_t>(index)];
}

int TStringList::Add(std::string text) {
    if (sorted_) {
        const auto at = std::lower_bound(items_.begin(), items_.end(), text);
        return static_cast<int>(items_.insert(at, std::move(text)) - items_.begin());
    }
    items_.push_back(std::move(text));
    return Count() - 1;
}

void TStringList::Insert(int index, std::string text) {
    CheckIndex(index, true);
    items_.insert(items_.begin() + index, std::move(text));
}

void TStringList::Delete(int index) {
    CheckIndex(index);
    items_.erase(items_.begin() + index);
}

int TStringList::IndexOf(const std::string& text) const {
    const auto it = std::find(items_.begin(), items_.end(), text);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TStringList::Sort() {
    std::sort(items_.begin(), items_.end());
}

void TStringList::SetSorted(bool sorted) {
    if (sorted && !sorted_) Sort();
    sorted_ = sorted;
}

std::string TStringList::Text() const {
    std::string out;
    for (const auto& line : items_)
        out += line + "\r\n";
    return out;
}

void TStringList::SetText(const std::string& text) {
    items_.clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        Add(text.substr(start, end - start));
        if (end < text.size() && text[end] == '\r') ++end;
        if (end < text.size() && text[end] == '\n') ++end;
        start = end;
    }
}

void TStringList::LoadFromFile(const std::string& fileName) {
    TMemoryStream stream;
    stream.LoadFromFile(fileName);
    SetText(std::string(reinterpret_cast<const char*>(stream.Memory()),
                        static_cast<size_t>(stream.Size())));
}

void TStringList::SaveToFile(const std::string& fileName) const {
    TFileStream file(fileName, fmCreate);
    const std::string text = Text();
    file.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}
