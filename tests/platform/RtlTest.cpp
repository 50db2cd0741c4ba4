#include <gtest/gtest.h>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/System.h"

TEST(Random, FollowsTheLinearCongruentialSequence) {
    RandSeed = 0;
    // seed 1 after the first draw: high 32 bits of 100 x 1 is 0.
    EXPECT_EQ(Random(100), 0);
    EXPECT_EQ(RandSeed, 1u);
    // seed 134775814: 100 x 134775814 >> 32 = 3.
    EXPECT_EQ(Random(100), 3);
    EXPECT_EQ(RandSeed, 134775814u);
}

TEST(Random, DrawsBelowZeroOrOneGiveZeroAndStillAdvance) {
    RandSeed = 12345;
    EXPECT_EQ(Random(0), 0);
    EXPECT_EQ(RandSeed, 12345u * 134775813u + 1u);
    const uint32_t before = RandSeed;
    EXPECT_EQ(Random(1), 0);
    EXPECT_EQ(RandSeed, before * 134775813u + 1u);
}

TEST(Random, StaysBelowItsRange) {
    RandSeed = 0;
    for (int i = 0; i < 10000; ++i) {
        const int r = Random(7);
        ASSERT_GE(r, 0);
        ASSERT_LT(r, 7);
    }
}

TEST(Round, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(Round(0.5L), 0);
    EXPECT_EQ(Round(1.5L), 2);
    EXPECT_EQ(Round(2.5L), 2);
    EXPECT_EQ(Round(-0.5L), 0);
    EXPECT_EQ(Round(-1.5L), -2);
    EXPECT_EQ(Round(2.5000001L), 3);
    EXPECT_EQ(Round(-2.7L), -3);
    EXPECT_THROW(Round(1e30L), EInvalidOp);
}

TEST(Divide, ByZeroRaisesTheRunTimesErrors) {
    EXPECT_THROW(Divide(1.0L, 0.0L), EZeroDivide);
    EXPECT_THROW(Divide(0.0L, 0.0L), EInvalidOp);
    EXPECT_EQ(Divide(1.0L, 4.0L), 0.25L);
}

TEST(Exceptions, CarryTheirTexts) {
    const EAssertionFailed e("Assertion failure", "BitmapUtils.cpp", 1066);
    EXPECT_EQ(e.Message(), "Assertion failure (BitmapUtils.cpp, line 1066)");
    EXPECT_EQ(e.Line(), 1066);
    EXPECT_EQ(EFOpenError::ForFile("a.bmp").Message(), "ファイル a.bmp は開けません");
    EXPECT_EQ(EFCreateError::ForFile("a.bmp").Message(), "ファイル a.bmp を作成できません");
    EXPECT_STREQ(EReadError().what(), "Stream read error");
}

TEST(Format, GivesTheDesignsTexts) {
    EXPECT_EQ(Format("%.4d", 2), "0002");
    EXPECT_EQ(Format("%.4d", 12345), "12345");
    EXPECT_EQ(Format("%d File.", 3), "3 File.");
    EXPECT_EQ(Format("%s に書き込めません", std::string("a.ini")), "a.ini に書き込めません");
}

TEST(StrToIntDef, ReadsDecimalAndHexadecimal) {
    EXPECT_EQ(StrToIntDef("42", 7), 42);
    EXPECT_EQ(StrToIntDef("-3", 7), -3);
    EXPECT_EQ(StrToIntDef("0x1F", 7), 31);
    EXPECT_EQ(StrToIntDef("0X1f", 7), 31);
    EXPECT_EQ(StrToIntDef("$10", 7), 16);
    EXPECT_EQ(StrToIntDef("$FFFFFFFF", 7), -1);
    EXPECT_EQ(StrToIntDef("12a", 7), 7);
    EXPECT_EQ(StrToIntDef("", 7), 7);
    EXPECT_EQ(StrToIntDef("99999999999", 7), 7);
}

TEST(FormatDateTime, MinutesFollowHours) {
    const TDateTime t{2026, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(FormatDateTime("yyyymmddhhmmss", t), "20260304050607");
    EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss", t), "2026/03/04 05:06:07");
}

TEST(FileNames, FollowTheRunTimesRules) {
    EXPECT_EQ(ExtractFileExt("/a/b/face.small.jpg"), ".jpg");
    EXPECT_EQ(ExtractFileExt("/a.b/face"), "");
    EXPECT_EQ(ExtractFileExt("face."), ".");
    EXPECT_EQ(ExtractFileName("/a/b/face.jpg"), "face.jpg");
    EXPECT_EQ(ExtractFilePath("/a/b/face.jpg"), "/a/b/");
    EXPECT_EQ(ExtractFilePath("face.jpg"), "");
    EXPECT_EQ(ChangeFileExt("/a/b/face.small.jpg", ".bmp"), "/a/b/face.small.bmp");
    EXPECT_EQ(ChangeFileExt("/a.b/face", ".msk"), "/a.b/face.msk");
    EXPECT_EQ(ChangeFileExt("movie.avi", "_.avi"), "movie_.avi");
}
