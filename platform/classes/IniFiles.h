// TIniFile: settings in the Windows profile-file format ("[section]" and "key=value" lines).
#pragma once

#include "platform/classes/Classes.h"
#include "platform/rtl/Exceptions.h"

#include <cstdint>
#include <string>
#include <utility>

class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

namespace Msg {
inline constexpr const char* IniFileWriteError = "%s に書き込めません";
} // namespace Msg

// Every call works on the file as it is on disk: reads parse it afresh and each change
// rewrites it at once, so nothing is cached and UpdateFile has nothing left to do.
// Section and key names match without regard to ASCII case; spaces around names and values
// are not part of them. Lines that are neither sections nor keys are kept on rewrite.
class TIniFile : public TObject {
public:
    explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

    const std::string& FileName() const { return fileName_; }

    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& defaultValue) const;
    // Decimal, or hexadecimal after "0x", "0X" or "$"; Default when missing or not a number.
    int32_t ReadInteger(const std::string& section, const std::string& ident,
                        int32_t defaultValue) const;
    // A number other than 0 is True.
    bool ReadBool(const std::string& section, const std::string& ident, bool defaultValue) const;

    // Writes raise EIniFileException when the file cannot be written; the old file then stays
    // as it was. A missing file is created (its folder must exist).
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
    void UpdateFile() {}

private:
    std::string fileName_;
};
