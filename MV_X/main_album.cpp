// Picture import into the album, and opening an album entry.
#include "MV_X/album_U.h"
#include "MV_X/main.h"
#include "common/BitmapUtils.h"
#include "common/PictureFile.h"
#include "common/Qmlib2002.h"
#include "platform/rtl/SysUtils.h"

#include <QScrollBar>
#include <algorithm>
#include <cstring>

namespace {

constexpr const char* AlbumFolder = "album/";
constexpr int ThumbnailSide = 100;
constexpr const char* ImportNotice =
    "画像ファイルをアルバムにコピーしました.\r\n次回からは [アルバム] "
    "ボタンで画像参照がおこなえます.\r\n\r\n画像をすべて肌色として設定しています.\r\n"
    "「画像の意味」を編集することで素材をいかすことができます (おすすめ).";

bool IsPictureExtension(const std::string& FileName) {
    const std::string ext = LowerCase(ExtractFileExt(FileName));
    return ext == ".png" || ext == ".jpg" || ext == ".jpeg" || ext == ".bmp";
}

// "MX", the import time to the second, "_" and the file's name without folder and extension.
std::string EntryName(const std::string& FileName) {
    const std::string name = ExtractFileName(FileName);
    const std::string base = name.substr(0, name.size() - ExtractFileExt(name).size());
    return "MX" + FormatDateTime("yyyymmddhhmmss", Now()) + "_" + base;
}

// A mask edited outside the program may not be an 8-bit bitmap of its picture's size, which the
// drops and the editor rely on: the overlap keeps its part values, the rest is skin, as after
// an import.
void FitMaskToPicture(TBitmap& mask, int width, int height) {
    if (mask.PixelFormat() == pf8bit && mask.Width() == width && mask.Height() == height) return;
    TBitmap fitted;
    fitted.SetWidth(width);
    fitted.SetHeight(height);
    fitted.SetPixelFormat(pf8bit);
    TMainForm::FillMaskBitmap(fitted, ptHada);
    mask.SetPixelFormat(pf8bit);
    const int w = std::min(width, mask.Width()), h = std::min(height, mask.Height());
    for (int y = 0; y < h; ++y)
        std::memcpy(fitted.ScanLine(y), mask.ScanLine(y), static_cast<size_t>(w));
    mask.Assign(&fitted);
}

} // namespace

std::string TMainForm::AlbumFile(const std::string& Name, const char* Extension) const {
    return FExeDir + AlbumFolder + Name + Extension;
}

void TMainForm::LoadBitBtnClick() {
    if (FMode == 2) return;
    if (OpenPictureDialog.Execute(this)) ImportPicture(OpenPictureDialog.FileName);
}

void TMainForm::LibBitBtnClick() {
    if (FAlbumForm == nullptr) return;
    FAlbumForm->show();
    FAlbumForm->raise();
    FAlbumForm->activateWindow();
}

// The screen picture, the picture control, the trace and the base take the loaded picture.
void TMainForm::ShowLoadedPicture() {
    const int w = FImageBitmap->Width(), h = FImageBitmap->Height();
    TBitmap& screen = ScreenBitmap();
    screen.SetWidth(w);
    screen.SetHeight(h);
    screen.SetPixelFormat(pf24bit);
    ui.Image->resize(w, h);
    CopyBitmap24(screen, *FImageBitmap);
    for (TBitmap* copy : {FTraceBitmap.get(), FBaseBitmap.get()}) {
        copy->SetWidth(w);
        copy->SetHeight(h);
        copy->SetPixelFormat(pf24bit);
        CopyBitmap24(*copy, *FImageBitmap);
    }
}

// The mask editor's bitmaps follow the mask's size; the editor fills them when it opens.
void TMainForm::SizeMaskWorkBitmaps() {
    for (TBitmap* b : {FMaskViewBitmap.get(), FMaskUndoBitmap.get(), FMaskColorBitmap.get()}) {
        b->SetWidth(FMaskBitmap->Width());
        b->SetHeight(FMaskBitmap->Height());
        b->SetPixelFormat(pf24bit);
    }
}

void TMainForm::ImportPicture(const std::string& FileName) {
    if (FMode == 2 || !FileExists(FileName)) return;
    // Even a file of another kind ends a recording.
    if (FRecording) StopRecording();
    if (!IsPictureExtension(FileName)) return;

    ui.IroTrackBar->SetPosition(0);
    LoadPictureFile(FileName, *FImageBitmap);
    ShowLoadedPicture();
    FMaskBitmap->SetWidth(FImageBitmap->Width());
    FMaskBitmap->SetHeight(FImageBitmap->Height());
    FMaskBitmap->SetPixelFormat(pf8bit);
    FillMaskBitmap(*FMaskBitmap, ptHada);
    SizeMaskWorkBitmaps();

    const std::string name = EntryName(FileName);
    FImageBitmap->SaveToFile(AlbumFile(name, ".bmp"));
    FMaskBitmap->SaveToFile(AlbumFile(name, ".msk"));
    FImageName = name;
    setWindowTitle(QString::fromStdString(FImageName));
    const std::unique_ptr<TBitmap> thumbnail =
        ResampleBitmap(*FImageBitmap, ThumbnailSide, ThumbnailSide);
    thumbnail->SaveToFile(AlbumFile(name, ".thu"));
    ui.Image->Invalidate();

    if (FAlbumForm != nullptr) FAlbumForm->RefreshAlbum();
    NoticeBox(ImportNotice);

    FPosX = FImageBitmap->Width() / 2;
    FPosY = FImageBitmap->Height() / 2;
    LoadImageIni(FImageName);
    ClearDrops();
    FMode = 1;
}

void TMainForm::OpenAlbumImage(const std::string& Name) {
    if (FRecording) StopRecording();
    SaveImageIni(FImageName);
    ui.ImageScrollBox->horizontalScrollBar()->setValue(0);
    ui.ImageScrollBox->verticalScrollBar()->setValue(0);
    ui.IroTrackBar->SetPosition(0);

    // Both files are read before anything changes, so a damaged entry leaves the open one whole.
    TBitmap picture, mask;
    LoadPictureFile(AlbumFile(Name, ".bmp"), picture);
    mask.LoadFromFile(AlbumFile(Name, ".msk"));
    FitMaskToPicture(mask, picture.Width(), picture.Height());
    FImageBitmap->Assign(&picture);
    ShowLoadedPicture();
    FMaskBitmap->Assign(&mask);
    SizeMaskWorkBitmaps();

    FImageName = Name;
    setWindowTitle(QString::fromStdString(FImageName));
    FPosX = FImageBitmap->Width() / 2;
    FPosY = FImageBitmap->Height() / 2;
    ClearDrops();
    FMode = 1;
    LoadImageIni(FImageName);
}
