// The movie maker's temporary movie files ("movie_.avi" beside "movie.avi"). While one exists it
// is noted in a journal beside the program (its device, inode and path) and its maker holds a
// lock on it; a temporary whose maker was killed is removed at the next start or the next make
// into its folder. A file of the user's is never removed: only a file whose device and inode are
// the ones noted, and that no running program locks.
#pragma once

#include <string>

// The journal's path; empty (the start) keeps no notes.
void SetTemporaryJournal(std::string path);

class TTemporaryFile {
public:
    // Notes Path as this program's temporary and locks it; makes it (empty) when it is missing,
    // so that it is noted before anything is written into it.
    explicit TTemporaryFile(std::string path);
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;
    // Forgets the note; the file itself was renamed or deleted by then.
    ~TTemporaryFile();

private:
    std::string path_;
    int lock_ = -1;
};

// Deletes the noted temporaries that no running program holds, those in Folder only when it is
// given (with its trailing delimiter).
void RemoveAbandonedTemporaries(const std::string& folder = {});
