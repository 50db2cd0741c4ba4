// The movie loop: every listed frame loaded, previewed, fitted, marked with the logo and
// handed to the AVI writer, then the movie closed, rebuilt and offered to be run.
#include "MV_M/main.h"
#include "common/PictureFile.h"
#include "platform/classes/Classes.h"
#include "platform/forms/Forms.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/WinBase.h"

namespace {

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
constexpr const char* BadSize = "AVI サイズの幅と高さは 1 から 65535 の間で指定してください.";
constexpr const char* Done = " : 完了.";
constexpr uint32_t PlaceholderWaitMs = 3000;
constexpr uint32_t FrameWaitMs = 1;
constexpr int32_t FramesPerSecond = 30;
constexpr int32_t MaxSide = 65535;
constexpr int CustomItem = 4;
constexpr int OriginalItem = 3;
constexpr int32_t DefaultWidth = 640;
constexpr int32_t DefaultHeight = 480;

} // namespace

TMainForm::MovieSize TMainForm::FittedSize() const {
    switch (ui.SizeRadioGroup->ItemIndex()) {
    case 0:
        return {320, 200};
    case 2:
        return {720, 480};
    case CustomItem:
        return {StrToIntDef(ui.AVIWidthEdit->text().toStdString(), DefaultWidth),
                StrToIntDef(ui.AVIHeightEdit->text().toStdString(), DefaultHeight)};
    default:
        return {DefaultWidth, DefaultHeight};
    }
}

TMainForm::MovieSize TMainForm::ChosenSize() const {
    if (ui.SizeRadioGroup->ItemIndex() == OriginalItem)
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
    const bool custom = ui.SizeRadioGroup->ItemIndex() == CustomItem;
    ui.AVIWidthEdit->setEnabled(custom);
    ui.AVIHeightEdit->setEnabled(custom);
}

void TMainForm::WriteMovie() {
    const int count = ui.FileListBox->Count();
    for (int i = 0; i < count; ++i) {
        Sleep(FrameWaitMs);
        Application->ProcessMessages();
        if (FStopRequested || i >= ui.FileListBox->Count()) break;
        LoadPictureFile(ui.FileListBox->item(i)->text().toStdString(), *FFrameBitmap);
        ShowPreview();
        ui.Image->repaint();
        if (ui.SizeRadioGroup->ItemIndex() != OriginalItem) {
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
    // The writer holds 16-bit sizes: a size it cannot hold is refused before anything is written.
    const MovieSize size = ChosenSize();
    if (size.Width < 1 || size.Width > MaxSide || size.Height < 1 || size.Height > MaxSide) {
        WarningBox(BadSize);
        return;
    }
    NoticeBox(TargetNotice);
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
        Sleep(PlaceholderWaitMs);
        JxAvi.SetFrameRate(FramesPerSecond);
        JxAvi.SetWidth(static_cast<uint16_t>(size.Width));
        JxAvi.SetHeight(static_cast<uint16_t>(size.Height));
        JxAvi.SetFileName(target);
        opened = JxAvi.Open();
        if (!opened) {
            MessageDlg(OpenFailed, mtCustom, mbOK);
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
    if (opened && AskYesNo(RunQuestion)) SakuseiBitBtnClick();
}
