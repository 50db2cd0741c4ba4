#include "common/PictureFile.h"

#include "common/Qmlib2002.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Canvas.h"
#include "platform/graphics/Jpeg.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"

namespace {

std::string WithReason(const char* format, const std::string& FileName, const std::string& reason) {
    return Format(format, FileName) + ": " + reason;
}

void LoadJpeg(const std::string& FileName, TBitmap& Bitmap) {
    TJPEGImage jpeg;
    jpeg.LoadFromFile(FileName);
    Bitmap.SetSize(jpeg.Width(), jpeg.Height());
    Bitmap.SetPixelFormat(pf24bit);
    Bitmap.Canvas().Draw(0, 0, jpeg);
}

// The decoders' own texts name no file (libjpeg's, the bitmap class's "ビットマップイメージが
// 不正です"); a text that already names it (a file that cannot be opened) passes unchanged, and
// so does a shortage of memory, which is no fault of the file.
template <class Load>
void Decode(const char* format, const std::string& FileName, Load load) {
    try {
        load();
    } catch (const EOutOfMemory&) {
        throw;
    } catch (const EOutOfResources&) {
        throw;
    } catch (const Exception& e) {
        if (e.Message().find(FileName) != std::string::npos) throw;
        throw EInvalidGraphic(WithReason(format, FileName, e.Message()));
    }
}

} // namespace

void LoadPictureFile(const std::string& FileName, TBitmap& Bitmap) {
    const std::string ext = LowerCase(ExtractFileExt(FileName));
    if (ext == ".png") {
        std::string reason;
        if (!LoadPNGToBitmap(FileName, Bitmap, reason))
            throw EInvalidGraphic(WithReason(Msg::PNGLoadError, FileName, reason));
    } else if (ext == ".jpg" || ext == ".jpeg") {
        Decode(Msg::JPEGLoadError, FileName, [&] { LoadJpeg(FileName, Bitmap); });
    } else {
        LoadBitmapFile(FileName, Bitmap);
    }
    Bitmap.SetPixelFormat(pf24bit);
}

void LoadBitmapFile(const std::string& FileName, TBitmap& Bitmap) {
    Decode(Msg::BitmapLoadError, FileName, [&] { Bitmap.LoadFromFile(FileName); });
}
