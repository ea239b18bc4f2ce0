// The trellis on hand-made blocks: a few values whose right levels follow
// from comparing their errors with lambda times the bits of the generic
// code.

#include <gtest/gtest.h>

#include <vector>

#include "rvxlib/encoder/rate_distortion.h"
#include "rvxlib/encoder/trellis.h"

using namespace _rvxlib_;

namespace {

struct Value {
    int position;
    float size;
};

struct TrellisCase {
    const char* name;
    std::vector<Value> values;  // the block's AC values; the rest are 0
    float lambda;
    int reach;
    std::vector<Value> levels;  // the levels expected; the rest 0
};

}  // namespace

TEST(TrellisMagnitudes, ChoosesTheLevelsWorkedOutByHand) {
    const RVXSymbolCosts costs;
    // One value of 0.7 alone: level 1 errs by 0.09 and writes the value
    // symbol, level 0 errs by 0.49; both end the block. So 1 is kept
    // exactly while lambda is below 0.4 over the value's bits.
    const float keep_one = 0.4f / costs.ValueBits(0, 1);
    // 0.55 before a 3: kept, it errs by 0.2025 and writes its symbol, the
    // 3 then following with no run; dropped, it errs by 0.3025 and the 3
    // writes a run of one.
    const float drop_small = 0.1f / (costs.ValueBits(0, 1) + costs.ValueBits(0, 3) - costs.ValueBits(1, 3));
    const TrellisCase cases[] = {
        {"without a price for bits, the nearest levels", {{1, 1.4f}, {2, 0.6f}, {5, 2.6f}, {63, 0.7f}}, 0, 8,
         {{1, 1}, {2, 1}, {5, 3}, {63, 1}}},
        {"a small value worth its bits", {{1, 0.7f}}, 0.5f * keep_one, 8, {{1, 1}}},
        {"a small value not worth its bits", {{1, 0.7f}}, 2 * keep_one, 8, {}},
        {"every small value goes when bits are dear", {{1, 1.4f}, {3, 2.4f}, {40, 0.9f}}, 1000, 8, {}},
        // 5.2 rounds to 5, which no price drops; 4 writes as many bits.
        {"a large value stays at its nearest level", {{1, 5.2f}, {2, 0.6f}}, 1000, 8, {{1, 5}}},
        // 4.4 rounds to 4, a size class above 3: the level below writes two
        // bits fewer, and at a high enough price that pays for its error.
        {"a dear price takes the level below", {{1, 4.4f}}, 1000, 1, {{1, 3}}},
        {"a small value before a large one kept", {{1, 0.55f}, {2, 3.0f}}, 0.5f * drop_small, 8,
         {{1, 1}, {2, 3}}},
        {"a small value before a large one dropped", {{1, 0.55f}, {2, 3.0f}}, 2 * drop_small, 8, {{2, 3}}},
    };
    for (const TrellisCase& c : cases) {
        float magnitude[64] = {};
        float weight[64];
        for (float& w : weight) w = 1;
        for (const Value& v : c.values) magnitude[v.position] = v.size;
        int16_t levels[64];
        levels[0] = 77;
        TrellisMagnitudes(magnitude, weight, c.lambda, costs, c.reach, levels);
        int16_t expected[64] = {};
        expected[0] = 77;  // left alone
        for (const Value& v : c.levels) expected[v.position] = int16_t(v.size);
        for (int i = 0; i < 64; ++i) EXPECT_EQ(levels[i], expected[i]) << c.name << ", position " << i;
    }
}

// The trellis picks sizes; the block's levels carry the values' signs and
// the DC rounded on its own.
TEST(ChooseLevels, TrellisLevelsKeepTheValuesSigns) {
    const RVXSymbolCosts costs;
    float unrounded[64] = {};
    float weight[64];
    for (float& w : weight) w = 1;
    unrounded[0] = -6.6f;
    unrounded[1] = -1.4f;
    unrounded[4] = 2.6f;
    unrounded[9] = -0.7f;
    int16_t levels[64];
    const RVXLevelChoice choice = ChooseLevels(unrounded, weight, levels, 0, costs, 8);
    int16_t expected[64] = {};
    expected[0] = -7;
    expected[1] = -1;
    expected[4] = 3;
    expected[9] = -1;
    for (int i = 0; i < 64; ++i) EXPECT_EQ(levels[i], expected[i]) << "position " << i;
    // 0.4^2 for the DC, then 0.4^2, 0.4^2 and 0.3^2.
    EXPECT_NEAR(choice.distortion, 0.16f + 0.16f + 0.16f + 0.09f, 1e-4f);
}
