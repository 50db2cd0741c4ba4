#include "MV_X/EntrySettings.h"

#include "MV_X/ColorFilter.h"
#include "platform/classes/IniFiles.h"

#include <algorithm>
#include <limits>

namespace {

constexpr int32_t ColorDefault = 0;
constexpr int32_t PtDefault = 0;
// The sprite number is counted up from the value read: one below the largest number keeps
// that count in range. Below 0 there is no sprite file, which gives sprite 0 as a missing
// file does.
constexpr int32_t MaxEkiPt = std::numeric_limits<int32_t>::max() - 1;

int32_t ReadWithin(const TIniFile& ini, const char* section, const char* ident,
                   int32_t defaultValue, int32_t low, int32_t high) {
    return std::clamp(ini.ReadInteger(section, ident, defaultValue), low, high);
}

TOptionIndexes ReadOptions(const TIniFile& ini, bool entry) {
    TOptionIndexes options{};
    for (size_t i = 0; i < OptionKeys.size(); ++i) {
        const TOptionKey& k = OptionKeys[i];
        options[i] = ReadWithin(ini, SectionEki, k.Ident, entry ? k.EntryDefault : k.SystemDefault,
                                -1, k.Items - 1);
    }
    return options;
}

void WriteOptions(TIniFile& ini, const TOptionIndexes& options) {
    for (size_t i = 0; i < OptionKeys.size(); ++i)
        ini.WriteInteger(SectionEki, OptionKeys[i].Ident, options[i]);
}

} // namespace

TEntrySettings ReadEntrySettings(const TIniFile& ini) {
    TEntrySettings settings;
    for (size_t i = 0; i < ColorKeys.size(); ++i)
        settings.Colors[i] =
            ReadWithin(ini, SectionColor, ColorKeys[i], ColorDefault, 0, FilterBarMax);
    settings.Options = ReadOptions(ini, true);
    settings.EkiPt = ReadWithin(ini, SectionEkiPt, KeyPt, PtDefault, 0, MaxEkiPt);
    return settings;
}

TOptionIndexes ReadSystemOptions(const TIniFile& ini) {
    return ReadOptions(ini, false);
}

// All keys of one save reach the disk together: the file holds the old settings or the new.
void WriteEntrySettings(TIniFile& ini, const TEntrySettings& settings) {
    ini.BeginUpdate();
    for (size_t i = 0; i < ColorKeys.size(); ++i)
        ini.WriteInteger(SectionColor, ColorKeys[i], settings.Colors[i]);
    WriteOptions(ini, settings.Options);
    ini.WriteInteger(SectionEkiPt, KeyPt, settings.EkiPt);
    ini.UpdateFile();
}

void WriteSystemOptions(TIniFile& ini, const TOptionIndexes& options) {
    ini.BeginUpdate();
    WriteOptions(ini, options);
    ini.UpdateFile();
}
