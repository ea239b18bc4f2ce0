#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "rvxlib/motion_kernels.h"
#include "rvxlib/motion_search.h"

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

void ExpectSameAsPortable(const MotionKernels& fast) {
    const MotionKernels portable = motion_kernels_portable();
    std::mt19937 rng(17);
    alignas(16) int16_t cur[1024];
    alignas(16) uint8_t ref[20 * 96];
    alignas(16) uint8_t a[17 * 80], b[17 * 80];
    for (int round = 0; round < 200; ++round) {
        for (auto& v : ref) v = uint8_t(rng());
        for (int i = 0; i < 1024; ++i) {
            switch (round % 4) {
            case 0: cur[i] = int16_t(rng() & 255); break;
            case 1: cur[i] = int16_t(rng()); break;  // any working value
            case 2: cur[i] = (i & 4) ? -32768 : 32767; break;
            default: cur[i] = -32768; break;  // the largest sums
            }
        }
        if (round % 4 == 3) std::fill(std::begin(ref), std::end(ref), uint8_t(255));
        uint32_t want[4], got[4];
        portable.ssd16x16(cur, ref + (round % 5) * 4, 96, want);
        fast.ssd16x16(cur, ref + (round % 5) * 4, 96, got);
        for (int k = 0; k < 4; ++k) ASSERT_EQ(got[k], want[k]) << round;
        if (motion_block_is_narrow(cur)) {
            fast.ssd16xn_narrow(cur, ref + (round % 5) * 4, 96, 16, got);
            for (int k = 0; k < 4; ++k) ASSERT_EQ(got[k], want[k]) << "narrow " << round;
        }
        portable.activity16x16(cur, want);
        fast.activity16x16(cur, got);
        for (int k = 0; k < 4; ++k) ASSERT_EQ(got[k], want[k]) << "activity " << round;
        const int hx = round & 1, hy = (round >> 1) & 1;
        portable.halfpel(a, 80, ref + 4, 96, hx, hy);
        fast.halfpel(b, 80, ref + 4, 96, hx, hy);
        for (int r = 0; r < 16; ++r)
            for (int i = 0; i < 64; ++i) ASSERT_EQ(a[80 * r + i], b[80 * r + i]) << round;
    }
}

// The fast cost for picture blocks at the edges of its range: differences of
// -32768 and 32767, whose paired squares reach 2^31, and the wrapped sums.
void ExpectNarrowSameAsPortable(const MotionKernels& fast) {
    const MotionKernels portable = motion_kernels_portable();
    std::mt19937 rng(5);
    alignas(16) int16_t cur[1024];
    alignas(16) uint8_t ref[16 * 64];
    for (int round = 0; round < 60; ++round) {
        for (int i = 0; i < 1024; ++i) {
            const int16_t edge = ((i >> (round % 3)) & 1) ? INT16_MAX : kNarrowSampleMin;
            cur[i] = round < 20 ? edge : int16_t(kNarrowSampleMin + int(rng() % (INT16_MAX - kNarrowSampleMin + 1)));
        }
        for (int i = 0; i < 1024; ++i) ref[i] = cur[i] < 0 ? 255 : (round & 1 ? 0 : uint8_t(rng()));
        ASSERT_TRUE(motion_block_is_narrow(cur));
        uint32_t want[4], got[4], top[4], bottom[4];
        portable.ssd16x16(cur, ref, 64, want);
        fast.ssd16xn_narrow(cur, ref, 64, 16, got);
        for (int k = 0; k < 4; ++k) ASSERT_EQ(got[k], want[k]) << round;
        // Costs taken in two halves add up to the whole, wrapped alike.
        const int rows = 1 + round % 15;
        fast.ssd16xn_narrow(cur, ref, 64, rows, top);
        fast.ssd16xn_narrow(cur + 64 * rows, ref + 64 * rows, 64, 16 - rows, bottom);
        for (int k = 0; k < 4; ++k) ASSERT_EQ(uint32_t(top[k] + bottom[k]), want[k]) << round;
    }
    cur[77] = kNarrowSampleMin - 1;
    EXPECT_FALSE(motion_block_is_narrow(cur));
}

TEST(MotionKernels, EveryVariantMatchesThePortableRoutines) {
    ExpectNarrowSameAsPortable(motion_kernels_portable());
    MotionKernels sse2 = motion_kernels_portable();
    if (motion_kernels_sse2(sse2)) {
        SCOPED_TRACE("SSE2");
        ExpectSameAsPortable(sse2);
        ExpectNarrowSameAsPortable(sse2);
    }
    MotionKernels avx2 = motion_kernels_portable();
    if (motion_kernels_avx2(avx2)) {
        SCOPED_TRACE("AVX2");
        ExpectSameAsPortable(avx2);
        ExpectNarrowSameAsPortable(avx2);
    }
}
