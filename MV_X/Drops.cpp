// The drop simulation: the table, emission, flight, landing, drips, and the pixel work of
// drawing, stamping and shading.
#include "MV_X/Drops.h"

#include "common/Qmlib2002.h"
#include "platform/rtl/System.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr long double Pi = 3.14159265358979323846264338327950288L;
// A real draw: Random(Range) / Divisor as extended.
long double RandomOver(int32_t range, long double divisor) {
    return static_cast<long double>(Random(range)) / divisor;
}

// The drop's block of the rectangle's size at (X, Y), clipped to the bitmap; False when empty.
// Right and bottom are inclusive; the emptiness test is the platform's.
bool ShadeBlock(int32_t X, int32_t Y, const TRect& R, const TBitmap& Bitmap, TRect& block) {
    const TRect bounds = Rect(0, 0, Bitmap.Width() - 1, Bitmap.Height() - 1);
    TRect size;
    if (!IntersectRect(size, R, bounds)) return false;
    const TRect placed = Rect(X, Y, X + size.Right - size.Left, Y + size.Bottom - size.Top);
    return IntersectRect(block, placed, bounds);
}

// Sixteen bytes at a time: shading runs for every drop that sticks, over blocks of the
// sprite's size plus one.
using Bytes16 = uint8_t __attribute__((vector_size(16)));

template <class Op>
void ForEachByte(const TRect& block, TBitmap& Bitmap, Op op) {
    const size_t count = 3 * static_cast<size_t>(block.Right - block.Left + 1);
    for (int y = block.Top; y <= block.Bottom; ++y) {
        uint8_t* p = Bitmap.ScanLine(y) + 3 * static_cast<size_t>(block.Left);
        size_t k = 0;
        for (; k + sizeof(Bytes16) <= count; k += sizeof(Bytes16)) {
            Bytes16 v;
            std::memcpy(&v, p + k, sizeof v);
            v = op(v);
            std::memcpy(p + k, &v, sizeof v);
        }
        for (; k < count; ++k) {
            Bytes16 v{p[k]};
            p[k] = op(v)[0];
        }
    }
}

void SubtractBytes(const TRect& block, TBitmap& Bitmap, uint8_t a) {
    const Bytes16 amount = Bytes16{} + a;
    ForEachByte(block, Bitmap,
                [amount](Bytes16 v) -> Bytes16 { return v > amount ? v - amount : Bytes16{}; });
}

void AddBytes(const TRect& block, TBitmap& Bitmap, uint8_t a) {
    const Bytes16 amount = Bytes16{} + a;
    const Bytes16 limit = Bytes16{} + static_cast<uint8_t>(255 - a);
    ForEachByte(block, Bitmap, [amount, limit](Bytes16 v) -> Bytes16 {
        return v < limit ? v + amount : Bytes16{} + static_cast<uint8_t>(255);
    });
}

// A drip's pixel position from its exact one.
void PlaceDrip(TDrop& d) {
    d.X = static_cast<int32_t>(Round(d.FloatX));
    d.Y = static_cast<int32_t>(Round(d.FloatY));
}

// The values of the options' items, fastest or most first.
constexpr int32_t Amounts[] = {1, 3, 5, 8, 15};
constexpr int32_t DripSpeeds[] = {3, 2, 1};
// Emission speed: Random(Range) / 100 + Base.
struct TEmissionSpeed {
    int32_t Range;
    int32_t Base;
};
constexpr TEmissionSpeed EmissionSpeeds[] = {{500, 10}, {500, 5}, {500, 1}, {300, 1}, {100, 1}};

// The value of the selected item, or Fallback when none is.
template <size_t N>
int32_t Selected(const int32_t (&Values)[N], int32_t Index, int32_t Fallback) {
    return Index >= 0 && static_cast<size_t>(Index) < N ? Values[Index] : Fallback;
}

} // namespace

// --- Table and emission

void TDropField::ClearDrops() {
    FDrops.fill(TDrop{});
    FDropsInUse = 0;
}

int32_t TDropField::EmitAmount() const {
    return Selected(Amounts, Options.Amount, 5);
}

int32_t TDropField::DripSpeed() const {
    return Selected(DripSpeeds, Options.DripSpeed, 0);
}

// No selected index leaves the slot's Speed as it was.
void TDropField::EmissionSpeed(TDrop& d) const {
    const int32_t index = Options.EmissionSpeed;
    if (index < 0 || index >= std::ssize(EmissionSpeeds)) return;
    const TEmissionSpeed& speed = EmissionSpeeds[index];
    d.Speed = RandomOver(speed.Range, 100.0L) + speed.Base;
}

void TDropField::EmitDrops(int32_t TargetX, int32_t TargetY, int32_t OriginX, int32_t OriginY,
                           int32_t Mode, int32_t Count) {
    for (int32_t n = 0; n < Count; ++n) {
        int slot = 0;
        while (slot < DropCount && FDrops[slot].State > 0)
            ++slot;
        if (slot == DropCount) continue;
        FDropsInUse = std::max(FDropsInUse, slot + 1);
        TDrop& d = FDrops[slot];
        if (Mode == 0) {
            const bool wide = Options.Amount > 3;
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

void TDropField::AutoEmit(int32_t TargetX, int32_t TargetY, int32_t OriginX, int32_t OriginY) {
    EmitDrops(TargetX, TargetY, OriginX, OriginY, 0, EmitAmount());
}

TDrop& TDropField::Drop(int i) {
    FDropsInUse = std::max(FDropsInUse, i + 1);
    return FDrops[i];
}

// Slots from FDropsInUse on are all free, so the passes stop there; a drop made during the
// pass in a later slot raises the bound and is moved in the same pass.
void TDropField::UpdateDrops() {
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

void TDropField::MoveFlyingDrop(int i) {
    TDrop& d = FDrops[i];
    if (d.X == d.TargetX && d.Y == d.TargetY) {
        switch (GetMaskValue(*FBitmaps.Mask, d.X, d.Y)) {
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

void TDropField::HitNone(int i) {
    FDrops[i].State = 0;
}

void TDropField::SmoothHit(int i, int32_t Part) {
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

void TDropField::HitMe(int i) {
    SmoothHit(i, ptMe);
}
void TDropField::HitHana(int i) {
    SmoothHit(i, ptHana);
}
void TDropField::HitKuti(int i) {
    SmoothHit(i, ptKuti);
}
void TDropField::HitHada(int i) {
    SmoothHit(i, ptHada);
}

struct TDropField::StickyHitRule {
    int32_t Part;
    bool Clothes;      // +20 before anything else, fixed trace raise, drawn fading step
    int32_t StampBase; // stamp level: StampBase + Random(StampRange)
    int32_t StampRange;
    int32_t Shade;        // ShadeDrop amount
    long double SpeedDiv; // Speed: Random(100) / SpeedDiv + DS
};

void TDropField::StickyHit(int i, const StickyHitRule& rule) {
    TDrop& d = FDrops[i];
    const int32_t ds = DripSpeed();
    if (rule.Clothes) d.Alpha = d.Alpha + 20;
    if (d.Alpha > 250) d.Alpha = 250;
    if (Options.Traces) {
        Stamp(i, rule.StampBase + Random(rule.StampRange), *FBitmaps.Trace);
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

void TDropField::HitKami(int i) {
    StickyHit(i, {ptKami, false, 180, 70, 5, 200.0L});
}
void TDropField::HitHa(int i) {
    StickyHit(i, {ptHa, false, 240, 15, 1, 200.0L});
}
void TDropField::HitFuku(int i) {
    StickyHit(i, {ptFuku, true, 150, 100, 2, 100.0L});
}

// --- Drips

void TDropField::MoveDrip(int i) {
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
    int32_t part = GetMaskValue(*FBitmaps.Mask, d.X, d.Y);
    // Values above 7 are no part: the drop trickles as on part 0 instead of freezing or
    // turning into a falling drop.
    if (part > ptFuku) part = ptNasi;
    d.Part = part;
    if (d.Part != old && Random(10) > 6) EmitDrops(d.X, d.Y, d.X, d.Y, 1, 1);
}

struct TDropField::CommonDripRule {
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

// About every ten frames a drip takes a new velocity; hair and clothes may shade on the way.
void TDropField::TurnDrip(int i, const CommonDripRule& rule) {
    TDrop& d = FDrops[i];
    const int32_t ds = DripSpeed();
    const bool hair = rule.Part == ptKami;
    const bool clothes = rule.kind == CommonDripRule::Clothes;
    if ((hair || clothes) && Options.Traces && Random(10) > 8) ShadeDrop(i, 1);
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

void TDropField::CommonDrip(int i, const CommonDripRule& rule) {
    TDrop& d = FDrops[i];
    const int32_t ds = DripSpeed();
    const bool traces = Options.Traces;
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
    PlaceDrip(d);
    d.Alpha = static_cast<int32_t>(Round(d.FloatAlpha));

    d.Dist = d.Dist + 1;
    if (d.Dist > 10) TurnDrip(i, rule);

    if (d.Alpha > 255) {
        if (rule.kind != CommonDripRule::Smooth && traces) {
            d.Alpha = 240 + Random(15);
            Stamp(i, d.Alpha, *FBitmaps.Trace);
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
    const TBitmap* base = FBitmaps.Trace;
    if (clothes && Random(10) >= 6) base = FBitmaps.Picture; // wipes the traces under it
    Stamp(i, rule.LevelBase + Random(rule.LevelRange), *base);
    if (rule.DsTest && ds <= 0) return;
    if (Random(100) > rule.U) ShadeDrop(i, 1);
}

void TDropField::DripKami(int i) {
    CommonDrip(i, {ptKami, CommonDripRule::Sticky, 0, 0, 80, 240, 15, true, 80});
}
void TDropField::DripHa(int i) {
    CommonDrip(i, {ptHa, CommonDripRule::Sticky, 0, 0, 90, 240, 15, false, 80});
}
void TDropField::DripFuku(int i) {
    CommonDrip(i, {ptFuku, CommonDripRule::Clothes, 0, 0, 90, 240, 15, true, 80});
}
void TDropField::DripHada(int i) {
    CommonDrip(i, {ptHada, CommonDripRule::Smooth, 500, 0.3L, 90, 235, 20, true, 90});
}
void TDropField::DripHana(int i) {
    CommonDrip(i, {ptHana, CommonDripRule::Smooth, 300, 1.0L, 92, 240, 15, true, 80});
}
void TDropField::DripKuti(int i) {
    CommonDrip(i, {ptKuti, CommonDripRule::Smooth, 1000, 0.2L, 92, 200, 50, true, 80});
}

// A drip faded past 255 ends; a live one leaves a stamp now and then while traces are on.
void TDropField::EndOrStamp(int i, int32_t Chance, int32_t LevelBase, int32_t LevelRange) {
    TDrop& d = FDrops[i];
    if (d.Alpha > 255) {
        d.State = 0;
        return;
    }
    if (Options.Traces && Random(100) > Chance)
        Stamp(i, LevelBase + Random(LevelRange), *FBitmaps.Trace);
}

void TDropField::DripMe(int i) {
    TDrop& d = FDrops[i];
    const int32_t ds = DripSpeed();
    d.FloatX = d.FloatX + d.VX;
    d.FloatY = d.FloatY + 0.6L;
    d.AlphaStep = ds;
    d.FloatAlpha = d.FloatAlpha + d.AlphaStep;
    PlaceDrip(d);
    d.Alpha = d.Alpha + 5;
    EndOrStamp(i, 90, 245, 10);
}

void TDropField::DripNasi(int i) {
    TDrop& d = FDrops[i];
    if (Random(100) > 95) d.FloatX = d.FloatX + Random(3) - 1;
    d.FloatY = d.FloatY + Random(2) + 1.5L;
    d.AlphaStep = Random(3) + 3;
    d.FloatAlpha = d.FloatAlpha + d.AlphaStep;
    PlaceDrip(d);
    d.Alpha = static_cast<int32_t>(Round(d.FloatAlpha));
    EndOrStamp(i, 95, 240, 15);
}

void TDropField::DripFall(int i) {
    TDrop& d = FDrops[i];
    d.FloatY = d.FloatY + d.Speed + Random(1);
    d.FloatAlpha = d.FloatAlpha + 5 + Random(5);
    PlaceDrip(d);
    d.Alpha = static_cast<int32_t>(Round(d.FloatAlpha));
    if (d.Alpha > 255) d.State = 0;
}

// --- Drawing, traces and shading

// The level a drop is drawn with, or -1 when its colour group has nothing selected.
int32_t TDropField::DrawLevel(const TDrop& d) const {
    if (d.State == 1) {
        switch (Options.EmissionColor) {
        case 0:
            return 240 + Random(10);
        case 1:
            return 205 + Random(10);
        case 2:
            return d.Alpha;
        default:
            return -1;
        }
    }
    switch (Options.DripColor) {
    case 0:
        return d.Alpha > 235 ? d.Alpha : 235 + Random(10);
    case 1:
        return d.Alpha > 215 ? d.Alpha : 215 + Random(10);
    case 2:
        return d.Alpha;
    default:
        return -1;
    }
}

void TDropField::DrawDrops(TBitmap& Screen) {
    const TBitmap& sprite = *FBitmaps.Sprite;
    for (int i = 0; i < FDropsInUse; ++i) {
        const TDrop& d = FDrops[i];
        if (d.State == 0) continue;
        const int32_t level = DrawLevel(d);
        if (level < 0) continue;
        BlendBitmap24(d.X, d.Y, Screen, Screen, sprite, static_cast<uint16_t>(level));
    }
}

void TDropField::Stamp(int i, int32_t Level, const TBitmap& Base) {
    const TDrop& d = FDrops[i];
    BlendBitmap24(d.X, d.Y, *FBitmaps.Trace, Base, *FBitmaps.Sprite, static_cast<uint16_t>(Level));
}

void TDropField::ShadeDrop(int i, int32_t Amount) {
    const int32_t amount = EmitAmount();
    if (amount > 5 && Random(amount) > amount / 3) return;
    const TDrop& d = FDrops[i];
    const int32_t w = FBitmaps.Sprite->Width(), h = FBitmaps.Sprite->Height();
    const TRect r = Rect(0, 0, w, h);
    TBitmap& trace = *FBitmaps.Trace;
    DarkenRect(d.X, d.Y, r, trace, 2 * Amount);
    DarkenRect(d.X, d.Y - h, r, trace, Amount);
    DarkenRect(d.X - w, d.Y, r, trace, Amount);
    DarkenRect(d.X + w, d.Y, r, trace, Amount);
    DarkenRect(d.X, d.Y + h, r, trace, Amount);
    LightenRect(d.X, d.Y, Rect(0, 0, 2, 2), trace, 3 * Amount);
}

void TDropField::DarkenRect(int32_t X, int32_t Y, const TRect& R, TBitmap& Bitmap, int32_t Amount) {
    if (Amount < 1) return;
    TRect block;
    if (!ShadeBlock(X, Y, R, Bitmap, block)) return;
    SubtractBytes(block, Bitmap, static_cast<uint8_t>(std::min(Amount, 255)));
}

void TDropField::LightenRect(int32_t X, int32_t Y, const TRect& R, TBitmap& Bitmap,
                             int32_t Amount) {
    if (Amount < 1) return;
    TRect block;
    if (!ShadeBlock(X, Y, R, Bitmap, block)) return;
    AddBytes(block, Bitmap, static_cast<uint8_t>(std::min(Amount, 255)));
}
