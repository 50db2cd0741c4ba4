// Settings files: the program-wide options, and each album entry's options, colour filter and
// liquid sprite, between the files' values and the form's controls.
#include "MV_X/EntrySettings.h"
#include "MV_X/main.h"
#include "platform/classes/IniFiles.h"
#include "platform/rtl/SysUtils.h"

namespace {

// The controls of the six liquid options and the four colour bars, in the order of
// OptionKeys and ColorKeys.
constexpr std::array<TRadioGroup * Ui::TMainForm::*, OptionCount> OptionGroups{
    &Ui::TMainForm::RyouRadioGroup,         &Ui::TMainForm::SitatariRadioGroup,
    &Ui::TMainForm::HassyaSokudoRadioGroup, &Ui::TMainForm::HEkiRadioGroup,
    &Ui::TMainForm::EkiatoRadioGroup,       &Ui::TMainForm::SitatariIroRadioGroup,
};
constexpr std::array<TTrackBar * Ui::TMainForm::*, ColorBarCount> ColorBars{
    &Ui::TMainForm::IroTrackBar,
    &Ui::TMainForm::RTrackBar,
    &Ui::TMainForm::GTrackBar,
    &Ui::TMainForm::BTrackBar,
};

void ApplyOptions(Ui::TMainForm& ui, const TOptionIndexes& options) {
    for (size_t i = 0; i < OptionGroups.size(); ++i)
        (ui.*OptionGroups[i])->SetItemIndex(options[i]);
}

TOptionIndexes CurrentOptions(const Ui::TMainForm& ui) {
    TOptionIndexes options{};
    for (size_t i = 0; i < OptionGroups.size(); ++i)
        options[i] = (ui.*OptionGroups[i])->ItemIndex();
    return options;
}

} // namespace

// Each value is applied in the order of the file's keys: the bars and groups keep it within
// their range.
void TMainForm::LoadSystemIni() {
    const std::string path = FAlbum.SystemSettingsFile();
    if (!FileExists(path)) return;
    ApplyOptions(ui, ReadSystemOptions(TIniFile(path)));
}

void TMainForm::SaveSystemIni() {
    TIniFile ini(FAlbum.SystemSettingsFile());
    WriteSystemOptions(ini, CurrentOptions(ui));
}

void TMainForm::LoadImageIni(const std::string& Name) {
    const std::string path = FAlbum.SettingsFile(Name);
    if (!FileExists(path)) {
        // A new entry: no filter and the entry defaults; the sprite stays.
        for (const auto bar : ColorBars)
            (ui.*bar)->SetPosition(0);
        TOptionIndexes defaults{};
        for (size_t i = 0; i < OptionKeys.size(); ++i)
            defaults[i] = OptionKeys[i].EntryDefault;
        ApplyOptions(ui, defaults);
        return;
    }
    const TEntrySettings settings = ReadEntrySettings(TIniFile(path));
    for (size_t i = 0; i < ColorBars.size(); ++i)
        (ui.*ColorBars[i])->SetPosition(settings.Colors[i]);
    ApplyOptions(ui, settings.Options);
    // The entry's sprite, or sprite 0 when its file is missing.
    FEkiNo = settings.EkiPt - 1;
    NextEkiImage();
}

// Only with a picture open; the caller names the entry.
void TMainForm::SaveImageIni(const std::string& Name) {
    if (FImageName.empty()) return;
    TEntrySettings settings;
    for (size_t i = 0; i < ColorBars.size(); ++i)
        settings.Colors[i] = (ui.*ColorBars[i])->Position();
    settings.Options = CurrentOptions(ui);
    settings.EkiPt = FEkiNo;
    TIniFile ini(FAlbum.SettingsFile(Name));
    WriteEntrySettings(ini, settings);
}
