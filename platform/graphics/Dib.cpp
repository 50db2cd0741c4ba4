#include "platform/graphics/Dib.h"

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/PixelRows.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace pixel_rows;

namespace {

// The bitmap format whose rows are laid out as the header's DIB rows.
bool DibRowFormat(const BITMAPINFOHEADER& header, TPixelFormat& format) {
    if (header.biPlanes != 1 || header.biCompression != BI_RGB) return false;
    switch (header.biBitCount) {
    case 16:
        format = pf15bit;
        return true;
    case 24:
        format = pf24bit;
        return true;
    default:
        return false;
    }
}

bool StoresBgrBytes(TPixelFormat format) {
    return StorageBits(format) == 24;
}

} // namespace

int GetDIBits(const TBitmap& bitmap, uint32_t startScan, uint32_t scanLines, void* bits,
              const BITMAPINFOHEADER& header, uint32_t usage) {
    TPixelFormat target = pf24bit;
    if (usage != DIB_RGB_COLORS || !DibRowFormat(header, target)) return 0;
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    if (bits == nullptr || bitmap.Empty() || header.biWidth != width || header.biHeight != height)
        return 0;
    if (startScan >= static_cast<uint32_t>(height)) return 0;
    const uint32_t lines = std::min(scanLines, static_cast<uint32_t>(height) - startScan);

    const size_t dibStride = BitmapRowBytes(static_cast<uint32_t>(width), header.biBitCount);
    const size_t filled = static_cast<size_t>(width) * (header.biBitCount / 8);
    const TPixelFormat source = bitmap.PixelFormat();
    std::vector<uint8_t> bgr(StoresBgrBytes(source) ? 0 : static_cast<size_t>(width) * 3);
    const std::vector<RGBQUAD> noColors;
    NearestIndex nearest(noColors);

    auto* out = static_cast<uint8_t*>(bits);
    for (uint32_t i = 0; i < lines; ++i, out += dibStride) {
        // DIB row 0 is the bottom row of the picture.
        const int row = height - 1 - static_cast<int>(startScan + i);
        const uint8_t* src = bitmap.ScanLine(row);
        if (!StoresBgrBytes(source)) {
            DecodeRow(src, width, source, bitmap.ColorTable(), bgr.data());
            src = bgr.data();
        }
        EncodeRow(src, width, target, nearest, out);
        std::memset(out + filled, 0, dibStride - filled);
    }
    return static_cast<int>(lines);
}
