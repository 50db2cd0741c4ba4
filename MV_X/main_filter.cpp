// The colour filter bars and the button that turns the filter off.
#include "MV_X/ColorFilter.h"
#include "MV_X/main.h"
#include "common/Qmlib2002.h"

// Every movement of a bar recomputes the picture from the one as loaded and wipes the traces;
// drops in the air stay and are drawn over the new picture by the next frame.
void TMainForm::IroTrackBarChange() {
    if (FMode != mdPlaying) return;
    const TColor color =
        FilterColor(ui.RTrackBar->Position(), ui.GTrackBar->Position(), ui.BTrackBar->Position());
    ApplyColorFilter(*FImageBitmap, *FBaseBitmap, ui.IroTrackBar->Position(), color);
    CopyBitmap24(*FTraceBitmap, *FImageBitmap);
    CopyBitmap24(ScreenBitmap(), *FImageBitmap);
    ui.Image->Invalidate();
    if (ui.IroTrackBar->hasFocus()) ui.AkarusaButton->setFocus();
}

void TMainForm::ColorBarMoved(const TTrackBar& Bar) {
    IroTrackBarChange();
    if (Bar.hasFocus()) ui.AkarusaButton->setFocus();
}

void TMainForm::RTrackBarChange() {
    ColorBarMoved(*ui.RTrackBar);
}

void TMainForm::GTrackBarChange() {
    ColorBarMoved(*ui.GTrackBar);
}

void TMainForm::BTrackBarChange() {
    ColorBarMoved(*ui.BTrackBar);
}

void TMainForm::AkarusaButtonClick() {
    if (FMode == mdPlaying) ui.IroTrackBar->SetPosition(0);
}

// The drip colour is read where drips are drawn.
void TMainForm::SitatariIroRadioGroupClick() {}
