// BMP reading from memory: any input either loads or raises EInvalidGraphic; a loaded bitmap
// saves and loads back to the same pixels, format and colour table.
#include "platform/classes/Classes.h"
#include "platform/graphics/Bitmap.h"
#include "platform/rtl/Exceptions.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

bool SamePicture(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
        return false;
    // The file's colour table is padded to the full size of the format.
    const auto& ca = a.ColorTable();
    const auto& cb = b.ColorTable();
    for (size_t i = 0; i < cb.size(); ++i)
        if (cb[i] != (i < ca.size() ? ca[i] : RGBQUAD{})) return false;
    const size_t used = (static_cast<size_t>(a.Width()) * a.BitsPerPixel() + 7) / 8;
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), used) != 0) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream input;
    input.WriteBuffer(data, static_cast<int64_t>(size));
    input.SetPosition(0);
    TBitmap bitmap;
    try {
        bitmap.LoadFromStream(input);
    } catch (const EInvalidGraphic&) {
        return 0;
    }
    TMemoryStream saved;
    bitmap.SaveToStream(saved);
    saved.SetPosition(0);
    TBitmap again;
    again.LoadFromStream(saved);
    if (!SamePicture(bitmap, again)) std::abort();
    return 0;
}
