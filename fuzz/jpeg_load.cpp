// JPEG decoding from memory: any input either loads or raises EInvalidGraphic; a loaded picture
// gives a 24-bit bitmap of its size and saves exactly the bytes it was loaded from.
#include "platform/classes/Classes.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Jpeg.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream input;
    input.WriteBuffer(data, static_cast<int64_t>(size));
    input.SetPosition(0);
    TJPEGImage jpeg;
    try {
        jpeg.LoadFromStream(input);
    } catch (const EInvalidGraphic&) {
        return 0;
    }
    TBitmap bitmap;
    bitmap.Assign(&jpeg);
    if (jpeg.Empty() || bitmap.Width() != jpeg.Width() || bitmap.Height() != jpeg.Height() ||
        bitmap.PixelFormat() != pf24bit)
        std::abort();
    TMemoryStream saved;
    jpeg.SaveToStream(saved);
    if (saved.Size() != static_cast<int64_t>(size) || std::memcmp(saved.Memory(), data, size) != 0)
        std::abort();
    return 0;
}
