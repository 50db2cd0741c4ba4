// Small operations on in-memory bitmaps on which all drawing of both programs rests.
// Rectangles here are inclusive: Right and Bottom are the last column and row.
#pragma once

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Types.h"

#include <cstdint>

// Byte of an 8-bit mask bitmap at (X, Y); 0 outside the bitmap.
int32_t GetMaskValue(const TBitmap& Bitmap, int32_t X, int32_t Y);

// Copies SrcRect of the 24-bit Src to Dest with its first column and row at (X, Y), clipped to
// both bitmaps, skipping every pixel whose colour equals Src's pixel (0, 0).
void KeyedCopy(int32_t X, int32_t Y, const TRect& SrcRect, TBitmap& Dest, const TBitmap& Src);

// Copies Dest.Height rows of Dest.Width 24-bit pixels from Src; Src must be at least as large.
void CopyBitmap24(TBitmap& Dest, const TBitmap& Src);

// Blends Overlay, its top-left corner at (X, Y) of Base, into Dest (in Base's coordinates):
// channel := overlay + floor(Level * (base - overlay) / 256), stored modulo 256. Level is the
// weight of the base: 256 gives the base, 0 writes nothing. Dest may be Base itself.
void BlendBitmap24(int32_t X, int32_t Y, TBitmap& Dest, const TBitmap& Base, const TBitmap& Overlay,
                   uint16_t Level);

// ---------------------------------------------------------------- PNG file into a bitmap

#include <string>

// Reads a PNG file into Bitmap as 24 bits per pixel; False on any failure, and Bitmap then
// keeps what it held. The file's alpha and ancillary data are dropped.
bool LoadPNGToBitmap(const std::string& FileName, TBitmap& Bitmap);
// The same, with the reader's message of a failure in Error (emptied on success).
bool LoadPNGToBitmap(const std::string& FileName, TBitmap& Bitmap, std::string& Error);
