// The movie maker's temporary movie files: the re-compressed or rebuilt copy of a movie, which
// replaces the movie once it is whole. Where the file system allows, the copy has no name until
// then, so a killed make leaves nothing behind. Elsewhere it is named from the start
// ("movie_.avi" beside "movie.avi"), noted in a journal and locked while it is written; the next
// start or make removes a noted copy whose maker is gone. A file of the user's is never removed:
// only one at a temporary's name that is still the very file noted, and that nobody locks.
#pragma once

#include "platform/rtl/NewFiles.h"

#include <string>

class TTemporaryFile {
public:
    // A new temporary for the copy of Movie, in Movie's folder. Journal: where a named temporary
    // is noted (empty: nowhere).
    TTemporaryFile(std::string movie, std::string journal);
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;
    // A temporary that has not replaced the movie goes.
    ~TTemporaryFile();

    bool Created() const { return FFile.Valid(); }
    // The file to write the copy into.
    const TFileHandle& File() const { return FFile; }
    // The temporary's name, or the name it would take: what stands for it in messages and tests.
    const std::string& Name() const { return FName; }
    // Replaces the movie by the temporary in one step; false when it could not (the temporary
    // then goes).
    bool ReplaceMovie();

private:
    void CreateNamed();
    void ForgetNote();
    void Discard();

    std::string FMovie;
    std::string FJournal;
    std::string FName;
    TFileHandle FFile;
    bool FNamed = false; // it has its name
    bool FNoted = false; // it is noted in the journal
};

// The temporary's name for Movie: its extension replaced by "_.avi"; when anything lies there
// already, "_2_.avi", "_3_.avi", ... instead.
std::string TemporaryName(const std::string& movie);

// Removes the temporaries noted in Journal that their makers left: each one still the file noted,
// under a temporary's name, and locked by nobody. Only those in Folder when it is given (with its
// trailing delimiter).
void RemoveAbandonedTemporaries(const std::string& journal, const std::string& folder = {});
