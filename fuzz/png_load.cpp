// PNG reading from memory: any input either loads or raises EKRLPNG (or a stream error); a
// loaded picture has pixels, and its alpha bitmap, when it has one, matches the image's size.
#include "common/KRLPNG.h"
#include "platform/classes/Classes.h"
#include "platform/rtl/Exceptions.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream input;
    input.WriteBuffer(data, static_cast<int64_t>(size));
    input.SetPosition(0);
    TKRLPNG png;
    try {
        png.LoadFromStream(input);
    } catch (const EKRLPNG&) {
        return 0;
    } catch (const EStreamError&) {
        return 0;
    }
    if (png.Empty()) std::abort();
    const TBitmap& alpha = png.AlphaBitmap();
    if (png.HasAlpha && (alpha.Width() != png.Width() || alpha.Height() != png.Height()))
        std::abort();
    return 0;
}
