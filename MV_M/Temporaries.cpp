#include "MV_M/Temporaries.h"

#include "platform/rtl/SysUtils.h"

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string& Journal() {
    static std::string path;
    return path;
}

struct Note {
    dev_t device = 0;
    ino_t inode = 0;
    std::string path;
};

// The journal is read and rewritten under its own lock: several makers may share it.
class JournalLock {
public:
    JournalLock() : fd_(::open(Journal().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
    }
    JournalLock(const JournalLock&) = delete;
    JournalLock& operator=(const JournalLock&) = delete;
    ~JournalLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Held() const { return fd_ >= 0; }

private:
    int fd_;
};

std::vector<Note> ReadNotes() {
    std::vector<Note> notes;
    std::ifstream in(Journal());
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        Note note;
        if (fields >> note.device >> note.inode && fields.get() == ' ' &&
            std::getline(fields, note.path) && !note.path.empty())
            notes.push_back(std::move(note));
    }
    return notes;
}

void WriteNotes(const std::vector<Note>& notes) {
    std::ofstream out(Journal(), std::ios::trunc);
    for (const Note& note : notes)
        out << note.device << ' ' << note.inode << ' ' << note.path << '\n';
}

// True when the file at the note's path is the noted one and nobody holds it.
bool Abandoned(const Note& note) {
    const int fd = ::open(note.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status {};
    const bool same = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                      status.st_dev == note.device && status.st_ino == note.inode;
    const bool free = same && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

bool StillThere(const Note& note) {
    struct stat status {};
    return ::lstat(note.path.c_str(), &status) == 0 && status.st_dev == note.device &&
           status.st_ino == note.inode;
}

} // namespace

void SetTemporaryJournal(std::string path) {
    Journal() = std::move(path);
}

TTemporaryFile::TTemporaryFile(std::string path) : path_(std::move(path)) {
    if (Journal().empty()) return;
    constexpr mode_t FileMode = 0644;
    lock_ =
        ::open(path_.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, FileMode);
    struct stat status {};
    if (lock_ < 0 || ::flock(lock_, LOCK_EX | LOCK_NB) != 0 || ::fstat(lock_, &status) != 0) return;
    const JournalLock journal;
    if (!journal.Held()) return;
    std::vector<Note> notes = ReadNotes();
    notes.push_back({status.st_dev, status.st_ino, path_});
    WriteNotes(notes);
}

TTemporaryFile::~TTemporaryFile() {
    if (lock_ < 0) return;
    if (!Journal().empty()) {
        const JournalLock journal;
        if (journal.Held()) {
            std::vector<Note> notes = ReadNotes();
            std::erase_if(notes, [&](const Note& n) { return n.path == path_; });
            WriteNotes(notes);
        }
    }
    ::close(lock_);
}

void RemoveAbandonedTemporaries(const std::string& folder) {
    if (Journal().empty() || !FileExists(Journal())) return;
    const JournalLock journal;
    if (!journal.Held()) return;
    std::vector<Note> notes = ReadNotes();
    std::erase_if(notes, [&](const Note& note) {
        if (!folder.empty() && ExtractFilePath(note.path) != folder) return false;
        if (Abandoned(note)) ::unlink(note.path.c_str());
        return !StillThere(note);
    });
    WriteNotes(notes);
}
