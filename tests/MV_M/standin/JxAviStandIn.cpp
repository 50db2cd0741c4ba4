// A TJxAvi that writes nothing: the window's tests link against it until the real component is
// built in this tree.
#include "MV_M/JxAvi.h"
#include "platform/graphics/Bitmap.h"

TJxAvi::TJxAvi(QObject* owner) : FOwner(owner) {}
TJxAvi::~TJxAvi() = default;
void TJxAvi::SetFrameRate(int32_t value) {
    FFrameRate = value < 1 ? 1 : value > 30 ? 30 : value;
}
void TJxAvi::SetBitDepth(uint16_t value) {
    FBitDepth = value == 24 ? 24 : 16;
}
bool TJxAvi::Open() {
    return true;
}
bool TJxAvi::AddFrame(TBitmap&) {
    return true;
}
void TJxAvi::Close() {}
void TJxAvi::Rebuild(int32_t) {}
