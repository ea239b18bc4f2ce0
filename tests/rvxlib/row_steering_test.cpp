#include <gtest/gtest.h>

#include "video_codec_fixture.h"

using namespace rvx_test;

namespace {

constexpr uint32_t kWidth = 160, kHeight = 128;  // 8 macroblock rows
constexpr int kFrames = 20;                      // two groups of 10

struct Coded {
    std::map<uint32_t, std::vector<uint8_t>> payloads;
    uint64_t inter_bytes = 0;  // P and B frames
    bool decodes_as_kept = false;
};

// Quantiser 6 throughout; with a goal of `scale` times what each frame of
// `unsteered` cost (none when it is empty).
class ScaledGoals : public IRVXRateControl {
public:
    ScaledGoals(const Coded& unsteered, double scale) : unsteered_(unsteered), scale_(scale) {}
    RVXFrameTarget StartFrame(uint32_t frame, RVXFrameKind) override {
        const auto found = unsteered_.payloads.find(frame);
        return {6, found == unsteered_.payloads.end() ? 0.0 : scale_ * double(found->second.size())};
    }
    void EndFrame(uint32_t, uint64_t) override {}
    bool SettleBeforeGroup(uint32_t) override { return false; }
    uint16_t QuantiserGiven(uint32_t) const override { return 6; }

private:
    const Coded& unsteered_;
    double scale_;
};

Coded Code(RVXPreset preset, uint32_t threads, const Coded& unsteered, double scale) {
    Encoder e(kWidth, kHeight, 0x2003, 3, 2, 256, 0, preset);
    RVXGroupSettings settings = e.settings;
    ScaledGoals control(unsteered, scale);
    settings.rate_control = &control;
    Coded out;
    if (!e.coder.Open(e.codec.Set(), settings, 0, &e.sink)) return out;
    e.coder.SetThreads(threads, [&](RVXCodingLane& lane) { return MakeCodingLane(e.plan, 0, &lane); });
    const Source src{kWidth, kHeight, false};
    for (int n = 0; n < kFrames; ++n) e.coder.AddFrame(src.Frame(n, 2.5, 1.0).data());
    if (!e.coder.FinishFrames()) return out;
    out.payloads = e.sink.payloads;
    for (const auto& [n, kind] : e.kinds)
        if (kind != kFrameKindI) out.inter_bytes += out.payloads.at(n).size();
    CRVXFrameDecoder decoder;
    if (!decoder.Open(DecoderSettings(e, kWidth, kHeight), 0)) return out;
    const Decoded d = DecodeAll(e, decoder);
    out.decodes_as_kept = d.failures == 0 && d.pictures.size() == std::size_t(kFrames);
    for (const auto& [n, picture] : d.pictures)
        out.decodes_as_kept = out.decodes_as_kept && picture == e.reconstructed.at(n);
    return out;
}

}  // namespace

// A goal far below what a frame's quality costs makes its lower rows
// coarser, one far above finer; a goal met leaves the frame as it was.
// Whatever the rows take, the decoder shows the pictures the encoder kept,
// and the file is the same at every thread count (at 8 a group's rows are
// shared between two threads).
TEST(RowSteering, RowsMoveTowardsTheGoalAtEveryThreadCount) {
    for (RVXPreset preset : {RVXPreset::kClassic, RVXPreset::kFast, RVXPreset::kMedium}) {
        SCOPED_TRACE(int(preset));
        const Coded plain = Code(preset, 1, Coded(), 0);
        ASSERT_TRUE(plain.decodes_as_kept);
        const Coded met = Code(preset, 1, plain, 1.0);
        EXPECT_TRUE(met.payloads == plain.payloads);
        for (const double scale : {0.4, 2.5}) {
            SCOPED_TRACE(scale);
            const Coded steered = Code(preset, 1, plain, scale);
            EXPECT_TRUE(steered.decodes_as_kept);
            if (scale < 1) {
                EXPECT_LT(double(steered.inter_bytes), 0.96 * double(plain.inter_bytes));
            } else {
                EXPECT_GT(double(steered.inter_bytes), 1.03 * double(plain.inter_bytes));
            }
            for (uint32_t threads : {2u, 8u})
                EXPECT_TRUE(Code(preset, threads, plain, scale).payloads == steered.payloads) << threads;
        }
    }
}

// The rule alone: rows above that spent their share of the goal leave the
// quantiser alone, as do rows that carry too little of the frame to tell;
// rows far over or under move it within its bounds.
TEST(RowSteering, FactorFollowsTheRowsAbove) {
    RVXRowHistory before;
    before.cumulative = {100, 200, 300, 400};  // bits, even over four rows
    before.bytes = 50;                         // an estimated bit is an eighth of a byte
    ASSERT_TRUE(before.Tells(4));
    EXPECT_FALSE(before.Tells(5));
    const double goal = 100;  // bytes: twice what the frame before cost
    struct Case {
        uint32_t counted;
        double spent_bits;
        double low, high;
    };
    for (const Case& c : {Case{2, 400, 1.0, 1.0},     // half the rows, half the goal
                          Case{2, 440, 1.0, 1.0},     // within the dead zone
                          Case{2, 1600, 1.33, 1.33},  // four times over: capped
                          Case{2, 100, 0.75, 0.75},   // a quarter: floored
                          Case{2, 600, 1.1, 1.2},     // half again: partly
                          Case{0, 4000, 1.0, 1.0},    // no row above yet
                          Case{2, 0, 1.0, 1.0}}) {    // rows that cost nothing tell nothing
        const double factor = RowQuantiserFactor(before, c.counted, c.spent_bits, goal);
        EXPECT_GE(factor, c.low - 1e-9) << c.counted << " " << c.spent_bits;
        EXPECT_LE(factor, c.high + 1e-9) << c.counted << " " << c.spent_bits;
    }
    EXPECT_EQ(SteeringRows(0), 0u);
    EXPECT_EQ(SteeringRows(1), 0u);
    EXPECT_EQ(SteeringRows(5), 4u);
}
