// The movie loop: every listed frame loaded, previewed, fitted, marked with the logo and
// handed to the AVI writer, then the movie closed, rebuilt and offered to be run.
#include "MV_M/main.h"
#include "common/PictureFile.h"
#include "platform/classes/Classes.h"
#include "platform/forms/Forms.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/WinBase.h"

namespace {

// What the window says around a movie.
namespace MovieText {
constexpr const char* TargetNotice =
    "AVI ファイルを作成する場所を指定してください.\r\n"
    "\r\n"
    "■ご注意ください\r\n"
    "使用 Codec によっては、作成先のパスに『日本語のフォルダ名』があると、構築に失敗する場合があ"
    "るようです.\r\n"
    "できるだけ半角英数の短い名前のパスに保存することをオススメします.\r\n"
    "(圧縮 AVI の作成はご使用のマシンの機能を使うため、未保証になります)";
constexpr const char* OpenFailed = "ファイル出力を中断しました.";
constexpr const char* RunQuestion =
    "現在作成したファイルを実行しますか?\r\n(実行後プレイヤーが起動するまでしばらくお待ちください)";
} // namespace MovieText
constexpr const char* BadSize = "AVI サイズの幅と高さは 1 から 65535 の間で指定してください.";
constexpr const char* Done = " : 完了.";

// The empty file stands at the target a while before the writer replaces it by the movie; each
// frame first lets the window breathe.
struct Waits {
    uint32_t Placeholder;
    uint32_t Frame;
};
constexpr Waits WaitMs{3000, 1};

enum SizeItem { Size320x200, Size640x480, Size720x480, SizeOriginal, SizeCustom };
constexpr int32_t FramesPerSecond = 30;
// The writer holds 16-bit sizes.
constexpr int32_t MaxSide = 65535;
// The custom size when an edit holds no number.
constexpr int32_t DefaultWidth = 640;
constexpr int32_t DefaultHeight = 480;

} // namespace

TMainForm::MovieSize TMainForm::FittedSize() const {
    switch (ui.SizeRadioGroup->ItemIndex()) {
    case Size320x200:
        return {320, 200};
    case Size720x480:
        return {720, 480};
    case SizeCustom:
        return {StrToIntDef(ui.AVIWidthEdit->text().toStdString(), DefaultWidth),
                StrToIntDef(ui.AVIHeightEdit->text().toStdString(), DefaultHeight)};
    default:
        return {DefaultWidth, DefaultHeight};
    }
}

TMainForm::MovieSize TMainForm::ChosenSize() const {
    if (ui.SizeRadioGroup->ItemIndex() == SizeOriginal)
        return {FFrameBitmap->Width(), FFrameBitmap->Height()};
    return FittedSize();
}

void TMainForm::EnterMaking() {
    FStopRequested = false;
    for (QWidget* control :
         {static_cast<QWidget*>(ui.CompressCheckBox), static_cast<QWidget*>(ui.PreCompressCheckBox),
          static_cast<QWidget*>(ui.LoadBitBtn), static_cast<QWidget*>(ui.MakeBitBtn),
          static_cast<QWidget*>(ui.SakuseiBitBtn), static_cast<QWidget*>(ui.SizeRadioGroup),
          static_cast<QWidget*>(ui.DelBitBtn)})
        control->setEnabled(false);
    ui.StopBitBtn->setEnabled(true);
    ui.AVIWidthEdit->setEnabled(false);
    ui.AVIHeightEdit->setEnabled(false);
    ui.LogoCheckBox->setEnabled(false);
    FLogoStep = 0;
}

void TMainForm::RestoreControls() {
    ui.LogoCheckBox->setEnabled(true);
    ui.StopBitBtn->setEnabled(false);
    for (QWidget* control :
         {static_cast<QWidget*>(ui.CompressCheckBox), static_cast<QWidget*>(ui.PreCompressCheckBox),
          static_cast<QWidget*>(ui.LoadBitBtn), static_cast<QWidget*>(ui.MakeBitBtn),
          static_cast<QWidget*>(ui.SizeRadioGroup)})
        control->setEnabled(true);
    const bool custom = ui.SizeRadioGroup->ItemIndex() == SizeCustom;
    ui.AVIWidthEdit->setEnabled(custom);
    ui.AVIHeightEdit->setEnabled(custom);
}

void TMainForm::WriteMovie() {
    const int count = ui.FileListBox->Count();
    for (int i = 0; i < count; ++i) {
        Sleep(WaitMs.Frame);
        if (Application != nullptr) Application->ProcessMessages();
        if (FStopRequested || i >= ui.FileListBox->Count()) break;
        LoadPictureFile(ui.FileListBox->item(i)->text().toStdString(), *FFrameBitmap);
        ShowPreview();
        ui.Image->repaint();
        if (ui.SizeRadioGroup->ItemIndex() != SizeOriginal) {
            const MovieSize size = FittedSize();
            FitToFrameSize(size.Width, size.Height, *FFrameBitmap);
        }
        if (ui.LogoCheckBox->isChecked()) ApplyLogo();
        JxAvi.AddFrame(*FFrameBitmap);
        ui.StatusBar->showMessage(
            QString::fromStdString(Format("AVI  ファイル出力中...(%d/%d)", i + 1, count)));
    }
}

void TMainForm::FinishMovie() {
    JxAvi.Close();
    JxAvi.Rebuild(-1);
    ui.DelBitBtn->setEnabled(true);
    ui.SakuseiBitBtn->setEnabled(true);
}

void TMainForm::MakeBitBtnClick() {
    if (ui.FileListBox->Count() == 0) return;
    // A size the writer cannot hold is refused before anything is written.
    const MovieSize size = ChosenSize();
    if (size.Width < 1 || size.Width > MaxSide || size.Height < 1 || size.Height > MaxSide) {
        WarningBox(BadSize);
        return;
    }
    NoticeBox(MovieText::TargetNotice);
    if (!SaveDialog.Execute(this)) return;
    const std::string target = SaveDialog.FileName;
    EnterMaking();
    ui.SakuseiLabel->setText(QString::fromStdString(target));
    ui.StatusBar->showMessage(QString::fromStdString(target));

    bool opened = false;
    bool finished = false;
    auto endSteps = [&] {
        RestoreControls();
        ui.StatusBar->showMessage(ui.SakuseiLabel->text() + QString::fromUtf8(Done));
    };
    try {
        TStringList().SaveToFile(target);
        Sleep(WaitMs.Placeholder);
        JxAvi.SetFrameRate(FramesPerSecond);
        JxAvi.SetWidth(static_cast<uint16_t>(size.Width));
        JxAvi.SetHeight(static_cast<uint16_t>(size.Height));
        JxAvi.SetFileName(target);
        opened = JxAvi.Open();
        if (!opened) {
            MessageDlg(MovieText::OpenFailed, mtCustom, mbOK);
        } else {
            WriteMovie();
            finished = true;
            FinishMovie();
        }
    } catch (...) {
        // The movie written so far is kept as after Stop; the failure is reported once.
        if (opened && !finished) FinishMovie();
        endSteps();
        throw;
    }
    endSteps();
    if (opened && AskYesNo(MovieText::RunQuestion)) SakuseiBitBtnClick();
}
