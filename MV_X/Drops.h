// The liquid-drop simulation: the drop table, emission, flight, landing on the parts of the
// mask, drips, trace stamps and shading, and drawing the drops onto a screen picture. Plain
// simulation and pixel work on bitmaps it is given: no window, so benchmarks and fuzzing use it
// as it stands. Every random draw is made in a fixed order: the effect replays exactly from the
// same seed.
#pragma once

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Types.h"

#include <array>
#include <cstdint>

// One liquid drop. Flying (State 1): X, Y move from Start toward Target along Angle by Speed
// per frame, Dist counting the way. Dripping (State 2): FloatX, FloatY move by VX, Speed;
// FloatAlpha fades by AlphaStep; Dist counts frames up to the next change of velocity.
// State 0 is a free slot. Alpha is the blend level the drop is drawn with.
struct TDrop {
    int32_t X;
    int32_t Y;
    int32_t State;
    int32_t Part;
    int32_t Alpha;
    int32_t StartX;
    int32_t StartY;
    int32_t TargetX;
    int32_t TargetY;
    long double Angle;
    long double FloatX;
    long double FloatY;
    long double Dist;
    long double Speed;
    long double VX;
    long double AlphaStep;
    long double FloatAlpha;
};

inline constexpr int DropCount = 10000;

// Part values of the mask; 8 marks a free-falling drop.
enum TPart : int32_t {
    ptNasi = 0,
    ptKami = 1,
    ptMe = 2,
    ptHana = 3,
    ptKuti = 4,
    ptHa = 5,
    ptHada = 6,
    ptFuku = 7,
    ptFall = 8,
};

// The player's choices, each the selected item of its radio group (-1 for none); the defaults
// are the window's own at start.
struct TDropOptions {
    int32_t Amount = 2;        // drops per emission: 1, 3, 5, 8, 15
    int32_t EmissionSpeed = 2; // fastest to slowest
    int32_t EmissionColor = 2; // flying drops: light, less light, their own alpha
    int32_t DripSpeed = 2;     // fastest to still
    int32_t DripColor = 2;     // dripping drops: light, less light, their own alpha
    bool Traces = true;        // drops leave traces on the trace picture
};

// What the simulation works on; the owner keeps them alive while it runs.
struct TDropBitmaps {
    const TBitmap* Picture = nullptr; // the clean picture: clothes drips wipe traces back to it
    TBitmap* Trace = nullptr;         // the picture with its traces: stamps and shading go here
    const TBitmap* Mask = nullptr;    // 8-bit part values of the picture
    const TBitmap* Sprite = nullptr;  // the 24-bit drop sprite
};

// About 2 MB with its table: owners keep it on the heap.
class TDropField {
public:
    TDropOptions Options;

    void SetBitmaps(const TDropBitmaps& Bitmaps) { FBitmaps = Bitmaps; }

    // A slot to read or fill: the frame's passes reach it.
    TDrop& Drop(int i);
    // One past the last slot that may be live; 0 when the table is empty.
    int DropsInUse() const { return FDropsInUse; }

    // Table and emission. Mode 0 throws flying drops from the origin toward the target, mode 1
    // lets free-falling drops go at the origin.
    void ClearDrops();
    void EmitDrops(int32_t TargetX, int32_t TargetY, int32_t OriginX, int32_t OriginY, int32_t Mode,
                   int32_t Count);
    // One throw of the selected amount, as the automatic emission makes it each time.
    void AutoEmit(int32_t TargetX, int32_t TargetY, int32_t OriginX, int32_t OriginY);
    void UpdateDrops();
    int32_t EmitAmount() const;
    int32_t DripSpeed() const;

    // Flight and landing.
    void MoveFlyingDrop(int i);
    void HitNone(int i);
    void HitKami(int i);
    void HitMe(int i);
    void HitHana(int i);
    void HitKuti(int i);
    void HitHa(int i);
    void HitHada(int i);
    void HitFuku(int i);

    // Drips by part.
    void MoveDrip(int i);
    void DripNasi(int i);
    void DripKami(int i);
    void DripMe(int i);
    void DripHana(int i);
    void DripKuti(int i);
    void DripHa(int i);
    void DripHada(int i);
    void DripFuku(int i);
    void DripFall(int i);

    // Drawing, traces and shading.
    void DrawDrops(TBitmap& Screen);
    void ShadeDrop(int i, int32_t Amount);
    // Inclusive rectangles; R gives only the block's size.
    static void DarkenRect(int32_t X, int32_t Y, const TRect& R, TBitmap& Bitmap, int32_t Amount);
    static void LightenRect(int32_t X, int32_t Y, const TRect& R, TBitmap& Bitmap, int32_t Amount);

private:
    struct StickyHitRule;
    struct CommonDripRule;

    void EmissionSpeed(TDrop& d) const;
    void Stamp(int i, int32_t Level, const TBitmap& Base);
    void SmoothHit(int i, int32_t Part);
    void StickyHit(int i, const StickyHitRule& rule);
    void CommonDrip(int i, const CommonDripRule& rule);
    void TurnDrip(int i, const CommonDripRule& rule);
    void EndOrStamp(int i, int32_t Chance, int32_t LevelBase, int32_t LevelRange);
    int32_t DrawLevel(const TDrop& d) const;

    std::array<TDrop, DropCount> FDrops{};
    // One past the last slot that may be live: the frame's passes over the table stop there.
    int FDropsInUse = 0;
    TDropBitmaps FBitmaps;
};
