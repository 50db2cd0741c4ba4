// Settings files: the program-wide options, and each album entry's options, colour filter and
// liquid sprite.
#include "MV_X/main.h"
#include "platform/classes/IniFiles.h"
#include "platform/rtl/SysUtils.h"

namespace {

constexpr const char* SystemIniFile = "album/system.ini";
constexpr const char* AlbumFolder = "album/";
constexpr const char* EntryIniExtension = ".ini";

constexpr const char* SectionEki = "EKI";
constexpr const char* SectionColor = "COLOR";
constexpr const char* SectionEkiPt = "EKIPT";
constexpr const char* KeyPt = "PT";

// The six liquid options, in the order they are read and written.
struct OptionKey {
    const char* Ident;
    TRadioGroup* Ui::TMainForm::*Group;
    int32_t SystemDefault;
    int32_t EntryDefault;
};
constexpr OptionKey OptionKeys[] = {
    {"RYOU", &Ui::TMainForm::RyouRadioGroup, 2, 3},
    {"SITATARI", &Ui::TMainForm::SitatariRadioGroup, 2, 1},
    {"SOKUDO", &Ui::TMainForm::HassyaSokudoRadioGroup, 2, 1},
    {"HEKI", &Ui::TMainForm::HEkiRadioGroup, 2, 0},
    {"EKIATO", &Ui::TMainForm::EkiatoRadioGroup, 1, 1},
    {"SIRO", &Ui::TMainForm::SitatariIroRadioGroup, 2, 0},
};

// The colour filter's strength and colour bars.
struct ColorKey {
    const char* Ident;
    TTrackBar* Ui::TMainForm::*Bar;
};
constexpr ColorKey ColorKeys[] = {
    {"A", &Ui::TMainForm::IroTrackBar},
    {"R", &Ui::TMainForm::RTrackBar},
    {"G", &Ui::TMainForm::GTrackBar},
    {"B", &Ui::TMainForm::BTrackBar},
};
constexpr int32_t ColorDefault = 0;
constexpr int32_t PtDefault = 0;

} // namespace

// Each value is applied as it is read: the bars and groups keep it within their range.
void TMainForm::LoadSystemIni() {
    const std::string path = FExeDir + SystemIniFile;
    if (!FileExists(path)) return;
    const TIniFile ini(path);
    for (const OptionKey& k : OptionKeys)
        (ui.*k.Group)->SetItemIndex(ini.ReadInteger(SectionEki, k.Ident, k.SystemDefault));
}

void TMainForm::SaveSystemIni() {
    TIniFile ini(FExeDir + SystemIniFile);
    for (const OptionKey& k : OptionKeys)
        ini.WriteInteger(SectionEki, k.Ident, (ui.*k.Group)->ItemIndex());
}

void TMainForm::LoadImageIni(const std::string& Name) {
    const std::string path = FExeDir + AlbumFolder + Name + EntryIniExtension;
    if (!FileExists(path)) {
        // A new entry: no filter and the entry defaults; the sprite stays.
        for (const ColorKey& k : ColorKeys)
            (ui.*k.Bar)->SetPosition(ColorDefault);
        for (const OptionKey& k : OptionKeys)
            (ui.*k.Group)->SetItemIndex(k.EntryDefault);
        return;
    }
    {
        const TIniFile ini(path);
        for (const ColorKey& k : ColorKeys)
            (ui.*k.Bar)->SetPosition(ini.ReadInteger(SectionColor, k.Ident, ColorDefault));
        for (const OptionKey& k : OptionKeys)
            (ui.*k.Group)->SetItemIndex(ini.ReadInteger(SectionEki, k.Ident, k.EntryDefault));
        FEkiNo = ini.ReadInteger(SectionEkiPt, KeyPt, PtDefault);
    }
    // The entry's sprite, or sprite 0 when its file is missing.
    FEkiNo = FEkiNo - 1;
    NextEkiImage();
}

// Only with a picture open; the caller names the entry.
void TMainForm::SaveImageIni(const std::string& Name) {
    if (FImageName.empty()) return;
    TIniFile ini(FExeDir + AlbumFolder + Name + EntryIniExtension);
    for (const ColorKey& k : ColorKeys)
        ini.WriteInteger(SectionColor, k.Ident, (ui.*k.Bar)->Position());
    for (const OptionKey& k : OptionKeys)
        ini.WriteInteger(SectionEki, k.Ident, (ui.*k.Group)->ItemIndex());
    ini.WriteInteger(SectionEkiPt, KeyPt, FEkiNo);
}
