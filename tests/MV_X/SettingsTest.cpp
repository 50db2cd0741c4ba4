// Settings files: the program-wide options at start and close, each entry's options, colour
// filter and sprite when entries are opened, values out of range and unreadable ones.
#include "AlbumFixture.h"

class SettingsTest : public AlbumTest {
protected:
    std::string SystemIni() const { return Album() + "system.ini"; }
    void Close() {
        album.reset();
        form.reset();
    }
    void SetOptions(std::vector<int> v) {
        for (const char* g : {"RyouRadioGroup", "SitatariRadioGroup", "HassyaSokudoRadioGroup",
                              "HEkiRadioGroup", "EkiatoRadioGroup", "SitatariIroRadioGroup"}) {
            Group(g).SetItemIndex(v.front());
            v.erase(v.begin());
        }
    }
};

TEST_F(SettingsTest, ProgramWideOptionsSurviveARestart) {
    MakeForms();
    EXPECT_EQ(Options(), (std::vector<int>{2, 2, 2, 2, 1, 2}));
    Close();
    EXPECT_EQ(FileText(SystemIni()),
              "[EKI]\r\nRYOU=2\r\nSITATARI=2\r\nSOKUDO=2\r\nHEKI=2\r\nEKIATO=1\r\nSIRO=2\r\n");
    MakeForms();
    SetOptions({4, 0, 3, 1, 0, 0});
    Close();
    MakeForms();
    EXPECT_EQ(Options(), (std::vector<int>{4, 0, 3, 1, 0, 0}));

    // Names in any case, hexadecimal values, junk, and values out of range.
    Close();
    std::ofstream(SystemIni()) << "[eki]\nryou=9\nSITATARI = 0x1\nSOKUDO=$3\nHEKI=two\nEKIATO=-5\n";
    MakeForms();
    EXPECT_EQ(Options(), (std::vector<int>{4, 1, 3, 2, -1, 2}));
}

TEST_F(SettingsTest, AnEntryKeepsItsOptionsFilterAndSpriteBetweenOpenings) {
    TMainForm& f = MakeForms();
    Ui::TMainForm& ui = Access::Form(f);
    const std::string a = ImportAt("a.bmp", 1);
    const std::string b = ImportAt("b.bmp", 2);
    Open(a);
    SetOptions({0, 3, 4, 1, 0, 2});
    for (auto [bar, v] :
         {std::pair{ui.IroTrackBar, 10}, {ui.RTrackBar, 20}, {ui.GTrackBar, 3}, {ui.BTrackBar, 19}})
        bar->SetPosition(v);
    f.EkiChangeBitBtnClick();
    f.EkiChangeBitBtnClick();
    Open(b);
    EXPECT_EQ(FileText(Entry(a, ".ini")),
              "[COLOR]\r\nA=10\r\nR=20\r\nG=3\r\nB=19\r\n"
              "[EKI]\r\nRYOU=0\r\nSITATARI=3\r\nSOKUDO=4\r\nHEKI=1\r\nEKIATO=0\r\nSIRO=2\r\n"
              "[EKIPT]\r\nPT=2\r\n");
    f.EkiImageDblClick();
    Open(a);
    EXPECT_EQ(Options(), (std::vector<int>{0, 3, 4, 1, 0, 2}));
    EXPECT_EQ(Bars(), (std::vector<int>{10, 20, 3, 19}));
    EXPECT_EQ(Access::EkiNo(f), 2);
    // The filter follows the bars at once.
    EXPECT_FALSE(SamePixels(Access::Image(f), Access::Base(f)));
    EXPECT_TRUE(SamePixels(Access::Screen(f), Access::Image(f)));

    // An import writes the settings of the entry that was open, as opening does; closing
    // writes the open entry's and the program-wide file.
    SetOptions({4, 4, 4, 2, 1, 1});
    const std::string c = ImportAt("c.bmp", 3);
    EXPECT_NE(FileText(Entry(a, ".ini")).find("[EKI]\r\nRYOU=4\r\nSITATARI=3\r\n"),
              std::string::npos);
    SetOptions({1, 2, 0, 2, 1, 1});
    Close();
    EXPECT_NE(FileText(Entry(c, ".ini")).find("[EKI]\r\nRYOU=1\r\nSITATARI=2\r\n"),
              std::string::npos);
    EXPECT_NE(FileText(SystemIni()).find("SIRO=1\r\n"), std::string::npos);
}

TEST_F(SettingsTest, EntryValuesAreClampedAndAMissingSpriteFallsBackToTheFirst) {
    TMainForm& f = MakeForms();
    const std::string a = ImportAt("a.bmp", 1);
    ImportAt("b.bmp", 2);
    f.EkiChangeBitBtnClick();
    std::ofstream(Entry(a, ".ini")) << "[color]\r\nA=25\r\nR=-3\r\nG=0x0A\r\n"
                                    << "[EKI]\r\nRYOU=-7\r\nSITATARI=junk\r\nHEKI=$2\r\n"
                                    << "[EKIPT]\r\nPT=7\r\n";
    Open(a);
    EXPECT_EQ(Bars(), (std::vector<int>{20, 0, 10, 0}));
    EXPECT_EQ(Options(), (std::vector<int>{-1, 1, 1, 2, 1, 0}));
    EXPECT_EQ(Access::EkiNo(f), 0);
    auto first = LoadBmp(Dir() + "ekiimg/eki0.bmp");
    first->SetPixelFormat(pf24bit);
    EXPECT_TRUE(SamePixels(Access::Eki(f), *first));
    // Strength 20: the whole picture takes the filter colour, green 10 x 12.
    EXPECT_TRUE(SamePixels(Access::Image(f), *Solid(40, 30, 0, 120, 0)));
}

TEST_F(SettingsTest, AFailedWriteAtCloseIsReportedAndEndsTheShutdown) {
    MakeForms();
    const std::string a = ImportAt("a.bmp", 1);
    // A folder where the settings file should go cannot be replaced by it.
    fs::create_directory(Entry(a, ".ini"));
    dialogs.clear();
    Close();
    EXPECT_EQ(Errors(), std::vector<std::string>{Entry(a, ".ini") + " に書き込めません."});
    EXPECT_FALSE(FileExists(SystemIni()));
}
