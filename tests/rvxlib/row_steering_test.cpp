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

// Codes the pan at quality 6 throughout; with a goal of `scale` times what
// each frame of `unsteered` cost (none when it is empty).
Coded Code(RVXPreset preset, uint32_t threads, const Coded& unsteered, double scale) {
    Encoder e(kWidth, kHeight, 0x2003, 3, 2, 256, 0, preset);
    RVXGroupSettings settings = e.settings;
    settings.frame_quality = [](uint32_t, uint32_t) { return uint16_t(6); };
    if (!unsteered.payloads.empty())
        settings.frame_goal = [&](uint32_t frame) { return scale * double(unsteered.payloads.at(frame).size()); };
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
