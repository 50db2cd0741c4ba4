#include "MV_X/PictureFile.h"

#include "platform/graphics/Bitmap.h"

void LoadPictureFile(const std::string& FileName, TBitmap& Bitmap) {
    Bitmap.LoadFromFile(FileName);
    Bitmap.SetPixelFormat(pf24bit);
}
