// The mask editor: painting the part mask over the open picture in part colours.
#include "MV_X/MaskColors.h"
#include "MV_X/main.h"
#include "common/Qmlib2002.h"
#include "platform/forms/Forms.h"
#include "platform/graphics/Canvas.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/KeyState.h"

#include <QPalette>
#include <cstdio>

namespace {

constexpr const char* SaveQuestion = "編集した意味画像を保存します.\r\nよいでしょうか?";
constexpr const char* DiscardQuestion = "画像を保存せず、編集画面を終了します.\r\nよいでしょうか?";
constexpr const char* ClearQuestion =
    "意味画像を初期化し、すべて「空」で塗りつぶします。\r\nよいでしょうか?";
constexpr const char* EditCaption = "編集";
constexpr const char* DoneCaption = "完了";
// Track bar position n blends the picture in at level n * 25 + 1 (1 to 251).
constexpr int OverlayStep = 25;

bool IsDown(int virtualKey) {
    return GetKeyState(virtualKey) < 0;
}

QColor QColorOf(TColor c) {
    return {GetRValue(c), GetGValue(c), GetBValue(c)};
}

} // namespace

TSpeedButton* TMainForm::PartButton(int Part) const {
    const std::array<TSpeedButton*, PartColorCount> buttons = {
        ui.NasiSpeedButton, ui.KamiSpeedButton, ui.MeSpeedButton,   ui.HanaSpeedButton,
        ui.KutiSpeedButton, ui.HaSpeedButton,   ui.HadaSpeedButton, ui.FukuSpeedButton};
    return buttons.at(static_cast<size_t>(Part));
}

void TMainForm::ConnectMaskEditor() {
    ConnectHandler(ui.MaskEditBitBtn, &QPushButton::clicked, this, &TMainForm::MaskEditBitBtnClick);
    ConnectHandler(ui.TrackBar, &TTrackBar::Change, this, &TMainForm::TrackBarChange);
    ConnectHandler(ui.KesuSpeedButton, &QToolButton::clicked, this,
                   &TMainForm::KesuSpeedButtonClick);
    ConnectHandler(ui.UndoSpeedButton, &QToolButton::clicked, this,
                   &TMainForm::UndoSpeedButtonClick);
    using Handler = void (TMainForm::*)();
    constexpr std::array<Handler, PartColorCount> handlers = {
        &TMainForm::NasiSpeedButtonClick, &TMainForm::KamiSpeedButtonClick,
        &TMainForm::MeSpeedButtonClick,   &TMainForm::HanaSpeedButtonClick,
        &TMainForm::KutiSpeedButtonClick, &TMainForm::HaSpeedButtonClick,
        &TMainForm::HadaSpeedButtonClick, &TMainForm::FukuSpeedButtonClick};
    for (int part = 0; part < PartColorCount; ++part) {
        TSpeedButton* button = PartButton(part);
        ConnectHandler(button, &QToolButton::clicked, this, handlers[static_cast<size_t>(part)]);
        // Each caption in its part's colour (greyed like any caption while disabled).
        QPalette palette = button->palette();
        const QColor caption = QColorOf(PartCaptionColors[static_cast<size_t>(part)]);
        palette.setColor(QPalette::Active, QPalette::ButtonText, caption);
        palette.setColor(QPalette::Inactive, QPalette::ButtonText, caption);
        button->setPalette(palette);
    }
}

void TMainForm::EnableMaskControls(bool Enabled) {
    for (int part = 0; part < PartColorCount; ++part)
        PartButton(part)->setEnabled(Enabled);
    for (QWidget* w :
         std::initializer_list<QWidget*>{ui.KakuSpeedButton, ui.NuruSpeedButton, ui.KesuSpeedButton,
                                         ui.UndoSpeedButton, ui.TrackBar})
        w->setEnabled(Enabled);
}

void TMainForm::MaskEditBitBtnClick() {
    if (FMode == mdPlaying)
        EnterMaskEditor();
    else if (FMode == mdMaskEditing)
        LeaveMaskEditor();
}

void TMainForm::EnterMaskEditor() {
    FMode = mdMaskEditing;
    if (FRecording) StopRecording();
    EnableMaskControls(true);
    ui.MaskEditBitBtn->setText(DoneCaption);
    MaskToColors(*FMaskBitmap, *FMaskColorBitmap);
    CopyBitmap24(*FMaskUndoBitmap, *FMaskColorBitmap);
    TrackBarChange();
    ui.NasiSpeedButton->SetDown(true);
    ui.NasiSpeedButton->Click();
    ui.KakuSpeedButton->SetDown(true);
    FMaskModified = false;
    ShowHelp(FEditHelp);
}

void TMainForm::LeaveMaskEditor() {
    if (FMaskModified) {
        if (AskYesNo(SaveQuestion)) {
            ColorsToMask(*FMaskBitmap, *FMaskColorBitmap);
            SaveMaskFile(FAlbum.MaskFile(FImageName));
        } else if (!AskYesNo(DiscardQuestion)) {
            return;
        }
    }
    EnableMaskControls(false);
    ui.MaskEditBitBtn->setText(EditCaption);
    FMode = mdPlaying;
    CopyBitmap24(ScreenBitmap(), *FImageBitmap);
    ui.Image->Invalidate();
    ShowHelp(FPlayHelp);
}

// The mask goes to a file beside the old one first, so a write that fails half way (a full
// disk) leaves the saved mask as it was instead of a cut-short file.
void TMainForm::SaveMaskFile(const std::string& FileName) {
    const std::string temporary = FileName + ".new";
    try {
        FMaskBitmap->SaveToFile(temporary);
    } catch (const EFCreateError&) {
        throw EFCreateError::ForFile(FileName);
    } catch (...) {
        DeleteFile(temporary);
        throw;
    }
    if (std::rename(temporary.c_str(), FileName.c_str()) != 0) {
        DeleteFile(temporary);
        throw EFCreateError::ForFile(FileName);
    }
}

void TMainForm::TrackBarChange() {
    if (FMode != mdMaskEditing) return;
    const auto level = static_cast<uint16_t>(ui.TrackBar->Position() * OverlayStep + 1);
    BlendBitmap24(0, 0, *FMaskViewBitmap, *FImageBitmap, *FMaskColorBitmap, level);
    CopyBitmap24(ScreenBitmap(), *FMaskViewBitmap);
    ui.Image->Invalidate();
    if (ui.TrackBar->hasFocus()) ui.MaskEditBitBtn->setFocus();
}

void TMainForm::SetPaintColor(TColor Color) {
    for (TCanvas* canvas : {&ScreenBitmap().Canvas(), &FMaskColorBitmap->Canvas()}) {
        canvas->Pen.Width = 3;
        canvas->Pen.Color = Color;
        canvas->Brush.Color = Color;
    }
}

void TMainForm::PickPaintColor(int X, int Y) {
    const std::optional<uint8_t> part = PartOfColor(FMaskColorBitmap->Canvas().Pixels(X, Y));
    if (!part) return;
    TSpeedButton* button = PartButton(*part);
    button->SetDown(true);
    button->Click();
}

void TMainForm::NasiSpeedButtonClick() {
    SetPaintColor(PartColors[ptNasi]);
}
void TMainForm::KamiSpeedButtonClick() {
    SetPaintColor(PartColors[ptKami]);
}
void TMainForm::MeSpeedButtonClick() {
    SetPaintColor(PartColors[ptMe]);
}
void TMainForm::HanaSpeedButtonClick() {
    SetPaintColor(PartColors[ptHana]);
}
void TMainForm::KutiSpeedButtonClick() {
    SetPaintColor(PartColors[ptKuti]);
}
void TMainForm::HaSpeedButtonClick() {
    SetPaintColor(PartColors[ptHa]);
}
void TMainForm::HadaSpeedButtonClick() {
    SetPaintColor(PartColors[ptHada]);
}
void TMainForm::FukuSpeedButtonClick() {
    SetPaintColor(PartColors[ptFuku]);
}

void TMainForm::KesuSpeedButtonClick() {
    if (!AskYesNo(ClearQuestion)) return;
    CopyBitmap24(*FMaskUndoBitmap, *FMaskColorBitmap);
    ui.NasiSpeedButton->SetDown(true);
    ui.NasiSpeedButton->Click();
    FMaskColorBitmap->Canvas().FillRect(
        Rect(0, 0, FMaskColorBitmap->Width(), FMaskColorBitmap->Height()));
    TrackBarChange();
}

// One level: a second undo restores the same state again.
void TMainForm::UndoSpeedButtonClick() {
    CopyBitmap24(*FMaskColorBitmap, *FMaskUndoBitmap);
    TrackBarChange();
}

// Every press keeps the colours for undo; a left press in fill mode fills and is done.
void TMainForm::MaskPress(int X, int Y) {
    CopyBitmap24(*FMaskUndoBitmap, *FMaskColorBitmap);
    if (IsDown(VK_LBUTTON) && ui.NuruSpeedButton->Down()) {
        TCanvas& canvas = FMaskColorBitmap->Canvas();
        canvas.FloodFill(X, Y, canvas.Pixels(X, Y), fsSurface);
        return;
    }
    if (IsDown(VK_RBUTTON)) PickPaintColor(X, Y);
}

// A stroke starts at the first move with the left button down and is joined move to move; it
// shows on the screen in the pure paint colour until the release brings the overlay back.
void TMainForm::MaskMove(int X, int Y) {
    if (ui.KakuSpeedButton->Down()) {
        if (IsDown(VK_LBUTTON)) {
            TCanvas& screen = ScreenBitmap().Canvas();
            TCanvas& colors = FMaskColorBitmap->Canvas();
            if (!FPenDown) {
                screen.MoveTo(X, Y);
                colors.MoveTo(X, Y);
            }
            screen.LineTo(X, Y);
            colors.LineTo(X, Y);
            FPenDown = true;
            ui.Image->Invalidate();
        } else {
            FPenDown = false;
        }
    }
    if (IsDown(VK_RBUTTON)) PickPaintColor(X, Y);
}

void TMainForm::MaskRelease() {
    TrackBarChange();
    FMaskModified = true;
}
