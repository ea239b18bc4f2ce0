// The source options as typed: the times, sizes, crops and turns both front
// ends read through one set of rules.
#include <gtest/gtest.h>

#include <string>

#include "app/source_options.h"

namespace {

constexpr auto kUs = SourceTime::Unit::kMicroseconds;
constexpr auto kFrames = SourceTime::Unit::kFrames;

}  // namespace

TEST(SourceOptions, TimesAreSecondsClockTimesOrFrames) {
    const struct {
        const char* text;
        SourceTime time;
    } valid[] = {
        {"12", {kUs, 12000000}},
        {"12.5", {kUs, 12500000}},
        {" 0.000001 ", {kUs, 1}},
        {"1.23456789", {kUs, 1234567}},  // finer than a microsecond is dropped
        {"7.", {kUs, 7000000}},
        {"02:03", {kUs, 123000000}},
        {"2:03.25", {kUs, 123250000}},
        {"1:02:03.5", {kUs, 3723500000}},
        {"100:00:00", {kUs, 360000000000}},
        {"120f", {kFrames, 120}},
        {"0F", {kFrames, 0}},
        {"999999999999", {kUs, 999999999999000000}},
    };
    for (const auto& c : valid) {
        SourceTime time;
        EXPECT_TRUE(ParseSourceTime(c.text, &time)) << c.text;
        EXPECT_EQ(time, c.time) << c.text;
    }
    const char* invalid[] = {"", "f", "-1", "1e3", ".5", "1.2.3", "12s", "1:60", "1:2:60", "1:60:00", "1::2",
                             "1:2:3:4", "1:123", "1.5f", "12 f", "9999999999999", "1:02:03.5f", "0x10",
                             "99999999999999999999f"};
    for (const char* text : invalid) {
        SourceTime time{kFrames, 77};
        EXPECT_FALSE(ParseSourceTime(text, &time)) << text;
        EXPECT_EQ(time, (SourceTime{kFrames, 77})) << text << ": a refused text leaves the setting alone";
    }
}

// A start at zero is no start (an untouched source stays untouched); a
// duration of nothing is refused, an empty one means to the end.
TEST(SourceOptions, StartAndDurationTellZeroFromEmpty) {
    const struct {
        const char* text;
        bool start_ok;
        SourceTime start;
        bool duration_ok;
        SourceTime duration;
    } cases[] = {
        {"", true, {}, true, {}},
        {"0", true, {}, false, {}},
        {"0f", true, {}, false, {}},
        {"0:00.000", true, {}, false, {}},
        {"0.5", true, {kUs, 500000}, true, {kUs, 500000}},
        {"3f", true, {kFrames, 3}, true, {kFrames, 3}},
        {"abc", false, {}, false, {}},
    };
    for (const auto& c : cases) {
        SourceTime start{kFrames, 9}, duration{kFrames, 9};
        EXPECT_EQ(ParseSourceStart(c.text, &start), c.start_ok) << c.text;
        EXPECT_EQ(ParseSourceDuration(c.text, &duration), c.duration_ok) << c.text;
        if (c.start_ok) {
            EXPECT_EQ(start, c.start) << c.text;
        }
        if (c.duration_ok) {
            EXPECT_EQ(duration, c.duration) << c.text;
        }
    }
}

TEST(SourceOptions, ScaleSidesStayWithinTheLargestPicture) {
    const struct {
        const char* text;
        bool ok;
        uint32_t width, height;
    } cases[] = {
        {"640x480", true, 640, 480},   {"16x", true, 16, 0},        {"x720", true, 0, 720},
        {"16384X1", true, 16384, 1},   {"0x10", false, 0, 0},       {"10x0", false, 0, 0},
        {"16385x10", false, 0, 0},     {"x", false, 0, 0},          {"", false, 0, 0},
        {"640", false, 0, 0},          {"640x480x2", false, 0, 0},  {"-1x10", false, 0, 0},
        {"16 x 9", false, 0, 0},       {"99999999999x1", false, 0, 0},
    };
    for (const auto& c : cases) {
        uint32_t width = 5, height = 5;
        EXPECT_EQ(ParseScaleSize(c.text, &width, &height), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(width, c.width) << c.text;
            EXPECT_EQ(height, c.height) << c.text;
        } else {
            EXPECT_EQ(width, 5u) << c.text;
        }
    }
    // The window's two fields: empty keeps the side, 0 and too large are refused.
    uint32_t side = 9;
    EXPECT_TRUE(ParseScaleSide("", &side));
    EXPECT_EQ(side, 0u);
    EXPECT_FALSE(ParseScaleSide("0", &side));
    EXPECT_FALSE(ParseScaleSide("16385", &side));
    EXPECT_TRUE(ParseScaleSide("16384", &side));
    EXPECT_EQ(side, 16384u);
}

TEST(SourceOptions, CropRotationAndTrack) {
    const struct {
        const char* text;
        bool ok;
        CropMode mode;
        CropEdges edges;
    } crops[] = {
        {"none", true, CropMode::kNone, {}},
        {"AUTO", true, CropMode::kAuto, {}},
        {"8,0,8,0", true, CropMode::kEdges, {8, 0, 8, 0}},
        {"0,0,0,0", true, CropMode::kNone, {}},  // crops nothing: the source stays untouched
        {"4294967295,1,2,3", true, CropMode::kEdges, {4294967295u, 1, 2, 3}},
        {"4294967296,0,0,0", false, {}, {}},
        {"1,2,3", false, {}, {}},
        {"1,2,3,4,5", false, {}, {}},
        {"1,,3,4", false, {}, {}},
        {"a,b,c,d", false, {}, {}},
    };
    for (const auto& c : crops) {
        CropMode mode = CropMode::kAuto;
        CropEdges edges{1, 1, 1, 1};
        EXPECT_EQ(ParseCrop(c.text, &mode, &edges), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(mode, c.mode) << c.text;
        EXPECT_EQ(edges, c.edges) << c.text;
    }

    const std::pair<const char*, int> rotations[] = {{"auto", 0}, {"0", 0},    {"90", 90},  {"180", 180},
                                                     {"270", 270}, {"45", -1}, {"360", -1}, {"-90", -1}, {"", -1}};
    for (const auto& [text, degrees] : rotations) {
        uint16_t turn = 7;
        EXPECT_EQ(ParseExtraRotation(text, &turn), degrees >= 0) << text;
        EXPECT_EQ(turn, degrees >= 0 ? degrees : 7) << text;
    }

    const std::pair<const char*, int> tracks[] = {{"1", 1}, {"65535", 65535}, {"0", -1}, {"65536", -1}, {"x", -1}};
    for (const auto& [text, number] : tracks) {
        uint16_t track = 3;
        EXPECT_EQ(ParseAudioTrack(text, &track), number > 0) << text;
        EXPECT_EQ(track, number > 0 ? number : 3) << text;
    }
}
