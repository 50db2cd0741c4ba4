// The window's frame: the tick's timing, automatic emission, the emission spot, recording, and
// a failure inside a frame.
#include "Harness.h"

#include <QCoreApplication>
#include <QScrollBar>
#include <filesystem>

class FrameTickTest : public PlayerTest {
protected:
    // A flying drop far from its target moves once per frame: its Dist counts frames.
    TMainForm& WithFlyingDrop() {
        TMainForm& f = Playing(100, 100, ptHada);
        TDrop& d = Access::Drop(f, 0);
        Flying(d, 0, 0, 150);
        d.TargetX = 1000;
        d.TargetY = 1000;
        d.Speed = 1;
        return f;
    }
    // The loop then waits for a message or the next due frame.
    void Tick(TMainForm& f) {
        bool done = false;
        f.AppIdle(nullptr, done);
        EXPECT_TRUE(done);
    }
};

TEST_F(FrameTickTest, PositionSpotIsKeyedOnItsTopLeftColour) {
    TMainForm& f = Playing(100, 100, ptHada);
    Access::PosX(f) = 20;
    Access::PosY(f) = 30;
    f.DrawPositionCursor();
    const TBitmap& screen = Access::Screen(f);
    const uint8_t* bar = screen.ScanLine(40) + 3 * (20 + 15);
    EXPECT_EQ(bar[0], 0); // red (255, 0, 0) as blue, green, red
    EXPECT_EQ(bar[2], 255);
    EXPECT_EQ(screen.ScanLine(40)[3 * (20 + 14) + 2], 0); // black edge
    EXPECT_EQ(Blue(screen, 20, 30), 100);                 // white is left out
    EXPECT_EQ(Blue(screen, 25, 45), 100);
    Access::ShowPosition(f) = false;
    Access::Screen(f).Assign(Solid(100, 100, 100, 100, 100).get());
    f.DrawPositionCursor();
    EXPECT_EQ(Blue(Access::Screen(f), 35, 40), 100);
}

TEST_F(FrameTickTest, EveryRadioGroupReachesItsOptionByTheNextFrame) {
    TMainForm& f = WithFlyingDrop();
    Ui::TMainForm& ui = Access::Form(f);
    ui.RyouRadioGroup->SetItemIndex(4);
    ui.HassyaSokudoRadioGroup->SetItemIndex(3);
    ui.HEkiRadioGroup->SetItemIndex(1);
    ui.SitatariRadioGroup->SetItemIndex(0);
    ui.SitatariIroRadioGroup->SetItemIndex(-1);
    ui.EkiatoRadioGroup->SetItemIndex(0);
    clock = 100;
    Tick(f);
    const TDropOptions& o = Access::Options(f);
    EXPECT_EQ(o.Amount, 4);
    EXPECT_EQ(o.EmissionSpeed, 3);
    EXPECT_EQ(o.EmissionColor, 1);
    EXPECT_EQ(o.DripSpeed, 0);
    EXPECT_EQ(o.DripColor, -1);
    EXPECT_FALSE(o.Traces);
    ui.EkiatoRadioGroup->SetItemIndex(1);
    clock = 200;
    Tick(f);
    EXPECT_TRUE(Access::Options(f).Traces);
}

TEST_F(FrameTickTest, AFrameNeedsMoreThanThirtyTwoMilliseconds) {
    TMainForm& f = WithFlyingDrop();
    clock = 32;
    Tick(f);
    EXPECT_EQ(Access::Drop(f, 0).Dist, 0);
    EXPECT_EQ(Access::LastTick(f), 0u);
    clock = 33;
    Tick(f);
    EXPECT_EQ(Access::Drop(f, 0).Dist, 1);
    EXPECT_EQ(Access::LastTick(f), 33u);
    clock = 65;
    Tick(f);
    EXPECT_EQ(Access::Drop(f, 0).Dist, 1);
    // Last tick + 32 wraps around in 32 bits: 0x11 is past it.
    Access::LastTick(f) = 0xFFFFFFF0u;
    clock = 0x10;
    Tick(f);
    EXPECT_EQ(Access::Drop(f, 0).Dist, 1);
    clock = 0x11;
    Tick(f);
    EXPECT_EQ(Access::Drop(f, 0).Dist, 2);
}

TEST_F(FrameTickTest, ShiftOrNoPictureFreezesEverythingWithoutDraws) {
    TMainForm& f = WithFlyingDrop();
    Access::AutoEmitOn(f) = true;
    clock = 1000;
    keysDown = {VK_SHIFT};
    Tick(f);
    keysDown.clear();
    Access::Mode(f) = mdNoPicture;
    Tick(f);
    Access::Mode(f) = mdMaskEditing;
    Tick(f);
    EXPECT_EQ(Access::Drop(f, 0).Dist, 0);
    EXPECT_EQ(RandSeed, 0u);
}

TEST_F(FrameTickTest, AutomaticEmissionDrawsOncePerFrame) {
    TMainForm& f = WithFlyingDrop();
    Access::Drop(f, 0) = TDrop{};
    Access::AutoEmitOn(f) = true;
    cursor = Point(40, 40);
    // Random(100) per frame from seed 0: 0, 3, then 86 (above 70: emission of five drops).
    clock = 100;
    Tick(f);
    EXPECT_EQ(RandSeed, 1u);
    clock = 200;
    Tick(f);
    EXPECT_EQ(Access::Drop(f, 0).State, 0);
    clock = 300;
    Tick(f);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Access::Drop(f, i).State, 1) << i;
    EXPECT_EQ(Access::Drop(f, 5).State, 0);
}

TEST_F(FrameTickTest, FrameStartsFromTheTraceAndEndsWithTheSpot) {
    TMainForm& f = Playing(100, 100, ptHada);
    Access::Trace(f).Assign(Solid(100, 100, 60, 60, 60).get());
    Access::PosX(f) = 0;
    Access::PosY(f) = 0;
    clock = 100;
    Tick(f);
    EXPECT_EQ(Blue(Access::Screen(f), 50, 50), 60);
    EXPECT_EQ(Access::Screen(f).ScanLine(10)[3 * 15 + 2], 255);
}

TEST_F(FrameTickTest, AnExceptionInAFrameStopsPlayingAndReachesTheErrorBox) {
    TMainForm& f = WithFlyingDrop();
    Access::Recording(f) = true;
    Access::RecordDir(f) = Dir() + "missing/";
    clock = 100;
    TestApplication().DoIdle();
    EXPECT_EQ(Access::Mode(f), mdNoPicture);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].type, mtError);
    EXPECT_EQ(dialogs[0].caption, "Morvane X");
    EXPECT_NE(dialogs[0].text.find("missing"), std::string::npos);
    EXPECT_TRUE(beeps.empty());
    // Stopped: the next idle call does nothing.
    clock = 200;
    TestApplication().DoIdle();
    EXPECT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(Access::Drop(f, 0).Dist, 1);
}

TEST_F(FrameTickTest, RecordingWritesNumberedFrames) {
    TMainForm& f = WithFlyingDrop();
    std::filesystem::create_directories(Dir() + "record/take/");
    Access::Recording(f) = true;
    Access::RecordDir(f) = Dir() + "record/take/";
    for (uint32_t t : {100u, 200u, 300u}) {
        clock = t;
        Tick(f);
    }
    EXPECT_TRUE(FileExists(Dir() + "record/take/0000.bmp"));
    EXPECT_TRUE(FileExists(Dir() + "record/take/0002.bmp"));
    EXPECT_FALSE(FileExists(Dir() + "record/take/0003.bmp"));
    EXPECT_EQ(Access::Form(f).RokugaBitBtn->text().toStdString(), "0002");
}

// With a picture larger than the window only the part in view is compared with the last
// frame: a change outside it leaves the display alone, yet the screen picture holds it, and
// the view scrolled there is shown anew.
TEST_F(FrameTickTest, ChangesOutsideTheViewAreShownOnceScrolledTo) {
    TMainForm& f = Playing(2000, 1500, ptHada);
    Ui::TMainForm& ui = Access::Form(f);
    ui.Image->resize(2000, 1500);
    f.resize(820, 615);
    f.show();
    QCoreApplication::processEvents();
    clock = 100;
    Tick(f);
    const uint64_t shown = ui.Image->Invalidations();
    TDrop& d = Access::Drop(f, 0);
    Flying(d, 1800, 1300, 150);
    d.StartX = d.X;
    d.StartY = d.Y;
    d.TargetX = 1900;
    d.TargetY = 1300;
    d.Speed = 1;
    clock = 200;
    Tick(f);
    EXPECT_EQ(ui.Image->Invalidations(), shown);
    int drawn = 0;
    for (int y = 1290; y < 1320; ++y)
        for (int x = 1790; x < 1820; ++x)
            drawn += Blue(Access::Screen(f), x, y) != 100;
    EXPECT_GT(drawn, 0);
    ui.ImageScrollBox->horizontalScrollBar()->setValue(1400);
    ui.ImageScrollBox->verticalScrollBar()->setValue(1000);
    clock = 300;
    Tick(f);
    EXPECT_GT(ui.Image->Invalidations(), shown);
}
