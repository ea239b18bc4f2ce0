#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "pqxlib/dct_float_llm.h"
#include "rvxlib/dsp/block_convert.h"
#include "rvxlib/dsp/motion_compensation.h"
#include "rvxlib/encoder/motion_search.h"
#include "rvxlib/encoder/rate_distortion.h"
#include "support/cpu_features.h"

using namespace _rvxlib_;

namespace {

constexpr int kW = 64, kH = 48;

std::vector<uint8_t> RandomPicture(uint32_t seed) {
    std::vector<uint8_t> p(kW * kH * 4);
    std::mt19937 rng(seed);
    for (uint8_t& v : p) v = uint8_t(rng());
    return p;
}

std::vector<int16_t> RandomBlock(uint32_t seed) {
    std::vector<int16_t> b(1024);
    std::mt19937 rng(seed);
    for (int16_t& v : b) v = int16_t(int32_t(rng() % 512) - 256);
    return b;
}

}  // namespace

TEST(MotionCompensation, RefusesEveryVectorOutsideThePictureAndLeavesTheBlock) {
    constexpr int32_t kHuge = std::numeric_limits<int32_t>::max() / 2 + 1;  // 2 x overflows
    struct Case {
        int32_t x, y, dx, dy;
        int32_t expected;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 1},
        {kW - 32, kH - 32, 2 * 15 + 1, 2 * 15 + 1, 1},  // the last area allowed, half-pel both ways
        {kW - 32, 0, 2 * 16, 0, 0},                      // the last macroblock column
        {0, kH - 32, 0, 2 * 16, 0},                      // the last macroblock row
        {16, 16, -33, 0, 0},                             // one half pixel before the picture
        {16, 16, 0, -34, 0},
        {0, 0, -1, -1, 0},
        {kHuge, 0, 0, 0, 0},
        {0, kHuge, 0, 0, 0},
        {kHuge, kHuge, -2 * kHuge, -2 * kHuge, 1},  // far out and back: only the sum counts
    };
    const std::vector<uint8_t> reference = RandomPicture(3);
    for (const uint32_t features : {0u, ProcessorFeatures()}) {
        CRVXMotionCompensation compensation(kW, kH);
        ASSERT_EQ(compensation.Init(features), 1);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " by " << c.dx << "," << c.dy);
            std::vector<int16_t> block = RandomBlock(7);
            const std::vector<int16_t> before = block;
            compensation.SetCurrent(block.data());
            compensation.SetReference(nullptr);
            EXPECT_EQ(compensation.AddPrediction(c.x, c.y, c.dx, c.dy), 0);  // no reference yet
            compensation.SetReference(reference.data());
            EXPECT_EQ(compensation.AddPrediction(c.x, c.y, c.dx, c.dy), c.expected);
            EXPECT_EQ(compensation.SubtractPrediction(c.x, c.y, c.dx, c.dy), c.expected);
            EXPECT_EQ(block, before);  // refused, or added and taken off again
        }
    }
}

// The decoder compensates with the dsp object alone; the encoder's moving
// block must form the very same predictions, or the decoded pictures drift
// from the encoder's references.
TEST(MotionCompensation, TheDecodersPredictionsAreTheMovingBlocksAtEveryLevel) {
    const std::vector<uint8_t> reference = RandomPicture(11);
    const int32_t vectors[][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {-15, 9}, {30, -31}, {-32, -32}};
    for (const uint32_t features : {0u, ProcessorFeatures()}) {
        CRVXMotionCompensation compensation(kW, kH);
        CRVXMovingBlockUnSigned moving(kW, kH, true);
        ASSERT_EQ(compensation.Init(features), 1);
        ASSERT_EQ(moving.Init(0), 1);  // the portable routines define the results
        compensation.SetReference(reference.data());
        moving.SetReference(reference.data());
        for (const auto& v : vectors) {
            std::vector<int16_t> decoded = RandomBlock(uint32_t(v[0] * 64 + v[1] + 500));
            std::vector<int16_t> encoded = decoded;
            compensation.SetCurrent(decoded.data());
            moving.SetCurrent(encoded.data());
            EXPECT_EQ(compensation.AddPrediction(16, 16, v[0], v[1]), 1);
            EXPECT_EQ(moving.AddPrediction(16, 16, v[0], v[1]), 1);
            EXPECT_EQ(decoded, encoded) << "vector " << v[0] << "," << v[1];
        }
    }
}

TEST(BlockConverter, TakesALevelRuleOnlyWithAChooser) {
    _pqxlib_::CDCT2DFltLLM transform;
    CRVXConvBlock converter(&transform, false);
    ASSERT_EQ(transform.Init(0), 1);
    ASSERT_EQ(converter.Init(0), 1);
    RVXSymbolCosts costs;
    RVXLevelRule rule;
    rule.costs = &costs;
    EXPECT_FALSE(converter.SetLevelRule(&rule));
    rule.choose = ChooseLevels;
    EXPECT_TRUE(converter.SetLevelRule(&rule));
    EXPECT_TRUE(converter.SetLevelRule(nullptr));
}
