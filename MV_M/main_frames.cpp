// The frame folder scan, the frame list and its preview.
#include "MV_M/main.h"
#include "common/PictureFile.h"
#include "platform/forms/Progress.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/MMSystem.h"

#include <QApplication>

namespace {

// The scan's count is shown at most this often: painting each of its 10,000 numbers would take
// longer than the scan.
constexpr uint32_t ScanRepaintMs = 40;

} // namespace

void TMainForm::ScanFrameFolder(const std::string& Folder) {
    if (FState == TWindowState::Making) return;
    const TBusyCursor busy;
    uint32_t shown = timeGetTime() - ScanRepaintMs;
    FJob.ScanFrameFolder(Folder, [&](int number) {
        if (timeGetTime() - shown < ScanRepaintMs) return;
        ui.StatusBar->showMessage(QString::fromStdString(Format("連番調査中...(%d)", number)));
        repaint();
        shown = timeGetTime();
    });
    ShowFrameList();
    const int count = static_cast<int>(FJob.Frames().size());
    ui.StatusBar->showMessage(QString::fromStdString(Format("%d File.", count)));
    // The frames of a movie just made are no longer the listed ones; Make follows the new list.
    SetState(FState == TWindowState::Made ? TWindowState::MovieKept : FState);
    if (count == 0) return;
    PreviewFile(FJob.Frames().front());
    if (FState == TWindowState::Start) SetState(TWindowState::Listed);
}

// An empty list previews no frame.
void TMainForm::ShowFrameList() {
    ui.FileListBox->ClearItems();
    for (const std::string& frame : FJob.Frames())
        ui.FileListBox->AddItem(frame);
    if (FJob.Frames().empty()) ClearPreview();
}

void TMainForm::LoadBitBtnClick() {
    if (OpenPictureDialog.Execute(this))
        ScanFrameFolder(ExtractFilePath(OpenPictureDialog.FileName));
}

// A frame that cannot be read leaves the preview empty, never showing another frame as its.
void TMainForm::PreviewFile(const std::string& FileName) {
    ClearPreview();
    LoadPictureFile(FileName, FJob.Frame());
    ShowPreview();
}

void TMainForm::ClearPreview() {
    ui.Image->Picture().Bitmap().SetSize(0, 0);
    ui.Image->Invalidate();
}

void TMainForm::FileListBoxClick() {
    const int index = ui.FileListBox->ItemIndex();
    if (index < 0) return;
    PreviewFile(ui.FileListBox->item(index)->text().toStdString());
    ui.Image->repaint();
}

// A click reloads its row even when it is highlighted already; a keyboard move previews the
// row it reaches. A click that also moves the highlight is one click, not two.
void TMainForm::FileListBoxSelectionChanged() {
    if (QApplication::mouseButtons() == Qt::NoButton) FileListBoxClick();
}
