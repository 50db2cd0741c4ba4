// The frame folder scan, the frame list and the fitting of every frame to the movie size.
#include "MV_M/main.h"
#include "common/BitmapUtils.h"
#include "common/PictureFile.h"
#include "platform/graphics/Canvas.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/System.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>
#include <tuple>

namespace fs = std::filesystem;

namespace {

constexpr int FrameNumbers = 10000;
constexpr size_t NumberDigits = 4;
// The extensions of frame files, in the order the frames of one number are listed.
constexpr std::array<std::string_view, 4> FrameExtensions = {".bmp", ".jpeg", ".jpg", ".png"};
const TAssertPlace ResampleIntoPlace{"main.cpp", 628};

struct FrameName {
    int Number;
    int Extension;
    std::string Name;
    auto Key() const { return std::tie(Number, Extension, Name); }
};

// The frame number and extension rank of a file name, or false when it names no frame.
bool ParseFrameName(const std::string& name, int& number, int& extension) {
    if (name.size() <= NumberDigits) return false;
    number = 0;
    for (size_t i = 0; i < NumberDigits; ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
        number = number * 10 + (name[i] - '0');
    }
    const std::string_view rest = std::string_view(name).substr(NumberDigits);
    for (size_t e = 0; e < FrameExtensions.size(); ++e)
        if (SameText(rest, FrameExtensions[e])) {
            extension = static_cast<int>(e);
            return true;
        }
    return false;
}

int32_t RoundedSide(long double side) {
    // A side that rounds to nothing keeps one pixel: the resampler needs at least one.
    return std::max<int32_t>(1, static_cast<int32_t>(Round(side)));
}

} // namespace

std::vector<std::string> FrameFiles(const std::string& Folder) {
    std::vector<FrameName> found;
    std::error_code error;
    const fs::path folder = Folder.empty() ? fs::path(".") : fs::path(Folder);
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code kindError;
        if (!it->is_regular_file(kindError)) continue;
        FrameName frame{0, 0, it->path().filename().string()};
        if (ParseFrameName(frame.Name, frame.Number, frame.Extension))
            found.push_back(std::move(frame));
    }
    std::sort(found.begin(), found.end(),
              [](const FrameName& a, const FrameName& b) { return a.Key() < b.Key(); });
    std::vector<std::string> paths;
    paths.reserve(found.size());
    for (const FrameName& frame : found)
        paths.push_back(Folder + frame.Name);
    return paths;
}

void TMainForm::ScanFrameFolder(const std::string& Folder) {
    if (!ui.LoadBitBtn->isEnabled()) return;
    ui.FileListBox->ClearItems();
    const std::vector<std::string> files = FrameFiles(Folder);
    size_t next = 0;
    for (int n = 0; n < FrameNumbers; ++n) {
        int number = 0;
        int extension = 0;
        while (next < files.size() &&
               ParseFrameName(files[next].substr(Folder.size()), number, extension) && number == n)
            ui.FileListBox->AddItem(files[next++]);
        ui.StatusBar->showMessage(QString::fromStdString(Format("連番調査中...(%d)", n)));
        ui.StatusBar->repaint();
    }
    const int count = ui.FileListBox->Count();
    ui.StatusBar->showMessage(QString::fromStdString(Format("%d File.", count)));
    if (count == 0) return;
    LoadPictureFile(ui.FileListBox->item(0)->text().toStdString(), *FFrameBitmap);
    ShowPreview();
    ui.MakeBitBtn->setEnabled(true);
}

void TMainForm::LoadBitBtnClick() {
    if (OpenPictureDialog.Execute(this))
        ScanFrameFolder(ExtractFilePath(OpenPictureDialog.FileName));
}

void TMainForm::FileListBoxClick() {
    const int index = ui.FileListBox->ItemIndex();
    if (index < 0) return;
    LoadPictureFile(ui.FileListBox->item(index)->text().toStdString(), *FFrameBitmap);
    ShowPreview();
    ui.Image->repaint();
}

void TMainForm::FitToFrameSize(int32_t W, int32_t H, TBitmap& Picture) {
    const int32_t w = Picture.Width();
    const int32_t h = Picture.Height();
    if (w == W && h == H) return;
    const bool fitsWidth = W >= w;
    const bool fitsHeight = H >= h;
    int32_t nw = w;
    int32_t nh = h;
    if (fitsWidth && fitsHeight) {
        FWorkBitmap->SetWidth(w);
        FWorkBitmap->SetHeight(h);
        FWorkBitmap->SetPixelFormat(pf24bit);
        FWorkBitmap->Canvas().Draw(0, 0, Picture);
    } else {
        const bool byWidth = fitsHeight || (!fitsWidth && h - H < w - W);
        if (byWidth) {
            nw = W;
            nh = RoundedSide(h * (static_cast<long double>(W) / w));
        } else {
            nh = H;
            nw = RoundedSide(w * (static_cast<long double>(H) / h));
        }
        if (fitsWidth || fitsHeight) {
            FWorkBitmap = ResampleBitmap(Picture, nw, nh);
        } else {
            FWorkBitmap->SetWidth(nw);
            FWorkBitmap->SetHeight(nh);
            FWorkBitmap->SetPixelFormat(pf24bit);
            ResampleInto(*FWorkBitmap, Picture, nw, nh);
        }
    }
    const int32_t x = W / 2 - nw / 2;
    const int32_t y = H / 2 - nh / 2;
    Picture.SetWidth(W);
    Picture.SetHeight(H);
    TCanvas& canvas = Picture.Canvas();
    canvas.Brush.Color = clBlack;
    canvas.Brush.Style = bsSolid;
    canvas.FillRect(Rect(0, 0, W, H));
    canvas.Draw(x, y, *FWorkBitmap);
}

void TMainForm::ResampleInto(TBitmap& Dest, const TBitmap& Src, int32_t NewWidth,
                             int32_t NewHeight) {
    ResampleBitmapInto(Dest, Src, NewWidth, NewHeight, ResampleIntoPlace);
}
