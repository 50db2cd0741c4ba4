#include "platform/forms/BitmapImage.h"

#include "platform/graphics/Bitmap.h"

#include <cstring>

QImage BitmapToQImage(const TBitmap& bitmap) {
    if (bitmap.Empty()) return {};
    if (bitmap.PixelFormat() == pf24bit)
        return QImage(bitmap.ScanLine(0), bitmap.Width(), bitmap.Height(), bitmap.RowBytes(),
                      QImage::Format_BGR888);
    TBitmap copy;
    copy.Assign(&bitmap);
    copy.SetPixelFormat(pf24bit);
    return QImage(copy.ScanLine(0), copy.Width(), copy.Height(), copy.RowBytes(),
                  QImage::Format_BGR888)
        .copy();
}

QImage BitmapToQImage(const TBitmap& bitmap, const QRect& area) {
    if (bitmap.Empty() || area.isEmpty()) return {};
    if (bitmap.PixelFormat() != pf24bit) return BitmapToQImage(bitmap).copy(area);
    constexpr int BytesPerPixel = 3;
    return QImage(bitmap.ScanLine(area.y()) + BytesPerPixel * area.x(), area.width(), area.height(),
                  bitmap.RowBytes(), QImage::Format_BGR888);
}

void AssignQImage(TBitmap& bitmap, const QImage& image) {
    const QImage source = image.convertToFormat(QImage::Format_BGR888);
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(source.width(), source.height());
    const size_t rowBytes = static_cast<size_t>(source.width()) * 3;
    for (int y = 0; y < source.height(); ++y)
        std::memcpy(bitmap.ScanLine(y), source.constScanLine(y), rowBytes);
}
