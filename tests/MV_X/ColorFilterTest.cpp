// The colour filter: its arithmetic, and its bars and button on the main window.
#include "MV_X/ColorFilter.h"

#include "AlbumFixture.h"

#include <QApplication>
#include <QTest>

TEST(ColorFilter, StrengthMovesEachChannelTowardTheBarsColour) {
    EXPECT_EQ(FilterColor(1, 19, 20), RGB(12, 228, 255));
    const auto base = Pattern(23, 17);
    TBitmap image;
    image.Assign(base.get());
    ApplyColorFilter(image, *base, 0, clRed);
    EXPECT_TRUE(SamePixels(image, *base));
    ApplyColorFilter(image, *base, 20, FilterColor(20, 0, 0));
    EXPECT_TRUE(SamePixels(image, *Solid(23, 17, 0, 0, 255)));
    const auto grey = Solid(4, 4, 200, 200, 200);
    TBitmap dark;
    dark.Assign(grey.get());
    ApplyColorFilter(dark, *grey, 10, FilterColor(0, 0, 0));
    EXPECT_TRUE(SamePixels(dark, *Solid(4, 4, 106, 106, 106)));

    // Between the ends each channel moves floor(s x 12 x (c - p) / 256), up or down.
    const TColor c = FilterColor(20, 0, 11);
    const int target[3] = {GetBValue(c), GetGValue(c), GetRValue(c)};
    for (int s = 1; s <= 19; ++s) {
        ApplyColorFilter(image, *base, s, c);
        for (int y = 0; y < 17; ++y)
            for (int i = 0; i < 23 * 3; ++i) {
                const int p = base->ScanLine(y)[i];
                const int d = s * 12 * (target[i % 3] - p);
                ASSERT_EQ(image.ScanLine(y)[i], p + (d >= 0 ? d / 256 : -((255 - d) / 256)));
            }
    }
}

TEST_F(AlbumTest, FilterBarsRecolourThePictureWipeTracesAndKeepDrops) {
    TMainForm& f = MakeForms();
    Ui::TMainForm& ui = Access::Form(f);
    ImportAt("face.bmp", 1, 50, 40);
    const auto picture = Pattern(50, 40);
    Access::Drops(f).EmitDrops(10, 10, 0, 0, 0, 3);
    Access::Trace(f).Canvas().SetPixels(5, 5, clRed);
    // A colour bar alone at strength 0: the picture as loaded, the traces gone.
    ui.RTrackBar->SetPosition(20);
    EXPECT_TRUE(SamePixels(Access::Trace(f), *picture));
    ui.IroTrackBar->SetPosition(20);
    EXPECT_TRUE(SamePixels(Access::Image(f), *Solid(50, 40, 0, 0, 255)));
    EXPECT_TRUE(SamePixels(Access::Trace(f), Access::Image(f)));
    EXPECT_TRUE(SamePixels(Access::Screen(f), Access::Image(f)));
    EXPECT_TRUE(SamePixels(Access::Base(f), *picture));
    EXPECT_EQ(Access::Drop(f, 2).State, 1);

    // The button turns the strength off and keeps the colour; at 0 it changes nothing.
    ui.AkarusaButton->click();
    EXPECT_EQ(Bars(), (std::vector<int>{0, 20, 0, 0}));
    EXPECT_TRUE(SamePixels(Access::Image(f), *picture));
    Access::Trace(f).Canvas().SetPixels(5, 5, clRed);
    ui.AkarusaButton->click();
    EXPECT_EQ(Access::Trace(f).PixelColor(5, 5), clRed);

    // In the mask editor the bars only move and the button does nothing; back to playing,
    // the next change filters with every bar's position.
    Access::Mode(f) = mdMaskEditing;
    ui.IroTrackBar->SetPosition(10);
    ui.AkarusaButton->click();
    EXPECT_TRUE(SamePixels(Access::Image(f), *picture));
    Access::Mode(f) = mdPlaying;
    ui.GTrackBar->SetPosition(20);
    TBitmap expected;
    expected.Assign(picture.get());
    ApplyColorFilter(expected, *picture, 10, FilterColor(20, 20, 0));
    EXPECT_TRUE(SamePixels(Access::Image(f), expected));
}

TEST_F(AlbumTest, AMovedFilterBarHandsTheFocusToTheButton) {
    TMainForm& f = MakeForms();
    Ui::TMainForm& ui = Access::Form(f);
    f.show();
    QApplication::setActiveWindow(&f);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    ui.PageControl->setCurrentWidget(ui.IroTabSheet);
    // No picture open: the colour bar moves and the focus goes on; the strength bar keeps it.
    ui.GTrackBar->setFocus();
    ui.GTrackBar->SetPosition(4);
    EXPECT_TRUE(ui.AkarusaButton->hasFocus());
    ui.IroTrackBar->setFocus();
    ui.IroTrackBar->SetPosition(3);
    EXPECT_TRUE(ui.IroTrackBar->hasFocus());
    ImportAt("face.bmp", 1);
    ui.IroTrackBar->setFocus();
    ui.IroTrackBar->SetPosition(3);
    EXPECT_TRUE(ui.AkarusaButton->hasFocus());
}

// Drops, their traces and the clothes' wiping stamp all build on the filtered picture: with
// the whole picture turned red, no pixel of the blue picture as loaded shows anywhere, also
// not in the square of a drop.
TEST_F(AlbumTest, DropsAndTracesShowOnlyTheFilteredPicture) {
    TMainForm& f = MakeForms();
    Solid(120, 90, 255, 0, 0)->SaveToFile(Dir() + "blue.bmp");
    Drop(Dir() + "blue.bmp");
    Ui::TMainForm& ui = Access::Form(f);
    ui.RTrackBar->SetPosition(20);
    ui.IroTrackBar->SetPosition(20);
    Access::Eki(f).Assign(Solid(8, 8, 200, 200, 200).get());
    Access::ShowPosition(f) = false;
    uint32_t time = 0;
    for (const uint8_t part : {ptFuku, ptHada, ptKami}) {
        TMainForm::FillMaskBitmap(Access::Mask(f), part);
        for (int burst = 0; burst < 4; ++burst) {
            keysDown = {VK_LBUTTON};
            f.ImageMouseDown(mbLeft, ssLeft, 20 + 20 * burst, 20 + 10 * burst);
            keysDown.clear();
            for (int frame = 0; frame < 15; ++frame) {
                clock = time += 40;
                bool done = false;
                f.AppIdle(nullptr, done);
            }
        }
    }
    for (const TBitmap* b : {&Access::Trace(f), &Access::Screen(f)})
        for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 120; ++x) {
                const uint8_t* p = b->ScanLine(y) + 3 * x;
                ASSERT_LE(p[0], p[1] + 1) << x << "," << y; // blue never above green
            }
    // The drops did draw and leave traces.
    EXPECT_FALSE(SamePixels(Access::Trace(f), Access::Image(f)));
}
