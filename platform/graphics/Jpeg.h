// TJPEGImage: a JPEG picture, decoded by libjpeg into a 24-bit bitmap.
#pragma once

#include "platform/graphics/Graphic.h"
#include "platform/rtl/Exceptions.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A JPEG file that cannot be decoded; the message is libjpeg's own text where it has one.
class EJPEG : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

namespace Msg {
inline constexpr const char* JPEGTooLarge = "JPEG image is too large";
inline constexpr const char* JPEGTooManyScans = "JPEG file has too many scans";
inline constexpr const char* JPEGColorSpace = "Unsupported JPEG color space";
} // namespace Msg

class TJPEGImage : public TGraphic {
public:
    TJPEGImage();
    ~TJPEGImage() override;

    static std::string StaticClassName() { return "TJPEGImage"; }
    std::string ClassName() const override { return StaticClassName(); }

    // Another JPEG picture is copied; none empties.
    void Assign(const TGraphic* source) override;
    // A TBitmap takes the decoded picture (24-bit); so does another TJPEGImage.
    bool AssignTo(TGraphic& dest) const override;

    // Stretches the decoded picture over the rectangle.
    void Draw(TCanvas& canvas, const TRect& rect) const override;
    bool Empty() const override;
    int Width() const override;
    int Height() const override;
    // The size is the file's.
    void SetWidth(int) override {}
    void SetHeight(int) override {}

    // Reads the stream from its position to its end and decodes it: baseline, progressive,
    // grey, CMYK and YCCK files. A file that cannot be decoded, or that ends before its picture
    // does, raises EJPEG and leaves the picture as it was.
    void LoadFromStream(TStream& stream) override;
    // Writes the JPEG data as it was loaded, without recompressing; an empty picture writes
    // nothing.
    void SaveToStream(TStream& stream) override;

private:
    std::vector<uint8_t> data_;
    std::unique_ptr<TBitmap> bitmap_;
};

// The file formats TPicture's registry starts with: "jpg" and "jpeg". The registry asks for them
// itself, so every program that links TPicture loads JPEG files by name; a static registrar
// would be dropped by the linker from a program that never names TJPEGImage.
std::vector<TPicture::FileFormat> JPEGFileFormats();
