#include "common/PictureFile.h"

#include "common/Qmlib2002.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Canvas.h"
#include "platform/graphics/Jpeg.h"
#include "platform/rtl/SysUtils.h"

void LoadPictureFile(const std::string& FileName, TBitmap& Bitmap) {
    const std::string ext = LowerCase(ExtractFileExt(FileName));
    if (ext == ".png") {
        if (!LoadPNGToBitmap(FileName, Bitmap))
            throw EInvalidGraphic(Format(Msg::PNGLoadError, FileName));
    } else if (ext == ".jpg" || ext == ".jpeg") {
        TJPEGImage jpeg;
        jpeg.LoadFromFile(FileName);
        Bitmap.SetWidth(jpeg.Width());
        Bitmap.SetHeight(jpeg.Height());
        Bitmap.SetPixelFormat(pf24bit);
        Bitmap.Canvas().Draw(0, 0, jpeg);
    } else {
        Bitmap.LoadFromFile(FileName);
    }
    Bitmap.SetPixelFormat(pf24bit);
}
