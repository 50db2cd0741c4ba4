// The player's settings files as values: an album entry's colour filter, liquid options and
// sprite number, and the program-wide options; read with each key's default and kept within
// the range of what they set, written in one replacement of the file.
#pragma once

#include <array>
#include <cstdint>

class TIniFile;

inline constexpr int OptionCount = 6;
inline constexpr int ColorBarCount = 4;

inline constexpr const char* SectionEki = "EKI";
inline constexpr const char* SectionColor = "COLOR";
inline constexpr const char* SectionEkiPt = "EKIPT";
inline constexpr const char* KeyPt = "PT";

// The six liquid options, in the order they are read and written, with their item counts.
struct TOptionKey {
    const char* Ident;
    int32_t SystemDefault;
    int32_t EntryDefault;
    int32_t Items;
};
inline constexpr std::array<TOptionKey, OptionCount> OptionKeys{{
    {"RYOU", 2, 3, 5},
    {"SITATARI", 2, 1, 4},
    {"SOKUDO", 2, 1, 5},
    {"HEKI", 2, 0, 3},
    {"EKIATO", 1, 1, 2},
    {"SIRO", 2, 0, 3},
}};
// The colour filter's strength and colour bars.
inline constexpr std::array<const char*, ColorBarCount> ColorKeys{"A", "R", "G", "B"};

using TOptionIndexes = std::array<int32_t, OptionCount>;

struct TEntrySettings {
    std::array<int32_t, ColorBarCount> Colors{}; // bar positions, 0..20
    TOptionIndexes Options{};                    // item indexes, -1 (none) to the last item
    int32_t EkiPt = 0;                           // sprite number, 0 up
};

// The values of an existing entry file.
TEntrySettings ReadEntrySettings(const TIniFile& ini);
// The program-wide options of an existing file.
TOptionIndexes ReadSystemOptions(const TIniFile& ini);

void WriteEntrySettings(TIniFile& ini, const TEntrySettings& settings);
void WriteSystemOptions(TIniFile& ini, const TOptionIndexes& options);
