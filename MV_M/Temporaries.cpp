#include "MV_M/Temporaries.h"

#include "platform/rtl/SysUtils.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view TemporaryEnding = "_.avi";
// Rounds of naming a temporary whose name another program takes at the same moment.
constexpr int NamingAttempts = 16;
// The journal holds the notes of the few makes running at one time; whatever lies beyond this
// is not the program's and is not read.
constexpr size_t JournalLimit = 64 * 1024;
// Another maker holds the journal only to read and rewrite it.
constexpr uint32_t JournalWaitMs = 1000;

// One temporary: its identity and its path, the path's length first so that any byte may be in
// it: "device inode generation born-seconds born-nanoseconds length path\n".
struct Note {
    TFileIdentity Identity;
    std::string Path;
};

bool TakeNumber(std::string_view& text, auto& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() + text.size() || *end != ' ') return false;
    text.remove_prefix(static_cast<size_t>(end - text.data()) + 1);
    return true;
}

std::optional<Note> ParseNote(std::string_view& text) {
    Note note;
    size_t length = 0;
    if (!TakeNumber(text, note.Identity.Device) || !TakeNumber(text, note.Identity.Inode) ||
        !TakeNumber(text, note.Identity.Generation) ||
        !TakeNumber(text, note.Identity.BornSeconds) ||
        !TakeNumber(text, note.Identity.BornNanoseconds) || !TakeNumber(text, length) ||
        length == 0 || length >= text.size() || text[length] != '\n')
        return std::nullopt;
    note.Path = text.substr(0, length);
    text.remove_prefix(length + 1);
    return note;
}

// The notes that read whole; a damaged line is passed over.
std::vector<Note> ParseNotes(std::string_view text) {
    std::vector<Note> notes;
    while (!text.empty()) {
        if (std::optional<Note> note = ParseNote(text)) {
            notes.push_back(std::move(*note));
            continue;
        }
        const size_t next = text.find('\n');
        text.remove_prefix(next == std::string_view::npos ? text.size() : next + 1);
    }
    return notes;
}

std::string FormatNotes(const std::vector<Note>& notes) {
    std::string text;
    for (const Note& n : notes)
        text +=
            Format("%llu %llu %u %lld %u %zu ", static_cast<unsigned long long>(n.Identity.Device),
                   static_cast<unsigned long long>(n.Identity.Inode), n.Identity.Generation,
                   static_cast<long long>(n.Identity.BornSeconds), n.Identity.BornNanoseconds,
                   n.Path.size()) +
            n.Path + '\n';
    return text;
}

// The journal, held by this maker while it reads and rewrites the notes.
class Journal {
public:
    Journal(const std::string& path, bool create)
        : FFile(path.empty() ? TFileHandle() : OpenPrivateFile(path, create)) {
        FHeld = FFile.Valid() && TryLockFile(FFile, JournalWaitMs);
    }
    bool Held() const { return FHeld; }
    std::vector<Note> Read() const { return ParseNotes(ReadFileStart(FFile, JournalLimit)); }
    void Write(const std::vector<Note>& notes) const {
        ReplaceFileContent(FFile, FormatNotes(notes));
    }

private:
    TFileHandle FFile;
    bool FHeld = false;
};

// Only a file under a name the maker gives its temporaries may ever be removed.
bool IsTemporaryName(const std::string& path) {
    const std::string name = ExtractFileName(path);
    return name.size() > TemporaryEnding.size() && name.ends_with(TemporaryEnding);
}

bool PathTaken(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

} // namespace

std::string TemporaryName(const std::string& movie) {
    std::string name = ChangeFileExt(movie, std::string(TemporaryEnding));
    for (int n = 2; PathTaken(name); ++n)
        name = ChangeFileExt(movie, "_" + std::to_string(n) + std::string(TemporaryEnding));
    return name;
}

TTemporaryFile::TTemporaryFile(std::string movie, std::string journal)
    : FMovie(std::move(movie)), FJournal(std::move(journal)), FName(TemporaryName(FMovie)) {
    FFile = CreateUnnamedFile(ExtractFilePath(FMovie));
    if (!FFile.Valid() && UnnamedFilesUnsupported(errno)) CreateNamed();
}

// Named from the start, locked while it exists and noted, so that the next start can tell it
// from a file of the user's should this maker be killed.
void TTemporaryFile::CreateNamed() {
    for (int attempt = 0; attempt < NamingAttempts && !FFile.Valid(); ++attempt) {
        FName = TemporaryName(FMovie);
        FFile = CreateExclusiveFile(FName);
        if (!FFile.Valid() && errno != EEXIST) return;
    }
    if (!FFile.Valid()) return;
    FNamed = true;
    TryLockFile(FFile);
    const std::optional<TFileIdentity> identity = IdentityOf(FFile);
    const Journal journal(FJournal, true);
    // Without a birth time a later file in the same inode could not be told from it.
    if (!identity || !journal.Held()) return;
    std::vector<Note> notes = journal.Read();
    notes.push_back({*identity, FName});
    journal.Write(notes);
    FNoted = true;
}

void TTemporaryFile::ForgetNote() {
    if (!FNoted) return;
    FNoted = false;
    const std::optional<TFileIdentity> identity = IdentityOf(FFile);
    const Journal journal(FJournal, false);
    if (!identity || !journal.Held()) return;
    std::vector<Note> notes = journal.Read();
    std::erase_if(notes, [&](const Note& n) { return n.Identity == *identity; });
    journal.Write(notes);
}

TTemporaryFile::~TTemporaryFile() {
    Discard();
}

void TTemporaryFile::Discard() {
    if (!FFile.Valid()) return;
    // Only while the name still leads to this very file.
    if (FNamed && IsFileAt(FFile, FName)) std::remove(FName.c_str());
    ForgetNote();
    FFile.Close();
}

bool TTemporaryFile::ReplaceMovie() {
    if (!FFile.Valid()) return false;
    for (int attempt = 0; !FNamed && attempt < NamingAttempts; ++attempt) {
        FName = TemporaryName(FMovie);
        if (NameUnnamedFile(FFile, FName)) {
            FNamed = true;
            break;
        }
        if (errno != EEXIST) break;
    }
    // One step, so that the movie is never missing.
    if (!FNamed || std::rename(FName.c_str(), FMovie.c_str()) != 0) {
        Discard();
        return false;
    }
    ForgetNote();
    FFile.Close();
    return true;
}

void RemoveAbandonedTemporaries(const std::string& journal, const std::string& folder) {
    const Journal notes(journal, false);
    if (!notes.Held()) return;
    std::vector<Note> kept = notes.Read();
    std::erase_if(kept, [&](const Note& note) {
        if (!folder.empty() && ExtractFilePath(note.Path) != folder) return false;
        if (IsTemporaryName(note.Path)) RemoveUnlockedFile(note.Path, note.Identity);
        // A note stays while its file does: its maker still runs.
        return IdentityAt(note.Path) != note.Identity;
    });
    notes.Write(kept);
}
