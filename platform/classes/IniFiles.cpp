#include "platform/classes/IniFiles.h"

#include "platform/rtl/SysUtils.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace {

// Settings files are small; a larger file is not one of ours and is never loaded whole.
constexpr int64_t MaxIniFileBytes = int64_t{16} << 20;
constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view LineEnd = "\r\n";
constexpr int TempNameAttempts = 100;
constexpr int MaxLinkDepth = 40;
constexpr std::string_view TempPrefix = ".~ini";

// ---------------------------------------------------------------- the file as lines

enum class LineKind { Other, Section, Key };

struct IniLine {
    std::string text; // as in the file, without the line end
    LineKind kind = LineKind::Other;
    std::string name;  // section or key name, trimmed
    std::string value; // key value, trimmed
};

struct IniDocument {
    bool bom = false;
    std::vector<IniLine> lines;
};

IniLine ParseLine(std::string text) {
    IniLine line;
    const std::string trimmed = Trim(text);
    if (!trimmed.empty() && trimmed.front() == '[') {
        const size_t close = trimmed.find(']');
        if (close != std::string::npos) {
            line.kind = LineKind::Section;
            line.name = Trim(std::string_view(trimmed).substr(1, close - 1));
        }
    } else if (!trimmed.empty() && trimmed.front() != ';') {
        const size_t eq = trimmed.find('=');
        if (eq != std::string::npos && eq > 0) {
            line.kind = LineKind::Key;
            line.name = Trim(std::string_view(trimmed).substr(0, eq));
            line.value = Trim(std::string_view(trimmed).substr(eq + 1));
        }
    }
    line.text = std::move(text);
    return line;
}

IniDocument ParseDocument(std::string_view content) {
    IniDocument doc;
    if (content.starts_with(Utf8Bom)) {
        doc.bom = true;
        content.remove_prefix(Utf8Bom.size());
    }
    while (!content.empty()) {
        const size_t lf = content.find('\n');
        std::string_view text = content.substr(0, lf);
        content.remove_prefix(lf == std::string_view::npos ? content.size() : lf + 1);
        if (text.ends_with('\r')) text.remove_suffix(1);
        doc.lines.push_back(ParseLine(std::string(text)));
    }
    return doc;
}

std::string Serialize(const IniDocument& doc) {
    std::string out(doc.bom ? Utf8Bom : std::string_view{});
    for (const IniLine& line : doc.lines) {
        out += line.text;
        out += LineEnd;
    }
    return out;
}

bool IsSection(const IniLine& line, std::string_view section) {
    return line.kind == LineKind::Section && SameText(line.name, section);
}

// The first header of the section, which is the one the platform reads and writes.
std::optional<size_t> FindSection(const IniDocument& doc, std::string_view section) {
    for (size_t i = 0; i < doc.lines.size(); ++i)
        if (IsSection(doc.lines[i], section)) return i;
    return std::nullopt;
}

// One past the last line under the header.
size_t SectionEnd(const IniDocument& doc, size_t header) {
    size_t i = header + 1;
    while (i < doc.lines.size() && doc.lines[i].kind != LineKind::Section)
        ++i;
    return i;
}

std::optional<size_t> FindKey(const IniDocument& doc, size_t header, std::string_view ident) {
    const size_t end = SectionEnd(doc, header);
    for (size_t i = header + 1; i < end; ++i)
        if (doc.lines[i].kind == LineKind::Key && SameText(doc.lines[i].name, ident)) return i;
    return std::nullopt;
}

const IniLine* FindValue(const IniDocument& doc, std::string_view section, std::string_view ident) {
    const auto header = FindSection(doc, section);
    if (!header) return nullptr;
    const auto key = FindKey(doc, *header, ident);
    return key ? &doc.lines[*key] : nullptr;
}

// ---------------------------------------------------------------- the file on disk

enum class FileState { Missing, Read, Unreadable };

// What tells one version of a file from another: a rewrite in place changes the times and
// usually the size, a replacement the inode.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static std::optional<FileIdentity> Of(const struct stat& st) {
        return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    }
    friend bool operator==(const FileIdentity& a, const FileIdentity& b) {
        const auto same = [](const timespec& x, const timespec& y) {
            return x.tv_sec == y.tv_sec && x.tv_nsec == y.tv_nsec;
        };
        return a.device == b.device && a.inode == b.inode && a.size == b.size &&
               same(a.modified, b.modified) && same(a.changed, b.changed);
    }
};

std::optional<FileIdentity> IdentityOf(const std::string& fileName) {
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity::Of(st);
}

struct FileText {
    FileState state = FileState::Missing;
    std::string bytes;
    std::optional<FileIdentity> identity;
};

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Closes now so that a failing close (a late write error) is seen.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

FileText ReadFileText(const std::string& fileName) {
    // Non-blocking, so that a FIFO at the path cannot hang the open.
    FileDescriptor fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) {
        const FileState state = errno == ENOENT ? FileState::Missing : FileState::Unreadable;
        return {state, {}, IdentityOf(fileName)};
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) return {FileState::Unreadable, {}, std::nullopt};
    FileText result{FileState::Unreadable, {}, FileIdentity::Of(st)};
    if (!S_ISREG(st.st_mode) || st.st_size > MaxIniFileBytes) return result;
    char block[65536];
    while (true) {
        const ssize_t n = ::read(fd.Get(), block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return result;
        if (n == 0) break;
        result.bytes.append(block, static_cast<size_t>(n));
        if (static_cast<int64_t>(result.bytes.size()) > MaxIniFileBytes) {
            result.bytes.clear();
            return result;
        }
    }
    result.state = FileState::Read;
    return result;
}

[[noreturn]] void WriteFailed(const std::string& fileName) {
    throw EIniFileException(Format(Msg::IniFileWriteError, fileName));
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The file a write replaces: the one a symbolic link at the path names, through any chain of
// links; the path itself when it is no link.
std::optional<std::string> WriteTarget(const std::string& fileName) {
    std::string path = fileName;
    for (int depth = 0; depth < MaxLinkDepth; ++depth) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
        if (n < 0) return errno == EINVAL || errno == ENOENT ? std::optional(path) : std::nullopt;
        if (n == sizeof target) return std::nullopt;
        const std::string link(target, static_cast<size_t>(n));
        path = link.starts_with('/') ? link : ExtractFilePath(path) + link;
    }
    return std::nullopt;
}

// A read-only file is one no one may write, as the platform's read-only attribute; root, whom
// the permissions do not stop, respects it too.
bool ReadOnly(const std::string& fileName, const struct stat& st) {
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
           ::faccessat(AT_FDCWD, fileName.c_str(), W_OK, AT_EACCESS) != 0;
}

// Temporary files are named ".~ini<process>-<number>" in the folder of the file they replace.
std::string TempName(const std::string& folder, unsigned number) {
    return folder + std::string(TempPrefix) + std::to_string(::getpid()) + "-" +
           std::to_string(number);
}

// The process that wrote a temporary file's name, or 0 when the name is not one of ours.
pid_t TempOwner(std::string_view name) {
    if (!name.starts_with(TempPrefix)) return 0;
    name.remove_prefix(TempPrefix.size());
    const size_t dash = name.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash + 1 == name.size() ||
        name.find_first_not_of("0123456789-") != std::string_view::npos)
        return 0;
    pid_t pid = 0;
    for (const char c : name.substr(0, dash)) {
        if (pid > (std::numeric_limits<pid_t>::max() - 9) / 10) return 0;
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

// A write killed between creating its temporary file and renaming it leaves the file behind;
// the next write in the folder removes those whose process is gone, so none accumulate.
void RemoveStaleTempFiles(const std::string& folder) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t owner = TempOwner(entry->d_name);
        if (owner > 0 && owner != ::getpid() && ::kill(owner, 0) != 0 && errno == ESRCH)
            stale.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    for (const std::string& name : stale)
        ::unlink((folder + name).c_str());
}

// The new file's content goes first into a file without a name where the file system allows
// it, so a write killed at any point before the rename leaves nothing behind; the name it gets
// for the rename exists only for that instant. Elsewhere it is a named file from the start.
class TempFile {
public:
    explicit TempFile(const std::string& folder) : folder_(folder) {
        const char* at = folder.empty() ? "." : folder.c_str();
        fd_ = ::open(at, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd_ >= 0) return;
        for (int attempt = 0; attempt < TempNameAttempts && fd_ < 0; ++attempt) {
            name_ = TempName(folder, counter_++);
            fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ < 0 && errno != EEXIST) break;
        }
        if (fd_ < 0) name_.clear();
    }
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!name_.empty()) ::unlink(name_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool Valid() const { return fd_ >= 0; }
    int Get() const { return fd_; }

    // Flushes the content to the disk, closes, and moves the file over Target.
    bool ReplaceTarget(const std::string& target) {
        if (::fsync(fd_) != 0) return false;
        if (name_.empty() && !Link()) return false;
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) return false;
        if (::rename(name_.c_str(), target.c_str()) != 0) return false;
        name_.clear();
        return true;
    }

private:
    bool Link() {
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        for (int attempt = 0; attempt < TempNameAttempts; ++attempt) {
            const std::string name = TempName(folder_, counter_++);
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                name_ = name;
                return true;
            }
            if (errno != EEXIST) return false;
        }
        return false;
    }

    static inline unsigned counter_ = 0;
    std::string folder_;
    std::string name_;
    int fd_ = -1;
};

// The whole file goes to a temporary file that is flushed to the disk and then renamed over
// the old one, so a crash leaves either the old file or the new one, never a part.
void ReplaceFile(const std::string& fileName, std::string_view bytes) {
    // What the reader would refuse is never written: it would read back as defaults.
    if (static_cast<int64_t>(bytes.size()) > MaxIniFileBytes) WriteFailed(fileName);
    const std::optional<std::string> target = WriteTarget(fileName);
    if (!target) WriteFailed(fileName);
    struct stat old {};
    const bool exists = ::stat(target->c_str(), &old) == 0;
    if (exists && (!S_ISREG(old.st_mode) || ReadOnly(*target, old))) WriteFailed(fileName);

    const std::string folder = ExtractFilePath(*target);
    RemoveStaleTempFiles(folder);
    TempFile temp(folder);
    if (!temp.Valid()) WriteFailed(fileName);
    bool ok = !exists || ::fchmod(temp.Get(), old.st_mode & 07777) == 0;
    ok = ok && !FileWriteFails(fileName) && WriteAll(temp.Get(), bytes) &&
         temp.ReplaceTarget(*target);
    if (!ok) WriteFailed(fileName);
    // Makes the rename itself durable; the new file is already complete either way.
    FileDescriptor dir(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid()) ::fsync(dir.Get());
}

// ---------------------------------------------------------------- loading and saving

bool HasLineBreak(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Names and values that would read back as other lines are refused rather than written.
void CheckWritable(const std::string& fileName, std::string_view section, std::string_view ident,
                   std::string_view value) {
    const bool badSection = HasLineBreak(section) || section.find(']') != std::string_view::npos;
    const bool badIdent = ident.empty() || HasLineBreak(ident) ||
                          ident.find('=') != std::string_view::npos || ident.front() == '[' ||
                          ident.front() == ';';
    if (badSection || badIdent || HasLineBreak(value)) WriteFailed(fileName);
}

// Where a new key of the section goes: after its last non-blank line.
size_t InsertionPoint(const IniDocument& doc, size_t header) {
    size_t at = SectionEnd(doc, header);
    while (at > header + 1 && Trim(doc.lines[at - 1].text).empty())
        --at;
    return at;
}

} // namespace

// ---------------------------------------------------------------- TIniFile

// The file as last parsed, and the batch under way.
struct TIniFile::TState {
    bool loaded = false;
    FileState fileState = FileState::Missing;
    std::optional<FileIdentity> identity;
    IniDocument document;

    bool batch = false;
    bool batchChanged = false;
    FileState batchFileState = FileState::Missing;
    IniDocument batchDocument;

    // The document reads work on: the batch's, or the file's, parsed again only when it
    // changed on disk.
    const IniDocument& Current(const std::string& fileName, FileState* state = nullptr) {
        if (batch) {
            if (state != nullptr) *state = batchFileState;
            return batchDocument;
        }
        if (!loaded || IdentityOf(fileName) != identity) {
            FileText file = ReadFileText(fileName);
            document = file.state == FileState::Read ? ParseDocument(file.bytes) : IniDocument{};
            fileState = file.state;
            identity = file.identity;
            loaded = true;
        }
        if (state != nullptr) *state = fileState;
        return document;
    }

    // Applies Change, which answers whether it changed anything; written at once outside a
    // batch. A file that exists but cannot be read is never replaced: its content would be
    // lost.
    void Change(const std::string& fileName, const std::function<bool(IniDocument&)>& change) {
        if (batch) {
            if (change(batchDocument)) batchChanged = true;
            return;
        }
        FileState state = FileState::Missing;
        IniDocument doc = Current(fileName, &state);
        if (state == FileState::Unreadable) WriteFailed(fileName);
        if (!change(doc)) return;
        loaded = false;
        ReplaceFile(fileName, Serialize(doc));
    }
};

TIniFile::TIniFile(std::string fileName)
    : fileName_(std::move(fileName)), state_(std::make_unique<TState>()) {}

TIniFile::~TIniFile() = default;

std::string TIniFile::ReadString(const std::string& section, const std::string& ident,
                                 const std::string& defaultValue) const {
    const IniLine* line = FindValue(state_->Current(fileName_), Trim(section), Trim(ident));
    return line ? line->value : defaultValue;
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& ident,
                              int32_t defaultValue) const {
    const IniLine* line = FindValue(state_->Current(fileName_), Trim(section), Trim(ident));
    return line ? StrToIntDef(line->value, defaultValue) : defaultValue;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& ident,
                        bool defaultValue) const {
    return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& ident,
                           const std::string& value) {
    const std::string sectionName = Trim(section);
    const std::string key = Trim(ident);
    CheckWritable(fileName_, sectionName, key, value);
    state_->Change(fileName_, [&](IniDocument& doc) {
        const auto header = FindSection(doc, sectionName);
        if (!header) {
            doc.lines.push_back(ParseLine("[" + sectionName + "]"));
            doc.lines.push_back(ParseLine(key + "=" + value));
        } else if (const auto at = FindKey(doc, *header, key)) {
            // The file's own spelling of the key stays.
            doc.lines[*at] = ParseLine(doc.lines[*at].name + "=" + value);
        } else {
            const auto where = static_cast<std::ptrdiff_t>(InsertionPoint(doc, *header));
            doc.lines.insert(doc.lines.begin() + where, ParseLine(key + "=" + value));
        }
        return true;
    });
}

void TIniFile::WriteInteger(const std::string& section, const std::string& ident, int32_t value) {
    WriteString(section, ident, IntToStr(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& ident, bool value) {
    WriteString(section, ident, value ? "1" : "0");
}

bool TIniFile::SectionExists(const std::string& section) const {
    TStringList keys;
    ReadSection(section, keys);
    return keys.Count() > 0;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& ident) const {
    return FindValue(state_->Current(fileName_), Trim(section), Trim(ident)) != nullptr;
}

void TIniFile::ReadSection(const std::string& section, TStringList& strings) const {
    strings.Clear();
    const IniDocument& doc = state_->Current(fileName_);
    const auto header = FindSection(doc, Trim(section));
    if (!header) return;
    // A repeated key is hidden behind its first occurrence.
    std::unordered_set<std::string> seen;
    const size_t end = SectionEnd(doc, *header);
    for (size_t i = *header + 1; i < end; ++i) {
        const IniLine& line = doc.lines[i];
        if (line.kind == LineKind::Key && seen.insert(UpperCase(line.name)).second)
            strings.Add(line.name);
    }
}

void TIniFile::ReadSections(TStringList& strings) const {
    strings.Clear();
    std::unordered_set<std::string> seen;
    for (const IniLine& line : state_->Current(fileName_).lines)
        if (line.kind == LineKind::Section && seen.insert(UpperCase(line.name)).second)
            strings.Add(line.name);
}

void TIniFile::EraseSection(const std::string& section) {
    const std::string name = Trim(section);
    state_->Change(fileName_, [&](IniDocument& doc) {
        std::vector<IniLine> kept;
        bool erased = false;
        for (size_t i = 0; i < doc.lines.size();) {
            if (IsSection(doc.lines[i], name)) {
                i = SectionEnd(doc, i);
                erased = true;
            } else {
                kept.push_back(std::move(doc.lines[i++]));
            }
        }
        if (erased) doc.lines = std::move(kept);
        return erased;
    });
}

void TIniFile::DeleteKey(const std::string& section, const std::string& ident) {
    const std::string key = Trim(ident);
    const std::string sectionName = Trim(section);
    state_->Change(fileName_, [&](IniDocument& doc) {
        const auto header = FindSection(doc, sectionName);
        if (!header) return false;
        const auto first = doc.lines.begin() + static_cast<std::ptrdiff_t>(*header + 1);
        const auto last = doc.lines.begin() + static_cast<std::ptrdiff_t>(SectionEnd(doc, *header));
        const auto kept = std::remove_if(first, last, [&](const IniLine& line) {
            return line.kind == LineKind::Key && SameText(line.name, key);
        });
        if (kept == last) return false;
        doc.lines.erase(kept, last);
        return true;
    });
}

void TIniFile::BeginUpdate() {
    if (state_->batch) return;
    FileState fileState = FileState::Missing;
    state_->batchDocument = state_->Current(fileName_, &fileState);
    state_->batchFileState = fileState;
    state_->batchChanged = false;
    state_->batch = true;
}

void TIniFile::UpdateFile() {
    if (!state_->batch) return;
    TState& state = *state_;
    state.batch = false;
    const IniDocument doc = std::move(state.batchDocument);
    state.batchDocument = {};
    if (!state.batchChanged) return;
    if (state.batchFileState == FileState::Unreadable) WriteFailed(fileName_);
    state.loaded = false;
    ReplaceFile(fileName_, Serialize(doc));
}
