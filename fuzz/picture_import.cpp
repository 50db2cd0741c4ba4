// The picture loader of an import, through a file as the player reads it: the input under each
// name the decoders are chosen by. Any input either loads as a non-empty 24-bit bitmap or
// raises, and a bitmap that failed to load keeps what it held.
#include "FuzzFiles.h"
#include "common/PictureFile.h"
#include "platform/graphics/Bitmap.h"
#include "platform/rtl/Exceptions.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (fuzz_files::ClaimsHugeBitmap(bytes)) return 0;
    for (const char* name : {"import.png", "import.jpg", "import.bmp"}) {
        const std::string path = fuzz_files::Put(name, bytes);
        TBitmap bitmap;
        bitmap.SetPixelFormat(pf24bit);
        bitmap.SetSize(2, 1);
        bitmap.ScanLine(0)[0] = 0x5A;
        try {
            LoadPictureFile(path, bitmap);
        } catch (const Exception&) {
            if (bitmap.Width() != 2 || bitmap.Height() != 1 || bitmap.ScanLine(0)[0] != 0x5A)
                std::abort();
            continue;
        }
        if (bitmap.Empty() || bitmap.PixelFormat() != pf24bit) std::abort();
    }
    return 0;
}
