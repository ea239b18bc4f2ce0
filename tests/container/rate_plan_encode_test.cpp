#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>

#include "container/file_write_ops.h"
#include "container/quant_matrices.h"
#include "container/rvx_encode.h"
#include "movie_fixture.h"
#include "rvxlib/ratecontrol/rate_plan.h"

using namespace rvx_layout;
using namespace movie_fixture;
using namespace _rvxlib_;

namespace {

constexpr uint32_t kWidth = 64, kHeight = 48, kFrames = 40;

// Detail that changes over the movie (calm, then busy, then a cut), so the
// plan has frames of different cost to share the budget among.
std::vector<uint8_t> Picture(uint32_t frame) {
    std::vector<uint8_t> picture(size_t(kWidth) * kHeight * 4);
    const double detail = frame < 15 ? 0.05 : frame < 28 ? 0.6 : 0.3;
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x) {
            uint8_t* p = &picture[(size_t(y) * kWidth + x) * 4];
            const double u = x + 1.5 * frame, v = y + 0.5 * frame;
            p[0] = uint8_t(128 + 100 * std::sin(u * detail) * std::cos(v * 0.11));
            p[1] = uint8_t(128 + 90 * std::cos(detail * u + 0.05 * v));
            p[2] = uint8_t(frame >= 28 ? (x * y + frame) & 255 : 128 + ((x ^ y) & 15));
            p[3] = 255;
        }
    return picture;
}

struct Coded {
    std::vector<uint8_t> movie;
    uint64_t payload = 0;
    std::vector<RVXPassFrame> frames;
};

Coded Encode(const TempDir& dir, const std::string& name, uint32_t threads, RVXPreset preset,
             std::shared_ptr<CRVXRatePlan> plan) {
    CRVXEncode writer;
    writer.SetPreset(preset, false);
    writer.SetFrameRate(30, 1);
    writer.SetGopStructure(1, 1);  // groups of three: the plan sees many of them
    writer.SetPicture(kWidth, kHeight, (kSourceBGRA32 << kFormatSourceShift) | kPictureYUV411 | kTransformWordDct);
    const uint16_t quality[4] = {8, 10, 12, kMatrixSelectorMpeg};
    writer.SetQuality(quality);
    writer.SetWorkDirectory(dir.path());
    writer.SetFramePrefix(dir / (name + "frame"));
    writer.SetThreads(threads);
    writer.SetRateControl(plan);
    EXPECT_TRUE(writer.Open());
    for (uint32_t n = 0; n < kFrames; ++n) EXPECT_TRUE(writer.AddFrame(Picture(n).data()));
    EXPECT_TRUE(writer.FinishFrames());
    Coded coded;
    coded.frames = writer.PassFrames();
    for (const RVXFrameRecord& r : writer.Records()) coded.payload += r.length;
    const fs::path path = dir / (name + ".rvx");
    EXPECT_TRUE(writer.WriteMovie(path, PosixFileWriteOps()));
    coded.movie = ReadFile(path);
    return coded;
}

std::shared_ptr<CRVXRatePlan> PlanFor(const std::vector<RVXPassFrame>& frames, RVXPreset preset,
                                      uint64_t budget) {
    RVXRatePlanSettings settings;
    uint8_t intra[64], inter[64];
    LoadQuantMatrices(kMatrixSelectorMpeg, intra, inter);
    if (preset != RVXPreset::kClassic) settings.coarsest_quantiser = kMaxSteeredQuality;
    for (uint16_t level = 2; level <= 32; ++level)
        settings.quantisers_at_level[level - 2] = QuantisersForLevel(preset, level, intra, inter, settings.coarsest_quantiser);
    settings.macroblocks = (kWidth / 16) * (kHeight / 16);
    settings.blocks_per_macroblock = 6;
    auto plan = std::make_shared<CRVXRatePlan>(frames, settings);
    plan->Plan(budget);
    return plan;
}

}  // namespace

// The plan may learn only from frames that are coded whatever the threads
// do, so the second pass writes the same movie at every thread count, and
// the payloads land near the budget; also where the presets past classic
// are steered beyond quality 32.
TEST(RatePlanEncode, SecondPassIsTheSameAtEveryThreadCountAndMeetsTheBudget) {
    TempDir dir;
    struct Case {
        RVXPreset preset;
        double share;
    } cases[] = {{RVXPreset::kClassic, 0.5}, {RVXPreset::kClassic, 1.6}, {RVXPreset::kFast, 0.3},
                 {RVXPreset::kMedium, 0.6}, {RVXPreset::kMedium, 0.3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << PresetName(c.preset) << " " << c.share);
        const Coded first = Encode(dir, "pass1", 1, c.preset, nullptr);
        ASSERT_EQ(first.frames.size(), kFrames);
        EXPECT_GT(first.frames.back().group, kSettledGroups);
        const uint64_t budget = uint64_t(c.share * double(first.payload));
        Coded reference;
        for (uint32_t threads : {1u, 2u, 4u}) {
            SCOPED_TRACE(threads);
            auto plan = PlanFor(first.frames, c.preset, budget);
            const Coded second = Encode(dir, "pass2t" + std::to_string(threads), threads, c.preset, plan);
            EXPECT_FALSE(plan->MissedSettledFrame());
            uint16_t coarsest = 0;
            for (uint32_t n = 0; n < kFrames; ++n)
                coarsest = std::max(coarsest, plan->QuantiserGiven(n));
            EXPECT_EQ(coarsest > kMaxQuality, c.preset != RVXPreset::kClassic);
            if (threads == 1) {
                reference = second;
                // Pictures of twelve macroblocks leave whole-quality steps of several
                // per cent; the clips of the benchmark land within one.
                EXPECT_NEAR(double(second.payload), double(budget), 0.1 * double(budget));
            } else {
                EXPECT_EQ(second.movie, reference.movie);
            }
        }
    }
}
