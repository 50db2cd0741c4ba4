// The drop simulation from seed 0: emission, flight, landing, drips, and long runs.
#include "DropScene.h"
#include "common/Qmlib2002.h"
#include "platform/graphics/Canvas.h"

#include <cmath>
#include <cstring>

namespace {

// Sets a flying drop at its target, ready to land on the next step.
void AtTarget(TDrop& d, int x, int y, int alpha) {
    d = TDrop{};
    d.State = 1;
    d.X = d.TargetX = d.StartX = x;
    d.Y = d.TargetY = d.StartY = y;
    d.Alpha = alpha;
}

} // namespace

class EmissionTest : public DropFieldTest {};

TEST_F(EmissionTest, FlyingDropTakesJitteredTargetAlphaAndSpeedInDrawOrder) {
    TDropField& f = Field(200, 200, ptHada);
    f.EmitDrops(100, 100, 10, 20, 0, 1);
    const TDrop& d = f.Drop(0);
    // Draws from seed 0: Random(10) = 0, Random(10) = 0, Random(100) = 86, Random(500) = 101.
    EXPECT_EQ(d.TargetX, 95);
    EXPECT_EQ(d.TargetY, 95);
    EXPECT_EQ(d.StartX, 10);
    EXPECT_EQ(d.X, 10);
    EXPECT_EQ(d.StartY, 20);
    EXPECT_EQ(d.State, 1);
    EXPECT_EQ(d.Alpha, 186);
    EXPECT_EQ(d.Speed, 101 / 100.0L + 1);
    EXPECT_EQ(d.Angle, atanl(75.0L / 85.0L));
    EXPECT_EQ(d.Dist, 0);
    EXPECT_EQ(RandSeed, 870078620u);
    EXPECT_EQ(f.Drop(1).State, 0);
}

TEST_F(EmissionTest, FlightAdvancesAlongTheAngleSnapsAndLandsOnTheNextStep) {
    TDropField& f = Field(200, 200, ptHada);
    f.EmitDrops(100, 100, 10, 20, 0, 1);
    TDrop& d = f.Drop(0);
    f.MoveFlyingDrop(0);
    EXPECT_EQ(d.X, 12);
    EXPECT_EQ(d.Y, 21);
    f.MoveFlyingDrop(0);
    EXPECT_EQ(d.X, 13);
    EXPECT_EQ(d.Y, 23);
    for (int step = 3; step <= 54; ++step)
        f.MoveFlyingDrop(0);
    EXPECT_EQ(d.X, 91);
    EXPECT_EQ(d.Y, 92);
    f.MoveFlyingDrop(0); // within Speed of the target on both axes: snapped, still flying
    EXPECT_EQ(d.X, 95);
    EXPECT_EQ(d.Y, 95);
    EXPECT_EQ(d.State, 1);
    f.MoveFlyingDrop(0); // lands on skin: Random(100) = 27, 67, Random(10) = 3
    EXPECT_EQ(d.State, 2);
    EXPECT_EQ(d.Part, ptHada);
    EXPECT_EQ(d.Speed, 27 / 5000.0L + 1);
    EXPECT_EQ(d.VX, 67 / 100.0L - 0.5L);
    EXPECT_EQ(d.Dist, 4);
    EXPECT_EQ(d.FloatX, 95);
    EXPECT_EQ(d.FloatAlpha, 186);
}

TEST_F(EmissionTest, TargetOnTheOriginPointsUpAndLandsAtOnce) {
    TDropField& f = Field(200, 200, ptHada);
    // The first two jitter draws are 0, so the target is (105 - 5, 105 - 5).
    f.EmitDrops(105, 105, 100, 100, 0, 1);
    TDrop& d = f.Drop(0);
    EXPECT_EQ(d.Angle,
              3.14159265358979323846264338327950288L / 2 + 3.14159265358979323846264338327950288L);
    f.MoveFlyingDrop(0);
    EXPECT_EQ(d.State, 2);
}

TEST_F(EmissionTest, SlotsAreReusedLowestFirstAndAFullTableEmitsNothing) {
    TDropField& f = Field(200, 200, ptHada);
    f.EmitDrops(50, 50, 0, 0, 0, 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(f.Drop(i).State, 1) << i;
    f.Drop(3).State = 0;
    f.EmitDrops(50, 50, 7, 7, 0, 1);
    EXPECT_EQ(f.Drop(3).StartX, 7);
    EXPECT_EQ(f.Drop(6).State, 0);

    for (int i = 0; i < DropCount; ++i)
        f.Drop(i).State = 2;
    const uint32_t seed = RandSeed;
    f.EmitDrops(50, 50, 0, 0, 0, 15);
    f.EmitDrops(50, 50, 0, 0, 1, 3);
    EXPECT_EQ(RandSeed, seed); // no slot, no draw
}

TEST_F(EmissionTest, NoCountOrAnUnknownModeChangesNothing) {
    TDropField& f = Field(200, 200, ptHada);
    f.EmitDrops(50, 50, 0, 0, 0, 0);
    f.EmitDrops(50, 50, 0, 0, 0, -3);
    f.EmitDrops(50, 50, 0, 0, 2, 5);
    EXPECT_EQ(RandSeed, 0u);
    EXPECT_EQ(f.Drop(0).State, 0);
}

TEST_F(EmissionTest, JitterIsWiderAtTheLargestAmount) {
    TDropField& f = Field(200, 200, ptHada);
    for (const int index : {3, 4}) {
        f.Options.Amount = index;
        const int lo = index == 4 ? -8 : -5, hi = index == 4 ? 7 : 4;
        int seenLo = 99, seenHi = -99;
        for (int n = 0; n < 400; ++n) {
            f.ClearDrops();
            f.EmitDrops(50, 60, 0, 0, 0, 1);
            for (const int off : {f.Drop(0).TargetX - 50, f.Drop(0).TargetY - 60}) {
                ASSERT_GE(off, lo);
                ASSERT_LE(off, hi);
                seenLo = std::min(seenLo, off);
                seenHi = std::max(seenHi, off);
            }
        }
        EXPECT_EQ(seenLo, lo);
        EXPECT_EQ(seenHi, hi);
    }
}

TEST_F(EmissionTest, OptionTablesFollowTheSelectedItem) {
    TDropField& f = Field(50, 50, ptHada);
    const int amounts[] = {1, 3, 5, 8, 15};
    for (int i = 0; i < 5; ++i) {
        f.Options.Amount = i;
        EXPECT_EQ(f.EmitAmount(), amounts[i]);
    }
    f.Options.Amount = -1;
    EXPECT_EQ(f.EmitAmount(), 5);
    const int speeds[] = {3, 2, 1, 0};
    for (int i = 0; i < 4; ++i) {
        f.Options.DripSpeed = i;
        EXPECT_EQ(f.DripSpeed(), speeds[i]);
    }
    f.Options.DripSpeed = -1;
    EXPECT_EQ(f.DripSpeed(), 0);
    // No emission speed selected: the slot keeps the Speed it had.
    f.Options.EmissionSpeed = -1;
    f.EmitDrops(10, 10, 0, 0, 0, 1);
    EXPECT_EQ(f.Drop(0).Speed, 0);
}

TEST_F(EmissionTest, FallingDropStartsWithItsOwnDraws) {
    TDropField& f = Field(200, 200, ptHada);
    f.EmitDrops(0, 0, 30, 40, 1, 1);
    const TDrop& d = f.Drop(0);
    // Random(20) = 0, Random(100) = 3, Random(100) = 86, Random(10) = 2; DS = 1.
    EXPECT_EQ(d.State, 2);
    EXPECT_EQ(d.Part, ptFall);
    EXPECT_EQ(d.Alpha, 200);
    EXPECT_EQ(d.Speed, 3 / 5000.0L + 1);
    EXPECT_EQ(d.VX, 86 / 100.0L - 0.5L);
    EXPECT_EQ(d.AlphaStep, 2);
    EXPECT_EQ(d.FloatAlpha, 200);
    EXPECT_EQ(d.Dist, 3);
    EXPECT_EQ(d.FloatX, 30);
    EXPECT_EQ(d.FloatY, 40);
}

class LandingTest : public DropFieldTest {};

TEST_F(LandingTest, SmoothPartsCapAlphaAndStoreTheirPart) {
    const uint8_t parts[] = {ptMe, ptHana, ptKuti, ptHada};
    for (const uint8_t part : parts) {
        TDropField& f = Field(100, 100, part);
        AtTarget(f.Drop(0), 50, 60, 251);
        f.MoveFlyingDrop(0);
        const TDrop& d = f.Drop(0);
        // Random(100) = 0, 3; Random(10) = 8; DS = 1.
        EXPECT_EQ(d.Part, part);
        EXPECT_EQ(d.Alpha, 250);
        EXPECT_EQ(d.Speed, 1);
        EXPECT_EQ(d.VX, 3 / 100.0L - 0.5L);
        EXPECT_EQ(d.AlphaStep, 1);
        EXPECT_EQ(d.Dist, 9);
        EXPECT_EQ(d.FloatY, 60);
    }
}

TEST_F(LandingTest, HairWithTracesStampsThenRaisesAlphaThenShades) {
    TDropField& f = Field(100, 100, ptKami);
    AtTarget(f.Drop(0), 50, 60, 150);
    f.MoveFlyingDrop(0);
    const TDrop& d = f.Drop(0);
    // L = 180 + Random(70) = 180, A = Random(80) = 2; then Random(100) = 86, Random(200) = 40,
    // Random(10) = 2.
    EXPECT_EQ(d.Alpha, 152);
    EXPECT_EQ(d.Speed, 86 / 200.0L + 1);
    EXPECT_EQ(d.VX, 40 / 100.0L - 1);
    EXPECT_EQ(d.Dist, 3);
    EXPECT_EQ(d.Part, ptKami);
    const TBitmap& t = *trace;
    // Stamp: 200 + floor(180 x (100 - 200) / 256) = 129; own block -10, highlight +15.
    EXPECT_EQ(Blue(t, 51, 61), 134);
    EXPECT_EQ(Blue(t, 53, 63), 119);
    EXPECT_EQ(Blue(t, 53, 60), 114); // the top block's last row too
    EXPECT_EQ(Blue(t, 52, 60), 129); // and the highlight
    EXPECT_EQ(Blue(t, 54, 62), 85);  // own block and right block, no stamp
    EXPECT_EQ(Blue(t, 52, 56), 95);
    EXPECT_EQ(Blue(t, 52, 55), 100);
}

TEST_F(LandingTest, ClothesWithoutTracesOnlyAddTwenty) {
    TDropField& f = Field(100, 100, ptFuku);
    f.Options.Traces = false;
    AtTarget(f.Drop(0), 50, 60, 120);
    f.MoveFlyingDrop(0);
    const TDrop& d = f.Drop(0);
    // Random(100) = 0, Random(200) = 6, Random(100) = 86, Random(10) = 2.
    EXPECT_EQ(d.Alpha, 140);
    EXPECT_EQ(d.Speed, 1);
    EXPECT_EQ(d.VX, 6 / 100.0L - 1);
    EXPECT_EQ(d.AlphaStep, 86 / 100.0L + 1);
    EXPECT_EQ(d.Dist, 3);
    EXPECT_EQ(Blue(*trace, 51, 61), 100);
}

TEST_F(LandingTest, SlowDripOnHairAndTeethHasNoSideways) {
    for (const uint8_t part : {ptKami, ptHa}) {
        TDropField& f = Field(100, 100, part);
        f.Options.DripSpeed = 3;
        f.Options.Traces = false;
        AtTarget(f.Drop(0), 50, 20, 100);
        f.MoveFlyingDrop(0);
        TDrop& d = f.Drop(0);
        EXPECT_EQ(d.VX, 0);
        EXPECT_LT(d.Speed, 0.5L);
        int frames = 0;
        while (d.State == 2 && frames < 100) {
            f.MoveDrip(0);
            ++frames;
            if (d.State == 2 && frames > 10) {
                EXPECT_EQ(d.Speed, 0);
            }
        }
        EXPECT_LE(frames, 16);
    }
}

TEST_F(LandingTest, OutsideThePictureOrOnANonPartTheDropEnds) {
    TDropField& f = Field(100, 100, ptHada);
    AtTarget(f.Drop(0), 100, 50, 150);
    AtTarget(f.Drop(1), -1, 50, 150);
    mask->ScanLine(10)[10] = 9;
    AtTarget(f.Drop(2), 10, 10, 150);
    f.UpdateDrops();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(f.Drop(i).State, 0) << i;
    EXPECT_EQ(RandSeed, 0u);
}

class DripTest : public DropFieldTest {
protected:
    // A drop dripping on Part at (30, 30), traces off.
    TDrop& DripAt30(TDropField& f, int32_t part, long double floatAlpha) {
        f.Options.Traces = false;
        TDrop& d = f.Drop(0);
        d.State = 2;
        d.Part = part;
        d.FloatX = d.X = 30;
        d.FloatY = d.Y = 30;
        d.FloatAlpha = floatAlpha;
        return d;
    }
};

TEST_F(DripTest, EyeDropFadesInStepsOfFive) {
    TDropField& f = Field(100, 200, ptMe);
    f.Options.Traces = false;
    AtTarget(f.Drop(0), 50, 10, 199);
    f.MoveFlyingDrop(0);
    TDrop& d = f.Drop(0);
    d.Alpha = 200;
    long double y = 10;
    for (int frame = 1; frame <= 11; ++frame) {
        f.MoveDrip(0);
        y = y + 0.6L;
        ASSERT_EQ(d.State, 2) << frame;
        EXPECT_EQ(d.Alpha, 200 + 5 * frame);
    }
    EXPECT_EQ(d.FloatY, y);
    f.MoveDrip(0);
    EXPECT_EQ(d.State, 0);
}

TEST_F(DripTest, FallingDropKeepsItsColumnAndEndsWithinTwelveFrames) {
    TDropField& f = Field(100, 200, ptHada);
    for (int n = 0; n < 50; ++n) {
        f.ClearDrops();
        f.EmitDrops(0, 0, 40, 10, 1, 1);
        TDrop& d = f.Drop(0);
        int frames = 0;
        while (d.State == 2) {
            f.MoveDrip(0);
            ++frames;
            EXPECT_EQ(d.X, 40);
            EXPECT_EQ(d.Part, ptFall);
        }
        EXPECT_GE(frames, 5);
        EXPECT_LE(frames, 12);
    }
}

TEST_F(DripTest, CrossingIntoAnotherPartMayShedAFallingDropMovedInTheSamePass) {
    TDropField& f = Field(100, 100, ptHada);
    TDrop& d = DripAt30(f, ptNasi, 100);
    RandSeed = 8; // Random(100) = 25, Random(2) = 1, Random(3) = 1, then Random(10) = 7
    f.UpdateDrops();
    EXPECT_EQ(d.FloatY, 32.5L);
    EXPECT_EQ(d.Y, 32);
    EXPECT_EQ(d.FloatAlpha, 104);
    EXPECT_EQ(d.Part, ptHada);
    const TDrop& fall = f.Drop(1);
    EXPECT_EQ(fall.Part, ptFall);
    EXPECT_EQ(fall.X, 30);
    EXPECT_GE(fall.Y, 33); // already moved once
}

TEST_F(DripTest, ADropEndingOnABoundaryCanBeReplacedInItsOwnSlot) {
    TDropField& f = Field(100, 100, ptHada);
    TDrop& d = DripAt30(f, ptNasi, 255);
    RandSeed = 8;
    f.MoveDrip(0);
    EXPECT_EQ(d.State, 2);
    EXPECT_EQ(d.Part, ptFall);
    EXPECT_EQ(d.Y, 32);
}

TEST_F(DripTest, MaskValuesAboveSevenCountAsNothing) {
    TDropField& f = Field(100, 100, 9);
    TDrop& d = DripAt30(f, ptHada, 100);
    d.Speed = 1;
    f.MoveDrip(0);
    EXPECT_EQ(d.Part, ptNasi);
    const long double y = d.FloatY;
    f.MoveDrip(0); // trickles as on part 0: 1.5 to 2.5 down
    EXPECT_GE(d.FloatY - y, 1.5L);
    EXPECT_EQ(d.Part, ptNasi);
}

TEST_F(DripTest, TracesDecideWhichDrawsAreMade) {
    auto run = [this](bool traces) {
        TDropField& f = Field(120, 120, ptFuku);
        f.Options.Traces = traces;
        f.EmitDrops(60, 30, 60, 30, 0, 15);
        for (int frame = 0; frame < 40; ++frame)
            f.UpdateDrops();
        const uint32_t seed = RandSeed;
        return seed;
    };
    EXPECT_NE(run(false), run(true));
}

class LongRunTest : public DropFieldTest {
protected:
    // Stripes of every part value, including values the editor never writes.
    TDropField& Scene() {
        TDropField& f = Field(160, 120, ptHada, 8, 8);
        TBitmap& stripes = *mask;
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 160; ++x)
                stripes.ScanLine(y)[x] = static_cast<uint8_t>((x / 12 + y / 30) % 10);
        return f;
    }
    void Run(TDropField& f, int frames) {
        for (int frame = 0; frame < frames; ++frame) {
            f.Options.Amount = frame / 40 % 5;
            f.Options.DripSpeed = frame / 60 % 4;
            if (frame % 3 == 0)
                f.EmitDrops(Random(200) - 20, Random(160) - 20, 70, 50, 0, f.EmitAmount());
            screen->Canvas().Draw(0, 0, *trace);
            f.UpdateDrops();
            f.DrawDrops(*screen);
            for (int i = 0; i < DropCount; ++i) {
                const TDrop& d = f.Drop(i);
                ASSERT_TRUE(d.State >= 0 && d.State <= 2);
                if (d.State == 1) {
                    ASSERT_TRUE(d.Alpha >= 100 && d.Alpha <= 199);
                }
                if (d.State == 2) {
                    ASSERT_TRUE(d.Part >= 0 && d.Part <= 8);
                    ASSERT_LE(d.Alpha, 255);
                }
            }
        }
    }
};

TEST_F(LongRunTest, InvariantsHoldAndTheRunReplaysExactly) {
    TDropField& f = Scene();
    Run(f, 600);
    TBitmap first;
    first.Assign(trace.get());
    std::vector<TDrop> drops(DropCount);
    for (int i = 0; i < DropCount; ++i)
        drops[i] = f.Drop(i);

    TDropField& g = Scene();
    Run(g, 600);
    for (int y = 0; y < 120; ++y)
        ASSERT_EQ(std::memcmp(first.ScanLine(y), trace->ScanLine(y), 160 * 3), 0);
    for (int i = 0; i < DropCount; ++i) {
        ASSERT_EQ(drops[i].State, g.Drop(i).State);
        ASSERT_EQ(drops[i].FloatY, g.Drop(i).FloatY);
    }
}

class CommonDripTest : public DropFieldTest {
protected:
    TDrop& Dripping(TDropField& f, int32_t part, long double dist, long double floatAlpha) {
        TDrop& d = f.Drop(0);
        d = TDrop{};
        d.State = 2;
        d.Part = part;
        d.FloatX = d.X = 50;
        d.FloatY = d.Y = 60;
        d.Speed = 1;
        d.Dist = dist;
        d.FloatAlpha = floatAlpha;
        d.Alpha = static_cast<int32_t>(floatAlpha);
        return d;
    }
};

TEST_F(CommonDripTest, SkinChangesVelocityStampsAndShadesInDrawOrder) {
    TDropField& f = Field(100, 100, ptHada);
    TDrop& d = Dripping(f, ptHada, 10, 100);
    // Random(500) = 331, Random(100) = 0, Random(10) = 9, Random(100) = 93 (stamp),
    // Random(20) = 8 (level 243), Random(100) = 96 (shade).
    RandSeed = 53;
    f.MoveDrip(0);
    EXPECT_EQ(d.AlphaStep, 331 / 100.0L + 1);
    EXPECT_EQ(d.FloatAlpha, 100 + (331 / 100.0L + 1));
    EXPECT_EQ(d.Alpha, 104);
    EXPECT_EQ(d.Y, 61); // moved with the old velocities
    EXPECT_EQ(d.Speed, 0.3L * 1 + 0.1L);
    EXPECT_EQ(d.VX, -0.5L);
    EXPECT_EQ(d.Dist, 10);
    const TBitmap& t = *trace;
    EXPECT_EQ(Blue(t, 53, 64), 103); // stamp 200 + floor(243 x -100 / 256) = 105, own block -2
    EXPECT_EQ(Blue(t, 51, 62), 106); // and the highlight +3
    EXPECT_EQ(Blue(t, 53, 66), 99);  // the block below
}

TEST_F(CommonDripTest, ClothesSometimesStampOverTheCleanPicture) {
    TDropField& f = Field(100, 100, ptFuku);
    trace->Assign(Solid(100, 100, 50, 50, 50).get());
    TDrop& d = Dripping(f, ptFuku, 1, 100);
    // Random(100) = 94 (stamp), Random(10) = 9 (clean picture below), Random(15) = 1,
    // Random(100) = 31 (no shade).
    RandSeed = 30;
    f.MoveDrip(0);
    EXPECT_EQ(d.FloatAlpha, 116); // 8 x (DS + 1)
    const TBitmap& t = *trace;
    EXPECT_EQ(Blue(t, 51, 62), 105); // 200 + floor(241 x (100 - 200) / 256): traces wiped
    EXPECT_EQ(Blue(t, 54, 62), 50);
}

TEST_F(CommonDripTest, HairLeavesAStampAndShadeWhenItEnds) {
    TDropField& f = Field(100, 100, ptKami);
    TDrop& d = Dripping(f, ptKami, 1, 250);
    d.Speed = 0;
    // Fading 20 passes 255: Random(15) = 0 (level 240), Random(100) = 86, Random(2) = 0.
    RandSeed = 1;
    f.MoveDrip(0);
    EXPECT_EQ(d.State, 0);
    EXPECT_EQ(d.Alpha, 240);
    const TBitmap& t = *trace;
    EXPECT_EQ(Blue(t, 53, 63), 104);
    EXPECT_EQ(Blue(t, 51, 61), 107);
}

TEST(FlightMath, SineAndCosineTogetherEqualTheSeparateFunctions) {
    RandSeed = 12345;
    for (int n = 0; n < 20000; ++n) {
        const long double angle = atanl((Random(2001) - 1000) / 7.0L) +
                                  (Random(2) ? 3.14159265358979323846264338327950288L : 0);
        long double s, c;
        sincosl(angle, &s, &c);
        ASSERT_EQ(s, sinl(angle));
        ASSERT_EQ(c, cosl(angle));
    }
}
