// Imports that fail: a full disk, an unreadable picture; what the open entry keeps and what
// the error box says.
#include "AlbumFixture.h"
#include "platform/classes/Classes.h"

class ImportFaultTest : public AlbumTest {
protected:
    void TearDown() override {
        SetFileWriteFailureOverride({});
        AlbumTest::TearDown();
    }

    // An entry playing with the filter on and options of its own.
    std::string FilteredEntry() {
        MakeForms();
        const std::string name = ImportAt("good.bmp", 1);
        Ui::TMainForm& ui = Access::Form(*form);
        ui.RTrackBar->SetPosition(20);
        ui.IroTrackBar->SetPosition(10);
        Group("RyouRadioGroup").SetItemIndex(4);
        dialogs.clear();
        return name;
    }
};

TEST_F(ImportFaultTest, AFullDiskLeavesNoPartOfTheNewEntryAndTheOpenOneWhole) {
    const std::string good = FilteredEntry();
    const auto screen = std::make_unique<TBitmap>();
    screen->Assign(&Access::Screen(*form));
    for (const char* full : {".bmp", ".msk", ".thu"}) {
        const auto files = AlbumFiles();
        SetFileWriteFailureOverride([&](const std::string& file) {
            return file.rfind(Album(), 0) == 0 && file.find(full) != std::string::npos;
        });
        const std::string lost = ImportAt("new.bmp", 30, 24, 20);
        SetFileWriteFailureOverride({});

        const std::string entry = Entry("MX20240131120030_new", full);
        EXPECT_EQ(Errors(), std::vector<std::string>{"ファイル " + entry +
                                                     " に書き込めません: Stream write error."});
        EXPECT_EQ(AlbumFiles(), files) << full;
        EXPECT_EQ(lost, good);
        EXPECT_EQ(form->windowTitle().toStdString(), good);
        EXPECT_TRUE(SamePixels(Access::Screen(*form), *screen));
        EXPECT_TRUE(SamePixels(Access::Image(*form), Access::Trace(*form)));
        EXPECT_EQ(Bars(), (std::vector<int>{10, 20, 0, 0}));
        EXPECT_EQ(Access::Mask(*form).Width(), 40);
        dialogs.clear();
    }
    // A mask saved now goes to the open entry, at its own size.
    EXPECT_EQ(LoadBmp(Entry(good, ".msk"))->Width(), 40);

    // What an import killed half way leaves goes at the next start.
    album.reset();
    form.reset();
    const auto files = AlbumFiles();
    std::ofstream(Entry("MX20240131120031_cut", ".bmp.~new")) << "BM";
    MakeForms();
    EXPECT_EQ(AlbumFiles(), files);
}

TEST_F(ImportFaultTest, AnImportKeepsTheSettingsOfTheEntryItReplaces) {
    const std::string good = FilteredEntry();
    ImportAt("next.bmp", 2);
    const std::string ini = FileText(Entry(good, ".ini"));
    EXPECT_NE(ini.find("[COLOR]\r\nA=10\r\nR=20\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("RYOU=4"), std::string::npos) << ini;

    // Opened again, the entry has what the user left on it.
    Open(good);
    EXPECT_EQ(Bars(), (std::vector<int>{10, 20, 0, 0}));
    EXPECT_EQ(Options()[0], 4);
}

TEST_F(ImportFaultTest, AnUnreadablePictureChangesNothingAndTheBoxNamesFileAndReason) {
    const std::string good = FilteredEntry();
    const auto screen = std::make_unique<TBitmap>();
    screen->Assign(&Access::Screen(*form));
    const auto picture = std::make_unique<TBitmap>();
    picture->Assign(&Access::Image(*form));

    WriteBrokenPictures();
    const auto files = AlbumFiles();
    const std::pair<const char*, const char*> cases[] = {{"broken.png", "PNG ファイル "},
                                                         {"broken.jpg", "JPEG ファイル "},
                                                         {"broken.bmp", "ビットマップファイル "}};
    for (const auto& [file, kind] : cases) {
        Drop(Dir() + file);
        ASSERT_EQ(Errors().size(), 1u) << file;
        const std::string head = kind + Dir() + file + " を読み込めません: ";
        EXPECT_EQ(Errors()[0].rfind(head, 0), 0u) << Errors()[0];
        EXPECT_GT(Errors()[0].size(), head.size() + 2) << "no reason: " << Errors()[0];
        dialogs.clear();

        EXPECT_EQ(Access::ImageName(*form), good);
        EXPECT_EQ(Access::Mode(*form), mdPlaying);
        EXPECT_EQ(Bars(), (std::vector<int>{10, 20, 0, 0}));
        EXPECT_EQ(Options()[0], 4);
        EXPECT_TRUE(SamePixels(Access::Screen(*form), *screen));
        EXPECT_TRUE(SamePixels(Access::Image(*form), *picture));
    }
    EXPECT_EQ(AlbumFiles(), files);
}

// The new entry's files are written, then the open entry's settings cannot be: the import
// fails whole, leaving nothing of the new entry to appear at the next start.
TEST_F(ImportFaultTest, OpenEntrySettingsThatCannotBeSavedUndoTheImport) {
    const std::string good = FilteredEntry();
    const auto files = AlbumFiles();
    SetFileWriteFailureOverride(
        [&](const std::string& file) { return file == Entry(good, ".ini"); });
    ImportAt("new.bmp", 30);
    SetFileWriteFailureOverride({});
    ASSERT_EQ(Errors().size(), 1u);
    EXPECT_NE(Errors()[0].find(Entry(good, ".ini")), std::string::npos) << Errors()[0];
    EXPECT_EQ(AlbumFiles(), files);
    EXPECT_EQ(form->windowTitle().toStdString(), good);
    EXPECT_EQ(Names(), std::vector<std::string>{good});
}
