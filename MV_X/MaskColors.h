// The part colours of the mask editor: each part value painted as a colour whose channels are
// 0 or 250, and the conversions between an 8-bit mask and a 24-bit colour bitmap.
#pragma once

#include "platform/graphics/Types.h"

#include <array>
#include <cstdint>
#include <optional>

class TBitmap;

inline constexpr int PartColorCount = 8;

// Paint colour (0x00BBGGRR) of part value 0 to 7.
inline constexpr std::array<TColor, PartColorCount> PartColors = {
    0, 250, 64000, 16384000, 64250, 16384250, 16448000, 16448250};
// Caption colour of each part's button in the form.
inline constexpr std::array<TColor, PartColorCount> PartCaptionColors = {
    0, 250, 32768, 16384000, 33023, 16384250, 12615680, 8421504};
// Values 8 to 255 have no part and are shown in white.
inline constexpr TColor NoPartColor = 0xFFFFFF;

// The part whose paint colour is exactly Color.
std::optional<uint8_t> PartOfColor(TColor Color);

// Every pixel of the 24-bit Colors := the colour of the value at the same place of the 8-bit
// Mask, over Mask's size. Colors must be at least as large.
void MaskToColors(const TBitmap& Mask, TBitmap& Colors);
// Every byte of Mask := the part painted at the same place of Colors, 0 for any other colour.
void ColorsToMask(TBitmap& Mask, const TBitmap& Colors);
