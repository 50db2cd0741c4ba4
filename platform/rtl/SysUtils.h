// Run-time helpers: text formatting, dates, file names and the file system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// printf-style formatting of the design's "%d", "%.4d" and "%s" texts.
namespace detail {
inline const char* FormatArg(const std::string& s) { return s.c_str(); }
template <class T>
T FormatArg(T value) {
    return value;
}
} // namespace detail

template <class... Args>
std::string Format(const char* format, const Args&... args) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    const int n = std::snprintf(nullptr, 0, format, detail::FormatArg(args)...);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    std::snprintf(out.data(), out.size() + 1, format, detail::FormatArg(args)...);
#pragma GCC diagnostic pop
    return out;
}

std::string IntToStr(int64_t value);
// Decimal, or hexadecimal with "0x", "0X" or "$"; Default when the text is not a number.
int64_t StrToInt64Def(std::string_view text, int64_t defaultValue);
int32_t StrToIntDef(std::string_view text, int32_t defaultValue);
// Raises EConvertError when the text is not a number.
int32_t StrToInt(std::string_view text);
std::string UpperCase(std::string_view text);  // ASCII letters only
std::string LowerCase(std::string_view text);  // ASCII letters only
bool SameText(std::string_view a, std::string_view b);  // ASCII case-insensitive
std::string Trim(std::string_view text);

// Local date and time, to the millisecond.
struct TDateTime {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, MSec = 0;
    friend bool operator==(const TDateTime&, const TDateTime&) = default;
};
TDateTime Now();
// Tests replace the clock; an empty function restores the system clock.
void SetNowOverride(std::function<TDateTime()> clock);

// Tokens: yyyy yy mm m dd d hh h nn n ss s zzz; "mm" right after an hour token means minutes.
std::string FormatDateTime(std::string_view format, const TDateTime& time);

// File names. The extension is the last "." and what follows, dot included, when that dot
// lies in the last path component.
std::string ExtractFileExt(std::string_view fileName);
std::string ExtractFileName(std::string_view fileName);
std::string ExtractFilePath(std::string_view fileName);  // up to and including the last '/'
std::string ChangeFileExt(std::string_view fileName, std::string_view extension);
std::string IncludeTrailingPathDelimiter(std::string_view path);

bool FileExists(const std::string& fileName);  // a file, not a folder
bool DirectoryExists(const std::string& path);
// Makes the folder and every missing parent; False when it cannot.
bool ForceDirectories(const std::string& path);
bool CreateDir(const std::string& path);
bool DeleteFile(const std::string& fileName);
bool RenameFile(const std::string& oldName, const std::string& newName);
int64_t FileSize(const std::string& fileName);  // -1 when missing

// The folder of the running executable, with a trailing '/'. Tests may point it elsewhere.
std::string ExeDir();
void SetExeDirOverride(std::string path);  // empty restores the real folder

// Names (without the folder) of the entries of Folder matching Mask ('*' and '?', letters
// without regard to case), in ascending byte order. Files only, unless IncludeFolders.
std::vector<std::string> FindFiles(const std::string& folder, std::string_view mask,
                                   bool includeFolders = false);
bool MatchesMask(std::string_view name, std::string_view mask);
