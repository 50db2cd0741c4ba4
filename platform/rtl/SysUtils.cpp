#include "platform/rtl/SysUtils.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <ctime>
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/rtl/Exceptions.h"

std::string IntToStr(int64_t value) { return std::to_string(value); }

int64_t StrToInt64Def(std::string_view text, int64_t defaultValue) {
    std::string_view s = text;
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (!s.empty() && s.front() == '$') {
        base = 16;
        s.remove_prefix(1);
    } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) return defaultValue;
    uint64_t value = 0;
    for (char c : s) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return defaultValue;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (value > (static_cast<uint64_t>(1) << 63)) return defaultValue;
    }
    if (!negative && value > static_cast<uint64_t>(INT64_MAX)) return defaultValue;
    return negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
}

int32_t StrToIntDef(std::string_view text, int32_t defaultValue) {
    // Hexadecimal texts of 32-bit values wrap, as the run-time reads "$FFFFFFFF" as -1.
    const int64_t v = StrToInt64Def(text, INT64_MIN);
    if (v == INT64_MIN) return defaultValue;
    if (v >= INT32_MIN && v <= INT32_MAX) return static_cast<int32_t>(v);
    const std::string s = Trim(text);
    const bool hex = !s.empty() && (s.front() == '$' || (s.size() > 1 && (s[1] == 'x' || s[1] == 'X')));
    if (hex && v > 0 && v <= static_cast<int64_t>(UINT32_MAX))
        return static_cast<int32_t>(static_cast<uint32_t>(v));
    return defaultValue;
}

int32_t StrToInt(std::string_view text) {
    const int64_t probe = StrToInt64Def(text, INT64_MIN);
    const int32_t v = StrToIntDef(text, 0);
    if (probe == INT64_MIN || (v == 0 && probe != 0))
        throw EConvertError(Format("'%s' is not a valid integer value", std::string(text)));
    return v;
}

std::string UpperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string LowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool SameText(std::string_view a, std::string_view b) { return UpperCase(a) == UpperCase(b); }

std::string Trim(std::string_view text) {
    size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
    return std::string(text.substr(first, last - first));
}

namespace {

std::function<TDateTime()>& NowOverride() {
    static std::function<TDateTime()> clock;
    return clock;
}

std::string& ExeDirOverride() {
    static std::string path;
    return path;
}

std::string TwoDigits(int v) { return Format("%.2d", v); }

} // namespace

TDateTime Now() {
    if (NowOverride()) return NowOverride()();
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&t, &tm);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
            static_cast<int>(ms)};
}

void SetNowOverride(std::function<TDateTime()> clock) { NowOverride() = std::move(clock); }

std::string FormatDateTime(std::string_view format, const TDateTime& time) {
    std::string out;
    bool afterHour = false;
    size_t i = 0;
    auto run = [&](char c) {
        size_t n = 0;
        while (i + n < format.size() && (format[i + n] | 0x20) == c) ++n;
        return n;
    };
    while (i < format.size()) {
        const char c = static_cast<char>(format[i] | 0x20);
        size_t n = (c >= 'a' && c <= 'z') ? run(c) : 0;
        if (c == 'y' && n > 0) {
            out += n >= 3 ? Format("%.4d", time.Year) : TwoDigits(time.Year % 100);
            afterHour = false;
        } else if (c == 'm' && n > 0) {
            const int v = afterHour ? time.Minute : time.Month;
            out += n >= 2 ? TwoDigits(v) : std::to_string(v);
            n = std::min<size_t>(n, 2);
            afterHour = false;
        } else if (c == 'd' && n > 0) {
            n = std::min<size_t>(n, 2);
            out += n == 2 ? TwoDigits(time.Day) : std::to_string(time.Day);
            afterHour = false;
        } else if (c == 'h' && n > 0) {
            n = std::min<size_t>(n, 2);
            out += n == 2 ? TwoDigits(time.Hour) : std::to_string(time.Hour);
            afterHour = true;
        } else if (c == 'n' && n > 0) {
            n = std::min<size_t>(n, 2);
            out += n == 2 ? TwoDigits(time.Minute) : std::to_string(time.Minute);
            afterHour = false;
        } else if (c == 's' && n > 0) {
            n = std::min<size_t>(n, 2);
            out += n == 2 ? TwoDigits(time.Second) : std::to_string(time.Second);
            afterHour = false;
        } else if (c == 'z' && n > 0) {
            n = n >= 3 ? 3 : 1;
            out += n == 3 ? Format("%.3d", time.MSec) : std::to_string(time.MSec);
        } else {
            out += format[i];
            n = 1;
        }
        i += n;
    }
    return out;
}

namespace {

size_t LastComponentStart(std::string_view fileName) {
    const size_t slash = fileName.find_last_of('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

size_t ExtensionStart(std::string_view fileName) {
    const size_t dot = fileName.find_last_of('.');
    if (dot == std::string_view::npos || dot < LastComponentStart(fileName))
        return fileName.size();
    return dot;
}

} // namespace

std::string ExtractFileExt(std::string_view fileName) {
    return std::string(fileName.substr(ExtensionStart(fileName)));
}

std::string ExtractFileName(std::string_view fileName) {
    return std::string(fileName.substr(LastComponentStart(fileName)));
}

std::string ExtractFilePath(std::string_view fileName) {
    return std::string(fileName.substr(0, LastComponentStart(fileName)));
}

std::string ChangeFileExt(std::string_view fileName, std::string_view extension) {
    return std::string(fileName.substr(0, ExtensionStart(fileName))) + std::string(extension);
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
    std::string out(path);
    if (out.empty() || out.back() != '/') out += '/';
    return out;
}

bool FileExists(const std::string& fileName) {
    struct stat st {};
    return !fileName.empty() && ::stat(fileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDir(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

bool ForceDirectories(const std::string& path) {
    std::string dir = path;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir.empty()) return false;
    if (DirectoryExists(dir)) return true;
    const std::string parent = ExtractFilePath(dir);
    if (!parent.empty() && parent != dir && !ForceDirectories(parent)) return false;
    return CreateDir(dir) || DirectoryExists(dir);
}

bool DeleteFile(const std::string& fileName) {
    return FileExists(fileName) && ::unlink(fileName.c_str()) == 0;
}

bool RenameFile(const std::string& oldName, const std::string& newName) {
    // The platform refuses to replace an existing file.
    struct stat st {};
    if (::lstat(newName.c_str(), &st) == 0) return false;
    return ::rename(oldName.c_str(), newName.c_str()) == 0;
}

int64_t FileSize(const std::string& fileName) {
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

std::string ExeDir() {
    if (!ExeDirOverride().empty()) return ExeDirOverride();
    static const std::string real = [] {
        std::string buffer(4096, '\0');
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
        if (n <= 0) return std::string("./");
        buffer.resize(static_cast<size_t>(n));
        return ExtractFilePath(buffer);
    }();
    return real;
}

void SetExeDirOverride(std::string path) {
    ExeDirOverride() = path.empty() ? std::string() : IncludeTrailingPathDelimiter(path);
}

bool MatchesMask(std::string_view name, std::string_view mask) {
    return ::fnmatch(std::string(mask).c_str(), std::string(name).c_str(),
                     FNM_CASEFOLD | FNM_PERIOD) == 0;
}

std::vector<std::string> FindFiles(const std::string& folder, std::string_view mask,
                                   bool includeFolders) {
    std::vector<std::string> names;
    const std::string dir = IncludeTrailingPathDelimiter(folder.empty() ? "." : folder);
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return names;
    while (const dirent* entry = ::readdir(d)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || !MatchesMask(name, mask)) continue;
        const bool isDir = DirectoryExists(dir + name);
        if (isDir && !includeFolders) continue;
        names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}
