// Showing bitmaps on the screen and taking pictures from Qt images.
#pragma once

#include <QImage>

class TBitmap;

// A QImage over the bitmap's pixels (no copy for 24 bits; other formats are converted).
// The image is valid while the bitmap keeps its size and format.
QImage BitmapToQImage(const TBitmap& bitmap);
// The same for the part Area of the bitmap (inside it): no copy for 24 bits, other formats
// convert that part only.
QImage BitmapToQImage(const TBitmap& bitmap, const QRect& area);
// The bitmap becomes a 24-bit copy of the image (alpha dropped).
void AssignQImage(TBitmap& bitmap, const QImage& image);
