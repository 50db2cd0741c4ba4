// Frame recording: the toggle, the frame folder and its frames, and what stops a recording.
#include "AlbumFixture.h"

class RecordingTest : public AlbumTest {
protected:
    // A 40 x 30 picture playing, imported at 12:00:59.
    TMainForm& PlayingPicture() {
        TMainForm& f = MakeForms();
        ImportAt("face.bmp", 59);
        dialogs.clear();
        beeps.clear();
        return f;
    }
    void Toggle() { Access::Form(*form).RokugaBitBtn->click(); }
    std::string Caption() { return Access::Form(*form).RokugaBitBtn->text().toStdString(); }
    // One frame tick as the message loop runs it.
    void Frame() {
        clock += 40;
        TestApplication().DoIdle();
    }
    std::vector<std::string> FilesIn(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string Take(const char* name) { return Dir() + "record/" + name + "/"; }
};

TEST_F(RecordingTest, ToggleWritesNumberedFramesOfThePicture) {
    TMainForm& f = PlayingPicture();
    Toggle();
    const std::string take = Take("20240131120059");
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].text, "録画ファイルを以下のフォルダに保存します.\r\n" + take);
    EXPECT_EQ(beeps, std::vector<uint32_t>{64});
    EXPECT_TRUE(Access::Recording(f));
    EXPECT_EQ(Caption(), "連写");

    for (int i = 0; i < 3; ++i)
        Frame();
    EXPECT_EQ(Caption(), "0002");
    keysDown = {VK_SHIFT}; // pauses the frame tick and the recording
    Frame();
    keysDown = {};
    Toggle();
    EXPECT_EQ(Caption(), "録画");
    EXPECT_FALSE(Access::Recording(f));
    Frame();
    EXPECT_EQ(FilesIn(take), (std::vector<std::string>{"0000.bmp", "0001.bmp", "0002.bmp"}));
    for (const std::string& file : FilesIn(take)) {
        const auto frame = LoadBmp(take + file);
        EXPECT_EQ(frame->PixelFormat(), pf24bit);
        EXPECT_EQ(frame->Width() * 1000 + frame->Height(), 40030) << file;
    }

    // Numbers past 9999 are written in full.
    Toggle();
    Access::FrameCount(f) = 10000;
    Frame();
    EXPECT_EQ(FilesIn(Access::RecordDir(f)), std::vector<std::string>{"10000.bmp"});
}

TEST_F(RecordingTest, RecordingsStartedInOneSecondKeepSeparateFolders) {
    TMainForm& f = PlayingPicture();
    const char* takes[] = {"20240131120059", "20240131120059_2", "20240131120059_3"};
    for (size_t n = 0; n < 3; ++n) {
        Toggle();
        EXPECT_EQ(Access::RecordDir(f), Take(takes[n]));
        for (size_t i = 0; i <= n; ++i)
            Frame();
        Toggle();
    }
    for (size_t n = 0; n < 3; ++n)
        EXPECT_EQ(FilesIn(Take(takes[n])).size(), n + 1) << takes[n];
    At(0);
    Toggle();
    EXPECT_EQ(Access::RecordDir(f), Take("20240131120000"));
}

TEST_F(RecordingTest, ImportAlbumOpeningAndTheEditorStopARecording) {
    TMainForm& f = PlayingPicture();
    const std::string first = Access::ImageName(f);
    Toggle();
    Frame();
    Frame();
    ImportAt("other.bmp", 30);
    EXPECT_FALSE(Access::Recording(f));
    EXPECT_EQ(Caption(), "録画");
    EXPECT_EQ(FilesIn(Take("20240131120059")).size(), 2u);
    Toggle();
    Open(first);
    EXPECT_FALSE(Access::Recording(f));
    Toggle();
    Access::Form(f).MaskEditBitBtn->click();
    EXPECT_FALSE(Access::Recording(f));
    // In the editor the button does nothing.
    dialogs.clear();
    Toggle();
    EXPECT_TRUE(dialogs.empty());
    EXPECT_FALSE(Access::Recording(f));
}

TEST_F(RecordingTest, FailuresToMakeTheFolderOrWriteAFrame) {
    TMainForm& f = PlayingPicture();
    fs::remove_all(Dir() + "record");
    std::ofstream(Dir() + "record") << "not a folder";
    Toggle();
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[1].text, Take("20240131120059") + " : 録画フォルダの作成に失敗しました.");
    EXPECT_EQ(beeps, std::vector<uint32_t>{64});
    EXPECT_FALSE(Access::Recording(f));
    EXPECT_EQ(Caption(), "連写");

    // The disk is full at the second frame: playing stops, the first frame stays whole.
    fs::remove(Dir() + "record");
    Toggle();
    const std::string take = Access::RecordDir(f);
    Frame();
    const auto first = LoadBmp(take + "0000.bmp");
    fs::create_symlink("/dev/full", take + "0001.bmp");
    Frame();
    EXPECT_EQ(Errors().size(), 1u);
    EXPECT_EQ(Access::Mode(f), mdNoPicture);
    EXPECT_EQ(FilesIn(take), std::vector<std::string>{"0000.bmp"});
    EXPECT_TRUE(SamePixels(*LoadBmp(take + "0000.bmp"), *first));
    ImportAt("other.bmp", 1);
    EXPECT_FALSE(Access::Recording(f));
}
