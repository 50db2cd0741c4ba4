// Device-independent bitmap records and the row conversion that hands a bitmap's pixels to
// the video services (bottom row first, rows padded to four bytes).
#pragma once

#include <cstdint>

class TBitmap;

// Compression codes of a DIB header.
inline constexpr uint32_t BI_RGB = 0;
inline constexpr uint32_t BI_RLE8 = 1;
inline constexpr uint32_t BI_RLE4 = 2;
inline constexpr uint32_t BI_BITFIELDS = 3;
inline constexpr uint32_t BI_ALPHABITFIELDS = 6;
inline constexpr uint32_t DIB_RGB_COLORS = 0;

// The 40-byte header that describes a DIB and an AVI video stream's format.
struct BITMAPINFOHEADER {
    uint32_t biSize = sizeof(BITMAPINFOHEADER);
    int32_t biWidth = 0;
    int32_t biHeight = 0; // positive: rows bottom-up
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = BI_RGB; // BI_RGB or a compressor's FOURCC
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

// The platform's GetDIBits: converts rows StartScan .. StartScan + ScanLines - 1 (counted from
// the bottom) of Bitmap into Bits in the format Header names (16 bits: RGB555; 24 bits: B, G, R),
// bottom row first, each row padded to four bytes. Returns the number of rows written, 0 on
// failure (a format it cannot produce, no rows).
int GetDIBits(const TBitmap& bitmap, uint32_t startScan, uint32_t scanLines, void* bits,
              const BITMAPINFOHEADER& header, uint32_t usage);
