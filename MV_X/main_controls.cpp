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

void TMainForm::FormKeyDown(uint16_t& Key, TShiftState Shift) {
    if (FMode == mdPlaying) {
        switch (Key) {
        case 'X':
            if (ui.Image->cursor().shape() == Qt::ArrowCursor)
                ui.Image->setCursor(Qt::BlankCursor);
            else
                ui.Image->setCursor(Qt::ArrowCursor);
            break;
        case 'C':
            FShowPosition = !FShowPosition;
            break;
        case 'N':
            ResetBitBtnClick();
            break;
        case '1':
            FAutoEmit = !FAutoEmit;
            break;
        case '2':
            StepRadioGroup(*ui.RyouRadioGroup);
            break;
        case '3':
            StepRadioGroup(*ui.SitatariRadioGroup);
            break;
        case '4':
            StepRadioGroup(*ui.EkiatoRadioGroup);
            break;
        case '5':
            EkiChangeBitBtnClick();
            break;
        case '6':
            EkiImageDblClick();
            break;
        case '7':
            StepRadioGroup(*ui.HEkiRadioGroup);
            break;
        case '8':
            StepRadioGroup(*ui.HassyaSokudoRadioGroup);
            break;
        case '9':
            StepScrollBoxColor();
            break;
        case 'Y':
            StepRadioGroup(*ui.SitatariIroRadioGroup);
            break;
        default:
            break;
        }
    } else if (FMode == mdMaskEditing) {
        TSpeedButton* part = nullptr;
        switch (Key) {
        case 'Z':
            if (Shift & ssCtrl) ui.UndoSpeedButton->Click();
            break;
        case 'B':
            ui.KakuSpeedButton->SetDown(true);
            break;
        case 'V':
            ui.NuruSpeedButton->SetDown(true);
            break;
        case 'Q':
            part = ui.KamiSpeedButton;
            break;
        case 'W':
            part = ui.MeSpeedButton;
            break;
        case 'E':
            part = ui.HanaSpeedButton;
            break;
        case 'R':
            part = ui.KutiSpeedButton;
            break;
        case 'A':
            part = ui.HaSpeedButton;
            break;
        case 'S':
            part = ui.HadaSpeedButton;
            break;
        case 'D':
            part = ui.FukuSpeedButton;
            break;
        case 'F':
            part = ui.NasiSpeedButton;
            break;
        default:
            break;
        }
        if (part != nullptr) {
            part->SetDown(true);
            part->Click();
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
