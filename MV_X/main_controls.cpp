// Mouse, wheel and keyboard dispatch, and the clear button.
#include "MV_X/main.h"
#include "common/Qmlib2002.h"
#include "platform/win/KeyState.h"

#include <QScrollBar>

namespace {

bool IsDown(int virtualKey) {
    return GetKeyState(virtualKey) < 0;
}

// Background colours of the scroll box that key 9 steps through.
constexpr TColor ScrollBoxColors[] = {16777215, 0, 128, 32768, 8388608};

} // namespace

void TMainForm::ImageMouseDown(TMouseButton, TShiftState, int X, int Y) {
    if (FMode == mdMaskEditing) {
        MaskPress(X, Y);
        return;
    }
    if (FMode != mdPlaying) return;
    if (IsDown(VK_LBUTTON)) {
        TDropField& drops = DropField();
        drops.EmitDrops(X, Y, EmitOriginX(), EmitOriginY(), 0, drops.EmitAmount());
    }
    if (IsDown(VK_RBUTTON)) {
        FPosX = X - 16;
        FPosY = Y - 16;
    }
}

void TMainForm::ImageMouseMove(TShiftState, int X, int Y) {
    if (IsDown(VK_SHIFT) && IsDown(VK_LBUTTON)) {
        QScrollBar* h = ui.ImageScrollBox->horizontalScrollBar();
        QScrollBar* v = ui.ImageScrollBox->verticalScrollBar();
        h->setValue(h->value() + (FDragX - X));
        v->setValue(v->value() + (FDragY - Y));
        return;
    }
    FDragX = X;
    FDragY = Y;
    if (FMode == mdMaskEditing) {
        MaskMove(X, Y);
        return;
    }
    if (FMode != mdPlaying) return;
    TDropField& drops = DropField();
    if (IsDown(VK_LBUTTON) && drops.EmitAmount() > 4)
        drops.EmitDrops(X, Y, EmitOriginX(), EmitOriginY(), 0, drops.EmitAmount() / 2);
    if (IsDown(VK_RBUTTON)) {
        FPosX = X - 16;
        FPosY = Y - 16;
    }
}

// Only the mask editor acts on a release.
void TMainForm::ImageMouseUp(TMouseButton, TShiftState, int, int) {
    if (FMode == mdMaskEditing) MaskRelease();
}

void TMainForm::FormMouseWheelDown(TShiftState Shift) {
    QScrollBar* bar = (Shift & ssShift) ? ui.ImageScrollBox->horizontalScrollBar()
                                        : ui.ImageScrollBox->verticalScrollBar();
    bar->setValue(bar->value() + bar->singleStep());
}

void TMainForm::FormMouseWheelUp(TShiftState Shift) {
    QScrollBar* bar = (Shift & ssShift) ? ui.ImageScrollBox->horizontalScrollBar()
                                        : ui.ImageScrollBox->verticalScrollBar();
    bar->setValue(bar->value() - bar->singleStep());
}

void TMainForm::StepRadioGroup(TRadioGroup& group) {
    const int next = group.ItemIndex() + 1;
    group.SetItemIndex(next > group.Count() - 1 ? 0 : next);
}

TColor TMainForm::ScrollBoxColor() const {
    const QColor c = ui.ImageScrollBox->viewport()->palette().color(QPalette::Window);
    return RGB(static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()),
               static_cast<uint8_t>(c.blue()));
}

void TMainForm::SetScrollBoxColor(TColor Color) {
    QPalette palette = ui.ImageScrollBox->viewport()->palette();
    palette.setColor(QPalette::Window,
                     QColor(GetRValue(Color), GetGValue(Color), GetBValue(Color)));
    ui.ImageScrollBox->viewport()->setPalette(palette);
}

void TMainForm::StepScrollBoxColor() {
    const TColor current = ScrollBoxColor();
    constexpr int n = static_cast<int>(std::size(ScrollBoxColors));
    for (int k = 0; k < n; ++k) {
        if (ScrollBoxColors[k] == current) {
            SetScrollBoxColor(ScrollBoxColors[(k + 1) % n]);
            return;
        }
    }
}

// The keys of each mode: a key acts when the form is in its mode and at least its modifiers
// are held.
void TMainForm::FormKeyDown(uint16_t& Key, TShiftState Shift) {
    struct TKeyAction {
        uint16_t Key;
        TFormMode Mode;
        TShiftState Held;
        void (*Act)(TMainForm& Form);
    };
    // A part's button goes down and acts as its click.
    using TPartButton = TSpeedButton* Ui::TMainForm::*;
    static constexpr auto Part = [](TMainForm& f, TPartButton button) {
        (f.ui.*button)->SetDown(true);
        (f.ui.*button)->Click();
    };
    static constexpr TKeyAction Actions[] = {
        {'X', mdPlaying, 0,
         [](TMainForm& f) {
             const bool arrow = f.ui.Image->cursor().shape() == Qt::ArrowCursor;
             f.ui.Image->setCursor(arrow ? Qt::BlankCursor : Qt::ArrowCursor);
         }},
        {'C', mdPlaying, 0, [](TMainForm& f) { f.FShowPosition = !f.FShowPosition; }},
        {'N', mdPlaying, 0, [](TMainForm& f) { f.ResetBitBtnClick(); }},
        {'1', mdPlaying, 0, [](TMainForm& f) { f.FAutoEmit = !f.FAutoEmit; }},
        {'2', mdPlaying, 0, [](TMainForm& f) { f.StepRadioGroup(*f.ui.RyouRadioGroup); }},
        {'3', mdPlaying, 0, [](TMainForm& f) { f.StepRadioGroup(*f.ui.SitatariRadioGroup); }},
        {'4', mdPlaying, 0, [](TMainForm& f) { f.StepRadioGroup(*f.ui.EkiatoRadioGroup); }},
        {'5', mdPlaying, 0, [](TMainForm& f) { f.EkiChangeBitBtnClick(); }},
        {'6', mdPlaying, 0, [](TMainForm& f) { f.EkiImageDblClick(); }},
        {'7', mdPlaying, 0, [](TMainForm& f) { f.StepRadioGroup(*f.ui.HEkiRadioGroup); }},
        {'8', mdPlaying, 0, [](TMainForm& f) { f.StepRadioGroup(*f.ui.HassyaSokudoRadioGroup); }},
        {'9', mdPlaying, 0, [](TMainForm& f) { f.StepScrollBoxColor(); }},
        {'Y', mdPlaying, 0, [](TMainForm& f) { f.StepRadioGroup(*f.ui.SitatariIroRadioGroup); }},
        {'Z', mdMaskEditing, ssCtrl, [](TMainForm& f) { f.ui.UndoSpeedButton->Click(); }},
        {'B', mdMaskEditing, 0, [](TMainForm& f) { f.ui.KakuSpeedButton->SetDown(true); }},
        {'V', mdMaskEditing, 0, [](TMainForm& f) { f.ui.NuruSpeedButton->SetDown(true); }},
        {'Q', mdMaskEditing, 0, [](TMainForm& f) { Part(f, &Ui::TMainForm::KamiSpeedButton); }},
        {'W', mdMaskEditing, 0, [](TMainForm& f) { Part(f, &Ui::TMainForm::MeSpeedButton); }},
        {'E', mdMaskEditing, 0, [](TMainForm& f) { Part(f, &Ui::TMainForm::HanaSpeedButton); }},
        {'R', mdMaskEditing, 0, [](TMainForm& f) { Part(f, &Ui::TMainForm::KutiSpeedButton); }},
        {'A', mdMaskEditing, 0, [](TMainForm& f) { Part(f, &Ui::TMainForm::HaSpeedButton); }},
        {'S', mdMaskEditing, 0, [](TMainForm& f) { Part(f, &Ui::TMainForm::HadaSpeedButton); }},
        {'D', mdMaskEditing, 0, [](TMainForm& f) { Part(f, &Ui::TMainForm::FukuSpeedButton); }},
        {'F', mdMaskEditing, 0, [](TMainForm& f) { Part(f, &Ui::TMainForm::NasiSpeedButton); }},
    };
    for (const TKeyAction& action : Actions) {
        if (action.Key == Key && action.Mode == FMode && (Shift & action.Held) == action.Held) {
            action.Act(*this);
            return;
        }
    }
}

void TMainForm::ResetBitBtnClick() {
    if (FMode != mdPlaying) return;
    ClearDrops();
    CopyBitmap24(*FTraceBitmap, *FImageBitmap);
    CopyBitmap24(ScreenBitmap(), *FImageBitmap);
    ui.Image->Invalidate();
}
