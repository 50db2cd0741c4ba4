#include "platform/classes/IniFiles.h"

#include "platform/rtl/SysUtils.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
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

struct FileText {
    FileState state = FileState::Missing;
    std::string bytes;
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
    if (!fd.Valid()) return {errno == ENOENT ? FileState::Missing : FileState::Unreadable, {}};
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > MaxIniFileBytes)
        return {FileState::Unreadable, {}};
    FileText result{FileState::Read, {}};
    char block[65536];
    while (true) {
        const ssize_t n = ::read(fd.Get(), block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return {FileState::Unreadable, {}};
        if (n == 0) break;
        result.bytes.append(block, static_cast<size_t>(n));
        if (static_cast<int64_t>(result.bytes.size()) > MaxIniFileBytes)
            return {FileState::Unreadable, {}};
    }
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

// A new file beside the target, created exclusively so that the umask applies to it.
std::pair<std::string, int> CreateTempFile(const std::string& folder) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < TempNameAttempts; ++attempt) {
        const std::string name =
            folder + ".~ini" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return {name, fd};
    }
    return {{}, -1};
}

// The whole file goes to a temporary file that is flushed to the disk and then renamed over
// the old one, so a crash leaves either the old file or the new one, never a part.
void ReplaceFile(const std::string& fileName, std::string_view bytes) {
    const std::string folder = ExtractFilePath(fileName);
    auto [tempName, rawFd] = CreateTempFile(folder);
    FileDescriptor fd(rawFd);
    if (!fd.Valid()) WriteFailed(fileName);

    struct stat old {};
    bool ok = true;
    if (::stat(fileName.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ok = ::fchmod(fd.Get(), old.st_mode & 07777) == 0;
    ok = ok && WriteAll(fd.Get(), bytes) && ::fsync(fd.Get()) == 0;
    ok = fd.Close() && ok;
    ok = ok && ::rename(tempName.c_str(), fileName.c_str()) == 0;
    if (!ok) {
        ::unlink(tempName.c_str());
        WriteFailed(fileName);
    }
    // Makes the rename itself durable; the new file is already complete either way.
    FileDescriptor dir(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid()) ::fsync(dir.Get());
}

// ---------------------------------------------------------------- loading and saving

IniDocument LoadForReading(const std::string& fileName) {
    const FileText file = ReadFileText(fileName);
    return file.state == FileState::Read ? ParseDocument(file.bytes) : IniDocument{};
}

// A file that exists but cannot be read is never replaced: its content would be lost.
IniDocument LoadForChange(const std::string& fileName) {
    const FileText file = ReadFileText(fileName);
    if (file.state == FileState::Unreadable) WriteFailed(fileName);
    return ParseDocument(file.bytes);
}

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

std::string TIniFile::ReadString(const std::string& section, const std::string& ident,
                                 const std::string& defaultValue) const {
    const IniDocument doc = LoadForReading(fileName_);
    const IniLine* line = FindValue(doc, Trim(section), Trim(ident));
    return line ? line->value : defaultValue;
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& ident,
                              int32_t defaultValue) const {
    const IniDocument doc = LoadForReading(fileName_);
    const IniLine* line = FindValue(doc, Trim(section), Trim(ident));
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
    IniDocument doc = LoadForChange(fileName_);

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
    ReplaceFile(fileName_, Serialize(doc));
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
    const IniDocument doc = LoadForReading(fileName_);
    return FindValue(doc, Trim(section), Trim(ident)) != nullptr;
}

void TIniFile::ReadSection(const std::string& section, TStringList& strings) const {
    strings.Clear();
    const IniDocument doc = LoadForReading(fileName_);
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
    const IniDocument doc = LoadForReading(fileName_);
    std::unordered_set<std::string> seen;
    for (const IniLine& line : doc.lines)
        if (line.kind == LineKind::Section && seen.insert(UpperCase(line.name)).second)
            strings.Add(line.name);
}

void TIniFile::EraseSection(const std::string& section) {
    const std::string name = Trim(section);
    IniDocument doc = LoadForChange(fileName_);
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
    if (!erased) return;
    doc.lines = std::move(kept);
    ReplaceFile(fileName_, Serialize(doc));
}

void TIniFile::DeleteKey(const std::string& section, const std::string& ident) {
    const std::string key = Trim(ident);
    IniDocument doc = LoadForChange(fileName_);
    const auto header = FindSection(doc, Trim(section));
    if (!header) return;
    const auto first = doc.lines.begin() + static_cast<std::ptrdiff_t>(*header + 1);
    const auto last = doc.lines.begin() + static_cast<std::ptrdiff_t>(SectionEnd(doc, *header));
    const auto kept = std::remove_if(first, last, [&](const IniLine& line) {
        return line.kind == LineKind::Key && SameText(line.name, key);
    });
    if (kept == last) return;
    doc.lines.erase(kept, last);
    ReplaceFile(fileName_, Serialize(doc));
}
