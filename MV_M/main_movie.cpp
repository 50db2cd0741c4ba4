// Making a movie: the window's settings into the movie job, the job run over the AVI writer, the
// movie closed, rebuilt and offered to be run.
#include "MV_M/main.h"
#include "platform/forms/Forms.h"
#include "platform/forms/Progress.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/NewFiles.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/WinBase.h"

#include <exception>

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
constexpr const char* BadSize = "AVI サイズの幅と高さは 1 から 65535 の間で指定してください.";
constexpr const char* Done = " : 完了.";
constexpr const char* Finishing = "AVI ファイル再構成中...";
} // namespace MovieText

// The empty file stands at the target a while before the writer replaces it by the movie; each
// frame first lets the window breathe.
struct Waits {
    uint32_t Placeholder;
    uint32_t Frame;
};
constexpr Waits WaitMs{3000, 1};

constexpr int32_t FramesPerSecond = 30;
// The writer holds 16-bit sizes.
constexpr int32_t MaxSide = 65535;
// The custom size when an edit holds no number.
constexpr int32_t DefaultWidth = 640;
constexpr int32_t DefaultHeight = 480;

} // namespace

TMovieSize TMainForm::FittedSize() const {
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

// The original size is the previewed frame's as read from its file: after a make the frame
// bitmap holds the last frame as fitted, the preview that frame as loaded.
TMovieSize TMainForm::ChosenSize() const {
    if (ui.SizeRadioGroup->ItemIndex() == SizeOriginal) {
        const TBitmap& previewed = ui.Image->Picture().Bitmap();
        return {previewed.Width(), previewed.Height()};
    }
    return FittedSize();
}

TMovieSettings TMainForm::MovieSettings() const {
    return {.FitFrames = ui.SizeRadioGroup->ItemIndex() != SizeOriginal,
            .Size = FittedSize(),
            .Logo = ui.LogoCheckBox->isChecked()};
}

void TMainForm::BetweenFrames() {
    Sleep(WaitMs.Frame);
    ProcessMessages();
}

bool TMainForm::StopRequested() {
    return FStopRequested;
}

void TMainForm::FrameLoaded(int /*Index*/) {
    ShowPreview();
    ui.Image->repaint();
}

void TMainForm::FrameWritten(int Index, int Count) {
    ui.StatusBar->showMessage(
        QString::fromStdString(Format("AVI  ファイル出力中...(%d/%d)", Index + 1, Count)));
}

// Closing and rebuilding a long movie takes a while: the status bar says so meanwhile, but not
// while the compressor of a re-compression is being chosen. A movie whose frames did not all
// reach the file is closed as far as it can be and offered for nothing: the frames that were not
// written in it are not deleted, it is not run.
TMainForm::TMade TMainForm::FinishMovie() {
    auto sayFinishing = [this] {
        ui.StatusBar->showMessage(QString::fromUtf8(MovieText::Finishing));
        ui.StatusBar->repaint();
    };
    const bool written = JxAvi.FrameCount() > 0;
    const bool recompressing = JxAvi.Compress() && !JxAvi.PreCompress();
    if (written && !recompressing) sayFinishing();
    JxAvi.Close();
    // Finishing may have given up every frame to the index, when the disk filled there.
    if (JxAvi.FrameCount() == 0) {
        DeleteFile(JxAvi.FileName());
        return TMade::Nothing;
    }
    if (JxAvi.WriteFailed()) return TMade::CutShort;
    if (recompressing) sayFinishing();
    JxAvi.Rebuild(-1);
    return TMade::Whole;
}

void TMainForm::MakeBitBtnClick() {
    if (FJob.Frames().empty()) return;
    // A size the writer cannot hold is refused before anything is written.
    const TMovieSize size = ChosenSize();
    if (size.Width < 1 || size.Width > MaxSide || size.Height < 1 || size.Height > MaxSide) {
        WarningBox(MovieText::BadSize);
        return;
    }
    NoticeBox(MovieText::TargetNotice);
    if (!SaveDialog.Execute(this)) return;
    const std::string target = SaveDialog.FileName;
    FStopRequested = false;
    SetState(TWindowState::Making);
    ui.SakuseiLabel->setText(QString::fromStdString(target));
    ui.StatusBar->showMessage(QString::fromStdString(target));

    // A whole movie can be run and its frames deleted; otherwise the window returns to the
    // listed frames. The status bar says done only of a whole movie, names one cut short, and
    // says the output ended when nothing is left.
    bool opened = false;
    TMade made = TMade::Nothing;
    auto endSteps = [&] {
        SetState(made == TMade::Whole ? TWindowState::Made : TWindowState::Listed);
        QString said = QString::fromUtf8(MovieText::OpenFailed);
        if (made != TMade::Nothing) said = ui.SakuseiLabel->text();
        if (made == TMade::Whole) said += QString::fromUtf8(MovieText::Done);
        ui.StatusBar->showMessage(said);
    };
    try {
        // The placeholder, an empty file; a link at the target is replaced, never written
        // through: what it points to is not the user's movie.
        if (!CreateFileReplacingLink(target).Valid()) throw EFCreateError::ForFile(target);
        {
            // The window paints over the closed dialog while it waits.
            const TBusyCursor busy;
            SleepResponsive(WaitMs.Placeholder);
        }
        JxAvi.SetFrameRate(FramesPerSecond);
        JxAvi.SetWidth(static_cast<uint16_t>(size.Width));
        JxAvi.SetHeight(static_cast<uint16_t>(size.Height));
        JxAvi.SetFileName(target);
        opened = JxAvi.Open();
        if (opened) {
            // A frame that cannot be read ends the loop: the movie of the frames before it is
            // finished first, then the failure is reported.
            std::exception_ptr unreadable;
            try {
                FJob.Run(MovieSettings(), JxAvi, *this);
            } catch (...) {
                unreadable = std::current_exception();
            }
            made = FinishMovie();
            if (unreadable) std::rethrow_exception(unreadable);
        } else {
            MessageDlg(MovieText::OpenFailed, mtCustom, mbOK);
        }
    } catch (...) {
        endSteps();
        throw;
    }
    // Nothing made, nothing left: a placeholder that no movie replaced goes.
    if (!opened && FileExists(target) && FileSize(target) == 0) DeleteFile(target);
    endSteps();
    if (made == TMade::Whole && AskYesNo(MovieText::RunQuestion)) SakuseiBitBtnClick();
}
