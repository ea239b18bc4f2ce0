#include <gtest/gtest.h>

#include <cmath>

#include "rvxlib/frame_store.h"
#include "rvxlib/rate_plan.h"

using namespace _rvxlib_;

namespace {

// Frames in groups of I, P, B, B, each costing `bytes` at the first pass's
// qualities 8, 10, 12.
std::vector<RVXPassFrame> Frames(uint32_t count, uint64_t bytes) {
    std::vector<RVXPassFrame> frames(count);
    for (uint32_t n = 0; n < count; ++n) {
        const uint32_t position = n % 4;
        frames[n].kind = position == 0 ? kFrameKindI : position == 1 ? kFrameKindP : kFrameKindB;
        frames[n].quality = position == 0 ? 8 : position == 1 ? 10 : 12;
        frames[n].group = n / 4;
        frames[n].coding_position = position;
        frames[n].bytes = bytes * (position == 0 ? 3 : 1) + 40 * (n % 7);
    }
    return frames;
}

RVXRatePlanSettings Classic() {
    RVXRatePlanSettings settings;
    for (uint16_t level = 2; level <= 32; ++level)
        settings.levels[level - 2] = {level, uint16_t(std::min(level + 2, 32)), uint16_t(std::min(level + 4, 32))};
    settings.macroblocks = 12;
    settings.blocks_per_macroblock = 6;
    return settings;
}

// Codes every frame of the plan in coding order with a size that follows
// the model scaled by `bias`; returns the total.
uint64_t CodeAll(CRVXRatePlan& plan, const std::vector<RVXPassFrame>& frames, double bias,
                 std::vector<uint16_t>* qualities = nullptr) {
    uint64_t total = 0;
    for (uint32_t n = 0; n < frames.size(); ++n) {
        const uint16_t q = plan.FrameQuality(n, frames[n].kind);
        const double smallest = double(SmallestFrameBytes(12, 6, frames[n].kind != kFrameKindI));
        const uint64_t bytes = uint64_t(
            bias * (smallest + (double(frames[n].bytes) - smallest) * std::pow(double(frames[n].quality) / q, 0.9)));
        plan.FrameCoded(n, bytes);
        total += bytes;
        if (qualities) qualities->push_back(q);
    }
    return total;
}

}  // namespace

TEST(RatePlan, SmallestFrameIsTheTableThenQuantiserFlagAndOneBitPerBlock) {
    struct Case {
        uint32_t macroblocks, blocks;
        bool inter;
        uint64_t bytes;
    } cases[] = {
        {1, 6, false, 26},        // 196 + 6 + 6 = 208 bits
        {1, 6, true, 27},         // 209 bits round up
        {396, 6, false, 619},     // 176x144 YUV411: 196 + 396 x 12 = 4948 bits
        {396, 6, true, 668},      // 196 + 396 x 13 = 5344 bits
        {8160, 12, true, 19405},  // 1920x1088 with 12 blocks: 196 + 8160 x 19 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.macroblocks);
        EXPECT_EQ(SmallestFrameBytes(c.macroblocks, c.blocks, c.inter), c.bytes);
    }
}

// A model that is off by a steady factor is learnt from the coded frames:
// the total still lands near the budget.
TEST(RatePlan, MeetsTheBudgetWhenFramesCostMoreOrLessThanPredicted) {
    const std::vector<RVXPassFrame> frames = Frames(120, 2000);
    for (double bias : {0.7, 1.0, 1.4}) {
        for (double share : {0.6, 1.0, 2.0}) {
            SCOPED_TRACE(testing::Message() << bias << " " << share);
            CRVXRatePlan plan(frames, Classic());
            uint64_t first = 0;
            for (const RVXPassFrame& f : frames) first += f.bytes;
            const uint64_t budget = uint64_t(share * double(first));
            plan.Plan(budget);
            EXPECT_NEAR(double(CodeAll(plan, frames, bias)), double(budget), 0.02 * double(budget));
        }
    }
}

TEST(RatePlan, BudgetsBeyondTheQualityRangeGiveTheEndQualities) {
    const std::vector<RVXPassFrame> frames = Frames(24, 3000);
    struct Case {
        uint64_t budget;
        uint16_t quality;
    } cases[] = {{1000000000, 2}, {1, 32}};
    for (const Case& c : cases) {
        CRVXRatePlan plan(frames, Classic());
        plan.Plan(c.budget);
        std::vector<uint16_t> qualities;
        CodeAll(plan, frames, 1.0, &qualities);
        for (uint16_t q : qualities) EXPECT_EQ(q, c.quality);
    }
    CRVXRatePlan plan(frames, Classic());
    EXPECT_LT(plan.PredictedAtQuality(32), plan.PredictedAtQuality(2));
    EXPECT_LT(plan.SmallestBytes(), plan.PredictedAtQuality(32));
}

// A first pass at two levels shows how fast this movie's payloads fall with
// the quality, kind by kind; a cut between two neighbours does not sway it.
TEST(RatePlan, LearnsEachKindsExponentFromFramesAtTwoQualities) {
    const double exponents[3] = {0.7, 1.3, 1.6};  // I, P, B
    std::vector<RVXPassFrame> frames = Frames(96, 0);
    for (uint32_t n = 0; n < frames.size(); ++n) {
        RVXPassFrame& f = frames[n];
        const uint32_t k = f.kind == kFrameKindI ? 0 : f.kind == kFrameKindP ? 1 : 2;
        f.quality = FirstPassLevel(n, 4) == kFirstPassFineLevel ? 4 : 16;
        const double content = n == 50 ? 40000.0 : 9000.0;  // one odd frame
        const double smallest = double(SmallestFrameBytes(12, 6, f.kind != kFrameKindI));
        f.bytes = uint64_t(smallest + content * std::pow(4.0 / f.quality, exponents[k]));
    }
    CRVXRatePlan plan(frames, Classic());
    EXPECT_NEAR(plan.Alpha(kFrameKindI), exponents[0], 0.02);
    EXPECT_NEAR(plan.Alpha(kFrameKindP), exponents[1], 0.02);
    EXPECT_NEAR(plan.Alpha(kFrameKindB), exponents[2], 0.02);
    // Every group at one quality shows nothing: the default stands.
    CRVXRatePlan flat(Frames(96, 2000), Classic());
    EXPECT_DOUBLE_EQ(flat.Alpha(kFrameKindP), Classic().alpha);
}
