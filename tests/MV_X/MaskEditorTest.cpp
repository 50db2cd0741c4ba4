// The mask editor: entering and leaving, the overlay, pen, fill, picking, clear, undo, saving.
#include "AlbumFixture.h"

namespace {

constexpr TColor Hair = 250, Eye = 64000, Skin = 16448000, Clothes = 16448250, White = 0xFFFFFF;

// An overlay pixel: colour + floor(level * (picture - colour) / 256) per channel.
TColor Overlay(TColor part, int picture, int level = 126) {
    auto mix = [&](int c) {
        return c + static_cast<int>(std::floor(level * (picture - c) / 256.0));
    };
    return RGB(mix(GetRValue(part)), mix(GetGValue(part)), mix(GetBValue(part)));
}

} // namespace

class MaskEditorTest : public AlbumTest {
protected:
    // A grey 40 x 30 picture imported (skin throughout) and the editor opened on it.
    TMainForm& Editing() {
        TMainForm& f = MakeForms();
        Solid(40, 30, 200, 200, 200)->SaveToFile(Dir() + "face.bmp");
        Drop(Dir() + "face.bmp");
        name = Access::ImageName(f);
        savedMask = FileText(Entry(name, ".msk"));
        Ui().MaskEditBitBtn->click();
        dialogs.clear();
        beeps.clear();
        return f;
    }
    Ui::TMainForm& Ui() { return Access::Form(*form); }
    void Key(uint16_t key, TShiftState shift = 0) { form->FormKeyDown(key, shift); }
    // Mouse events with the buttons and keys held as given.
    void Press(int x, int y, std::set<int> keys = {VK_LBUTTON}) {
        keysDown = std::move(keys);
        form->ImageMouseDown(mbLeft, 0, x, y);
    }
    void Move(int x, int y, std::set<int> keys = {VK_LBUTTON}) {
        keysDown = std::move(keys);
        form->ImageMouseMove(0, x, y);
    }
    void Release() {
        keysDown = {};
        form->ImageMouseUp(mbLeft, 0, 0, 0);
    }
    TColor Color(int x, int y) { return Access::MaskColor(*form).PixelColor(x, y); }
    TColor Screen(int x, int y) { return Access::Screen(*form).PixelColor(x, y); }
    bool Editor() { return Access::Mode(*form) == mdMaskEditing; }
    std::string name, savedMask;
};

TEST_F(MaskEditorTest, EnteringAndLeavingWithoutChangesAsksNothing) {
    MakeForms();
    Ui().MaskEditBitBtn->click();
    EXPECT_EQ(Access::Mode(*form), mdNoPicture);
    album.reset();
    form.reset();

    TMainForm& f = Editing();
    auto& ui = Ui();
    const std::vector<QWidget*> controls = {
        ui.KamiSpeedButton, ui.MeSpeedButton,   ui.HanaSpeedButton, ui.KutiSpeedButton,
        ui.HaSpeedButton,   ui.HadaSpeedButton, ui.FukuSpeedButton, ui.NasiSpeedButton,
        ui.KakuSpeedButton, ui.NuruSpeedButton, ui.KesuSpeedButton, ui.UndoSpeedButton,
        ui.TrackBar};
    for (QWidget* w : controls)
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(Editor());
    EXPECT_EQ(ui.MaskEditBitBtn->text().toStdString(), "完了");
    EXPECT_EQ(Access::StatusText(f).rfind("[左クリック] ペイント", 0), 0u);
    EXPECT_TRUE(ui.NasiSpeedButton->Down() && ui.KakuSpeedButton->Down());
    EXPECT_EQ(Access::MaskColor(f).Canvas().Pen.Width, 3);
    EXPECT_EQ(Access::Screen(f).Canvas().Pen.Width, 3);
    // Picture 200 under skin at the form's position 5 (level 126): 98, 225, 225.
    EXPECT_EQ(Screen(7, 9), RGB(98, 225, 225));
    ui.TrackBar->SetPosition(0);
    EXPECT_EQ(Screen(0, 0), RGB(0, 249, 249));
    ui.TrackBar->SetPosition(10);
    EXPECT_EQ(Screen(0, 0), RGB(196, 200, 200));

    ui.MaskEditBitBtn->click();
    EXPECT_TRUE(dialogs.empty() && beeps.empty());
    EXPECT_EQ(Access::Mode(f), mdPlaying);
    EXPECT_EQ(ui.MaskEditBitBtn->text().toStdString(), "編集");
    for (QWidget* w : controls)
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_EQ(Access::StatusText(f), Access::PlayHelp(f));
    // The bar no longer touches the screen.
    ui.TrackBar->SetPosition(3);
    EXPECT_TRUE(SamePixels(Access::Screen(f), Access::Image(f)));
    EXPECT_EQ(FileText(Entry(name, ".msk")), savedMask);
}

TEST_F(MaskEditorTest, PenFillAndPickWorkOnTheColours) {
    TMainForm& f = Editing();
    Key('Q');
    // A press draws nothing; the first move puts a 3 x 3 dot, the next a line 3 wide.
    Press(10, 10);
    EXPECT_EQ(Color(10, 10), Skin);
    Move(10, 10);
    Move(30, 10);
    for (int x = 9; x <= 31; ++x)
        for (const int y : {9, 10, 11})
            ASSERT_EQ(Color(x, y), Hair) << x << "," << y;
    EXPECT_EQ(Color(20, 12), Skin);
    EXPECT_EQ(Color(32, 10), Skin);
    EXPECT_EQ(Screen(20, 10), Hair); // pure colour while the stroke is drawn
    // A move with the button up ends the stroke: the next one starts afresh.
    Move(30, 25, {});
    Move(30, 25);
    EXPECT_EQ(Color(30, 18), Skin);
    Release();
    EXPECT_EQ(Screen(20, 10), RGB(225, 98, 98));
    EXPECT_TRUE(Access::MaskModified(f));

    // Fill stops at every other colour, near-skin too; the screen follows on release.
    const TColor ring[] = {0, Hair, Eye, 16384000, 64250, 16384250, Clothes, White, 16448001};
    for (int i = 0; i <= 6; ++i)
        for (const TPoint p : {Point(i, 0), Point(i, 6), Point(0, i), Point(6, i)})
            Access::MaskColor(f).SetPixelColor(p.X + 2, p.Y + 14, ring[(p.X + p.Y) % 9]);
    TBitmap before;
    before.Assign(&Access::MaskColor(f));
    Key('W');
    Key('V');
    Press(5, 17);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool inside = x > 2 && x < 8 && y > 14 && y < 20;
            ASSERT_EQ(Color(x, y), inside ? Eye : before.PixelColor(x, y)) << x << "," << y;
        }
    EXPECT_TRUE(SamePixels(Access::MaskUndo(f), before));
    EXPECT_EQ(Screen(5, 17), Overlay(Skin, 200));
    Release();
    EXPECT_EQ(Screen(5, 17), Overlay(Eye, 200));
    // A fill on the paint colour changes nothing, and moves in fill mode draw nothing.
    before.Assign(&Access::MaskColor(f));
    Press(5, 17);
    Move(20, 20);
    EXPECT_TRUE(SamePixels(Access::MaskColor(f), before));

    // The right button picks paint colours only, from presses and moves.
    Press(30, 10, {VK_RBUTTON});
    EXPECT_TRUE(Ui().KamiSpeedButton->Down());
    EXPECT_EQ(Access::MaskColor(f).Canvas().Brush.Color, Hair);
    for (const TPoint p : {Point(3, 20), Point(4, 20), Point(-1, 50)})
        Move(p.X, p.Y, {VK_RBUTTON});
    EXPECT_TRUE(Ui().KamiSpeedButton->Down());
    Move(2, 14, {VK_RBUTTON});
    EXPECT_TRUE(Ui().NasiSpeedButton->Down());
    EXPECT_EQ(Access::Screen(f).Canvas().Pen.Color, 0);
}

TEST_F(MaskEditorTest, ClearAndUndoDoNotCountAsChanges) {
    TMainForm& f = Editing();
    answers = {mrNo, mrYes};
    Ui().KesuSpeedButton->click();
    EXPECT_EQ(Color(3, 3), Skin);
    Key('D');
    Ui().KesuSpeedButton->click();
    EXPECT_EQ(dialogs[1].text,
              "意味画像を初期化し、すべて「空」で塗りつぶします。\r\nよいでしょうか?");
    EXPECT_EQ(beeps, (std::vector<uint32_t>{32, 32}));
    EXPECT_EQ(Color(39, 29), 0);
    EXPECT_TRUE(Ui().NasiSpeedButton->Down());
    EXPECT_EQ(Screen(3, 3), RGB(98, 98, 98));
    // Undo, by button or Ctrl+Z, brings back the same copy each time.
    Ui().UndoSpeedButton->click();
    EXPECT_EQ(Color(3, 3), Skin);
    Access::MaskColor(f).SetPixelColor(3, 3, Hair);
    Key('Z', ssCtrl);
    EXPECT_EQ(Color(3, 3), Skin);

    dialogs.clear();
    Ui().MaskEditBitBtn->click();
    EXPECT_TRUE(dialogs.empty());
    EXPECT_FALSE(Editor());
    EXPECT_EQ(FileText(Entry(name, ".msk")), savedMask);
}

TEST_F(MaskEditorTest, SaveQuestionsAndTheMaskFile) {
    TMainForm& f = Editing();
    Key('D');
    Press(10, 10);
    Move(10, 10);
    Release();
    // No and No: the editor stays open with the colours.
    answers = {mrNo, mrNo};
    Ui().MaskEditBitBtn->click();
    EXPECT_EQ(dialogs[0].text, "編集した意味画像を保存します.\r\nよいでしょうか?");
    EXPECT_EQ(dialogs[1].text, "画像を保存せず、編集画面を終了します.\r\nよいでしょうか?");
    EXPECT_EQ(beeps, (std::vector<uint32_t>{32, 32}));
    EXPECT_TRUE(Editor());
    EXPECT_EQ(Color(10, 10), Clothes);
    // No and Yes: closed, mask and file as before; the colours go at the next opening.
    answers = {mrNo, mrYes};
    Ui().MaskEditBitBtn->click();
    EXPECT_FALSE(Editor());
    EXPECT_EQ(Access::Mask(f).ScanLine(10)[10], ptHada);
    EXPECT_EQ(FileText(Entry(name, ".msk")), savedMask);

    // A value without a part shows white and is saved as nothing.
    const auto mask = LoadBmp(Entry(name, ".msk"));
    mask->ScanLine(4)[3] = 9;
    mask->SaveToFile(Entry(name, ".msk"));
    Open(name);
    Ui().MaskEditBitBtn->click();
    EXPECT_EQ(Color(10, 10), Skin);
    EXPECT_EQ(Color(3, 4), White);
    EXPECT_EQ(Screen(3, 4), RGB(227, 227, 227));
    Press(20, 20, {VK_RBUTTON});
    Release();
    answers = {mrYes};
    Ui().MaskEditBitBtn->click();
    EXPECT_FALSE(Editor());
    const auto saved = LoadBmp(Entry(name, ".msk"));
    EXPECT_EQ(saved->PixelFormat(), pf8bit);
    EXPECT_EQ(saved->ScanLine(4)[3], ptNasi);
    EXPECT_EQ(saved->ScanLine(5)[3], ptHada);
    EXPECT_EQ(Access::Mask(f).ScanLine(4)[3], ptNasi);
}

TEST_F(MaskEditorTest, AFailedSaveKeepsTheOldFileAndTheEditorOpen) {
    TMainForm& f = Editing();
    Access::MaskColor(f).SetPixelColor(5, 5, Hair);
    Access::MaskModified(f) = true;
    const std::string temporary = Entry(name, ".msk") + ".new";
    fs::create_directory(temporary);
    answers = {mrYes};
    Ui().MaskEditBitBtn->click();
    EXPECT_EQ(Errors(),
              std::vector<std::string>{"ファイル " + Entry(name, ".msk") + " を作成できません."});
    // The disk fills up half way: the old file stays whole and nothing is left beside it.
    fs::remove(temporary);
    fs::create_symlink("/dev/full", temporary);
    answers = {mrYes};
    Ui().MaskEditBitBtn->click();
    EXPECT_EQ(Errors().size(), 2u);
    EXPECT_FALSE(fs::exists(fs::symlink_status(temporary)));
    EXPECT_TRUE(Editor());
    EXPECT_EQ(Access::Mask(f).ScanLine(5)[5], ptKami);
    EXPECT_EQ(FileText(Entry(name, ".msk")), savedMask);
}
