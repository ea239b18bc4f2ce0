#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "rvxlib/dsp/motion_kernels.h"
#include "rvxlib/encoder/motion_search.h"
#include "support/cpu_features.h"

using namespace _rvxlib_;

namespace {

constexpr int kW = 64, kH = 64;

// A reference with enough texture that every shift has a distinct cost.
std::vector<uint8_t> TexturedPicture(uint32_t seed) {
    std::vector<uint8_t> p(kW * kH * 4);
    std::mt19937 rng(seed);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            for (int k = 0; k < 4; ++k)
                p[(y * kW + x) * 4 + k] = uint8_t((x * 7 + y * 13 + k * 50 + (rng() & 15)) & 255);
    return p;
}

void LoadBlock(const std::vector<uint8_t>& pic, int x, int y, int16_t* block) {
    for (int r = 0; r < 16; ++r)
        for (int i = 0; i < 64; ++i) block[64 * r + i] = pic[((y + r) * kW + x) * 4 + i];
}

// A bowl: every shift changes the cost smoothly, so a pattern search can
// walk down to the true displacement from far away.
std::vector<uint8_t> BowlPicture() {
    std::vector<uint8_t> p(kW * kH * 4);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            for (int k = 0; k < 4; ++k) {
                const int dx = x - 30 - k, dy = y - 34 + k;
                p[(y * kW + x) * 4 + k] = uint8_t(std::min(255, (dx * dx + dy * dy) / 8));
            }
    return p;
}

RVXSearchRecord Record(int x, int y) {
    RVXSearchRecord rec;
    rec.x = x;
    rec.y = y;
    for (auto& w : rec.weights) w = 1;
    return rec;
}

}  // namespace

TEST(MovingBlock, FindsAnIdenticalBlockInPlaceAndAShiftedOneInTheFirstDiamond) {
    auto ref = TexturedPicture(1);
    CRVXMovingBlockUnSigned mb(kW, kH, true);
    mb.Init(0);
    alignas(16) int16_t block[1024];
    mb.SetReference(ref.data());
    mb.SetCurrent(block);

    LoadBlock(ref, 16, 16, block);
    auto rec = Record(16, 16);
    ASSERT_EQ(mb.SearchMotion(rec), 1);
    EXPECT_EQ(rec.dx, 0);
    EXPECT_EQ(rec.dy, 0);
    for (uint32_t c : rec.cost) EXPECT_EQ(c, 0u);

    LoadBlock(ref, 17, 16, block);
    rec = Record(16, 16);
    ASSERT_EQ(mb.SearchMotion(rec), 1);
    EXPECT_EQ(rec.dx, 2);
    EXPECT_EQ(rec.dy, 0);
    for (uint32_t c : rec.cost) EXPECT_EQ(c, 0u);
}

TEST(MovingBlock, FollowsLargerMotionThroughTheWidePatterns) {
    auto ref = BowlPicture();
    CRVXMovingBlockUnSigned mb(kW, kH, true);
    mb.Init(0);
    alignas(16) int16_t block[1024];
    mb.SetReference(ref.data());
    mb.SetCurrent(block);
    LoadBlock(ref, 16 + 9, 16 - 6, block);
    auto rec = Record(16, 16);
    ASSERT_EQ(mb.SearchMotion(rec), 1);
    EXPECT_EQ(rec.dx, 18);
    EXPECT_EQ(rec.dy, -12);
}

// A guess from the frames before reaches motion beyond the search range,
// and the walk from it corrects a guess a little off.
TEST(MovingBlock, AGuessReachesMotionBeyondTheRange) {
    constexpr int kWide = 160;
    std::vector<uint8_t> ref(kWide * kH * 4);
    std::mt19937 rng(9);
    for (auto& v : ref) v = uint8_t(rng());
    auto load = [&](int x, int y, int16_t* block) {
        for (int r = 0; r < 16; ++r)
            for (int i = 0; i < 64; ++i) block[64 * r + i] = ref[((y + r) * kWide + x) * 4 + i];
    };
    CRVXMovingBlockUnSigned mb(kWide, kH, true);
    mb.Init(0);
    alignas(16) int16_t block[1024];
    mb.SetReference(ref.data());
    mb.SetCurrent(block);
    load(16 + 41, 16 - 3, block);

    auto unguessed = Record(16, 16);
    unguessed.range = 8;
    ASSERT_EQ(mb.SearchMotion(unguessed), 1);
    EXPECT_GT(unguessed.cost[0], 0u);

    struct Case {
        int16_t guess_dx, guess_dy;
        int16_t dx, dy;
    };
    for (const Case& c : {Case{80, -4, 82, -6}, Case{82, -6, 82, -6}, Case{83, -7, 82, -6}}) {
        auto rec = Record(16, 16);
        rec.range = 8;
        rec.guessed = true;
        rec.guess_dx = c.guess_dx;
        rec.guess_dy = c.guess_dy;
        ASSERT_EQ(mb.SearchMotion(rec), 1);
        EXPECT_EQ(rec.dx, c.dx) << c.guess_dx << "," << c.guess_dy;
        EXPECT_EQ(rec.dy, c.dy) << c.guess_dx << "," << c.guess_dy;
    }
}

TEST(MovingBlock, HalfPelPredictionsAreSuccessiveRoundedMeans) {
    alignas(16) uint8_t ref[17 * 80] = {};
    alignas(16) uint8_t pred[17 * 80] = {};
    auto k = motion_kernels_portable();
    // Horizontal only: 10 and 13 give 12.
    ref[0] = 10;
    ref[4] = 13;
    k.halfpel(pred, 80, ref, 80, 1, 0);
    EXPECT_EQ(pred[0], 12);
    // Both: 0, 1 above 1, 1 gives avg(avg(0,1), avg(1,1)) = 1, not the
    // four-pixel mean's 1 by accident: check a case where they differ too.
    ref[0] = 0;
    ref[4] = 1;
    ref[80] = 1;
    ref[84] = 1;
    k.halfpel(pred, 80, ref, 80, 1, 1);
    EXPECT_EQ(pred[0], 1);
    ref[0] = 0;
    ref[4] = 0;
    ref[80] = 0;
    ref[84] = 1;  // means 0 and 1 -> 1; a four-pixel rounded mean would be 0
    k.halfpel(pred, 80, ref, 80, 1, 1);
    EXPECT_EQ(pred[0], 1);
}

TEST(MovingBlock, RefusesPredictionsOutsideThePictureOnEverySide) {
    auto ref = TexturedPicture(3);
    CRVXMovingBlockUnSigned mb(kW, kH, false);
    mb.Init(0);
    alignas(16) int16_t block[1024];
    alignas(16) int16_t saved[1024];
    for (int i = 0; i < 1024; ++i) block[i] = saved[i] = int16_t(i & 255);
    mb.SetReference(ref.data());
    mb.SetCurrent(block);

    // Last column and row: refused by the format even with a zero vector.
    EXPECT_EQ(mb.AddPrediction(kW - 16, 0, 0, 0), 0);
    EXPECT_EQ(mb.AddPrediction(0, kH - 16, 0, 0), 0);
    EXPECT_EQ(mb.AddPrediction(16, 16, 2 * 32, 0), 0);
    EXPECT_EQ(mb.AddPrediction(16, 16, -33, 0), 0);     // hx = -1
    EXPECT_EQ(mb.AddPrediction(16, 16, 0, -34), 0);     // hy = -2
    EXPECT_EQ(mb.SubtractPrediction(0, 0, -1, 0), 0);
    EXPECT_EQ(mb.AddPrediction(32, 32, 127, 127), 0);
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(block[i], saved[i]);

    // The furthest allowed position reads the last pixel column exactly.
    EXPECT_EQ(mb.AddPrediction(kW - 32, kH - 32, 2 * 15 + 1, 2 * 15 + 1), 1);
    // Without a visited set the object cannot search.
    auto rec = Record(16, 16);
    EXPECT_EQ(mb.SearchMotion(rec), 0);
}

TEST(MovingBlock, SearchStaysInsideTheClippedWindow) {
    auto ref = TexturedPicture(4);
    CRVXMovingBlockUnSigned mb(kW, kH, true);
    mb.Init(0);
    alignas(16) int16_t block[1024];
    mb.SetReference(ref.data());
    mb.SetCurrent(block);
    // A block unlike anything: the search explores widely from the corner.
    for (int i = 0; i < 1024; ++i) block[i] = int16_t((i * 37) & 255);
    auto rec = Record(0, 0);
    ASSERT_EQ(mb.SearchMotion(rec), 1);
    EXPECT_GE(rec.dx, -1);  // half-pel neighbours only inside the window
    EXPECT_GE(rec.dy, -1);
    EXPECT_GE(2 * rec.x + rec.dx, 0);
    EXPECT_GE(2 * rec.y + rec.dy, 0);

    // The last column is refused as a start: vector 0, cost 0.
    rec = Record(kW - 16, 16);
    ASSERT_EQ(mb.SearchMotion(rec), 1);
    EXPECT_EQ(rec.dx, 0);
    EXPECT_EQ(rec.dy, 0);
    for (uint32_t c : rec.cost) EXPECT_EQ(c, 0u);
}

TEST(MovingBlock, TestMatchTellsMovedContentFromNewContent) {
    auto ref = TexturedPicture(5);
    CRVXMovingBlockUnSigned mb(kW, kH, true);
    mb.Init(0);
    alignas(16) int16_t block[1024];
    mb.SetReference(ref.data());
    mb.SetCurrent(block);
    const uint32_t w[4] = {1, 1, 1, 0};
    LoadBlock(ref, 20, 14, block);
    EXPECT_EQ(mb.TestMatch(16, 16, w, 192), 1);
    std::mt19937 rng(9);
    for (int i = 0; i < 1024; ++i) block[i] = int16_t(rng() & 255);
    EXPECT_EQ(mb.TestMatch(16, 16, w, 0), 0);
}

// The second reference of a B frame reuses the first search's measurements
// of the block: the search must come out as a fresh one would, also when
// the object searched a block of quite other values before.
TEST(MovingBlock, ASecondReferenceSearchedWithTheKnownActivityMatchesAFreshSearch) {
    const auto earlier = TexturedPicture(3), later = TexturedPicture(4), other = BowlPicture();
    CRVXMovingBlockUnSigned mb(kW, kH, true);
    mb.Init(ProcessorFeatures());
    alignas(16) int16_t block[1024];
    mb.SetCurrent(block);
    for (int shift = 0; shift < 6; ++shift) {
        LoadBlock(later, 16 + shift, 16 + shift / 2, block);
        auto fresh = Record(16, 16);
        mb.SetReference(later.data());
        ASSERT_EQ(mb.SearchMotion(fresh), 1);

        // Wide values leave the cost's shortcuts off until the block is
        // measured again.
        std::fill(std::begin(block), std::end(block), int16_t(-30000));
        auto wide = Record(16, 16);
        mb.SetReference(other.data());
        mb.SearchMotion(wide);

        LoadBlock(later, 16 + shift, 16 + shift / 2, block);
        auto back = Record(16, 16);
        mb.SetReference(earlier.data());
        ASSERT_EQ(mb.SearchMotion(back), 1);
        auto forward = back;
        forward.activity_known = true;
        mb.SetReference(later.data());
        ASSERT_EQ(mb.SearchMotion(forward), 1);
        EXPECT_EQ(forward.dx, fresh.dx) << shift;
        EXPECT_EQ(forward.dy, fresh.dy) << shift;
        EXPECT_TRUE(std::equal(forward.cost, forward.cost + 4, fresh.cost)) << shift;
        EXPECT_TRUE(std::equal(forward.activity, forward.activity + 4, fresh.activity)) << shift;
    }
}
