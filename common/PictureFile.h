// The picture loading rule shared by both programs: a picture file into a 24-bit bitmap.
#pragma once

#include <string>

class TBitmap;

namespace Msg {
inline constexpr const char* PNGLoadError = "PNG ファイル %s を読み込めません";
inline constexpr const char* JPEGLoadError = "JPEG ファイル %s を読み込めません";
inline constexpr const char* BitmapLoadError = "ビットマップファイル %s を読み込めません";
} // namespace Msg

// Loads FileName into Bitmap, which ends 24-bit, choosing the decoder by the extension without
// regard to case: ".png" the image library's PNG reader, ".jpg" and ".jpeg" the JPEG picture
// class, anything else as a Windows bitmap. A file that cannot be decoded raises, and Bitmap
// keeps what it held: a PNG failure too, so that no caller goes on with the earlier picture
// as if it were the file's. The message names the file and the decoder's reason.
void LoadPictureFile(const std::string& FileName, TBitmap& Bitmap);
// Loads the Windows bitmap FileName into Bitmap in the file's own format (a mask, a
// thumbnail); a failure names the file and the reason, as LoadPictureFile's do.
void LoadBitmapFile(const std::string& FileName, TBitmap& Bitmap);
