// The drop simulation: the table, emission, the frame tick, flight, landing and drips.
// Every random draw is made in a fixed order: the effect replays exactly from the same seed.
#include "MV_X/main.h"
#include "common/Qmlib2002.h"
#include "platform/forms/Forms.h"
#include "platform/graphics/Canvas.h"
#include "platform/rtl/System.h"
#include "platform/win/KeyState.h"
#include "platform/win/MMSystem.h"
#include "platform/win/WinBase.h"

#include <QCursor>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// A frame starts once the clock has passed the previous one by more than this.
constexpr uint32_t FrameGap = 32;

// Both 24-bit and of one size, with the same pixels. Compared once a frame: whole rows through
// row pointers, in one piece when the rows have no padding.
bool SamePixels24(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    if (a.Empty()) return true;
    const size_t rowBytes = 3 * static_cast<size_t>(a.Width());
    const uint8_t* pa = a.ScanLine(0);
    const uint8_t* pb = b.ScanLine(0);
    const auto strideA = static_cast<size_t>(a.RowBytes()),
               strideB = static_cast<size_t>(b.RowBytes());
    if (strideA == rowBytes && strideB == rowBytes)
        return std::memcmp(pa, pb, rowBytes * static_cast<size_t>(a.Height())) == 0;
    for (int y = 0; y < a.Height(); ++y, pa += strideA, pb += strideB)
        if (std::memcmp(pa, pb, rowBytes) != 0) return false;
    return true;
}

constexpr long double Pi = 3.14159265358979323846264338327950288L;
// A real draw: Random(Range) / Divisor as extended.
long double RandomOver(int32_t range, long double divisor) {
    return static_cast<long double>(Random(range)) / divisor;
}

} // namespace

// --- Table and emission

void TMainForm::ClearDrops() {
    FDrops.fill(TDrop{});
    FDropsInUse = 0;
    FAutoEmit = false;
}

int32_t TMainForm::EmitAmount() const {
    switch (ui.RyouRadioGroup->ItemIndex()) {
    case 0:
        return 1;
    case 1:
        return 3;
    case 2:
        return 5;
    case 3:
        return 8;
    case 4:
        return 15;
    default:
        return 5;
    }
}

int32_t TMainForm::DripSpeed() const {
    switch (ui.SitatariRadioGroup->ItemIndex()) {
    case 0:
        return 3;
    case 1:
        return 2;
    case 2:
        return 1;
    default:
        return 0;
    }
}

// No selected index leaves the slot's Speed as it was.
void TMainForm::EmissionSpeed(TDrop& d) {
    switch (ui.HassyaSokudoRadioGroup->ItemIndex()) {
    case 0:
        d.Speed = RandomOver(500, 100.0L) + 10;
        break;
    case 1:
        d.Speed = RandomOver(500, 100.0L) + 5;
        break;
    case 2:
        d.Speed = RandomOver(500, 100.0L) + 1;
        break;
    case 3:
        d.Speed = RandomOver(300, 100.0L) + 1;
        break;
    case 4:
        d.Speed = RandomOver(100, 100.0L) + 1;
        break;
    default:
        break;
    }
}

int32_t TMainForm::EmitOriginX() const {
    return FPosX + 16 - FEkiBitmap->Width() / 2;
}
int32_t TMainForm::EmitOriginY() const {
    return FPosY + 16 - FEkiBitmap->Height() / 2;
}

bool TMainForm::TracesOn() const {
    return ui.EkiatoRadioGroup->ItemIndex() == 1;
}

void TMainForm::EmitDrops(int32_t TargetX, int32_t TargetY, int32_t OriginX, int32_t OriginY,
                          int32_t Mode, int32_t Count) {
    for (int32_t n = 0; n < Count; ++n) {
        int slot = 0;
        while (slot < DropCount && FDrops[slot].State > 0)
            ++slot;
        if (slot == DropCount) continue;
        FDropsInUse = std::max(FDropsInUse, slot + 1);
        TDrop& d = FDrops[slot];
        if (Mode == 0) {
            const bool wide = ui.RyouRadioGroup->ItemIndex() > 3;
            const int32_t g = wide ? 16 : 10;
            const int32_t o = wide ? -8 : -5;
            d.TargetX = TargetX + o + Random(g);
            d.TargetY = TargetY + o + Random(g);
            d.X = d.StartX = OriginX;
            d.Y = d.StartY = OriginY;
            d.FloatX = d.TargetX - d.StartX;
            d.FloatY = d.TargetY - d.StartY;
            d.Angle = d.FloatX != 0 ? atanl(d.FloatY / d.FloatX) : Pi / 2;
            if (d.FloatX < 0 || (d.FloatX == 0 && d.FloatY <= 0)) d.Angle = d.Angle + Pi;
            d.State = 1;
            d.Alpha = Random(100) + 100;
            d.Dist = 0;
            EmissionSpeed(d);
        } else if (Mode == 1) {
            const int32_t ds = DripSpeed();
            d.Alpha = Random(20) + 200;
            d.Speed = RandomOver(100, 5000.0L) + ds;
            d.VX = RandomOver(100, 100.0L) - 0.5L;
            d.AlphaStep = ds + 1;
            d.FloatAlpha = d.Alpha;
            d.Dist = Random(10) + 1;
            d.X = OriginX;
            d.Y = OriginY;
            d.FloatX = d.X;
            d.FloatY = d.Y;
            d.Part = ptFall;
            d.State = 2;
        }
    }
}

void TMainForm::AutoEmit() {
    const TPoint screenPos = GetCursorPos();
    const QPoint p = ui.Image->mapFromGlobal(QPoint(screenPos.X, screenPos.Y));
    EmitDrops(p.x(), p.y(), EmitOriginX(), EmitOriginY(), 0, EmitAmount());
}

// --- Frame tick

// The message loop waits for the next message or the next due frame instead of calling the
// handler again at once; the frames keep their timing.
void TMainForm::AppIdle(TObject*, bool& Done) {
    Done = true;
    if (FMode != 1) return;
    // While Shift freezes the effect the key is looked at once a frame: it may come up
    // outside the window, where no message tells.
    if (GetKeyState(VK_SHIFT) < 0) return WakeForFrame(FrameGap + 1);
    try {
        const uint32_t now = timeGetTime();
        if (!(now > FLastTick + FrameGap))
            return WakeForFrame(std::min(FLastTick + FrameGap + 1 - now, FrameGap + 1));
        FLastTick = timeGetTime();
        RunFrame();
    } catch (...) {
        FMode = 0;
        throw;
    }
    WakeForFrame(FrameGap + 1);
}

void TMainForm::WakeForFrame(uint32_t Milliseconds) {
    if (Application != nullptr) Application->WakeIdleIn(static_cast<int>(Milliseconds));
}

// A still picture is not sent to the display again: only a frame whose picture differs from
// the one the last frame showed repaints it, unless something else has drawn meanwhile. Two
// frames in a row without drops, with the spot in the same place, leave the same picture: the
// trace is only written by drops and by what repaints on its own.
void TMainForm::RunFrame() {
    if (FAutoEmit) {
        const int32_t r = Random(100);
        if (ui.RyouRadioGroup->ItemIndex() == 4 ? r > 20 : r > 70) AutoEmit();
    }
    const bool quiet = FDropsInUse == 0;
    const TSpotState spot{FShowPosition, FPosX, FPosY};
    TBitmap& screen = ScreenBitmap();
    screen.Canvas().Draw(0, 0, *FTraceBitmap);
    UpdateDrops();
    DrawDrops();
    DrawPositionCursor();
    if (FRecording) RecordFrame();
    const bool stillAsBefore = quiet && FLastFrameQuiet && spot == FLastSpot;
    FLastFrameQuiet = quiet;
    FLastSpot = spot;
    if (ui.Image->Invalidations() == FShownInvalidations &&
        (stillAsBefore || SamePixels24(screen, FShownFrame)))
        return;
    FShownFrame.SetPixelFormat(pf24bit);
    FShownFrame.SetSize(screen.Width(), screen.Height());
    CopyBitmap24(FShownFrame, screen);
    ui.Image->Invalidate();
    FShownInvalidations = ui.Image->Invalidations();
}

// Slots from FDropsInUse on are all free, so the passes stop there; a drop made during the
// pass in a later slot raises the bound and is moved in the same pass.
void TMainForm::UpdateDrops() {
    int last = -1;
    for (int i = 0; i < FDropsInUse; ++i) {
        switch (FDrops[i].State) {
        case 1:
            MoveFlyingDrop(i);
            break;
        case 2:
            MoveDrip(i);
            break;
        default:
            break;
        }
        if (FDrops[i].State != 0) last = i;
    }
    FDropsInUse = last + 1;
}

// --- Flight and landing

void TMainForm::MoveFlyingDrop(int i) {
    TDrop& d = FDrops[i];
    if (d.X == d.TargetX && d.Y == d.TargetY) {
        switch (GetMaskValue(*FMaskBitmap, d.X, d.Y)) {
        case ptKami:
            HitKami(i);
            break;
        case ptMe:
            HitMe(i);
            break;
        case ptHana:
            HitHana(i);
            break;
        case ptKuti:
            HitKuti(i);
            break;
        case ptHa:
            HitHa(i);
            break;
        case ptHada:
            HitHada(i);
            break;
        case ptFuku:
            HitFuku(i);
            break;
        // Values above 7 are no part: such a drop ends as on part 0 instead of hanging
        // at its target for ever.
        default:
            HitNone(i);
            break;
        }
        return;
    }
    d.Dist = d.Dist + d.Speed;
    // One argument reduction for both: the same values as cosl and sinl, at half the cost.
    long double sine, cosine;
    sincosl(d.Angle, &sine, &cosine);
    d.X = static_cast<int32_t>(Round(cosine * d.Dist)) + d.StartX;
    d.Y = static_cast<int32_t>(Round(sine * d.Dist)) + d.StartY;
    if (d.Speed >= std::abs(d.X - d.TargetX) && d.Speed >= std::abs(d.Y - d.TargetY)) {
        d.X = d.TargetX;
        d.Y = d.TargetY;
    }
}

void TMainForm::HitNone(int i) {
    FDrops[i].State = 0;
}

void TMainForm::SmoothHit(int i, int32_t Part) {
    TDrop& d = FDrops[i];
    const int32_t ds = DripSpeed();
    if (d.Alpha > 250) d.Alpha = 250;
    d.Speed = RandomOver(100, 5000.0L) + ds;
    d.VX = RandomOver(100, 100.0L) - 0.5L;
    d.AlphaStep = ds;
    d.FloatAlpha = d.Alpha;
    d.Dist = Random(10) + 1;
    d.FloatX = d.X;
    d.FloatY = d.Y;
    d.Part = Part;
    d.State = 2;
}

void TMainForm::HitMe(int i) {
    SmoothHit(i, ptMe);
}
void TMainForm::HitHana(int i) {
    SmoothHit(i, ptHana);
}
void TMainForm::HitKuti(int i) {
    SmoothHit(i, ptKuti);
}
void TMainForm::HitHada(int i) {
    SmoothHit(i, ptHada);
}

struct TMainForm::StickyHitRule {
    int32_t Part;
    bool Clothes;      // +20 before anything else, fixed trace raise, drawn fading step
    int32_t StampBase; // stamp level: StampBase + Random(StampRange)
    int32_t StampRange;
    int32_t Shade;        // ShadeDrop amount
    long double SpeedDiv; // Speed: Random(100) / SpeedDiv + DS
};

void TMainForm::StickyHit(int i, const StickyHitRule& rule) {
    TDrop& d = FDrops[i];
    const int32_t ds = DripSpeed();
    if (rule.Clothes) d.Alpha = d.Alpha + 20;
    if (d.Alpha > 250) d.Alpha = 250;
    if (TracesOn()) {
        Stamp(i, rule.StampBase + Random(rule.StampRange), *FTraceBitmap);
        d.Alpha = d.Alpha + (rule.Clothes ? 20 : Random(80));
        if (d.Alpha > 250) d.Alpha = 250;
        ShadeDrop(i, rule.Shade);
    }
    d.Speed = RandomOver(100, rule.SpeedDiv) + ds;
    d.VX = RandomOver(ds * 200, 100.0L) - ds;
    if (rule.Clothes)
        d.AlphaStep = RandomOver(100, 100.0L) + ds;
    else
        d.AlphaStep = ds;
    d.FloatAlpha = d.Alpha;
    d.Dist = Random(10) + 1;
    d.FloatX = d.X;
    d.FloatY = d.Y;
    d.Part = rule.Part;
    d.State = 2;
}

void TMainForm::HitKami(int i) {
    StickyHit(i, {ptKami, false, 180, 70, 5, 200.0L});
}
void TMainForm::HitHa(int i) {
    StickyHit(i, {ptHa, false, 240, 15, 1, 200.0L});
}
void TMainForm::HitFuku(int i) {
    StickyHit(i, {ptFuku, true, 150, 100, 2, 100.0L});
}

// --- Drips

void TMainForm::MoveDrip(int i) {
    TDrop& d = FDrops[i];
    switch (d.Part) {
    case ptKami:
        DripKami(i);
        break;
    case ptMe:
        DripMe(i);
        break;
    case ptHana:
        DripHana(i);
        break;
    case ptKuti:
        DripKuti(i);
        break;
    case ptHa:
        DripHa(i);
        break;
    case ptHada:
        DripHada(i);
        break;
    case ptFuku:
        DripFuku(i);
        break;
    case ptFall:
        DripFall(i);
        return;
    default:
        DripNasi(i);
        break;
    }
    const int32_t old = d.Part;
    int32_t part = GetMaskValue(*FMaskBitmap, d.X, d.Y);
    // Values above 7 are no part: the drop trickles as on part 0 instead of freezing or
    // turning into a falling drop.
    if (part > ptFuku) part = ptNasi;
    d.Part = part;
    if (d.Part != old && Random(10) > 6) EmitDrops(d.X, d.Y, d.X, d.Y, 1, 1);
}

struct TMainForm::CommonDripRule {
    enum Kind { Sticky, Clothes, Smooth };
    int32_t Part;
    Kind kind;
    int32_t FadeRange;      // Smooth: fading step Random(FadeRange) / 100 + DS
    long double SpeedScale; // Smooth: new Speed SpeedScale * DS + 0.1
    int32_t T;              // stamp when Random(100) > T
    int32_t LevelBase;      // stamp level LevelBase + Random(LevelRange)
    int32_t LevelRange;
    bool DsTest; // shading after a stamp needs DS > 0
    int32_t U;   // shading when Random(100) > U
};

void TMainForm::CommonDrip(int i, const CommonDripRule& rule) {
    TDrop& d = FDrops[i];
    const int32_t ds = DripSpeed();
    const bool traces = TracesOn();
    const bool hair = rule.Part == ptKami;
    const bool clothes = rule.kind == CommonDripRule::Clothes;

    d.FloatX = d.FloatX + d.VX;
    d.FloatY = d.FloatY + d.Speed;
    switch (rule.kind) {
    case CommonDripRule::Sticky:
        d.AlphaStep = 10 * ds + 10;
        break;
    case CommonDripRule::Clothes:
        d.AlphaStep = 8 * (ds + 1);
        break;
    case CommonDripRule::Smooth:
        d.AlphaStep = RandomOver(rule.FadeRange, 100.0L) + ds;
        break;
    }
    d.FloatAlpha = d.FloatAlpha + d.AlphaStep;
    d.X = static_cast<int32_t>(Round(d.FloatX));
    d.Y = static_cast<int32_t>(Round(d.FloatY));
    d.Alpha = static_cast<int32_t>(Round(d.FloatAlpha));

    d.Dist = d.Dist + 1;
    if (d.Dist > 10) {
        if ((hair || clothes) && traces && Random(10) > 8) ShadeDrop(i, 1);
        switch (rule.kind) {
        case CommonDripRule::Sticky:
            Random(100); // drawn and not used
            d.Speed = 2 * ds;
            d.VX = RandomOver(ds * 200, 100.0L) - ds;
            break;
        case CommonDripRule::Clothes:
            d.Speed = RandomOver(100, 1000.0L) + ds;
            d.VX = RandomOver(ds * 200, 100.0L) - ds;
            break;
        case CommonDripRule::Smooth:
            d.Speed = rule.SpeedScale * ds + 0.1L;
            d.VX = RandomOver(100, 100.0L) - 0.5L;
            break;
        }
        d.Dist = Random(10) + 1;
    }

    if (d.Alpha > 255) {
        if (rule.kind != CommonDripRule::Smooth && traces) {
            d.Alpha = 240 + Random(15);
            Stamp(i, d.Alpha, *FTraceBitmap);
            if (hair) {
                if (Random(100) > 50) ShadeDrop(i, Random(2) + 1);
            } else if (clothes) {
                ShadeDrop(i, Random(3) + 1);
            }
        }
        d.State = 0;
        return;
    }
    if (!traces || !(Random(100) > rule.T)) return;
    const TBitmap* base = FTraceBitmap.get();
    if (clothes && Random(10) >= 6) base = FImageBitmap.get(); // wipes the traces under it
    Stamp(i, rule.LevelBase + Random(rule.LevelRange), *base);
    if (rule.DsTest && ds <= 0) return;
    if (Random(100) > rule.U) ShadeDrop(i, 1);
}

void TMainForm::DripKami(int i) {
    CommonDrip(i, {ptKami, CommonDripRule::Sticky, 0, 0, 80, 240, 15, true, 80});
}
void TMainForm::DripHa(int i) {
    CommonDrip(i, {ptHa, CommonDripRule::Sticky, 0, 0, 90, 240, 15, false, 80});
}
void TMainForm::DripFuku(int i) {
    CommonDrip(i, {ptFuku, CommonDripRule::Clothes, 0, 0, 90, 240, 15, true, 80});
}
void TMainForm::DripHada(int i) {
    CommonDrip(i, {ptHada, CommonDripRule::Smooth, 500, 0.3L, 90, 235, 20, true, 90});
}
void TMainForm::DripHana(int i) {
    CommonDrip(i, {ptHana, CommonDripRule::Smooth, 300, 1.0L, 92, 240, 15, true, 80});
}
void TMainForm::DripKuti(int i) {
    CommonDrip(i, {ptKuti, CommonDripRule::Smooth, 1000, 0.2L, 92, 200, 50, true, 80});
}

void TMainForm::DripMe(int i) {
    TDrop& d = FDrops[i];
    const int32_t ds = DripSpeed();
    d.FloatX = d.FloatX + d.VX;
    d.FloatY = d.FloatY + 0.6L;
    d.AlphaStep = ds;
    d.FloatAlpha = d.FloatAlpha + d.AlphaStep;
    d.X = static_cast<int32_t>(Round(d.FloatX));
    d.Y = static_cast<int32_t>(Round(d.FloatY));
    d.Alpha = d.Alpha + 5;
    if (d.Alpha > 255) {
        d.State = 0;
        return;
    }
    if (TracesOn() && Random(100) > 90) Stamp(i, 245 + Random(10), *FTraceBitmap);
}

void TMainForm::DripNasi(int i) {
    TDrop& d = FDrops[i];
    if (Random(100) > 95) d.FloatX = d.FloatX + Random(3) - 1;
    d.FloatY = d.FloatY + Random(2) + 1.5L;
    d.AlphaStep = Random(3) + 3;
    d.FloatAlpha = d.FloatAlpha + d.AlphaStep;
    d.X = static_cast<int32_t>(Round(d.FloatX));
    d.Y = static_cast<int32_t>(Round(d.FloatY));
    d.Alpha = static_cast<int32_t>(Round(d.FloatAlpha));
    if (d.Alpha > 255) {
        d.State = 0;
        return;
    }
    if (TracesOn() && Random(100) > 95) Stamp(i, 240 + Random(15), *FTraceBitmap);
}

void TMainForm::DripFall(int i) {
    TDrop& d = FDrops[i];
    d.FloatY = d.FloatY + d.Speed + Random(1);
    d.FloatAlpha = d.FloatAlpha + 5 + Random(5);
    d.X = static_cast<int32_t>(Round(d.FloatX));
    d.Y = static_cast<int32_t>(Round(d.FloatY));
    d.Alpha = static_cast<int32_t>(Round(d.FloatAlpha));
    if (d.Alpha > 255) d.State = 0;
}
