// The window's side of the drop effect: the frame tick, emission from the cursor, the options
// handed to the simulation, and the emission spot.
#include "MV_X/main.h"
#include "common/Qmlib2002.h"
#include "platform/forms/Forms.h"
#include "platform/graphics/Canvas.h"
#include "platform/rtl/System.h"
#include "platform/win/KeyState.h"
#include "platform/win/MMSystem.h"
#include "platform/win/WinBase.h"

#include <QCursor>
#include <QRect>
#include <algorithm>
#include <cstring>

namespace {

// A frame starts once the clock has passed the previous one by more than this.
constexpr uint32_t FrameInterval = 32;
constexpr int BytesPerPixel24 = 3;

// Both 24-bit and of one size, with the same pixels inside Area. Compared once a frame: the
// part in view only, whole rows through row pointers.
bool SamePixels24(const TBitmap& a, const TBitmap& b, const QRect& area) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    const auto rowBytes = static_cast<size_t>(BytesPerPixel24) * static_cast<size_t>(area.width());
    for (int y = area.top(); y <= area.bottom(); ++y)
        if (std::memcmp(a.ScanLine(y) + BytesPerPixel24 * area.x(),
                        b.ScanLine(y) + BytesPerPixel24 * area.x(), rowBytes) != 0)
            return false;
    return true;
}

void CopyPixels24(TBitmap& dest, const TBitmap& src, const QRect& area) {
    const auto rowBytes = static_cast<size_t>(BytesPerPixel24) * static_cast<size_t>(area.width());
    for (int y = area.top(); y <= area.bottom(); ++y)
        std::memcpy(dest.ScanLine(y) + BytesPerPixel24 * area.x(),
                    src.ScanLine(y) + BytesPerPixel24 * area.x(), rowBytes);
}

} // namespace

// Reading the radio groups draws nothing, so the random order is the same however often.
TDropField& TMainForm::DropField() {
    TDropOptions& o = FDropField.Options;
    o.Amount = ui.RyouRadioGroup->ItemIndex();
    o.EmissionSpeed = ui.HassyaSokudoRadioGroup->ItemIndex();
    o.EmissionColor = ui.HEkiRadioGroup->ItemIndex();
    o.DripSpeed = ui.SitatariRadioGroup->ItemIndex();
    o.DripColor = ui.SitatariIroRadioGroup->ItemIndex();
    o.Traces = ui.EkiatoRadioGroup->ItemIndex() == 1;
    return FDropField;
}

void TMainForm::ClearDrops() {
    FDropField.ClearDrops();
    FAutoEmit = false;
}

int32_t TMainForm::EmitOriginX() const {
    return FPosX + 16 - FEkiBitmap->Width() / 2;
}
int32_t TMainForm::EmitOriginY() const {
    return FPosY + 16 - FEkiBitmap->Height() / 2;
}

void TMainForm::AutoEmit() {
    const TPoint screenPos = GetCursorPos();
    const QPoint p = ui.Image->mapFromGlobal(QPoint(screenPos.X, screenPos.Y));
    DropField().AutoEmit(p.x(), p.y(), EmitOriginX(), EmitOriginY());
}

// --- Frame tick

// The message loop waits for the next message or the next due frame instead of calling the
// handler again at once; the frames keep their timing.
void TMainForm::AppIdle(TObject*, bool& Done) {
    Done = true;
    if (FMode != mdPlaying) return;
    // While Shift freezes the effect the key is looked at once a frame: it may come up
    // outside the window, where no message tells.
    if (GetKeyState(VK_SHIFT) < 0) return WakeForFrame(FrameInterval + 1);
    try {
        const uint32_t now = timeGetTime();
        if (!(now > FLastTick + FrameInterval))
            return WakeForFrame(std::min(FLastTick + FrameInterval + 1 - now, FrameInterval + 1));
        FLastTick = timeGetTime();
        RunFrame();
    } catch (...) {
        FMode = mdNoPicture;
        throw;
    }
    WakeForFrame(FrameInterval + 1);
}

void TMainForm::WakeForFrame(uint32_t Milliseconds) {
    if (Application != nullptr) Application->WakeIdleIn(static_cast<int>(Milliseconds));
}

// A still picture is not sent to the display again: only a frame whose picture differs from
// the one the last frame showed repaints it, unless something else has drawn meanwhile. Two
// frames in a row without drops, with the spot in the same place, leave the same picture: the
// trace is only written by drops and by what repaints on its own.
void TMainForm::RunFrame() {
    TDropField& drops = DropField();
    if (FAutoEmit) {
        const int32_t r = Random(100);
        if (drops.Options.Amount == 4 ? r > 20 : r > 70) AutoEmit();
    }
    const bool quiet = drops.DropsInUse() == 0;
    const TSpotState spot{FShowPosition, FPosX, FPosY};
    TBitmap& screen = ScreenBitmap();
    screen.Canvas().Draw(0, 0, *FTraceBitmap);
    drops.UpdateDrops();
    drops.DrawDrops(screen);
    DrawPositionCursor();
    if (FRecording) RecordFrame();
    const bool stillAsBefore = quiet && FLastFrameQuiet && spot == FLastSpot;
    FLastFrameQuiet = quiet;
    FLastSpot = spot;
    const QRect view = ShownPart(screen);
    if (ui.Image->Invalidations() == FShownInvalidations && view == FShownView &&
        (stillAsBefore || SamePixels24(screen, FShownFrame, view)))
        return;
    if (FShownFrame.Width() != screen.Width() || FShownFrame.Height() != screen.Height() ||
        FShownFrame.PixelFormat() != pf24bit) {
        FShownFrame.SetPixelFormat(pf24bit);
        FShownFrame.SetSize(screen.Width(), screen.Height());
    }
    CopyPixels24(FShownFrame, screen, view);
    FShownView = view;
    ui.Image->Invalidate();
    FShownInvalidations = ui.Image->Invalidations();
}

// The part of the screen picture the user can see; all of it while the control is hidden.
// Only this part is compared with the last frame: the rest is painted when it scrolls in.
QRect TMainForm::ShownPart(const TBitmap& screen) const {
    const QRect whole(0, 0, screen.Width(), screen.Height());
    const QRect visible = ui.Image->visibleRegion().boundingRect() & whole;
    return visible.isEmpty() ? whole : visible;
}

void TMainForm::DrawPositionCursor() {
    if (FShowPosition) KeyedCopy(FPosX, FPosY, Rect(0, 0, 31, 31), ScreenBitmap(), *FSpotBitmap);
}
