// A player with its album window, a fixed clock for entry names, picture files to import and
// helpers that read the album folder and the options.
#pragma once

#include "Harness.h"

#include <QImage>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

// A 24-bit picture whose every pixel differs from its neighbours.
inline std::unique_ptr<TBitmap> Pattern(int w, int h) {
    auto bmp = Solid(w, h, 0, 0, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            bmp->SetPixelColor(x, y, RGB(x + 3 * y, 5 * y + 3, 7 * x + y));
    return bmp;
}

// A smooth picture that JPEG keeps within a few levels.
inline int Smooth(int x, int y, int channel) {
    return channel == 0 ? 40 + 3 * x : channel == 1 ? 60 + 2 * y : 200 - x - y;
}
inline void WriteJpeg(const std::string& fileName, int w, int h) {
    QImage image(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixelColor(x, y, QColor(Smooth(x, y, 0), Smooth(x, y, 1), Smooth(x, y, 2)));
    ASSERT_TRUE(image.save(QString::fromStdString(fileName), "JPG", 100));
}

inline bool SamePixels(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), (a.Width() * a.BitsPerPixel() + 7) / 8))
            return false;
    return true;
}

inline std::unique_ptr<TBitmap> LoadBmp(const std::string& fileName) {
    auto bmp = std::make_unique<TBitmap>();
    bmp->LoadFromFile(fileName);
    return bmp;
}

inline std::string FileText(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class AlbumTest : public PlayerTest {
protected:
    void SetUp() override {
        PlayerTest::SetUp();
        At(59);
        CopySprites(3);
    }
    void TearDown() override {
        SetNowOverride({});
        PlayerTest::TearDown();
    }

    // Imports happen on 31 January 2024 at 12:00 and the given second.
    void At(int second) {
        SetNowOverride([=] { return TDateTime{2024, 1, 31, 12, 0, second, 0}; });
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
    std::string ImportAt(const std::string& file, int second, int w = 40, int h = 30) {
        At(second);
        Pattern(w, h)->SaveToFile(Dir() + file);
        Drop(Dir() + file);
        return Access::ImageName(*form);
    }
    // broken.png and broken.jpg cut short, broken.bmp with a bitmap's signature and no more.
    void WriteBrokenPictures() {
        const std::string png =
            FileText(std::string(MV_TESTDATA_DIR) + "/pngsuite/png/basn2c08.png");
        std::ofstream(Dir() + "broken.png", std::ios::binary) << png.substr(0, png.size() / 2);
        WriteJpeg(Dir() + "whole.jpg", 37, 29);
        std::ofstream(Dir() + "broken.jpg", std::ios::binary)
            << FileText(Dir() + "whole.jpg").substr(0, 300);
        std::ofstream(Dir() + "broken.bmp", std::ios::binary) << "BM not really a bitmap";
    }
    std::vector<std::string> Errors() const {
        std::vector<std::string> errors;
        for (const DialogRequest& r : dialogs)
            if (r.type == mtError) errors.push_back(r.text);
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
        AlbumUi().AlbumListBox->SetItemIndex(at == names.end() ? -1 : int(at - names.begin()));
    }
    void Open(const std::string& name) {
        Select(name);
        AlbumUi().OpenBitBtn->click();
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
