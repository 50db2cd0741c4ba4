// TIniFile: settings in the Windows profile-file format ("[section]" and "key=value" lines).
#pragma once

#include "platform/classes/Classes.h"
#include "platform/rtl/Exceptions.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

namespace Msg {
inline constexpr const char* IniFileWriteError = "%s に書き込めません";
} // namespace Msg

// Every call sees the file as it is on disk: it is parsed when first read and again only when
// it has changed since. A change is written at once, or, between BeginUpdate and UpdateFile,
// kept with the others of the batch and written with them in one replacement: the file holds
// the old values or all the new ones, never a part.
// Section and key names match without regard to ASCII case; spaces around names and values
// are not part of them. Lines that are neither sections nor keys are kept on rewrite.
class TIniFile : public TObject {
public:
    explicit TIniFile(std::string fileName);
    // Changes of a batch that UpdateFile did not end are dropped.
    ~TIniFile() override;
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    const std::string& FileName() const { return fileName_; }

    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& defaultValue) const;
    // Decimal, or hexadecimal after "0x", "0X" or "$"; Default when missing or not a number.
    int32_t ReadInteger(const std::string& section, const std::string& ident,
                        int32_t defaultValue) const;
    // A number other than 0 is True.
    bool ReadBool(const std::string& section, const std::string& ident, bool defaultValue) const;

    // Writes raise EIniFileException when the file cannot be written: its folder is missing or
    // read-only, the file is read-only or exists but cannot be read, or it would grow past what
    // the reader accepts. The old file then stays as it was. A missing file is created; a
    // symbolic link is written through to the file it names.
    void WriteString(const std::string& section, const std::string& ident,
                     const std::string& value);
    void WriteInteger(const std::string& section, const std::string& ident, int32_t value);
    void WriteBool(const std::string& section, const std::string& ident, bool value);

    // True when the section holds at least one key, as the platform answers.
    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& ident) const;
    // The key names of a section, and the section names of the file, in file order.
    void ReadSection(const std::string& section, TStringList& strings) const;
    void ReadSections(TStringList& strings) const;

    // Removes the section's header and every line under it.
    void EraseSection(const std::string& section);
    void DeleteKey(const std::string& section, const std::string& ident);

    // Starts a batch: the file is read once, reads and changes work on that copy.
    void BeginUpdate();
    // Writes the batch's changes, if any, in one replacement and ends the batch (raising as a
    // write does; the batch is over either way).
    void UpdateFile();

private:
    struct TState;
    std::string fileName_;
    std::unique_ptr<TState> state_;
};
