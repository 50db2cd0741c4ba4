// Saving TKRLPNG pictures: the picture's settings in the file, alpha, form data, progress and
// the row hook, each read back by the picture class itself.
#include "PngCheck.h"
#include "SourceBitmaps.h"
#include "TestBitmaps.h"
#include "common/KRLPNG.h"

#include <gtest/gtest.h>

using namespace png_check;
namespace sb = source_bitmaps;
namespace tb = test_bitmaps;

namespace {

const TKRLPNGTime Clock{2030, 6, 15, 12, 30, 45};

class PngSave : public testing::Test {
protected:
    void SetUp() override {
        SetUTCTimeOverride([](TKRLPNGTime& t) { t = Clock; });
    }
    void TearDown() override { SetUTCTimeOverride({}); }
};

Bytes Save(TKRLPNG& picture) {
    TMemoryStream stream;
    picture.SaveToStream(stream);
    return StreamBytes(stream);
}

int ColorTypeOf(const Bytes& png) {
    return Find(Chunks(png), "IHDR").at(9);
}

Bytes Text(const std::string& keyword, const std::string& text) {
    Bytes b(keyword.begin(), keyword.end());
    b.push_back(0);
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

void Load(TKRLPNG& picture, const Bytes& png) {
    TMemoryStream stream;
    stream.WriteBuffer(png.data(), static_cast<int64_t>(png.size()));
    stream.SetPosition(0);
    picture.LoadFromStream(stream);
}

TEST_F(PngSave, IDATSizesOutsideTheRangeAreRefusedBeforeAnythingIsWritten) {
    TKRLPNG picture;
    picture.ImageBitmap().Assign(sb::Noise24(300, 300, 1).get());
    for (const int32_t bad : {255, 100001}) {
        picture.IDATSize = bad;
        TMemoryStream stream;
        try {
            picture.SaveToStream(stream);
            ADD_FAILURE() << bad;
        } catch (const EKRLPNG& e) {
            EXPECT_STREQ(e.what(), "Write PNG Param: Err IDAT Size(min:256  max:100000)");
        }
        EXPECT_EQ(stream.Size(), 0);
    }
    for (const int32_t good : {256, 100000}) {
        picture.IDATSize = good;
        const std::vector<size_t> sizes = IDATSizes(Chunks(Save(picture)));
        ASSERT_GE(sizes.size(), 2u);
        EXPECT_EQ(sizes.front(), static_cast<size_t>(good));
    }
}

TEST_F(PngSave, APictureSavesItsSettingsAndReadsThemBack) {
    TKRLPNG picture;
    picture.ImageBitmap().Assign(sb::Make(pf8bit, 20, 10, 4).get());
    picture.Comment = "one line";
    picture.BackgroundColor = 0x01000003;
    picture.TransColor = 0x01000009;
    picture.Gamma = 0.5;
    picture.SignificantBits = 0x030405;
    picture.PhysUnit = 1;
    picture.PixelsPerUnitX = 3000;
    picture.PixelsPerUnitY = 4000;
    picture.StampTime = false;
    picture.ModifiedTime = {2001, 9, 8, 7, 6, 5};
    picture.Chromaticities = {1, 2, 3, 4, 5, 6, 7, 8};
    picture.GifExtension = {1, 2, 3, 4};
    picture.Interlaced = true;
    const Bytes png = Save(picture);

    TKRLPNG loaded;
    Load(loaded, png);
    EXPECT_EQ(loaded.Comment, "one line\r\n");
    EXPECT_EQ(loaded.BackgroundColor, 0x01000003);
    EXPECT_EQ(loaded.TransColor, 0x01000009);
    EXPECT_TRUE(loaded.Transparent());
    EXPECT_DOUBLE_EQ(loaded.Gamma, 0.5);
    EXPECT_EQ(loaded.SignificantBits, 0x030405u);
    EXPECT_EQ(loaded.PhysUnit, 1);
    EXPECT_EQ(loaded.PixelsPerUnitX, 3000u);
    EXPECT_EQ(loaded.PixelsPerUnitY, 4000u);
    EXPECT_EQ(loaded.ModifiedTime, (TKRLPNGTime{2001, 9, 8, 7, 6, 5}));
    EXPECT_EQ(loaded.Chromaticities, (TKRLPNGChromaticities{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(loaded.GifExtension, (TKRLPNGGifExtension{1, 2, 3, 4}));
    EXPECT_TRUE(loaded.Interlaced);
    EXPECT_EQ(loaded.BitDepth, 8);
    EXPECT_EQ(tb::Bytes(loaded.ImageBitmap()), tb::Bytes(picture.ImageBitmap()));

    // Stamped with the clock when asked; level 0 stores, 9 compresses.
    picture.StampTime = true;
    picture.CompressionLevel = 0;
    Bytes saved = Save(picture);
    EXPECT_EQ(Find(Chunks(saved), "tIME"), (Bytes{0x07, 0xEE, 6, 15, 12, 30, 45}));
    TKRLPNG plain;
    plain.ImageBitmap().Assign(sb::Make(pf24bit, 64, 64, 1).get());
    plain.CompressionLevel = 0;
    const size_t stored = Save(plain).size();
    EXPECT_GT(stored, 64u * 64 * 3);
    plain.CompressionLevel = 9;
    EXPECT_LT(Save(plain).size(), stored);
    picture.CompressionLevel = 10; // zlib's default
    picture.FilterMode = 0;
    Load(loaded, Save(picture));
    EXPECT_EQ(tb::Bytes(loaded.ImageBitmap()), tb::Bytes(picture.ImageBitmap()));
}

TEST_F(PngSave, AlphaIsSavedOnlyWhenThePictureHasIt) {
    auto rgba = sb::Make(pf24bit, 6, 5, 2);
    auto alpha = sb::Alpha(6, 5, 3);
    TKRLPNG source;
    source.SetImageBitmap(rgba.get());
    source.SetAlphaBitmap(alpha.get());
    source.HasAlpha = true;
    TKRLPNG loaded;
    Load(loaded, Save(source));
    ASSERT_TRUE(loaded.HasAlpha);
    EXPECT_EQ(tb::Bytes(loaded.AlphaBitmap()), tb::Bytes(*alpha));

    // Loaded with alpha, saved again with alpha.
    TKRLPNG again;
    Load(again, Save(loaded));
    EXPECT_TRUE(again.HasAlpha);
    EXPECT_EQ(ColorTypeOf(Save(loaded)), 6);

    loaded.HasAlpha = false;
    EXPECT_FALSE(loaded.AlphaBitmap().Empty());
    EXPECT_EQ(ColorTypeOf(Save(loaded)), 2);
}

TEST_F(PngSave, FormDataIsThePngStreamWithTheWritersDefaults) {
    TKRLPNG empty;
    TMemoryStream nothing;
    empty.WriteData(nothing);
    EXPECT_EQ(nothing.Size(), 0);

    TKRLPNG picture;
    picture.ImageBitmap().Assign(sb::Noise24(200, 100, 5).get());
    picture.IDATSize = 256;
    picture.Interlaced = true;
    picture.StampTime = false;
    picture.Comment = "form";
    // An external image is not form data: the own bitmap is.
    auto external = sb::Noise24(5, 5, 6);
    picture.SetImageBitmap(external.get());
    TMemoryStream form;
    picture.WriteData(form);
    const Bytes png = StreamBytes(form);
    const std::vector<Chunk> chunks = Chunks(png);
    EXPECT_EQ(BE32(Find(chunks, "IHDR").data()), 200u);
    EXPECT_EQ(Find(chunks, "IHDR").at(12), 0);                // not interlaced
    EXPECT_EQ(IDATSizes(chunks).front(), 32768u);             // the writer's IDAT size
    EXPECT_EQ(Find(chunks, "tIME").at(0), 0x07);              // stamped with the clock
    EXPECT_EQ(Find(chunks, "tEXt"), Text("Comment", "form")); // the picture's data

    TKRLPNG copy;
    form.SetPosition(0);
    copy.ReadData(form);
    picture.SetImageBitmap(nullptr);
    EXPECT_EQ(tb::Bytes(copy.ImageBitmap()), tb::Bytes(picture.ImageBitmap()));
    EXPECT_EQ(copy.Comment, "form\r\n");
}

TEST_F(PngSave, ProgressGoesToThePicturesHandlerWhileSaving) {
    TKRLPNG picture;
    picture.ImageBitmap().Assign(sb::Noise24(8, 40, 6).get());
    int own = 0;
    picture.ImageBitmap().OnProgress = [&](TObject*, TProgressStage, uint8_t, bool, const TRect&,
                                           const std::string&) { ++own; };
    std::vector<TProgressStage> stages;
    picture.OnProgress = [&](TObject*, TProgressStage stage, uint8_t, bool, const TRect&,
                             const std::string&) { stages.push_back(stage); };
    Save(picture);
    ASSERT_GE(stages.size(), 3u);
    EXPECT_EQ(stages.front(), psStarting);
    EXPECT_EQ(stages.back(), psEnding);
    EXPECT_EQ(own, 0);
    // The bitmap's own handler is back afterwards.
    picture.OnProgress = nullptr;
    Save(picture);
    EXPECT_GT(own, 0);
}

TEST_F(PngSave, HookedRowsNeedTheKeyToReadBack) {
    TKRLPNG picture;
    picture.ImageBitmap().Assign(sb::Make(pf24bit, 11, 9, 8).get());
    picture.Interlaced = true;
    picture.RowKey = "k3y";
    const auto scramble = [](TObject*, uint8_t* row, int32_t bytes, int32_t index,
                             const std::string& key) {
        for (int32_t i = 0; i < bytes; ++i)
            row[i] = static_cast<uint8_t>(row[i] ^ key[static_cast<size_t>(i + index) % 3]);
    };
    picture.OnWriteRow = scramble;
    const Bytes png = Save(picture);
    EXPECT_EQ(Find(Chunks(png), "tpNG").at(4), 1);

    TKRLPNG withKey;
    withKey.RowKey = "k3y";
    withKey.OnReadRow = scramble;
    Load(withKey, png);
    EXPECT_EQ(tb::Bytes(withKey.ImageBitmap()), tb::Bytes(picture.ImageBitmap()));
    TKRLPNG withoutKey;
    Load(withoutKey, png);
    EXPECT_NE(tb::Bytes(withoutKey.ImageBitmap()), tb::Bytes(picture.ImageBitmap()));
}

} // namespace
