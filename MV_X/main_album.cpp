// Picture import into the album, opening an album entry, and what the album window asks of
// the main window.
#include "MV_X/album_U.h"
#include "MV_X/main.h"
#include "common/Qmlib2002.h"
#include "platform/rtl/SysUtils.h"

#include <QScrollBar>

namespace {

constexpr const char* ImportNotice =
    "画像ファイルをアルバムにコピーしました.\r\n次回からは [アルバム] "
    "ボタンで画像参照がおこなえます.\r\n\r\n画像をすべて肌色として設定しています.\r\n"
    "「画像の意味」を編集することで素材をいかすことができます (おすすめ).";

static_assert(TAlbum::SkinPart == ptHada);

} // namespace

void TMainForm::FillMaskBitmap(TBitmap& Bitmap, uint8_t Value) {
    TAlbum::FillMask(Bitmap, Value);
}

void TMainForm::AttachAlbumForm(TAlbumForm* Form) {
    FAlbumForm = Form;
}

void TMainForm::DetachAlbumForm(const TAlbumForm* Form) {
    if (FAlbumForm == Form) FAlbumForm = nullptr;
}

bool TMainForm::EditingMask() const {
    return FMode == mdMaskEditing;
}

// With no name open, nothing is saved for the deleted entry.
void TMainForm::AlbumEntryDeleted(const std::string& Name, const std::string& Replacement) {
    if (Name != FImageName) return;
    FImageName.clear();
    OpenAlbumImage(Replacement);
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
    // Whole copies: resizing first would convert and fill pictures that are overwritten at once.
    for (TBitmap* copy : {&ScreenBitmap(), FTraceBitmap.get(), FBaseBitmap.get()})
        copy->Assign(*FImageBitmap);
    ui.Image->resize(FImageBitmap->Width(), FImageBitmap->Height());
    ui.Image->Invalidate();
}

// The mask editor's bitmaps follow the mask's size; the editor fills them when it opens.
void TMainForm::SizeMaskWorkBitmaps() {
    for (TBitmap* b : {FMaskViewBitmap.get(), FMaskUndoBitmap.get(), FMaskColorBitmap.get()}) {
        b->SetPixelFormat(pf24bit);
        b->SetSize(FMaskBitmap->Width(), FMaskBitmap->Height());
    }
}

// The entry read or imported becomes the open one: its picture on the screen, its mask, its
// name in the title.
void TMainForm::ShowEntry(const std::string& Name, const TBitmap& Picture, const TBitmap& Mask) {
    FImageBitmap->Assign(&Picture);
    ShowLoadedPicture();
    FMaskBitmap->Assign(&Mask);
    SizeMaskWorkBitmaps();
    FImageName = Name;
    setWindowTitle(QString::fromStdString(FImageName));
}

void TMainForm::ImportPicture(const std::string& FileName) {
    if (FMode == mdMaskEditing || !FileExists(FileName)) return;
    // Even a file of another kind ends a recording.
    if (FRecording) StopRecording();
    if (!TAlbum::IsPictureFile(FileName)) return;

    // The new entry is read and written before anything of the open one changes: a file that
    // cannot be read or written leaves the open entry, its settings and the screen alone.
    TBitmap picture, mask;
    const std::string name = FAlbum.Import(FileName, picture, mask);
    // The open entry's settings are kept, as opening another entry keeps them, unless the new
    // entry has just replaced it (the same file again within the same second). When they
    // cannot be written the import fails whole: the new entry's files go.
    if (name != FImageName) {
        try {
            SaveImageIni(FImageName);
        } catch (...) {
            FAlbum.DiscardImport(name);
            throw;
        }
    }

    ui.IroTrackBar->SetPosition(0);
    // Moved in rather than copied; showing a bitmap of its own place copies nothing.
    FImageBitmap->TakeOver(picture);
    FMaskBitmap->TakeOver(mask);
    ShowEntry(name, *FImageBitmap, *FMaskBitmap);
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

    // A damaged entry leaves the open one whole.
    FAlbum.Open(Name, *FImageBitmap, *FMaskBitmap);
    ShowEntry(Name, *FImageBitmap, *FMaskBitmap);
    FPosX = FImageBitmap->Width() / 2;
    FPosY = FImageBitmap->Height() / 2;
    ClearDrops();
    FMode = mdPlaying;
    LoadImageIni(FImageName);
}
