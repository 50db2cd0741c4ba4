#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Graphic.h"
#include "platform/rtl/Exceptions.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace {

// A graphic that keeps the bytes of its file.
class TBytesGraphic : public TGraphic {
public:
    static std::string StaticClassName() { return "TBytesGraphic"; }
    std::string ClassName() const override { return StaticClassName(); }
    void Draw(TCanvas&, const TRect&) const override {}
    bool Empty() const override { return Bytes.empty(); }
    int Width() const override { return static_cast<int>(Bytes.size()); }
    int Height() const override { return 1; }
    void SetWidth(int) override {}
    void SetHeight(int) override {}
    void LoadFromStream(TStream& stream) override {
        Bytes.resize(static_cast<size_t>(stream.Size() - stream.Position()));
        stream.ReadBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    }
    void SaveToStream(TStream& stream) override {
        stream.WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    }
    std::string Bytes;
};

class TOtherBytesGraphic : public TBytesGraphic {
public:
    static std::string StaticClassName() { return "TOtherBytesGraphic"; }
    std::string ClassName() const override { return StaticClassName(); }
};

std::string WriteFile(const std::string& name, const std::string& bytes) {
    const std::string path = ::testing::TempDir() + "/" + name;
    TFileStream f(path, fmCreate);
    f.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    return path;
}

std::string SavedBitmap(int width) {
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(width, 2);
    TMemoryStream s;
    b.SaveToStream(s);
    return {reinterpret_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size())};
}

} // namespace

TEST(Picture, LoadsBitmapsByExtensionWithoutRegardToCase) {
    for (const char* name : {"p.bmp", "p.BMP", "p.Bmp"}) {
        const std::string path = WriteFile(name, SavedBitmap(3));
        TPicture picture;
        int changes = 0;
        picture.OnChange = [&](TObject*) { ++changes; };
        picture.LoadFromFile(path);
        ASSERT_NE(dynamic_cast<TBitmap*>(picture.Graphic()), nullptr) << name;
        EXPECT_EQ(picture.Width(), 3);
        EXPECT_EQ(changes, 1);
        std::remove(path.c_str());
    }
}

TEST(Picture, UnknownExtensionsAndBadFilesRaiseAndKeepThePicture) {
    TPicture picture;
    const std::string good = WriteFile("keep.bmp", SavedBitmap(4));
    picture.LoadFromFile(good);
    for (const char* name : {"x.xyz", "noextension", "bad.bmp"}) {
        const std::string path = WriteFile(name, "not a picture");
        EXPECT_THROW(picture.LoadFromFile(path), EInvalidGraphic) << name;
        EXPECT_EQ(picture.Width(), 4);
        std::remove(path.c_str());
    }
    std::remove(good.c_str());
}

TEST(Picture, RegisteredClassesLoadTheirExtensionUntilUnregistered) {
    const TGraphicClass bytes = GraphicClassOf<TBytesGraphic>();
    const TGraphicClass other = GraphicClassOf<TOtherBytesGraphic>();
    const std::string path = WriteFile("a.TsT", "hello");
    TPicture picture;

    TPicture::RegisterFileFormat("tst", "Test pictures", bytes);
    EXPECT_EQ(TPicture::ClassForExtension(".TST"), bytes);
    EXPECT_NE(TPicture::GraphicFilter().find("Test pictures (*.tst)|*.tst"), std::string::npos);
    picture.LoadFromFile(path);
    auto* loaded = dynamic_cast<TBytesGraphic*>(picture.Graphic());
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->Bytes, "hello");

    // A later registration of the same extension wins; unregistering a class removes all of
    // its extensions.
    TPicture::RegisterFileFormat("TST", "Other", other);
    picture.LoadFromFile(path);
    EXPECT_EQ(picture.Graphic()->ClassName(), "TOtherBytesGraphic");
    TPicture::UnregisterGraphicClass(other);
    TPicture::UnregisterGraphicClass(bytes);
    EXPECT_EQ(TPicture::ClassForExtension("tst"), nullptr);
    EXPECT_THROW(picture.LoadFromFile(path), EInvalidGraphic);
    EXPECT_NE(TPicture::ClassForExtension("bmp"), nullptr);
    std::remove(path.c_str());
}

TEST(Picture, BitmapReplacesAnotherGraphicAndAssignCopies) {
    TPicture picture;
    auto graphic = std::make_unique<TBytesGraphic>();
    graphic->Bytes = "abc";
    picture.SetGraphic(std::move(graphic));
    TBitmap& b = picture.Bitmap();
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(picture.Graphic(), &b);
    b.SetSize(5, 1);
    EXPECT_EQ(picture.Width(), 5);

    TPicture copy;
    copy.Assign(&picture);
    ASSERT_NE(dynamic_cast<TBitmap*>(copy.Graphic()), nullptr);
    EXPECT_NE(copy.Graphic(), picture.Graphic());
    EXPECT_EQ(copy.Width(), 5);
}
