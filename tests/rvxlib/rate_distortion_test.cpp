// Decisions by cost: the trellis minimises what it claims to, and the
// presets that decide by cost spend nothing on pictures with nothing in them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "pqxlib/huffman.h"
#include "rvxlib/encoder/rate_distortion.h"
#include "rvxlib/format/frame_bitstream.h"
#include "video_codec_fixture.h"

using namespace rvx_test;

namespace {

// The trellis's own measure: squared error plus lambda times the bits of
// the AC values and end of block after a DC that is not zero.
float Cost(const float* unrounded, const float* weight, const int16_t* levels, float lambda,
           const RVXSymbolCosts& costs) {
    float error = 0;
    for (int i = 1; i < 64; ++i) error += weight[i] * (unrounded[i] - levels[i]) * (unrounded[i] - levels[i]);
    float bits = 0;
    int previous = 0;
    for (int i = 1; i < 64; ++i) {
        if (levels[i] == 0) continue;
        bits += costs.ValueBits(uint32_t(i - previous - 1), uint32_t(std::abs(levels[i])));
        previous = i;
    }
    if (previous < 63) bits += costs.EndOfBlockBits();
    return error + lambda * bits;
}

}  // namespace

// Against plain rounding and against the dead zone, over blocks from empty
// to dense, under the generic costs and under costs learnt from a frame.
TEST(ChooseLevels, TrellisNeverCostsMoreThanRounding) {
    std::mt19937 random(7);
    RVXSymbolCosts learnt;
    {
        std::vector<int16_t> blocks(64 * 50);
        for (std::size_t i = 0; i < blocks.size(); ++i)
            blocks[i] = int16_t(i % 64 < 6 ? int(random() % 9) - 4 : (random() % 11 == 0));
        learnt.LearnFrom(blocks.data(), 50);
    }
    const RVXSymbolCosts generic;
    for (const RVXSymbolCosts* costs : {static_cast<const RVXSymbolCosts*>(&learnt), &generic}) {
        const RVXSymbolCosts& use = *costs;
        for (int trial = 0; trial < 400; ++trial) {
            const float spread = float(trial % 8) * 1.5f;  // 0: nearly empty, 10.5: dense
            float unrounded[64], weight[64];
            for (int i = 0; i < 64; ++i) {
                std::normal_distribution<float> value(0.0f, spread / (1.0f + float(i) / 8.0f) + 0.2f);
                unrounded[i] = value(random);
                weight[i] = 4.0f + float(i % 5);
            }
            const float lambda = 2.0f + float(trial % 5) * 10.0f;
            int16_t trellis[64], rounded[64];
            const RVXLevelChoice chosen = ChooseLevels(unrounded, weight, trellis, lambda, use, 2 + trial % 7);
            ChooseLevels(unrounded, weight, rounded, lambda, use, 0);
            int16_t nearest[64];
            for (int i = 0; i < 64; ++i) nearest[i] = int16_t(std::lround(unrounded[i]));
            const float best = Cost(unrounded, weight, trellis, lambda, use);
            EXPECT_LE(best, Cost(unrounded, weight, rounded, lambda, use) * 1.0001f) << trial;
            EXPECT_LE(best, Cost(unrounded, weight, nearest, lambda, use) * 1.0001f) << trial;
            EXPECT_EQ(trellis[0], nearest[0]);
            float error = 0;
            for (int i = 0; i < 64; ++i) {
                error += weight[i] * (unrounded[i] - trellis[i]) * (unrounded[i] - trellis[i]);
                EXPECT_LE(std::abs(trellis[i]), 2047);
            }
            EXPECT_NEAR(chosen.distortion, error, 1e-3f * (1.0f + error));
        }
    }
}

// Values far beyond the coder's range come out at its limit.
TEST(ChooseLevels, LevelsStayWithinTheCodersRange) {
    float unrounded[64], weight[64];
    for (int i = 0; i < 64; ++i) {
        unrounded[i] = (i % 2 ? -1.0f : 1.0f) * 1e6f;
        weight[i] = 1.0f;
    }
    for (int reach : {0, 2, 8}) {
        int16_t levels[64];
        ChooseLevels(unrounded, weight, levels, 10.0f, RVXSymbolCosts(), reach);
        for (int i = 0; i < 64; ++i) EXPECT_EQ(std::abs(levels[i]), 2047) << i;
    }
}

// A still, flat picture: after the I frame nothing changes, and the presets
// that decide by cost code every later macroblock without a vector (whose
// fields would cost more than the DC chain it breaks) and with no AC value.
TEST(PresetByCost, FlatStillPictureCodesToTheMinimum) {
    const uint32_t width = 64, height = 48;
    std::vector<uint8_t> grey(((width * 3 + 3) & ~3u) * height, 90);
    std::size_t classic_bytes = 0;
    for (RVXPreset preset : {RVXPreset::kClassic, RVXPreset::kMedium, RVXPreset::kSlow}) {
        Encoder e(width, height, 0x2003, 2, 2, 256, 0, preset);
        ASSERT_TRUE(e.open_ok);
        for (int n = 0; n < 7; ++n) ASSERT_TRUE(e.coder.AddFrame(grey.data()));
        ASSERT_TRUE(e.coder.FinishFrames());
        std::size_t inter_bytes = 0;
        for (uint32_t n = 1; n < 7; ++n) {
            const std::vector<uint8_t>& payload = e.sink.payloads.at(n);
            inter_bytes += payload.size();
            if (preset == RVXPreset::kClassic) continue;
            RVXFrameReader reader;
            ASSERT_TRUE(reader.Begin(payload.data(), payload.size()));
            for (uint32_t m = 0; m < (width / 16) * (height / 16); ++m) {
                RVXMotionEntry entry;
                ASSERT_TRUE(reader.ReadMacroblockHeader(true, nullptr, &entry));
                EXPECT_EQ(entry.use, 0) << "frame " << n << " macroblock " << m;
                for (int b = 0; b < 6; ++b) {
                    int16_t block[64];
                    uint8_t scan[64];
                    for (int i = 0; i < 64; ++i) scan[i] = uint8_t(i);
                    ASSERT_TRUE(reader.Coder().DecodeBlock(block, scan));
                    EXPECT_TRUE(std::all_of(block + 1, block + 64, [](int16_t v) { return v == 0; }));
                }
            }
        }
        if (preset == RVXPreset::kClassic)
            classic_bytes = inter_bytes;
        else
            EXPECT_LE(inter_bytes, classic_bytes) << int(preset);
    }
}
