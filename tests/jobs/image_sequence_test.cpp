#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/temp_dir.h"
#include "jobs/image_sequence.h"

namespace {

void Touch(const std::string& path) { std::ofstream(path) << "x"; }

SequenceName Parse(const std::string& path) {
    SequenceName s;
    EXPECT_TRUE(ParseSequenceName(path, s)) << path;
    return s;
}

}  // namespace

TEST(SequenceName, LastDigitRunIsTheNumber) {
    const SequenceName s = Parse("take2/img0010.bmp");
    EXPECT_EQ(s.pattern, "take2//img%04d.bmp");
    EXPECT_EQ(s.first, 10u);
    EXPECT_EQ(s.width, 4u);
    EXPECT_EQ(FormatSequenceName(s.pattern, 11), "take2//img0011.bmp");
}

TEST(SequenceName, TrailingDigitsTakeTheWidthOfAnEarlierRun) {
    SequenceName s = Parse("shot12");
    EXPECT_EQ(s.width, 0u);
    EXPECT_EQ(s.pattern, "shot%00d");
    EXPECT_EQ(FormatSequenceName(s.pattern, 12), "shot12");
    s = Parse("take2/shot12");
    EXPECT_EQ(s.width, 1u);
    EXPECT_EQ(s.first, 12u);
}

TEST(SequenceName, PercentSignsSurviveFormatting) {
    const SequenceName s = Parse("/data/100%/a7.png");
    EXPECT_EQ(s.first, 7u);
    EXPECT_EQ(FormatSequenceName(s.pattern, 8), "//data//100%//a8.png");
}

TEST(SequenceName, RefusesNamesWithoutDigitsOrWithHugeNumbers) {
    SequenceName s;
    EXPECT_FALSE(ParseSequenceName("/tmp/movie.png", s));
    EXPECT_FALSE(ParseSequenceName("a4294967295.png", s));
    EXPECT_FALSE(ParseSequenceName("a99999999999999999999.png", s));
    // A long digit run elsewhere does not matter.
    EXPECT_TRUE(ParseSequenceName("99999999999999999999/a1.png", s));
    EXPECT_EQ(s.first, 1u);
}

TEST(SequenceEnd, RunStartsAtTheChosenFileAndEndsAtAGap) {
    TempDir dir("seq");
    for (int i : {1, 2, 3, 4, 5, 6, 7, 8, 9, 11}) {
        char name[32];
        std::snprintf(name, sizeof name, "a%04d.png", i);
        Touch(dir / name);
    }
    SequenceName s = Parse(dir / "a0005.png");
    EXPECT_EQ(FindSequenceEnd(s), 10u);  // a0005..a0009; a0010 missing
    s = Parse(dir / "a0011.png");
    EXPECT_EQ(FindSequenceEnd(s), 12u);
}

TEST(SequenceEnd, WidthLimitsTheRunAndDirectoriesEndIt) {
    TempDir dir("seqw");
    Touch(dir / "b98.png");
    Touch(dir / "b99.png");
    Touch(dir / "b100.png");
    EXPECT_EQ(FindSequenceEnd(Parse(dir / "b98.png")), 100u);

    Touch(dir / "c1.png");
    std::filesystem::create_directory(dir / "c2.png");
    Touch(dir / "c3.png");
    EXPECT_EQ(FindSequenceEnd(Parse(dir / "c1.png")), 2u);

    // Trailing digits take the width 1 of "v7": 13 is past the limit.
    std::filesystem::create_directory(dir / "v7");
    Touch(dir / "v7/shot12");
    Touch(dir / "v7/shot13");
    const SequenceName s = Parse(dir / "v7/shot12");
    EXPECT_EQ(FindSequenceEnd(s), 13u);
}

TEST(SequenceName, DisplayNameIsThePathAsTyped) {
    EXPECT_EQ(SequenceDisplayName(Parse("clips/take1/f0075.png").pattern, 75), "clips/take1/f0075.png");
    // Separators the user doubled stay doubled; percent signs stay single.
    EXPECT_EQ(SequenceDisplayName(Parse("/a//100%/f9.png").pattern, 10), "/a//100%/f10.png");
}
