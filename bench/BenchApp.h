// What the player's benchmarks share: the application object, offscreen, with every box
// answered at once (the start-up's missing-sprite box), so no window waits; and a test picture.
#pragma once

#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/graphics/Bitmap.h"

#include <cstdint>

inline TApplication& BenchApplication() {
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    static auto* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        SetDialogAnswerer([](const DialogRequest&) { return DialogAnswer{mrOk, false, {}}; });
        return new TApplication(argc, argv);
    }();
    return *app;
}

// A 24-bit 640 x 480 picture whose bytes change from pixel to pixel.
inline void BenchPicture(TBitmap& b) {
    b.SetPixelFormat(pf24bit);
    b.SetSize(640, 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640 * 3; ++x)
            b.ScanLine(y)[x] = static_cast<uint8_t>(x ^ y);
}
