// Scenes for the drop simulation: solid bitmaps, drops set by hand, and the simulation on
// bitmaps of its own without a window.
#pragma once

#include "MV_X/Drops.h"
#include "platform/graphics/Bitmap.h"
#include "platform/rtl/System.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>

// A 24-bit bitmap of one colour.
inline std::unique_ptr<TBitmap> Solid(int w, int h, uint8_t b, uint8_t g, uint8_t r) {
    auto bmp = std::make_unique<TBitmap>();
    bmp->SetPixelFormat(pf24bit);
    bmp->SetSize(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* p = bmp->ScanLine(y);
        for (int x = 0; x < w; ++x) {
            p[3 * x] = b;
            p[3 * x + 1] = g;
            p[3 * x + 2] = r;
        }
    }
    return bmp;
}

inline uint8_t Blue(const TBitmap& b, int x, int y) {
    return b.ScanLine(y)[3 * x];
}

// A flying drop far from its target.
inline void Flying(TDrop& d, int x, int y, int alpha) {
    d = TDrop{};
    d.State = 1;
    d.X = x;
    d.Y = y;
    d.TargetX = 1000;
    d.Alpha = alpha;
}

// A drop dripping on skin.
inline void Dripping(TDrop& d, int x, int y, int alpha) {
    d = TDrop{};
    d.State = 2;
    d.Part = ptHada;
    d.X = x;
    d.Y = y;
    d.Alpha = alpha;
}

class DropFieldTest : public ::testing::Test {
protected:
    // A picture of W x H: clean picture, trace and screen of one grey, a mask of one part, and
    // a sprite of SW x SH of another grey; the table empty, the window's first options, and
    // the seed at 0.
    TDropField& Field(int w, int h, uint8_t part, int sw = 4, int sh = 4) {
        picture = Solid(w, h, 100, 100, 100);
        trace = Solid(w, h, 100, 100, 100);
        screen = Solid(w, h, 100, 100, 100);
        sprite = Solid(sw, sh, 200, 200, 200);
        mask = std::make_unique<TBitmap>();
        mask->SetPixelFormat(pf8bit);
        mask->SetSize(w, h);
        for (int y = 0; y < h; ++y)
            std::memset(mask->ScanLine(y), part, static_cast<size_t>(w));
        field = std::make_unique<TDropField>();
        field->SetBitmaps({picture.get(), trace.get(), mask.get(), sprite.get()});
        RandSeed = 0;
        return *field;
    }

    std::unique_ptr<TBitmap> picture, trace, screen, mask, sprite;
    std::unique_ptr<TDropField> field;
};
