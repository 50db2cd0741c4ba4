// The colour filter: its arithmetic on bitmaps, and its bars and button on the main window.
#include "MV_X/ColorFilter.h"

#include "AlbumFixture.h"

#include <QApplication>
#include <QTest>

TEST(ColorFilter, ColourFromTheBars) {
    EXPECT_EQ(FilterChannel(0), 0);
    EXPECT_EQ(FilterChannel(1), 12);
    EXPECT_EQ(FilterChannel(19), 228);
    EXPECT_EQ(FilterChannel(20), 255);
    EXPECT_EQ(FilterColor(20, 0, 0), 0x0000FF);
    EXPECT_EQ(FilterColor(1, 2, 3), RGB(12, 24, 36));
}

TEST(ColorFilter, StrengthMovesEachChannelTowardTheColour) {
    const auto base = Pattern(23, 17);
    TBitmap image;
    image.Assign(base.get());

    ApplyColorFilter(image, *base, 0, RGB(255, 0, 0));
    EXPECT_TRUE(SamePixels(image, *base));
    ApplyColorFilter(image, *base, 20, RGB(255, 0, 0));
    EXPECT_TRUE(SamePixels(image, *Solid(23, 17, 0, 0, 255)));

    const auto grey = Solid(4, 4, 200, 200, 200);
    TBitmap dark;
    dark.Assign(grey.get());
    ApplyColorFilter(dark, *grey, 10, FilterColor(0, 0, 0));
    EXPECT_TRUE(SamePixels(dark, *Solid(4, 4, 106, 106, 106)));

    // Every strength between the ends, toward a colour above and below the picture's values.
    const TColor c = FilterColor(20, 0, 11);
    const uint8_t target[3] = {GetBValue(c), GetGValue(c), GetRValue(c)};
    for (int s = 1; s <= 19; ++s) {
        ApplyColorFilter(image, *base, s, c);
        for (int y = 0; y < 17; ++y)
            for (int i = 0; i < 23 * 3; ++i) {
                const int p = base->ScanLine(y)[i];
                const int d = s * 12 * (target[i % 3] - p);
                const int floorDiv = d >= 0 ? d / 256 : -((-d + 255) / 256);
                ASSERT_EQ(image.ScanLine(y)[i], p + floorDiv) << s << " " << y << " " << i;
            }
    }
}

class FilterWindowTest : public AlbumTest {
protected:
    Ui::TMainForm& Ui() { return Access::Form(*form); }
};

TEST_F(FilterWindowTest, BarsFilterThePictureWipeTracesAndKeepDrops) {
    TMainForm& f = MakeForms();
    ImportAt("face.bmp", 1, 50, 40);
    const auto picture = Pattern(50, 40);
    f.EmitDrops(10, 10, 0, 0, 0, 3);
    Access::Trace(f).Canvas().SetPixels(5, 5, clRed);

    // A colour bar alone at strength 0: the picture as loaded, traces gone.
    Ui().RTrackBar->SetPosition(20);
    EXPECT_TRUE(SamePixels(Access::Image(f), *picture));
    EXPECT_TRUE(SamePixels(Access::Trace(f), *picture));

    Ui().IroTrackBar->SetPosition(20);
    EXPECT_TRUE(SamePixels(Access::Image(f), *Solid(50, 40, 0, 0, 255)));
    EXPECT_TRUE(SamePixels(Access::Trace(f), Access::Image(f)));
    EXPECT_TRUE(SamePixels(Access::Screen(f), Access::Image(f)));
    EXPECT_TRUE(SamePixels(Access::Base(f), *picture));
    EXPECT_EQ(Access::Drop(f, 2).State, 1);

    // The button turns the strength off; the colour bars stay.
    Ui().AkarusaButton->click();
    EXPECT_EQ(Ui().IroTrackBar->Position(), 0);
    EXPECT_EQ(Ui().RTrackBar->Position(), 20);
    EXPECT_TRUE(SamePixels(Access::Image(f), *picture));
    // Already off: nothing happens, not even to the traces.
    Access::Trace(f).Canvas().SetPixels(5, 5, clRed);
    Ui().AkarusaButton->click();
    EXPECT_EQ(Access::Trace(f).PixelColor(5, 5), clRed);

    // In the mask editor the bars only move, and the button does nothing.
    Access::Mode(f) = 2;
    Ui().IroTrackBar->SetPosition(10);
    EXPECT_TRUE(SamePixels(Access::Image(f), *picture));
    Ui().AkarusaButton->click();
    EXPECT_EQ(Ui().IroTrackBar->Position(), 10);
    // Back to playing, the next change filters with every bar's position.
    Access::Mode(f) = 1;
    Ui().GTrackBar->SetPosition(20);
    TBitmap expected;
    expected.Assign(picture.get());
    ApplyColorFilter(expected, *picture, 10, FilterColor(20, 20, 0));
    EXPECT_TRUE(SamePixels(Access::Image(f), expected));
}

TEST_F(FilterWindowTest, AMovedBarHandsTheFocusToTheButton) {
    TMainForm& f = MakeForms();
    f.show();
    QApplication::setActiveWindow(&f);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    Ui().PageControl->setCurrentWidget(Ui().IroTabSheet);
    // No picture open: only the bar moves, and the focus goes on.
    Ui().GTrackBar->setFocus();
    Ui().GTrackBar->SetPosition(4);
    EXPECT_TRUE(Ui().AkarusaButton->hasFocus());
    EXPECT_TRUE(Access::Image(f).Empty());

    Ui().IroTrackBar->setFocus();
    Ui().IroTrackBar->SetPosition(3);
    EXPECT_FALSE(Ui().AkarusaButton->hasFocus());
    ImportAt("face.bmp", 1);
    Ui().IroTrackBar->setFocus();
    Ui().IroTrackBar->SetPosition(3);
    EXPECT_TRUE(Ui().AkarusaButton->hasFocus());
}
