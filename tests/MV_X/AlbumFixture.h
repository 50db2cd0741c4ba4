// A player with its album window, a fixed clock for entry names, and helpers to import
// pictures and read the album folder.
#pragma once

#include "Harness.h"
#include "PictureFiles.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

inline constexpr const char* Notice =
    "画像ファイルをアルバムにコピーしました.\r\n次回からは [アルバム] "
    "ボタンで画像参照がおこなえます.\r\n\r\n画像をすべて肌色として設定しています.\r\n"
    "「画像の意味」を編集することで素材をいかすことができます (おすすめ).";

// Every pixel byte of an 8-bit bitmap.
inline std::vector<uint8_t> MaskBytes(const TBitmap& mask) {
    std::vector<uint8_t> bytes;
    for (int y = 0; y < mask.Height(); ++y)
        bytes.insert(bytes.end(), mask.ScanLine(y), mask.ScanLine(y) + mask.Width());
    return bytes;
}

inline std::unique_ptr<TBitmap> LoadBmp(const std::string& fileName) {
    auto bmp = std::make_unique<TBitmap>();
    bmp->LoadFromFile(fileName);
    return bmp;
}

class AlbumTest : public PlayerTest {
protected:
    void SetUp() override {
        PlayerTest::SetUp();
        At(2024, 1, 31, 23, 59, 59);
        CopySprites(3);
    }
    void TearDown() override {
        SetNowOverride({});
        PlayerTest::TearDown();
    }

    void At(int y, int mo, int d, int h, int mi, int s) {
        SetNowOverride([=] { return TDateTime{y, mo, d, h, mi, s, 0}; });
    }

    std::string Album() const { return Dir() + "album/"; }
    std::string Entry(const std::string& name, const char* ext) const {
        return Album() + name + ext;
    }

    std::vector<std::string> AlbumFiles() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(Album()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // As a drop arrives: an exception goes to the default error box.
    void Drop(const std::string& file) {
        Guarded([&] { form->WMDropFiles(file); });
    }

    // A picture file in the test folder, imported at the given second.
    std::string ImportAt(const std::string& file, int second, int w = 40, int h = 30) {
        At(2024, 1, 31, 12, 0, second);
        Pattern(w, h)->SaveToFile(Dir() + file);
        Drop(Dir() + file);
        return Access::ImageName(*form);
    }

    std::vector<DialogRequest> Errors() const {
        std::vector<DialogRequest> errors;
        for (const DialogRequest& r : dialogs)
            if (r.type == mtError) errors.push_back(r);
        return errors;
    }

    Ui::TAlbumForm& AlbumUi() { return TAlbumFormTestAccess::Form(*album); }
    std::vector<std::string> Names() {
        const TStringList& names = TAlbumFormTestAccess::Names(*album);
        return {names.begin(), names.end()};
    }
    void Select(const std::string& name) {
        const auto names = Names();
        const auto at = std::find(names.begin(), names.end(), name);
        ASSERT_NE(at, names.end()) << name;
        AlbumUi().AlbumListBox->SetItemIndex(static_cast<int>(at - names.begin()));
    }
    std::vector<int> Options() {
        std::vector<int> v;
        for (const char* g : {"RyouRadioGroup", "SitatariRadioGroup", "HassyaSokudoRadioGroup",
                              "HEkiRadioGroup", "EkiatoRadioGroup", "SitatariIroRadioGroup"})
            v.push_back(Group(g).ItemIndex());
        return v;
    }
    std::vector<int> Bars() {
        Ui::TMainForm& ui = Access::Form(*form);
        return {ui.IroTrackBar->Position(), ui.RTrackBar->Position(), ui.GTrackBar->Position(),
                ui.BTrackBar->Position()};
    }
};

inline std::string FileText(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
