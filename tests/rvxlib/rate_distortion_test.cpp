// Decisions by cost: the trellis minimises what it claims to, and the
// presets that decide by cost spend nothing on pictures with nothing in them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "common/test_movies.h"
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

namespace {

// One coded frame read back: its table's bits, and per macroblock the
// header's bits and its blocks with the bits each took.
struct ReadFrame {
    std::size_t table_bits = 0;
    std::vector<std::size_t> header_bits;
    std::vector<int16_t> blocks;
    std::vector<std::size_t> block_bits;
};

std::size_t Consumed(const BitStream& stream) { return stream.position * 8 - stream.count; }

bool ReadBack(const std::vector<uint8_t>& payload, bool inter, uint32_t macroblocks, uint32_t blocks_per_macroblock,
              ReadFrame* frame) {
    RVXFrameReader reader;
    if (!reader.Begin(payload.data(), payload.size())) return false;
    frame->table_bits = Consumed(reader.Stream());
    uint8_t scan[64];
    for (int i = 0; i < 64; ++i) scan[i] = uint8_t(i);
    for (uint32_t m = 0; m < macroblocks; ++m) {
        std::size_t at = Consumed(reader.Stream());
        if (!reader.ReadMacroblockHeader(inter, nullptr, nullptr)) return false;
        frame->header_bits.push_back(Consumed(reader.Stream()) - at);
        for (uint32_t b = 0; b < blocks_per_macroblock; ++b) {
            at = Consumed(reader.Stream());
            int16_t block[64];
            if (!reader.Coder().DecodeBlock(block, scan)) return false;
            frame->blocks.insert(frame->blocks.end(), block, block + 64);
            frame->block_bits.push_back(Consumed(reader.Stream()) - at);
        }
    }
    return reader.Intact();
}

}  // namespace

// The estimates price blocks and macroblock fields by the coder's own walk
// and the frame's field widths: learnt from a frame's blocks, they come to
// exactly the bits the writer spent on each block and each header, and a
// frame's estimate leaves out only the code table and the final padding.
// The frames are the ffmpeg test pattern coded by every preset, so the
// blocks are those the fixed decisions, the dead zone and the trellis make.
TEST(CostsFromTheFormat, EstimatesOfRealFramesEqualWhatTheWriterWrites) {
    if (!HaveFfmpegProgram()) GTEST_SKIP() << "no ffmpeg program";
    const uint32_t width = 96, height = 64, frames = 7;
    const fs::path dir = FreshDir("costs_from_format");
    const fs::path raw = dir / "pattern.bgr";
    ASSERT_TRUE(RunFfmpeg(PatternInput(int(width), int(height), "25", int(frames)) +
                          " -f rawvideo -pix_fmt bgr24 " + ShellQuoted(raw.string())));
    const std::vector<uint8_t> pictures = ReadFile(raw);
    const std::size_t picture_size = std::size_t(width) * 3 * height;
    ASSERT_EQ(pictures.size(), picture_size * frames);
    const uint32_t macroblocks = (width / 16) * (height / 16);

    for (RVXPreset preset : {RVXPreset::kClassic, RVXPreset::kFast, RVXPreset::kMedium, RVXPreset::kSlow}) {
        SCOPED_TRACE(int(preset));
        Encoder e(width, height, 0x2003, 2, 2, 256, 0, preset);
        ASSERT_TRUE(e.open_ok);
        for (uint32_t n = 0; n < frames; ++n) ASSERT_TRUE(e.coder.AddFrame(pictures.data() + n * picture_size));
        ASSERT_TRUE(e.coder.FinishFrames());
        const uint32_t blocks_per_macroblock = e.codec.Set().block->BlocksPerMacroblock();
        std::size_t predicted = 0;
        for (uint32_t n = 0; n < frames; ++n) {
            SCOPED_TRACE(n);
            const std::vector<uint8_t>& payload = e.sink.payloads.at(n);
            const bool inter = e.kinds.at(n) != kFrameKindI;
            ReadFrame frame;
            ASSERT_TRUE(ReadBack(payload, inter, macroblocks, blocks_per_macroblock, &frame));
            RVXSymbolCosts costs;
            costs.LearnFrom(frame.blocks.data(), frame.block_bits.size());

            double estimate = 0;
            for (std::size_t b = 0; b < frame.block_bits.size(); ++b) {
                const int16_t* block = frame.blocks.data() + b * 64;
                const float bits = costs.BlockBits(block);
                ASSERT_EQ(bits, float(frame.block_bits[b])) << "block " << b;
                estimate += bits;
                // The trellis's own count of a block's AC bits (kept levels
                // are rounded to themselves) is the rest of the same walk.
                if (block[0] == 0) continue;
                float unrounded[64], weight[64];
                for (int i = 0; i < 64; ++i) {
                    unrounded[i] = float(block[i]);
                    weight[i] = 1.0f;
                }
                int16_t levels[64];
                const RVXLevelChoice choice = ChooseLevels(unrounded, weight, levels, 1.0f, costs, 0);
                ASSERT_TRUE(std::equal(levels, levels + 64, block));
                EXPECT_EQ(choice.ac_bits + costs.ValueBits(0, uint32_t(std::abs(block[0]))), bits) << "block " << b;
            }
            for (uint32_t m = 0; m < macroblocks; ++m) {
                // The header's width tells whether it carries a vector.
                const bool with_vector = frame.header_bits[m] == MacroblockHeaderBits(true, true);
                predicted += with_vector;
                EXPECT_EQ(frame.header_bits[m], MacroblockHeaderBits(inter, inter && with_vector))
                    << "macroblock " << m;
                estimate += frame.header_bits[m];
            }
            const double left_out = double(payload.size()) * 8 - double(frame.table_bits) - estimate;
            EXPECT_GE(left_out, 0);
            EXPECT_LT(left_out, 8);
        }
        if (preset != RVXPreset::kClassic) {
            EXPECT_GT(predicted, 0u);
        }
    }
    fs::remove_all(dir);
}

// Zero runs on either side of every multiple of 15, values of every size
// at both ends of the block, an empty and a full block: learnt from the
// blocks, the estimate of each is what the writer spends on it.
TEST(CostsFromTheFormat, EveryRunAndSizeCostsWhatTheWriterSpends) {
    std::vector<std::vector<std::pair<int, int>>> cases = {{}, {{63, 1}}, {{0, -2047}}};
    for (int at : {1, 14, 15, 16, 17, 30, 31, 32, 45, 46, 47, 48, 61, 62, 63})
        for (int value : {1, -2, 3, -1024, 2047}) cases.push_back({{0, 5}, {at, value}});
    cases.push_back({{20, 7}, {40, -7}, {60, 1}});
    std::vector<std::pair<int, int>> full;
    for (int i = 0; i < 64; ++i) full.push_back({i, (i % 3 ? -1 : 1) * (1 << (i % 11))});
    cases.push_back(full);

    std::vector<int16_t> blocks(cases.size() * 64, 0);
    for (std::size_t c = 0; c < cases.size(); ++c)
        for (const auto& [position, value] : cases[c]) blocks[c * 64 + std::size_t(position)] = int16_t(value);
    std::vector<uint8_t> payload;
    ASSERT_TRUE(CodeFramePayload(RVXFrameLayout{1, 1, uint32_t(cases.size())}, 8, blocks.data(), nullptr, &payload));
    ReadFrame frame;
    ASSERT_TRUE(ReadBack(payload, false, 1, uint32_t(cases.size()), &frame));
    ASSERT_EQ(frame.blocks, blocks);
    EXPECT_EQ(frame.header_bits[0], MacroblockHeaderBits(false, false));
    RVXSymbolCosts costs;
    costs.LearnFrom(blocks.data(), cases.size());
    for (std::size_t c = 0; c < cases.size(); ++c)
        EXPECT_EQ(costs.BlockBits(blocks.data() + c * 64), float(frame.block_bits[c])) << "case " << c;
}

// The two prices of a vector are the fields of the format: what a predicted
// macroblock writes beyond an unpredicted one, and everything it writes
// after its quantiser.
TEST(CostsFromTheFormat, VectorPricesAreTheFieldsAPredictionWrites) {
    EXPECT_EQ(kPredictionExtraBits, float(MacroblockHeaderBits(true, true) - MacroblockHeaderBits(true, false)));
    EXPECT_EQ(kPredictedFieldsBits, float(MacroblockHeaderBits(true, true) - MacroblockHeaderBits(false, false)));
}
