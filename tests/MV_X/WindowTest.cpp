// The main window: start-up and shutdown, help, movie maker, dropped pictures, keys, mouse,
// liquid sprites.
#include "Harness.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

class StartupTest : public PlayerTest {};

TEST_F(StartupTest, EmptyFolderGetsItsFoldersOneSpriteBoxAndNoPicture) {
    std::vector<DialogRequest> seen;
    SetDialogAnswerer([&](const DialogRequest& r) {
        seen.push_back(r);
        return DialogAnswer{mrOk, false, {}};
    });
    auto f = std::make_unique<TMainForm>();
    EXPECT_TRUE(DirectoryExists(Dir() + "album"));
    EXPECT_TRUE(DirectoryExists(Dir() + "record"));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].type, mtInformation);
    EXPECT_EQ(seen[0].buttons, mbOK);
    EXPECT_EQ(seen[0].text, "液ファイル" + Dir() + "ekiimg/eki0.bmp" + "が見つかりません.");
    EXPECT_TRUE(beeps.empty());
    EXPECT_FALSE(Access::Form(*f).MVMSpeedButton->isEnabled());
    EXPECT_EQ(Access::Mode(*f), mdNoPicture);
    EXPECT_EQ(f->windowTitle().toStdString(), "Morvane X 1.2");
    EXPECT_EQ(Access::StatusText(*f), Access::PlayHelp(*f));
    EXPECT_TRUE(TestApplication().HasIdleHandler());
    // The start picture is kept and enlarged; the control keeps its size.
    const TBitmap& screen = Access::Screen(*f);
    EXPECT_EQ(screen.Width(), 640);
    EXPECT_EQ(screen.Height(), 480);
    EXPECT_EQ(screen.PixelFormat(), pf24bit);
    EXPECT_EQ(Access::Form(*f).Image->width(), 401);
    EXPECT_TRUE(Access::Eki(*f).Empty());
    EXPECT_EQ(Access::EkiNo(*f), 0);
    // The spot: white key corner, red bar in columns 15 and 16 with black edges.
    const TBitmap& spot = Access::Spot(*f);
    ASSERT_EQ(spot.Width(), 32);
    EXPECT_EQ(spot.PixelColor(0, 0), clWhite);
    EXPECT_EQ(spot.PixelColor(15, 20), clRed);
    EXPECT_EQ(spot.PixelColor(16, 0), clRed);
    EXPECT_EQ(spot.PixelColor(14, 31), clBlack);
    EXPECT_EQ(spot.PixelColor(17, 5), clBlack);

    f.reset();
    EXPECT_FALSE(TestApplication().HasIdleHandler());
    // With no picture open, shutdown writes the program-wide settings only.
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(Dir() + "album"))
        files.push_back(e.path().filename().string());
    EXPECT_EQ(files, std::vector<std::string>{"system.ini"});
    EXPECT_TRUE(fs::is_empty(Dir() + "record"));
}

TEST_F(StartupTest, MovieMakerAndSpriteBesideTheProgram) {
    std::ofstream(Dir() + "mv_m") << "#!/bin/sh\n";
    CopySprites(1);
    TMainForm& f = MakeForm();
    EXPECT_TRUE(Access::Form(f).MVMSpeedButton->isEnabled());
    EXPECT_EQ(Access::Eki(f).Width(), 16);
    EXPECT_EQ(Access::Form(f).EkiGroupBox->title().toStdString(), "液のイメージ (16 x 16)");
    f.MVMSpeedButtonClick();
    ASSERT_EQ(shell.size(), 1u);
    EXPECT_EQ(shell[0].verb, "Open");
    EXPECT_EQ(shell[0].file, Dir() + "mv_m");
    EXPECT_EQ(shell[0].parameters, "");
    EXPECT_EQ(shell[0].directory, "");
    // Gone since start-up: the click does nothing, silently.
    fs::remove(Dir() + "mv_m");
    f.MVMSpeedButtonClick();
    EXPECT_EQ(shell.size(), 1u);
    EXPECT_TRUE(dialogs.empty());
}

TEST_F(StartupTest, FolderThatCannotBeMadeIsReportedAndStartUpGoesOn) {
    std::ofstream(Dir() + "album") << "a file in the way";
    std::ofstream(Dir() + "record") << "a file in the way";
    CopySprites(1);
    std::vector<DialogRequest> seen;
    SetDialogAnswerer([&](const DialogRequest& r) {
        seen.push_back(r);
        return DialogAnswer{mrOk, false, {}};
    });
    auto f = std::make_unique<TMainForm>();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text.rfind(Dir() + "album/ : ", 0), 0u);
    EXPECT_EQ(seen[1].text, Dir() + "record/ : 録画フォルダの作成に失敗しました.");
    EXPECT_EQ(Access::Eki(*f).Width(), 16);
    EXPECT_TRUE(TestApplication().HasIdleHandler());
}

TEST_F(StartupTest, HelpOpensTheFileWhenPresentAndAsksAboutThePage) {
    TMainForm& f = MakeForm();
    answers = {mrNo};
    f.HelpBitBtnClick();
    EXPECT_TRUE(shell.empty());
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].text, "Morvane X Web サイトを表示しますか?");
    EXPECT_EQ(dialogs[0].buttons, mbYesNo);
    EXPECT_EQ(beeps, std::vector<uint32_t>{32});

    std::ofstream(Dir() + "help.chm") << "help";
    answers = {mrYes};
    f.HelpBitBtnClick();
    ASSERT_EQ(shell.size(), 2u);
    EXPECT_EQ(shell[0].file, Dir() + "help.chm");
    EXPECT_EQ(shell[1].verb, "Open");
    EXPECT_EQ(shell[1].file.rfind("https://", 0), 0u);

    // A desktop that cannot open the file or the page says so, each in its own box.
    shellResult = SE_ERR_NOASSOC;
    dialogs.clear();
    answers = {mrOk, mrYes};
    f.HelpBitBtnClick();
    ASSERT_EQ(dialogs.size(), 3u);
    EXPECT_EQ(dialogs[0].text.rfind(Dir() + "help.chm を開けませんでした.\r\n", 0), 0u);
    EXPECT_EQ(dialogs[2].text.rfind(shell[1].file + " を開けませんでした.", 0), 0u);
    std::ofstream(Dir() + "mv_m") << "#!/bin/sh\n";
    f.MVMSpeedButtonClick();
    EXPECT_EQ(dialogs.size(), 4u);
}

class PictureTest : public PlayerTest {};

TEST_F(PictureTest, DroppedBitmapIsLoadedAndPlayed) {
    CopySprites(1);
    TMainForm& f = MakeForm();
    auto picture = Solid(90, 70, 30, 60, 90);
    picture->SetPixelFormat(pf8bit); // comes out 24-bit
    picture->SaveToFile(Dir() + "face.small.BMP");
    f.WMDropFiles(Dir() + "face.small.BMP");
    EXPECT_EQ(Access::Mode(f), mdPlaying);
    EXPECT_EQ(Access::Image(f).PixelFormat(), pf24bit);
    EXPECT_EQ(Access::Screen(f).Width(), 90);
    EXPECT_EQ(Access::Form(f).Image->height(), 70);
    EXPECT_EQ(Access::Mask(f).ScanLine(69)[89], ptHada);
    EXPECT_EQ(Access::PosX(f), 45);
    EXPECT_EQ(Access::PosY(f), 35);
    const std::string name = Access::ImageName(f);
    EXPECT_EQ(name.rfind("MX", 0), 0u);
    EXPECT_EQ(name.substr(16), "_face.small");

    // Play: a click on the picture, then frames until the drops have landed and dripped.
    keysDown = {VK_LBUTTON};
    f.ImageMouseDown(mbLeft, ssLeft, 30, 20);
    keysDown.clear();
    int dripping = 0;
    for (int frame = 1; frame <= 60 && dripping == 0; ++frame) {
        clock = 40u * frame;
        bool done = true;
        f.AppIdle(nullptr, done);
        for (int i = 0; i < DropCount; ++i)
            dripping += Access::Drop(f, i).State == 2;
    }
    EXPECT_GT(dripping, 0);
    // Some drop shows on the screen: it differs from the trace somewhere.
    bool differs = false;
    for (int y = 0; y < 70 && !differs; ++y)
        differs =
            std::memcmp(Access::Screen(f).ScanLine(y), Access::Trace(f).ScanLine(y), 90 * 3) != 0;
    EXPECT_TRUE(differs);

    // Other kinds of file and missing files are ignored.
    std::ofstream(Dir() + "notes.txt") << "text";
    f.WMDropFiles(Dir() + "notes.txt");
    f.WMDropFiles(Dir() + "missing.bmp");
    EXPECT_EQ(Access::ImageName(f), name);
}

TEST_F(PictureTest, DropEventTakesTheFirstLocalFile) {
    QMimeData data;
    data.setUrls({QUrl("https://example.org/a.png"), QUrl::fromLocalFile("/tmp/first.bmp"),
                  QUrl::fromLocalFile("/tmp/second.bmp")});
    EXPECT_EQ(DroppedFile(data), "/tmp/first.bmp");
    QMimeData none;
    none.setText("hello");
    EXPECT_EQ(DroppedFile(none), "");
}

class ControlsTest : public PlayerTest {
protected:
    void Key(TMainForm& f, uint16_t key, TShiftState shift = 0) { f.FormKeyDown(key, shift); }
};

TEST_F(ControlsTest, KeysWhilePlaying) {
    CopySprites(3);
    TMainForm& f = Playing(100, 100, ptHada);
    auto& ui = Access::Form(f);

    Key(f, 'X');
    EXPECT_EQ(ui.Image->cursor().shape(), Qt::BlankCursor);
    Key(f, 'X', ssCtrl);
    EXPECT_EQ(ui.Image->cursor().shape(), Qt::ArrowCursor);
    Key(f, 'C');
    EXPECT_FALSE(Access::ShowPosition(f));
    Key(f, '1');
    EXPECT_TRUE(Access::AutoEmitOn(f));
    Access::Drops(f).EmitDrops(50, 50, 0, 0, 0, 3);
    Key(f, 'N');
    EXPECT_FALSE(Access::AutoEmitOn(f));
    EXPECT_EQ(Access::Drop(f, 0).State, 0);

    struct Cycle {
        uint16_t key;
        const char* group;
        std::vector<int> sequence;
    };
    const Cycle cycles[] = {{'2', "RyouRadioGroup", {3, 4, 0, 1, 2}},
                            {'3', "SitatariRadioGroup", {3, 0, 1, 2}},
                            {'4', "EkiatoRadioGroup", {0, 1}},
                            {'7', "HEkiRadioGroup", {0, 1, 2}},
                            {'8', "HassyaSokudoRadioGroup", {3, 4, 0, 1, 2}},
                            {'Y', "SitatariIroRadioGroup", {0, 1, 2}}};
    for (const Cycle& c : cycles)
        for (const int expected : c.sequence) {
            Key(f, c.key);
            EXPECT_EQ(Group(c.group).ItemIndex(), expected) << c.group;
        }
    Group("HEkiRadioGroup").SetItemIndex(-1);
    Key(f, '7');
    EXPECT_EQ(Group("HEkiRadioGroup").ItemIndex(), 0);

    Key(f, '5');
    EXPECT_EQ(Access::EkiNo(f), 1);
    Key(f, '6');
    EXPECT_EQ(Access::EkiNo(f), 0);

    const TColor colours[] = {0, 128, 32768, 8388608, 16777215};
    for (const TColor c : colours) {
        Key(f, '9');
        EXPECT_EQ(Access::ScrollBoxColor(f), c);
    }
    // Keypad digits have codes of their own.
    Key(f, 0x61);
    EXPECT_FALSE(Access::AutoEmitOn(f));
}

TEST_F(ControlsTest, KeysWhileEditingAndWithoutPicture) {
    TMainForm& f = Playing(100, 100, ptHada);
    auto& ui = Access::Form(f);
    int undo = 0, hair = 0;
    QObject::connect(ui.UndoSpeedButton, &QToolButton::clicked, [&] { ++undo; });
    QObject::connect(ui.KamiSpeedButton, &QToolButton::clicked, [&] { ++hair; });
    Access::Mode(f) = mdMaskEditing;
    Key(f, 'Z');
    EXPECT_EQ(undo, 0);
    Key(f, 'Z', ssCtrl);
    EXPECT_EQ(undo, 1);
    Key(f, 'V');
    EXPECT_TRUE(ui.NuruSpeedButton->Down());
    EXPECT_FALSE(ui.KakuSpeedButton->Down());
    Key(f, 'B');
    EXPECT_TRUE(ui.KakuSpeedButton->Down());
    Key(f, 'Q');
    EXPECT_TRUE(ui.KamiSpeedButton->Down());
    EXPECT_FALSE(ui.NasiSpeedButton->Down());
    EXPECT_EQ(hair, 1);
    Key(f, 'F');
    EXPECT_TRUE(ui.NasiSpeedButton->Down());
    // Player keys do nothing here, nor the clear button.
    Access::Drops(f).EmitDrops(50, 50, 0, 0, 0, 1);
    Key(f, 'N');
    Key(f, '1');
    f.ResetBitBtnClick();
    EXPECT_EQ(Access::Drop(f, 0).State, 1);
    EXPECT_FALSE(Access::AutoEmitOn(f));

    Access::Mode(f) = mdNoPicture;
    for (const uint16_t k : {'C', '2', 'Q', 'B'})
        Key(f, k);
    EXPECT_TRUE(Access::ShowPosition(f));
    EXPECT_EQ(Group("RyouRadioGroup").ItemIndex(), 2);
    EXPECT_TRUE(ui.KakuSpeedButton->Down());
}

TEST_F(ControlsTest, WindowSeesKeysBeforeItsFocusedControl) {
    TMainForm& f = Playing(100, 100, ptHada);
    f.show();
    QRadioButton* item = Group("RyouRadioGroup").Button(0);
    item->setFocus();
    QTest::keyClick(item, Qt::Key_C);
    EXPECT_FALSE(Access::ShowPosition(f));
}

TEST_F(ControlsTest, MouseEmitsMovesTheSpotAndScrolls) {
    TMainForm& f = Playing(400, 400, ptHada, 8, 8);
    auto count = [&] {
        int n = 0;
        for (int i = 0; i < DropCount; ++i)
            n += Access::Drop(f, i).State == 1;
        return n;
    };
    Group("RyouRadioGroup").SetItemIndex(0);
    keysDown = {VK_LBUTTON};
    f.ImageMouseDown(mbLeft, ssLeft, 50, 50);
    EXPECT_EQ(count(), 1);
    // Origin: spot centre minus half the sprite.
    EXPECT_EQ(Access::Drop(f, 0).StartX, 0 + 16 - 4);
    f.ImageMouseMove(ssLeft, 60, 60);
    EXPECT_EQ(count(), 1);
    Group("RyouRadioGroup").SetItemIndex(4);
    f.ImageMouseMove(ssLeft, 61, 60);
    EXPECT_EQ(count(), 8);
    keysDown = {VK_LBUTTON, VK_RBUTTON};
    f.ImageMouseDown(mbRight, ssLeft | ssRight, 70, 80);
    EXPECT_EQ(count(), 23);
    EXPECT_EQ(Access::PosX(f), 54);
    EXPECT_EQ(Access::PosY(f), 64);
    keysDown = {VK_RBUTTON};
    f.ImageMouseMove(ssRight, -30, 500);
    EXPECT_EQ(Access::PosX(f), -46);
    EXPECT_EQ(Access::PosY(f), 484);

    f.resize(300, 300);
    auto& ui = Access::Form(f);
    ui.Image->resize(1600, 1600);
    f.show();
    QApplication::processEvents();
    QScrollBar* v = ui.ImageScrollBox->verticalScrollBar();
    ASSERT_GT(v->maximum(), 20);
    keysDown = {};
    f.ImageMouseMove(0, 100, 100);
    keysDown = {VK_SHIFT, VK_LBUTTON};
    const int before = count();
    f.ImageMouseMove(ssShift | ssLeft, 100, 90);
    EXPECT_EQ(v->value(), 10);
    EXPECT_EQ(count(), before);
    EXPECT_EQ(Access::DragX(f), 100);
    f.FormMouseWheelDown(0);
    EXPECT_EQ(v->value(), 18);
    f.FormMouseWheelUp(0);
    f.FormMouseWheelUp(0);
    EXPECT_EQ(v->value(), 2);
    QScrollBar* h = ui.ImageScrollBox->horizontalScrollBar();
    f.FormMouseWheelDown(ssShift);
    EXPECT_EQ(h->value(), 8);
}

TEST_F(ControlsTest, ClearWipesDropsAndTraces) {
    TMainForm& f = Playing(50, 50, ptHada);
    Access::Trace(f).Assign(Solid(50, 50, 1, 2, 3).get());
    Access::Drops(f).EmitDrops(10, 10, 0, 0, 0, 2);
    f.ResetBitBtnClick();
    EXPECT_EQ(Access::Drop(f, 1).State, 0);
    EXPECT_EQ(Blue(Access::Trace(f), 5, 5), 100);
    EXPECT_EQ(Blue(Access::Screen(f), 5, 5), 100);
}

class SpriteTest : public PlayerTest {};

TEST_F(SpriteTest, StepsWrapAndColourButtonsFallBackToTheFirst) {
    CopySprites(4);
    TMainForm& f = MakeForm();
    auto& ui = Access::Form(f);
    for (const int expected : {1, 2, 3, 0}) {
        ui.EkiChangeBitBtn->click();
        EXPECT_EQ(Access::EkiNo(f), expected);
    }
    ui.EkiChangeBitBtn->click();
    EXPECT_EQ(Access::Eki(f).Width(), 8); // eki1 is the 8 x 8 sprite
    EXPECT_EQ(ui.EkiGroupBox->title().toStdString(), "液のイメージ (8 x 8)");
    EXPECT_EQ(ui.EkiImage->Picture().Bitmap().Width(), 8);
    ui.EkiIroPSpeedButton->click(); // no eki15.bmp
    EXPECT_EQ(Access::EkiNo(f), 0);
    EXPECT_EQ(Access::Eki(f).Width(), 16);
    ui.EkiChangeBitBtn->click();
    f.EkiImageDblClick();
    EXPECT_EQ(Access::EkiNo(f), 0);
}

TEST_F(SpriteTest, ColourGroupsStartAtFiveTenFifteen) {
    CopySprites(20);
    TMainForm& f = MakeForm();
    auto& ui = Access::Form(f);
    ui.EkiIroYSpeedButton->click();
    EXPECT_EQ(Access::EkiNo(f), 5);
    ui.EkiIroGSpeedButton->click();
    EXPECT_EQ(Access::EkiNo(f), 10);
    ui.EkiIroPSpeedButton->click();
    EXPECT_EQ(Access::EkiNo(f), 15);
    EXPECT_EQ(Access::Eki(f).PixelColor(0, 0), RGB(255, 230, 217));
    ui.EkiIroSSpeedButton->click();
    EXPECT_EQ(Access::EkiNo(f), 0);
}

// The whole square of a sprite is blended over the picture, so a sprite reads as liquid only
// when its body colour reaches the edges (no frame) and its shading stays soft; the four
// colour groups keep their colours and sizes.
TEST_F(SpriteTest, SpritesAreLiquidUpToTheirEdges) {
    const TColor bodies[4] = {RGB(255, 255, 255), RGB(254, 254, 127), RGB(223, 223, 223),
                              RGB(255, 230, 217)};
    const int sizes[5] = {16, 8, 12, 24, 32};
    for (int n = 0; n < 20; ++n) {
        TBitmap s;
        s.LoadFromFile(std::string(MV_SOURCE_DIR) + "/assets/ekiimg/eki" + std::to_string(n) +
                       ".bmp");
        const int size = sizes[n % 5];
        ASSERT_EQ(s.Width(), size) << n;
        ASSERT_EQ(s.Height(), size) << n;
        const TColor body = bodies[n / 5];
        int highlight = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const TColor c = s.PixelColor(x, y);
                if (x == 0 || y == 0 || x == size - 1 || y == size - 1) {
                    EXPECT_EQ(c, body) << n << " at " << x << "," << y;
                }
                for (auto channel : {GetRValue, GetGValue, GetBValue})
                    EXPECT_GE(channel(c), channel(body) * 9 / 10) << n << " at " << x << "," << y;
                highlight = std::max(highlight, GetBValue(c) - GetBValue(body));
            }
        if (n / 5 != 0) {
            EXPECT_GT(highlight, 10) << n;
        }
    }
}

TEST_F(SpriteTest, MissingFileKeepsThePreviousSprite) {
    CopySprites(2);
    TMainForm& f = MakeForm();
    f.LoadEkiImage(Dir() + "ekiimg/eki7.bmp");
    EXPECT_EQ(Access::Eki(f).Width(), 16);
    EXPECT_TRUE(dialogs.empty());
}
