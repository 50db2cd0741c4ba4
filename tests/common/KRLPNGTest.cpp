// The PNG picture class, its place in the picture registry, and PNG files into bitmaps.
#include "common/KRLPNG.h"

#include "PngBuilder.h"
#include "common/Qmlib2002.h"
#include "platform/rtl/SysUtils.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace png_builder;

namespace {

// A file in a fresh temporary folder, removed with it.
class TempFile {
public:
    explicit TempFile(const std::string& name)
        : dir_(std::filesystem::temp_directory_path() /
               ("krlpng-" + std::to_string(::getpid()) + "-" + name)) {
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / name).string();
    }
    ~TempFile() { std::filesystem::remove_all(dir_); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return path_; }
    void Write(const Bytes& data) const {
        TFileStream f(path_, fmCreate);
        f.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    }

private:
    std::filesystem::path dir_;
    std::string path_;
};

// A 2 x 1 palette picture (red, blue) whose second entry is fully transparent.
Png KeyedPalette() {
    Png png;
    png.IHDR(2, 1, 8, 3).Chunk("PLTE", {255, 0, 0, 0, 0, 255}).Chunk("tRNS", {255, 0});
    png.Text("Comment", "keyed").Rows({{0, 1}}).IEND();
    return png;
}

Png RGBA() {
    return Png().IHDR(1, 2, 8, 6).Rows({{10, 20, 30, 0}, {40, 50, 60, 255}}).IEND();
}

void LoadInto(TKRLPNG& picture, const Png& png) {
    TMemoryStream stream;
    png.WriteTo(stream);
    picture.LoadFromStream(stream);
}

TEST(KRLPNGRegistry, PicturesLoadPngFilesByExtensionInAnyCase) {
    bool listed = false;
    for (const auto& format : TPicture::FileFormats())
        listed |= SameText(format.extension, "png") && format.description == "PNG Format";
    EXPECT_TRUE(listed);
    for (const std::string name : {"a.png", "b.PNG"}) {
        TempFile file(name);
        file.Write(KeyedPalette().Data());
        TPicture picture;
        picture.LoadFromFile(file.Path());
        ASSERT_NE(picture.Graphic(), nullptr);
        EXPECT_EQ(picture.Graphic()->ClassName(), "TKRLPNG");
        EXPECT_EQ(picture.Width(), 2);
    }
}

TEST(KRLPNGPicture, LoadingTakesTheFilesDataAndSyncsTransparencyOnce) {
    TKRLPNG picture;
    int changes = 0;
    picture.OnChange = [&](TObject*) { ++changes; };
    LoadInto(picture, KeyedPalette());
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(picture.Transparent());
    EXPECT_EQ(picture.TransColor, 0x01000001);
    EXPECT_EQ(picture.Comment, "keyed\r\n");
    EXPECT_EQ(picture.BitDepth, 8);
    EXPECT_FALSE(picture.HasAlpha);
    EXPECT_FALSE(picture.GrayScale);

    LoadInto(picture, RGBA());
    EXPECT_TRUE(picture.HasAlpha);
    EXPECT_FALSE(picture.Transparent());
    EXPECT_EQ(picture.AlphaBitmap().ScanLine(0)[0], 255);
    EXPECT_EQ(picture.AlphaBitmap().ScanLine(1)[0], 0);
    EXPECT_EQ(picture.Comment, "");
}

TEST(KRLPNGPicture, AFailedLoadKeepsTheProperties) {
    TKRLPNG picture;
    LoadInto(picture, KeyedPalette());
    TBitmap& image = picture.ImageBitmap();
    bool restored = false;
    image.OnProgress = [&](TObject*, TProgressStage, uint8_t, bool, const TRect&,
                           const std::string&) { restored = true; };
    int pictureReports = 0;
    picture.OnProgress = [&](TObject*, TProgressStage, uint8_t, bool, const TRect&,
                             const std::string&) { ++pictureReports; };
    Png broken = Png().IHDR(1, 1, 8, 0).Chunk("IDAT", {1, 2, 3});
    EXPECT_THROW(LoadInto(picture, broken), EKRLPNG);
    EXPECT_GT(pictureReports, 0);
    EXPECT_EQ(picture.Comment, "keyed\r\n");
    EXPECT_EQ(picture.TransColor, 0x01000001);
    // The bitmap's own handler is back.
    image.Progress(&image, psRunning, 1, false, {}, "");
    EXPECT_TRUE(restored);
}

TEST(KRLPNGPicture, AssignCopiesPicturesAndKeepsReadSettings) {
    TKRLPNG source;
    LoadInto(source, RGBA());
    source.Comment = "source";
    source.IDATSize = 1000;
    source.RowKey = "source key";
    source.BitDepth = 48;

    TKRLPNG copy;
    copy.RowKey = "mine";
    copy.ReadHighColor = true;
    copy.Assign(&source);
    EXPECT_EQ(copy.Width(), 1);
    EXPECT_EQ(copy.AlphaBitmap().ScanLine(0)[0], 255);
    EXPECT_EQ(copy.Comment, "source");
    EXPECT_EQ(copy.IDATSize, 1000);
    EXPECT_EQ(copy.RowKey, "mine");
    EXPECT_TRUE(copy.ReadHighColor);
    EXPECT_EQ(copy.BitDepth, 0);

    TBitmap plain;
    plain.SetPixelFormat(pf24bit);
    plain.SetSize(7, 3);
    copy.Assign(&plain);
    EXPECT_EQ(copy.Width(), 7);
    EXPECT_EQ(copy.Comment, "source");

    TBitmap target;
    target.Assign(&copy);
    EXPECT_EQ(target.Width(), 7);
    EXPECT_THROW(copy.Assign(nullptr), EConvertError);
}

TEST(KRLPNGPicture, ResizingLeavesAnEmptyAlphaAlone) {
    TKRLPNG picture;
    LoadInto(picture, KeyedPalette());
    picture.SetWidth(5);
    EXPECT_EQ(picture.Width(), 5);
    EXPECT_TRUE(picture.AlphaBitmap().Empty());
    LoadInto(picture, RGBA());
    picture.SetHeight(4);
    EXPECT_EQ(picture.AlphaBitmap().Height(), 4);
}

TEST(KRLPNGPicture, FormDataIsThePngStream) {
    TKRLPNG picture;
    TBitmap external;
    picture.SetImageBitmap(&external);
    TMemoryStream stream;
    Png().IHDR(3, 1, 8, 0, 1).IDAT({0, 1, 0, 3, 0, 2}).IEND().WriteTo(stream);
    int changes = 0;
    picture.OnChange = [&](TObject*) { ++changes; };
    picture.ReadData(stream);
    EXPECT_TRUE(external.Empty());
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_EQ(picture.ImageBitmap().ScanLine(0)[1], 2);
    EXPECT_FALSE(picture.Interlaced);
    EXPECT_EQ(changes, 2);
}

TEST(LoadPNGToBitmap, GivesTwentyFourBitsOrLeavesTheBitmapAlone) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf8bit);
    bitmap.SetSize(4, 4);
    EXPECT_FALSE(LoadPNGToBitmap("/nonexistent/none.png", bitmap));
    TempFile notPng("not.png");
    notPng.Write({'B', 'M', 0, 0, 0, 0});
    EXPECT_FALSE(LoadPNGToBitmap(notPng.Path(), bitmap));
    EXPECT_EQ(bitmap.Width(), 4);
    EXPECT_EQ(bitmap.PixelFormat(), pf8bit);

    TempFile mono("mono.png");
    mono.Write(Png().IHDR(9, 2, 1, 0).Rows({{0x80, 0x80}, {0x7F, 0x00}}).IEND().Data());
    ASSERT_TRUE(LoadPNGToBitmap(mono.Path(), bitmap));
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
    EXPECT_EQ(bitmap.Width(), 9);
    EXPECT_EQ(bitmap.Height(), 2);
    EXPECT_EQ(bitmap.PixelColor(0, 0), clWhite);
    EXPECT_EQ(bitmap.PixelColor(8, 0), clWhite);
    EXPECT_EQ(bitmap.PixelColor(0, 1), clBlack);

    // Alpha is dropped: a fully transparent pixel keeps its colour.
    TempFile alpha("alpha.png");
    alpha.Write(RGBA().Data());
    ASSERT_TRUE(LoadPNGToBitmap(alpha.Path(), bitmap));
    EXPECT_EQ(bitmap.PixelColor(0, 0), RGB(10, 20, 30));
}

} // namespace
