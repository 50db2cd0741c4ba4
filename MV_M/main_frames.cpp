// The frame folder scan, the frame list and its preview.
#include "MV_M/main.h"
#include "common/PictureFile.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/MMSystem.h"

#include <QGuiApplication>

namespace {

// The scan's count is shown at most this often: painting each of its 10,000 numbers would take
// longer than the scan.
constexpr uint32_t ScanRepaintMs = 40;

// A busy pointer for as long as the window does not answer.
class BusyCursor {
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
};

} // namespace

void TMainForm::ScanFrameFolder(const std::string& Folder) {
    if (FState == TWindowState::Making) return;
    const BusyCursor busy;
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
    // The frames of a movie just made are no longer the listed ones.
    if (FState == TWindowState::Made) SetState(TWindowState::MovieKept);
    if (count == 0) return;
    LoadPictureFile(FJob.Frames().front(), FJob.Frame());
    ShowPreview();
    if (FState == TWindowState::Start) SetState(TWindowState::Listed);
}

void TMainForm::ShowFrameList() {
    ui.FileListBox->ClearItems();
    for (const std::string& frame : FJob.Frames())
        ui.FileListBox->AddItem(frame);
}

void TMainForm::LoadBitBtnClick() {
    if (OpenPictureDialog.Execute(this))
        ScanFrameFolder(ExtractFilePath(OpenPictureDialog.FileName));
}

void TMainForm::FileListBoxClick() {
    const int index = ui.FileListBox->ItemIndex();
    if (index < 0) return;
    LoadPictureFile(ui.FileListBox->item(index)->text().toStdString(), FJob.Frame());
    ShowPreview();
    ui.Image->repaint();
}
