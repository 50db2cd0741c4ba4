// The area-average resampler: each destination pixel is the mean, over the area it covers in
// the source, of a bilinear surface laid through the source pixels.
#pragma once

#include "platform/graphics/Bitmap.h"

#include <cstdint>
#include <memory>
#include <string>

// Where a resampler reports a source without pixels (its assertion's file and line).
struct TAssertPlace {
    std::string FileName;
    int Line = 0;
};

// A new 24-bit bitmap of NewWidth x NewHeight resampled from Source, which is not changed.
// Raises EAssertionFailed when Source has no pixels, EZeroDivide when a size is 0 and
// EInvalidOp when a size is negative; nothing is created then.
std::unique_ptr<TBitmap> ResampleBitmap(const TBitmap& Source, int32_t NewWidth, int32_t NewHeight);

// The same rule into a bitmap the caller holds: Dest ends as a 24-bit bitmap of exactly
// NewWidth x NewHeight, every pixel written. The failures are those of ResampleBitmap, with the
// assertion naming Place; Dest is not touched by them. Dest may be Src.
void ResampleBitmapInto(TBitmap& Dest, const TBitmap& Src, int32_t NewWidth, int32_t NewHeight,
                        const TAssertPlace& Place);
