// The colour filter: the picture as loaded, tinted toward a colour mixed on three bars.
#pragma once

#include "platform/graphics/Types.h"

#include <cstdint>

class TBitmap;

inline constexpr int FilterBarMax = 20;

// One channel of the filter colour from its bar position: 12 per step, and full at the end.
uint8_t FilterChannel(int Position);
// The filter colour (0x00BBGGRR) from the positions of the red, green and blue bars.
TColor FilterColor(int R, int G, int B);

// Image := Base tinted toward Color with Strength 0..20: 0 gives Base exactly, 20 gives Color
// everywhere, between them each channel moves Strength * 12 / 256 of the way toward Color.
// Image and Base are 24-bit bitmaps of one size.
void ApplyColorFilter(TBitmap& Image, const TBitmap& Base, int Strength, TColor Color);
