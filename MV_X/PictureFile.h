// The picture loading rule shared by both programs: a picture file into a 24-bit bitmap.
#pragma once

#include <string>

class TBitmap;

// Loads FileName into Bitmap, which ends 24-bit. Windows bitmaps for now; the PNG and JPEG
// decoders join by extension when they arrive.
void LoadPictureFile(const std::string& FileName, TBitmap& Bitmap);
