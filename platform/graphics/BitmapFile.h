// Windows bitmap files (BMP). BitmapFile.cpp holds the reader of every header version and depth
// and TBitmap's two file members, LoadFromStream and SaveToStream (bottom-up DIBs); the rest of
// TBitmap is in Bitmap.cpp.
#pragma once

#include "platform/graphics/Bitmap.h"

#include <vector>

// A picture as read from a file, before it replaces a bitmap's: rows top-down in the layout of
// Format, and the colour table of the palette formats.
struct TDibImage {
    int width = 0;
    int height = 0;
    TPixelFormat format = pf24bit;
    TPixelBuffer pixels;
    std::vector<RGBQUAD> colors;
};

// Reads one bitmap file from the stream's position and leaves the stream after it; a damaged
// file raises EInvalidGraphic. The rows go into Storage's memory when it has room enough.
TDibImage ReadBitmapFile(TStream& stream, TPixelBuffer storage = {});
