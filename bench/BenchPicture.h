// A test picture for the player's benchmarks, without a window.
#pragma once

#include "platform/graphics/Bitmap.h"

#include <cstdint>

// A 24-bit 640 x 480 picture whose bytes change from pixel to pixel.
inline void BenchPicture(TBitmap& b) {
    b.SetPixelFormat(pf24bit);
    b.SetSize(640, 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640 * 3; ++x)
            b.ScanLine(y)[x] = static_cast<uint8_t>(x ^ y);
}
