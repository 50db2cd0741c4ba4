// Picture import into the album, and opening an album entry.
#include "MV_X/PictureFile.h"
#include "MV_X/album_U.h"
#include "MV_X/main.h"
#include "common/BitmapUtils.h"
#include "common/Qmlib2002.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"

#include <QScrollBar>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

namespace {

constexpr const char* AlbumFolder = "album/";
constexpr int ThumbnailSide = 100;
constexpr const char* TemporarySuffix = ".~new";
constexpr const char* EntryWriteError = "ファイル %s に書き込めません";
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
    if (FMode == mdMaskEditing) return;
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
    ui.Image->Invalidate();
}

// The mask editor's bitmaps follow the mask's size; the editor fills them when it opens.
void TMainForm::SizeMaskWorkBitmaps() {
    for (TBitmap* b : {FMaskViewBitmap.get(), FMaskUndoBitmap.get(), FMaskColorBitmap.get()}) {
        b->SetWidth(FMaskBitmap->Width());
        b->SetHeight(FMaskBitmap->Height());
        b->SetPixelFormat(pf24bit);
    }
}

// An import cut short (the program killed while writing) leaves its temporary files behind;
// they are never listed, and they go at the next start.
void TMainForm::RemoveUnfinishedEntryFiles() {
    const std::string folder = FExeDir + AlbumFolder;
    for (const std::string& name : FindFiles(folder, std::string("*") + TemporarySuffix))
        DeleteFile(folder + name);
}

// The entry's three files are written under temporary names and take their own names only
// when all three are complete, so a full disk leaves no part of a new entry in the album.
void TMainForm::WriteEntryFiles(const std::string& Name, TBitmap& Picture, TBitmap& Mask) {
    const std::unique_ptr<TBitmap> thumbnail =
        ResampleBitmap(Picture, ThumbnailSide, ThumbnailSide);
    const std::pair<const char*, TBitmap*> files[] = {
        {".bmp", &Picture}, {".msk", &Mask}, {".thu", thumbnail.get()}};
    std::vector<std::string> written;
    std::string failed;
    try {
        for (const auto& [extension, bitmap] : files) {
            failed = AlbumFile(Name, extension);
            bitmap->SaveToFile(failed + TemporarySuffix);
            written.push_back(failed);
        }
    } catch (const Exception& e) {
        for (const std::string& file : written)
            DeleteFile(file + TemporarySuffix);
        DeleteFile(failed + TemporarySuffix);
        throw EWriteError(Format(EntryWriteError, failed) + ": " + e.Message());
    }
    // The thumbnail goes last: the album lists an entry by it.
    for (size_t i = 0; i < written.size(); ++i) {
        std::error_code error;
        std::filesystem::rename(written[i] + TemporarySuffix, written[i], error);
        if (!error) continue;
        for (size_t k = 0; k < written.size(); ++k)
            DeleteFile(written[k] + (k < i ? "" : TemporarySuffix));
        throw EWriteError(Format(EntryWriteError, written[i]));
    }
}

void TMainForm::ImportPicture(const std::string& FileName) {
    if (FMode == mdMaskEditing || !FileExists(FileName)) return;
    // Even a file of another kind ends a recording.
    if (FRecording) StopRecording();
    if (!IsPictureExtension(FileName)) return;

    // The new entry is decoded and written before anything of the open one changes: a file
    // that cannot be read or written leaves the open entry, its settings and the screen alone.
    TBitmap picture, mask;
    LoadPictureFile(FileName, picture);
    mask.SetWidth(picture.Width());
    mask.SetHeight(picture.Height());
    mask.SetPixelFormat(pf8bit);
    FillMaskBitmap(mask, ptHada);
    const std::string name = EntryName(FileName);
    WriteEntryFiles(name, picture, mask);
    // The open entry's settings are kept, as opening another entry keeps them, unless the new
    // entry has just replaced it (the same file again within the same second).
    if (name != FImageName) SaveImageIni(FImageName);

    ui.IroTrackBar->SetPosition(0);
    FImageBitmap->Assign(&picture);
    ShowLoadedPicture();
    FMaskBitmap->Assign(&mask);
    SizeMaskWorkBitmaps();
    FImageName = name;
    setWindowTitle(QString::fromStdString(FImageName));
    ui.Image->Invalidate();

    if (FAlbumForm != nullptr) FAlbumForm->RefreshAlbum();
    NoticeBox(ImportNotice);

    FPosX = FImageBitmap->Width() / 2;
    FPosY = FImageBitmap->Height() / 2;
    LoadImageIni(FImageName);
    ClearDrops();
    FMode = mdPlaying;
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
    FMode = mdPlaying;
    LoadImageIni(FImageName);
}
