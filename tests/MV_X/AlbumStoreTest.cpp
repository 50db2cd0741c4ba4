// The album's file rules without a window: entry names and files, listing, import, open,
// delete, and what a failure leaves behind.
#include "../support/ChildProcess.h"
#include "AlbumFixture.h"
#include "MV_X/Album.h"
#include "common/BitmapUtils.h"
#include "platform/classes/Classes.h"
#include "platform/rtl/Exceptions.h"

#include <sys/stat.h>

namespace {

constexpr TDateTime ImportTime{2024, 1, 31, 12, 0, 59, 0};

class AlbumStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/mvalbum_XXXXXX";
        dir_ = std::string(::mkdtemp(pattern)) + "/";
        album_ = TAlbum(dir_);
        fs::create_directory(album_.Folder());
        SetNowOverride([] { return ImportTime; });
    }
    void TearDown() override {
        SetNowOverride({});
        SetFileWriteFailureOverride({});
        fs::remove_all(dir_);
    }

    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(album_.Folder()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // The entry of a W x H pattern imported from file.
    std::string Import(const std::string& file, int w = 40, int h = 30) {
        Pattern(w, h)->SaveToFile(dir_ + file);
        TBitmap picture, mask;
        return album_.Import(dir_ + file, picture, mask);
    }
    static std::unique_ptr<TBitmap> Mask(int w, int h, uint8_t part) {
        auto mask = std::make_unique<TBitmap>();
        mask->SetPixelFormat(pf8bit);
        mask->SetSize(w, h);
        TAlbum::FillMask(*mask, part);
        return mask;
    }

    std::string dir_;
    TAlbum album_;
};

} // namespace

TEST_F(AlbumStoreTest, NamesAndFilesOfAnEntry) {
    EXPECT_EQ(album_.Folder(), dir_ + "album/");
    EXPECT_EQ(album_.SystemSettingsFile(), dir_ + "album/system.ini");
    const std::string name = TAlbum::NewEntryName("/some/where/face.small.BMP", ImportTime);
    EXPECT_EQ(name, "MX20240131120059_face.small");
    EXPECT_EQ(TAlbum::NewEntryName("face", ImportTime), "MX20240131120059_face");
    EXPECT_EQ(album_.PictureFile(name), album_.Folder() + name + ".bmp");
    EXPECT_EQ(album_.MaskFile(name), album_.Folder() + name + ".msk");
    EXPECT_EQ(album_.ThumbnailFile(name), album_.Folder() + name + ".thu");
    EXPECT_EQ(album_.SettingsFile(name), album_.Folder() + name + ".ini");
    EXPECT_EQ(TAlbum::Caption(name), "face.small");
    EXPECT_EQ(TAlbum::Caption("MX20240131120059_"), "");
    EXPECT_EQ(TAlbum::Caption("MXshort"), "");

    for (const char* file : {"a.png", "a.JPG", "a.jpeg", "dir.x/a.Bmp"})
        EXPECT_TRUE(TAlbum::IsPictureFile(file)) << file;
    for (const char* file : {"a.gif", "a.jpe", "a", "a.bmp.txt", "a.bmp/b"})
        EXPECT_FALSE(TAlbum::IsPictureFile(file)) << file;
}

TEST_F(AlbumStoreTest, ImportWritesTheThreeFilesAndListsNewestFirst) {
    Pattern(401, 400)->SaveToFile(dir_ + "face.bmp");
    TBitmap picture, mask;
    const std::string name = album_.Import(dir_ + "face.bmp", picture, mask);
    EXPECT_EQ(name, "MX20240131120059_face");
    EXPECT_EQ(Files(), (std::vector<std::string>{name + ".bmp", name + ".msk", name + ".thu"}));
    EXPECT_TRUE(SamePixels(picture, *Pattern(401, 400)));
    EXPECT_TRUE(SamePixels(*LoadBmp(album_.PictureFile(name)), picture));
    EXPECT_TRUE(SamePixels(mask, *Mask(401, 400, ptHada)));
    EXPECT_TRUE(SamePixels(*LoadBmp(album_.MaskFile(name)), mask));
    EXPECT_TRUE(SamePixels(*LoadBmp(album_.ThumbnailFile(name)),
                           *ResampleBitmap(picture, TAlbum::ThumbnailSide, TAlbum::ThumbnailSide)));

    // Listed by thumbnail, also without a picture; folders, pictures and settings do not count.
    SetNowOverride([] { return TDateTime{2024, 1, 31, 12, 0, 58, 0}; });
    const std::string older = Import("older.bmp");
    fs::copy_file(album_.ThumbnailFile(name), album_.Folder() + "MX20200101000000_lone.thu");
    fs::copy_file(album_.PictureFile(name), album_.Folder() + "MX20300101000000_nothumb.bmp");
    fs::create_directory(album_.Folder() + "MX20300101000000_folder.thu");
    std::ofstream(album_.SystemSettingsFile()) << "[EKI]\r\n";
    EXPECT_EQ(album_.Entries(), (std::vector<std::string>{name, older, "MX20200101000000_lone"}));
}

TEST_F(AlbumStoreTest, AFailedImportLeavesNothingOfTheEntry) {
    const std::string kept = Import("kept.bmp");
    const auto before = Files();
    Pattern(24, 20)->SaveToFile(dir_ + "new.bmp");
    for (const char* full : {".bmp", ".msk", ".thu"}) {
        SetFileWriteFailureOverride(
            [&](const std::string& file) { return file.find(full) != std::string::npos; });
        auto picture = Pattern(3, 2);
        TBitmap mask;
        try {
            album_.Import(dir_ + "new.bmp", *picture, mask);
            ADD_FAILURE() << full;
        } catch (const EWriteError& e) {
            EXPECT_EQ(e.Message(), "ファイル " + album_.Folder() + "MX20240131120059_new" + full +
                                       " に書き込めません: Stream write error");
        }
        EXPECT_EQ(Files(), before) << full;
        EXPECT_TRUE(SamePixels(*picture, *Pattern(3, 2)));
        EXPECT_TRUE(mask.Empty());
    }
    SetFileWriteFailureOverride({});

    // An unreadable picture: the reader's error, nothing written.
    std::ofstream(dir_ + "broken.bmp", std::ios::binary) << "BM not really a bitmap";
    TBitmap picture, mask;
    EXPECT_THROW(album_.Import(dir_ + "broken.bmp", picture, mask), Exception);
    EXPECT_EQ(Files(), before);
    EXPECT_TRUE(picture.Empty());

    // Temporary files of an import cut short go; entries stay.
    std::ofstream(album_.PictureFile("MX20240131120031_cut") + ".~new") << "BM";
    std::ofstream(album_.ThumbnailFile("MX20240131120031_cut") + ".~new") << "BM";
    album_.RemoveUnfinishedEntryFiles();
    EXPECT_EQ(Files(), before);
    EXPECT_EQ(album_.Entries(), std::vector<std::string>{kept});
}

TEST_F(AlbumStoreTest, OpeningFitsTheMaskAndAFailureChangesNothing) {
    const std::string name = Import("a.bmp", 40, 30);
    // A smaller mask painted with eyes keeps them where it reaches; the rest is skin.
    Mask(10, 8, ptMe)->SaveToFile(album_.MaskFile(name));
    TBitmap picture, mask;
    album_.Open(name, picture, mask);
    EXPECT_TRUE(SamePixels(picture, *Pattern(40, 30)));
    const auto fitted = Mask(40, 30, ptHada);
    for (int y = 0; y < 8; ++y)
        std::memset(fitted->ScanLine(y), ptMe, 10);
    EXPECT_TRUE(SamePixels(mask, *fitted));
    // A 24-bit mask of the right size becomes 8-bit.
    auto wide = Pattern(40, 30);
    TAlbum::FitMaskToPicture(*wide, 40, 30);
    EXPECT_EQ(wide->PixelFormat(), pf8bit);
    EXPECT_EQ(wide->Width(), 40);

    // A missing mask or picture raises and leaves both bitmaps as they were.
    for (const std::string& missing : {album_.MaskFile(name), album_.PictureFile(name)}) {
        fs::remove(missing);
        auto kept = Pattern(5, 4);
        TBitmap keptMask;
        EXPECT_THROW(album_.Open(name, *kept, keptMask), Exception) << missing;
        EXPECT_TRUE(SamePixels(*kept, *Pattern(5, 4)));
        EXPECT_TRUE(keptMask.Empty());
    }

    TBitmap thumbnail;
    EXPECT_TRUE(album_.LoadThumbnail(name, thumbnail));
    EXPECT_EQ(thumbnail.Width(), TAlbum::ThumbnailSide);
    EXPECT_FALSE(album_.LoadThumbnail("none", thumbnail));
    std::ofstream(album_.ThumbnailFile(name), std::ios::trunc) << "junk";
    EXPECT_THROW(album_.LoadThumbnail(name, thumbnail), EInvalidGraphic);
}

TEST_F(AlbumStoreTest, DeletingRemovesTheFourFilesOfThatEntryOnly) {
    const std::string a = Import("a.bmp");
    SetNowOverride([] { return TDateTime{2024, 1, 31, 12, 1, 0, 0}; });
    const std::string b = Import("b.bmp");
    std::ofstream(album_.SettingsFile(a)) << "[EKI]\r\nRYOU=4\r\n";
    std::ofstream(album_.SystemSettingsFile()) << "[EKI]\r\n";
    album_.Delete(a);
    EXPECT_EQ(Files(),
              (std::vector<std::string>{b + ".bmp", b + ".msk", b + ".thu", "system.ini"}));
    EXPECT_EQ(album_.Entries(), std::vector<std::string>{b});
}

// An entry's picture, mask or thumbnail that is a FIFO blocked the open, or every repaint of
// the album window, until someone wrote to it.
TEST_F(AlbumStoreTest, FifosInPlaceOfEntryFilesAreRefusedWithoutBlocking) {
    const std::string name = Import("a.bmp");
    for (const std::string& file :
         {album_.PictureFile(name), album_.MaskFile(name), album_.ThumbnailFile(name)}) {
        const std::string moved = file + ".kept";
        fs::rename(file, moved);
        ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
        TBitmap picture, mask;
        EXPECT_EQ(test_support::OpenVerdict([&] {
                      album_.Open(name, picture, mask);
                      album_.LoadThumbnail(name, picture);
                  }),
                  "refused")
            << file;
        fs::remove(file);
        fs::rename(moved, file);
    }
}
