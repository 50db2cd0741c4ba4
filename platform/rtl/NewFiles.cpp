#include "platform/rtl/NewFiles.h"

#include "platform/rtl/FileWrite.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr mode_t FileMode = 0644;
// Rounds of removing a link that another process puts back at once.
constexpr int ReplaceLinkAttempts = 4;
constexpr auto LockRetry = std::chrono::milliseconds(10);

bool& UnnamedFilesAvailable() {
    static bool available = true;
    return available;
}

// Keeps Fd when it is a regular file; a FIFO or device opened without waiting is refused.
TFileHandle RegularOnly(int fd) {
    TFileHandle file(fd);
    struct stat status {};
    if (file.Valid() && (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
        file.Close();
        errno = EINVAL;
        return {};
    }
    return file;
}

// Clears the no-wait flag, which only served the opening.
TFileHandle Blocking(TFileHandle file) {
    if (file.Valid() &&
        ::fcntl(file.Get(), F_SETFL, ::fcntl(file.Get(), F_GETFL) & ~O_NONBLOCK) != 0)
        file.Close();
    return file;
}

} // namespace

TFileHandle& TFileHandle::operator=(TFileHandle&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.Release();
    }
    return *this;
}

TFileHandle::~TFileHandle() {
    Close();
}

bool TFileHandle::Close() {
    if (fd_ < 0) return true;
    return ::close(Release()) == 0;
}

TFileHandle CreateFileReplacingLink(const std::string& path) {
    constexpr int Flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    for (int attempt = 0; attempt < ReplaceLinkAttempts; ++attempt) {
        const int fd = ::open(path.c_str(), Flags | O_TRUNC, FileMode);
        if (fd >= 0 || errno != ELOOP) return Blocking(RegularOnly(fd));
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return {};
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) return {};
        // Whatever appears at the path in between is not opened: the next round looks again.
        const int created = ::open(path.c_str(), Flags | O_EXCL, FileMode);
        if (created >= 0 || errno != EEXIST) return Blocking(RegularOnly(created));
    }
    errno = ELOOP;
    return {};
}

TFileHandle CreateUnnamedFile(const std::string& folder) {
    if (!UnnamedFilesAvailable()) {
        errno = EOPNOTSUPP;
        return {};
    }
    return TFileHandle(
        ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, FileMode));
}

bool NameUnnamedFile(const TFileHandle& file, const std::string& path) {
    // Through the process's own view of the descriptor; without /proc only a privileged process
    // may link a descriptor itself.
    const std::string self = "/proc/self/fd/" + std::to_string(file.Get());
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno != ENOENT || ::access("/proc/self/fd", F_OK) == 0) return false;
    return ::linkat(file.Get(), "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0;
}

void SetUnnamedFilesAvailable(bool available) {
    UnnamedFilesAvailable() = available;
}

bool UnnamedFilesUnsupported(int error) {
    // A kernel without them takes the flag for a folder's; a file system without them refuses it.
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

TFileHandle CreateExclusiveFile(const std::string& path) {
    return TFileHandle(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, FileMode));
}

std::optional<TFileIdentity> IdentityOf(const TFileHandle& file) {
    struct statx status {};
    if (!file.Valid() ||
        ::statx(file.Get(), "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &status) != 0 ||
        (status.stx_mask & STATX_BTIME) == 0)
        return std::nullopt;
    // Coarse clocks give files born within a few milliseconds one birth time; the generation
    // tells them apart where the file system keeps one.
    int generation = 0;
    if (::ioctl(file.Get(), FS_IOC_GETVERSION, &generation) != 0) generation = 0;
    return TFileIdentity{.Device = makedev(status.stx_dev_major, status.stx_dev_minor),
                         .Inode = status.stx_ino,
                         .Generation = static_cast<uint32_t>(generation),
                         .BornSeconds = status.stx_btime.tv_sec,
                         .BornNanoseconds = status.stx_btime.tv_nsec};
}

std::optional<TFileIdentity> IdentityAt(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return IdentityOf(
        RegularOnly(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)));
}

TFileHandle OpenPrivateFile(const std::string& path, bool create) {
    const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (create ? O_CREAT : 0);
    return RegularOnly(::open(path.c_str(), flags, FileMode));
}

std::string ReadFileStart(const TFileHandle& file, size_t limit) {
    std::string content(limit, '\0');
    size_t done = 0;
    while (done < limit) {
        const ssize_t n =
            ::pread(file.Get(), content.data() + done, limit - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    content.resize(done);
    return content;
}

bool ReplaceFileContent(const TFileHandle& file, const std::string& content) {
    return ::ftruncate(file.Get(), 0) == 0 &&
           WriteAll(file.Get(), content.data(), content.size(), 0) == content.size();
}

bool TryLockFile(const TFileHandle& file, uint32_t waitMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (::flock(file.Get(), LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(LockRetry);
    }
}

bool RemoveUnlockedFile(const std::string& path, const TFileIdentity& identity) {
    const TFileHandle file(
        RegularOnly(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)));
    if (!file.Valid() || IdentityOf(file) != identity || !TryLockFile(file)) return false;
    // The name still leads to the file looked at.
    return IsFileAt(file, path) && ::unlink(path.c_str()) == 0;
}

bool IsFileAt(const TFileHandle& file, const std::string& path) {
    struct stat named {};
    struct stat opened {};
    return ::lstat(path.c_str(), &named) == 0 && ::fstat(file.Get(), &opened) == 0 &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}
