#include <gtest/gtest.h>

#include "rvxlib/dsp/block_convert.h"
#include "rvxlib/dsp/codec_objects.h"
#include "rvxlib/encoder/encoder_presets.h"
#include "rvxlib/encoder/rate_distortion.h"
#include "rvxlib/format/codec_plan.h"

using namespace _rvxlib_;

namespace {

constexpr RVXPreset kPresets[] = {RVXPreset::kClassic, RVXPreset::kFast, RVXPreset::kMedium, RVXPreset::kSlow};

}  // namespace

// What sets the presets apart: who decides by cost, how widely, and what the
// first pass of a two-pass encode codes with.
TEST(EncoderTuning, EachPresetDecidesAsItsNameSays) {
    struct Case {
        RVXPreset preset;
        bool by_cost;
        RVXCandidateSet candidates;
        uint16_t spread;
        bool prices_vectors;
        bool past_classic;  // every decision classic keeps fixed for old movies
        RVXPreset first_pass;
    } cases[] = {
        {RVXPreset::kClassic, false, RVXCandidateSet::kBetterMatch, 0, false, false, RVXPreset::kClassic},
        {RVXPreset::kFast, false, RVXCandidateSet::kBetterMatch, 0, true, true, RVXPreset::kFast},
        {RVXPreset::kMedium, true, RVXCandidateSet::kBetterMatch, 0, false, true, RVXPreset::kFast},
        {RVXPreset::kSlow, true, RVXCandidateSet::kNeighbours, 1, false, true, RVXPreset::kFast},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(PresetName(c.preset));
        const RVXEncoderTuning t = TuningFor(c.preset);
        EXPECT_EQ(t.decides_by_cost, c.by_cost);
        EXPECT_EQ(t.candidates, c.candidates);
        EXPECT_EQ(t.quantiser_spread, c.spread);
        EXPECT_EQ(t.prices_vectors, c.prices_vectors);
        EXPECT_EQ(t.first_pass, c.first_pass);
        for (bool field : {t.guesses_motion, t.drops_unformed_predictions, t.precompensates_filter,
                           t.looks_ahead_for_b_runs, t.adapts_quantisers, t.balances_frame_qualities,
                           t.reduced_first_pass, t.steers_past_max_quality})
            EXPECT_EQ(field, c.past_classic);
        // Past quality 32 even the fixed decisions choose levels by cost, so
        // every preset that may get there needs a trellis reach.
        if (t.steers_past_max_quality) {
            EXPECT_GT(t.trellis_reach, 0);
        }
    }
    EXPECT_GT(TuningFor(RVXPreset::kSlow).trellis_reach, TuningFor(RVXPreset::kMedium).trellis_reach);
}

// The first pass stands for the second only if it meets the same pictures,
// runs of B frames, quantiser spread over macroblocks and frame balance.
TEST(EncoderTuning, FirstPassMeetsWhatTheSecondPassMeets) {
    for (RVXPreset preset : kPresets) {
        SCOPED_TRACE(PresetName(preset));
        const RVXEncoderTuning second = TuningFor(preset);
        const RVXEncoderTuning first = TuningFor(second.first_pass);
        EXPECT_FALSE(first.decides_by_cost);
        EXPECT_EQ(first.precompensates_filter, second.precompensates_filter);
        EXPECT_EQ(first.looks_ahead_for_b_runs, second.looks_ahead_for_b_runs);
        EXPECT_EQ(first.adapts_quantisers, second.adapts_quantisers);
        EXPECT_EQ(first.balances_frame_qualities, second.balances_frame_qualities);
    }
}

// Steering past 32 needs levels chosen by cost, so the one answer the rate
// plan and the coder share must match what the block converter the format
// word builds can do, for every transform and preset.
TEST(EncoderTuning, SteeringPast32FollowsWhatTheTransformCanDo) {
    constexpr uint32_t kFrom = kSourceBGRX32 << kFormatSourceShift;
    struct Case {
        uint32_t transform;
        bool keeps_unrounded;
    } cases[] = {
        {kTransformWordDct, true},
        {kTransformWordDctNoDeblock, true},
        {0, true},  // transform bits of 0 mean the DCT
        {kTransformWordDct | kFormatIntDctEncode, false},
        {kTransformWordDctNoDeblock | kFormatIntDctEncode, false},
        {kTransformWordDiff2D, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.transform);
        const uint32_t format = kFrom | kPictureYUV411 | c.transform;
        CodecPlan plan;
        ASSERT_TRUE(PlanCodec(CodecUse::kEncode, 32, 32, format, &plan));
        RVXPictureObjects objects;
        ASSERT_TRUE(MakePictureObjects(plan, 0, &objects));
        RVXLevelRule rule;
        rule.choose = ChooseLevels;
        const bool takes_rule = objects.block->SetLevelRule(&rule);
        objects.block->SetLevelRule(nullptr);
        EXPECT_EQ(takes_rule, c.keeps_unrounded);
        for (RVXPreset preset : kPresets) {
            const RVXEncoderTuning tuning = TuningFor(preset);
            EXPECT_EQ(SteersPastMaxQuality(tuning, format), tuning.steers_past_max_quality && takes_rule)
                << PresetName(preset);
        }
    }
}
