// Drawing levels of the drops and the shading rectangles around them.
#include "DropScene.h"

#include <cmath>

namespace {

// Screen blue byte after one drop of the 200-grey sprite over the 100-grey screen.
int Blended(int level) {
    return 200 + static_cast<int>(std::floor(level * -100 / 256.0));
}

} // namespace

class DrawingTest : public DropFieldTest {};

TEST_F(DrawingTest, FlyingDropLevels) {
    TDropField& f = Field(50, 50, ptHada);
    Flying(f.Drop(0), 10, 10, 150);
    const int expected[] = {Blended(240), Blended(205), Blended(150)}; // draws are 0 from seed 0
    for (int index = 0; index < 3; ++index) {
        f.Options.EmissionColor = index;
        screen->Assign(Solid(50, 50, 100, 100, 100).get());
        RandSeed = 0;
        f.DrawDrops(*screen);
        EXPECT_EQ(Blue(*screen, 11, 11), expected[index]) << index;
        EXPECT_EQ(RandSeed, index == 2 ? 0u : 1u);
    }
    f.Options.EmissionColor = -1;
    screen->Assign(Solid(50, 50, 100, 100, 100).get());
    f.DrawDrops(*screen);
    EXPECT_EQ(Blue(*screen, 11, 11), 100);
}

TEST_F(DrawingTest, DrippingDropLevelsNeverShowMoreThanTheFloor) {
    TDropField& f = Field(50, 50, ptHada);
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
        f.Options.DripColor = c.index;
        Dripping(f.Drop(0), 10, 10, c.alpha);
        screen->Assign(Solid(50, 50, 100, 100, 100).get());
        RandSeed = 0;
        f.DrawDrops(*screen);
        EXPECT_EQ(Blue(*screen, 10, 10), Blended(c.level)) << c.index << " " << c.alpha;
        EXPECT_EQ(RandSeed, c.draws ? 1u : 0u);
    }
}

TEST_F(DrawingTest, LaterSlotsDrawOverEarlierOnes) {
    TDropField& f = Field(50, 50, ptHada);
    f.Options.EmissionColor = 2;
    Flying(f.Drop(0), 10, 10, 128);
    Flying(f.Drop(1), 12, 10, 128);
    f.DrawDrops(*screen);
    // Column 12 got both blends: 150 after the first, then 200 + floor(128 x -50 / 256) = 175.
    EXPECT_EQ(Blue(*screen, 11, 10), 150);
    EXPECT_EQ(Blue(*screen, 12, 10), 175);
}

class ShadingTest : public DropFieldTest {};

TEST_F(ShadingTest, BlocksOfThirtyThreePixelsOverlapOnTheirEdges) {
    TDropField& f = Field(300, 300, ptHada, 32, 32);
    Dripping(f.Drop(0), 100, 100, 200);
    f.ShadeDrop(0, 1);
    const TBitmap& t = *trace;
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
    TDropField& f = Field(100, 100, ptHada);
    Dripping(f.Drop(0), 99, 50, 200);
    f.ShadeDrop(0, 1);
    const TBitmap& t = *trace;
    EXPECT_EQ(Blue(t, 99, 52), 99); // the left block reaches column 99; no own block, no light
    EXPECT_EQ(Blue(t, 97, 52), 99);
    EXPECT_EQ(Blue(t, 94, 52), 100);
    EXPECT_EQ(Blue(t, 99, 48), 100);
}

TEST_F(ShadingTest, LargeAmountsThinShadingOutWithOneDraw) {
    TDropField& f = Field(100, 100, ptHada);
    f.Options.Amount = 3; // 8 drops: shade when Random(8) <= 2
    Dripping(f.Drop(0), 50, 50, 200);
    f.ShadeDrop(0, 1); // Random(8) = 0 from seed 0
    EXPECT_EQ(RandSeed, 1u);
    EXPECT_EQ(Blue(*trace, 53, 53), 98);
    RandSeed = 2; // Random(8) = 2: shades; the seed for 7 does not
    f.ShadeDrop(0, 1);
    EXPECT_EQ(Blue(*trace, 53, 53), 96);
}

TEST_F(ShadingTest, DarkenAndLightenClampTheirAmountAndChannels) {
    auto bmp = Solid(10, 10, 5, 128, 250);
    TDropField::DarkenRect(0, 0, Rect(0, 0, 2, 2), *bmp, 300);
    EXPECT_EQ(bmp->ScanLine(1)[3], 0);
    EXPECT_EQ(bmp->ScanLine(1)[4], 0);
    TDropField::LightenRect(0, 0, Rect(0, 0, 2, 2), *bmp, 10);
    EXPECT_EQ(bmp->ScanLine(2)[6], 10);
    TDropField::LightenRect(5, 5, Rect(0, 0, 2, 2), *bmp, 10);
    EXPECT_EQ(bmp->ScanLine(5)[3 * 5 + 2], 255);
    EXPECT_EQ(bmp->ScanLine(5)[3 * 5 + 1], 138);
    TDropField::DarkenRect(5, 5, Rect(0, 0, 2, 2), *bmp, 0);
    EXPECT_EQ(bmp->ScanLine(5)[3 * 5 + 1], 138);
    // A one-pixel-wide bitmap has no area by the platform's rule.
    auto thin = Solid(1, 10, 50, 50, 50);
    TDropField::DarkenRect(0, 0, Rect(0, 0, 4, 4), *thin, 10);
    EXPECT_EQ(thin->ScanLine(2)[0], 50);
}
