// Drawing levels, the emission spot, shading rectangles and the frame tick.
#include "Harness.h"
#include "platform/graphics/Canvas.h"

#include <filesystem>

namespace {

void Flying(TDrop& d, int x, int y, int alpha) {
    d = TDrop{};
    d.State = 1;
    d.X = x;
    d.Y = y;
    d.TargetX = 1000;
    d.Alpha = alpha;
}

void Dripping(TDrop& d, int x, int y, int alpha) {
    d = TDrop{};
    d.State = 2;
    d.Part = ptHada;
    d.X = x;
    d.Y = y;
    d.Alpha = alpha;
}

// Screen blue byte after one drop of the 200-grey sprite over the 100-grey screen.
int Blended(int level) {
    return 200 + static_cast<int>(std::floor(level * -100 / 256.0));
}

} // namespace

class DrawingTest : public PlayerTest {};

TEST_F(DrawingTest, FlyingDropLevels) {
    TMainForm& f = Playing(50, 50, ptHada);
    Flying(Access::Drop(f, 0), 10, 10, 150);
    const int expected[] = {Blended(240), Blended(205), Blended(150)}; // draws are 0 from seed 0
    for (int index = 0; index < 3; ++index) {
        Group("HEkiRadioGroup").SetItemIndex(index);
        Access::Screen(f).Assign(Solid(50, 50, 100, 100, 100).get());
        RandSeed = 0;
        f.DrawDrops();
        EXPECT_EQ(Blue(Access::Screen(f), 11, 11), expected[index]) << index;
        EXPECT_EQ(RandSeed, index == 2 ? 0u : 1u);
    }
    Group("HEkiRadioGroup").SetItemIndex(-1);
    Access::Screen(f).Assign(Solid(50, 50, 100, 100, 100).get());
    f.DrawDrops();
    EXPECT_EQ(Blue(Access::Screen(f), 11, 11), 100);
}

TEST_F(DrawingTest, DrippingDropLevelsNeverShowMoreThanTheFloor) {
    TMainForm& f = Playing(50, 50, ptHada);
    struct Case {
        int index, alpha, level;
        bool draws;
    };
    const Case cases[] = {{0, 100, 235, true},
                          {0, 240, 240, false},
                          {1, 100, 215, true},
                          {1, 216, 216, false},
                          {2, 100, 100, false}};
    for (const Case& c : cases) {
        Group("SitatariIroRadioGroup").SetItemIndex(c.index);
        Dripping(Access::Drop(f, 0), 10, 10, c.alpha);
        Access::Screen(f).Assign(Solid(50, 50, 100, 100, 100).get());
        RandSeed = 0;
        f.DrawDrops();
        EXPECT_EQ(Blue(Access::Screen(f), 10, 10), Blended(c.level)) << c.index << " " << c.alpha;
        EXPECT_EQ(RandSeed, c.draws ? 1u : 0u);
    }
}

TEST_F(DrawingTest, LaterSlotsDrawOverEarlierOnes) {
    TMainForm& f = Playing(50, 50, ptHada);
    Group("HEkiRadioGroup").SetItemIndex(2);
    Flying(Access::Drop(f, 0), 10, 10, 128);
    Flying(Access::Drop(f, 1), 12, 10, 128);
    f.DrawDrops();
    // Column 12 got both blends: 150 after the first, then 200 + floor(128 x -50 / 256) = 175.
    EXPECT_EQ(Blue(Access::Screen(f), 11, 10), 150);
    EXPECT_EQ(Blue(Access::Screen(f), 12, 10), 175);
}

TEST_F(DrawingTest, PositionSpotIsKeyedOnItsTopLeftColour) {
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

class ShadingTest : public PlayerTest {};

TEST_F(ShadingTest, BlocksOfThirtyThreePixelsOverlapOnTheirEdges) {
    TMainForm& f = Playing(300, 300, ptHada, 32, 32);
    Dripping(Access::Drop(f, 0), 100, 100, 200);
    f.ShadeDrop(0, 1);
    const TBitmap& t = Access::Trace(f);
    EXPECT_EQ(Blue(t, 116, 116), 98);
    EXPECT_EQ(Blue(t, 132, 132), 96); // own, right and below
    EXPECT_EQ(Blue(t, 116, 100), 97); // own and above
    EXPECT_EQ(Blue(t, 100, 116), 97);
    EXPECT_EQ(Blue(t, 132, 116), 97);
    EXPECT_EQ(Blue(t, 116, 68), 99);
    EXPECT_EQ(Blue(t, 116, 67), 100);
    EXPECT_EQ(Blue(t, 68, 116), 99);
    EXPECT_EQ(Blue(t, 67, 116), 100);
    EXPECT_EQ(Blue(t, 164, 116), 99);
    EXPECT_EQ(Blue(t, 165, 116), 100);
    EXPECT_EQ(Blue(t, 116, 164), 99);
    EXPECT_EQ(Blue(t, 116, 165), 100);
    EXPECT_EQ(Blue(t, 133, 133), 100); // corners are not shaded
    EXPECT_EQ(Blue(t, 100, 100), 99);  // 100 - 2 - 1 - 1 + 3
    EXPECT_EQ(Blue(t, 102, 102), 101);
    EXPECT_EQ(Blue(t, 103, 103), 98);
    EXPECT_EQ(RandSeed, 0u); // five drops per emission: no thinning draw
}

TEST_F(ShadingTest, AtTheRightEdgeOnlyTheLeftNeighbourIsDarkened) {
    TMainForm& f = Playing(100, 100, ptHada);
    Dripping(Access::Drop(f, 0), 99, 50, 200);
    f.ShadeDrop(0, 1);
    const TBitmap& t = Access::Trace(f);
    EXPECT_EQ(Blue(t, 99, 52), 99); // the left block reaches column 99; no own block, no light
    EXPECT_EQ(Blue(t, 97, 52), 99);
    EXPECT_EQ(Blue(t, 94, 52), 100);
    EXPECT_EQ(Blue(t, 99, 48), 100);
}

TEST_F(ShadingTest, LargeAmountsThinShadingOutWithOneDraw) {
    TMainForm& f = Playing(100, 100, ptHada);
    Group("RyouRadioGroup").SetItemIndex(3); // 8 drops: shade when Random(8) <= 2
    Dripping(Access::Drop(f, 0), 50, 50, 200);
    f.ShadeDrop(0, 1); // Random(8) = 0 from seed 0
    EXPECT_EQ(RandSeed, 1u);
    EXPECT_EQ(Blue(Access::Trace(f), 53, 53), 98);
    RandSeed = 2; // Random(8) = 2: shades; the seed for 7 does not
    f.ShadeDrop(0, 1);
    EXPECT_EQ(Blue(Access::Trace(f), 53, 53), 96);
}

TEST_F(ShadingTest, DarkenAndLightenClampTheirAmountAndChannels) {
    auto bmp = Solid(10, 10, 5, 128, 250);
    TMainForm::DarkenRect(0, 0, Rect(0, 0, 2, 2), *bmp, 300);
    EXPECT_EQ(bmp->ScanLine(1)[3], 0);
    EXPECT_EQ(bmp->ScanLine(1)[4], 0);
    TMainForm::LightenRect(0, 0, Rect(0, 0, 2, 2), *bmp, 10);
    EXPECT_EQ(bmp->ScanLine(2)[6], 10);
    TMainForm::LightenRect(5, 5, Rect(0, 0, 2, 2), *bmp, 10);
    EXPECT_EQ(bmp->ScanLine(5)[3 * 5 + 2], 255);
    EXPECT_EQ(bmp->ScanLine(5)[3 * 5 + 1], 138);
    TMainForm::DarkenRect(5, 5, Rect(0, 0, 2, 2), *bmp, 0);
    EXPECT_EQ(bmp->ScanLine(5)[3 * 5 + 1], 138);
    // A one-pixel-wide bitmap has no area by the platform's rule.
    auto thin = Solid(1, 10, 50, 50, 50);
    TMainForm::DarkenRect(0, 0, Rect(0, 0, 4, 4), *thin, 10);
    EXPECT_EQ(thin->ScanLine(2)[0], 50);
}

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
    Access::Mode(f) = 0;
    Tick(f);
    Access::Mode(f) = 2;
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
    EXPECT_EQ(Access::Mode(f), 0);
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
