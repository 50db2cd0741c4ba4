// Files the programs make for themselves, made so that nothing else is touched: a new file never
// writes through a symbolic link or waits on a FIFO at its path; an unnamed file vanishes with
// its last descriptor, a killed process's too; and the small files and locks by which a program
// tells its own files from the user's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// An open file descriptor, closed with its owner.
class TFileHandle {
public:
    TFileHandle() = default;
    explicit TFileHandle(int fd) : fd_(fd) {}
    TFileHandle(TFileHandle&& other) noexcept : fd_(other.Release()) {}
    TFileHandle& operator=(TFileHandle&& other) noexcept;
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;
    ~TFileHandle();

    bool Valid() const { return fd_ >= 0; }
    int Get() const { return fd_; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now; false when the system reports an error (a write that failed late).
    bool Close();

private:
    int fd_ = -1;
};

// Opens Path for writing as an empty regular file, emptying a file that is there. A symbolic link
// at Path, dangling or not, is replaced by the new file and its target is never touched; a FIFO
// or device is refused without waiting for a reader.
TFileHandle CreateFileReplacingLink(const std::string& path);

// A new file in Folder that has no name: no other program sees it, and it vanishes with its last
// descriptor, also when the process is killed. Invalid where the file system has no unnamed
// files (or tests say so) and on any other failure, with errno telling which.
TFileHandle CreateUnnamedFile(const std::string& folder);
// Gives the unnamed file the name Path in its folder; false (errno EEXIST) when Path is taken.
bool NameUnnamedFile(const TFileHandle& file, const std::string& path);
// Tests make the system's unnamed files unavailable, as on file systems without them.
void SetUnnamedFilesAvailable(bool available);
// True when the system's unnamed files are errno's reason for a failure: the caller then falls
// back on a named file.
bool UnnamedFilesUnsupported(int error);

// Creates a new regular file at Path; fails when anything (a link included) is there.
TFileHandle CreateExclusiveFile(const std::string& path);

// What tells a file from one that takes its place later, even in the same inode: the inode, its
// generation (where the file system counts one) and the time the file was born.
struct TFileIdentity {
    uint64_t Device = 0;
    uint64_t Inode = 0;
    uint32_t Generation = 0;
    int64_t BornSeconds = 0;
    uint32_t BornNanoseconds = 0;
    bool operator==(const TFileIdentity&) const = default;
};
// The identity of the open file; nothing when its file system does not tell when it was born.
std::optional<TFileIdentity> IdentityOf(const TFileHandle& file);
// True when Path names the open file itself (a link at Path is not followed).
bool IsFileAt(const TFileHandle& file, const std::string& path);
// The identity of the regular file at Path (a link is not followed); nothing when there is none.
std::optional<TFileIdentity> IdentityAt(const std::string& path);

// A regular file of the program's own, for reading and writing, made when missing and Create is
// set: never opened through a symbolic link, never waiting on a FIFO. Invalid when anything else
// is at Path.
TFileHandle OpenPrivateFile(const std::string& path, bool create);
// At most Limit bytes from the start of the file.
std::string ReadFileStart(const TFileHandle& file, size_t limit);
// Makes Content the file's whole content.
bool ReplaceFileContent(const TFileHandle& file, const std::string& content);

// An exclusive lock on the open file, held until the last descriptor of this open goes. Without
// waiting; or waiting at most WaitMs while another holds it.
bool TryLockFile(const TFileHandle& file, uint32_t waitMs = 0);

// Removes the regular file at Path when it is still the file Identity names and nobody holds a
// lock on it; true when it was removed.
bool RemoveUnlockedFile(const std::string& path, const TFileIdentity& identity);
