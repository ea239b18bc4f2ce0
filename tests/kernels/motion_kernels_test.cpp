#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <random>
#include <vector>

#include "kernel_levels.h"
#include "rvxlib/dsp/motion_kernels.h"

using namespace _rvxlib_;

namespace {

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
        if (round % 4 == 0) {  // samples 0..255
            fast.activity16x16_bytes(cur, got);
            for (int k = 0; k < 4; ++k) ASSERT_EQ(got[k], want[k]) << "activity bytes " << round;
        }
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

// The activity of byte blocks at the extremes: flat, and halves of 0 and
// 255 (the largest squares, the means rounding up and down).
void ExpectByteActivitySameAsPortable(const MotionKernels& fast) {
    const MotionKernels portable = motion_kernels_portable();
    alignas(16) int16_t cur[1024];
    for (int pattern = 0; pattern < 6; ++pattern) {
        for (int i = 0; i < 1024; ++i) {
            switch (pattern) {
            case 0: cur[i] = 0; break;
            case 1: cur[i] = 255; break;
            case 2: cur[i] = (i & 4) ? 255 : 0; break;
            case 3: cur[i] = i < 512 ? 255 : 0; break;
            case 4: cur[i] = i < 516 ? 255 : 0; break;  // the mean just over a half
            default: cur[i] = int16_t((i * 97 + (i >> 6) * 31) & 255); break;
            }
        }
        uint32_t want[4], got[4];
        portable.activity16x16(cur, want);
        fast.activity16x16_bytes(cur, got);
        for (int k = 0; k < 4; ++k) ASSERT_EQ(got[k], want[k]) << pattern;
    }
}

// The bounded cost gives up at the same look as the portable one and, when
// it does not, gives the same sums: bounds below, at and above the partial
// and whole costs, weights that wrap the weighted sum, samples of pictures.
void ExpectBoundedSameAsPortable(const MotionKernels& fast) {
    const MotionKernels portable = motion_kernels_portable();
    std::mt19937 rng(41);
    alignas(16) int16_t cur[1024];
    alignas(16) uint8_t ref[16 * 80];
    for (int round = 0; round < 300; ++round) {
        for (int i = 0; i < 1024; ++i) cur[i] = int16_t(round % 7 == 0 ? (i & 1) * 255 : rng() & 255);
        // Later rows differ more, so the looks fall at different rows.
        for (int i = 0; i < 16 * 80; ++i)
            ref[i] = uint8_t(cur[(i / 80) * 64 + (i % 80) % 64] + int(rng() % (1 + (i / 80) * (round % 5))));
        const uint32_t weights[4] = {uint32_t(rng() % 4), uint32_t(rng() % 4), uint32_t(1 + rng() % 3),
                                     round % 3 == 0 ? 0x01000000u : uint32_t(rng() % 2)};
        uint32_t whole[4];
        portable.ssd16xn_narrow(cur, ref, 80, 16, whole);
        alignas(32) int16_t arranged[1024];
        fast.arrange_bytes(cur, arranged);
        const uint64_t full = WeightedCost(whole, weights);
        const uint64_t bounds[] = {0, 1, full / 4, full / 2, full, full + 1, rng(), uint64_t(1) << 33};
        for (uint64_t bound : bounds) {
            uint32_t want[4] = {}, got[4] = {};
            const bool want_ok = portable.ssd16x16_narrow_bounded(cur, ref, 80, weights, bound, want);
            const bool got_ok = fast.ssd16x16_narrow_bounded(cur, ref, 80, weights, bound, got);
            ASSERT_EQ(got_ok, want_ok) << round << " " << bound;
            // The same block arranged for the level, costed at a pitch whose
            // rows start off any vector boundary.
            uint32_t bytes[4] = {};
            const bool bytes_ok = fast.ssd16x16_bytes_bounded(arranged, ref, 80, weights, bound, bytes);
            ASSERT_EQ(bytes_ok, want_ok) << "bytes " << round << " " << bound;
            if (!want_ok) continue;
            for (int k = 0; k < 4; ++k) ASSERT_EQ(got[k], want[k]) << round << " " << bound;
            for (int k = 0; k < 4; ++k) ASSERT_EQ(bytes[k], want[k]) << "bytes " << round << " " << bound;
            for (int k = 0; k < 4; ++k) ASSERT_EQ(want[k], whole[k]) << round << " " << bound;
        }
    }
}

// The half-pel cost with the prediction interpolated on the fly: each of the
// four offsets, the same looks at the partial cost and the same sums as a
// prediction built and then costed, from a reference area of exactly 17 rows
// of 17 pixels at the end of its buffer, so reading past it would show.
void ExpectHalfpelBoundedSameAsPortable(const MotionKernels& fast) {
    const MotionKernels portable = motion_kernels_portable();
    std::mt19937 rng(73);
    constexpr int kPitch = 84;
    std::vector<uint8_t> area(16 * kPitch + 68);
    alignas(32) int16_t cur[1024], arranged[1024];
    alignas(32) uint8_t prediction[17 * 80];
    for (int round = 0; round < 200; ++round) {
        for (int i = 0; i < 1024; ++i) cur[i] = int16_t(round % 9 == 0 ? (i & 2) * 127 : rng() & 255);
        for (std::size_t i = 0; i < area.size(); ++i)
            area[i] = round % 11 == 0 ? uint8_t(255 * (i & 1))
                                      : uint8_t(cur[(i / kPitch % 16) * 64 + (i % kPitch) % 64] +
                                                int(rng() % (1 + (i / kPitch) * (round % 4))));
        fast.arrange_bytes(cur, arranged);
        const int hx = round & 1, hy = (round >> 1) & 1;
        portable.halfpel(prediction, 80, area.data(), kPitch, hx, hy);
        const uint32_t weights[4] = {uint32_t(1 + rng() % 3), uint32_t(rng() % 4), uint32_t(rng() % 4),
                                     round % 5 == 0 ? 0x01000000u : 0u};
        uint32_t whole[4];
        portable.ssd16x16(cur, prediction, 80, whole);
        const uint64_t full = WeightedCost(whole, weights);
        for (uint64_t bound : {uint64_t(0), full / 3, full, full + 1, UINT64_MAX}) {
            uint32_t want[4] = {}, got[4] = {};
            const bool want_ok = portable.ssd16x16_narrow_bounded(cur, prediction, 80, weights, bound, want);
            const bool got_ok =
                fast.halfpel_bytes_bounded(arranged, area.data(), kPitch, hx, hy, weights, bound, got);
            ASSERT_EQ(got_ok, want_ok) << round << " " << bound;
            if (!want_ok) continue;
            for (int k = 0; k < 4; ++k) ASSERT_EQ(got[k], want[k]) << round << " " << bound;
        }
    }
}

// Bounds set exactly at the partial cost of each look, and one above it:
// the fast costs must give up at the same look, never look after the last
// row, and otherwise return the same sums. Each half-pel offset is checked
// against its own prediction; the reference starts off any vector boundary,
// has rows at an odd pitch, and ends where the last row read ends.
void ExpectLooksFallAfterTheSameRows(const MotionKernels& fast) {
    const MotionKernels portable = motion_kernels_portable();
    std::mt19937 rng(97);
    constexpr int kPitch = 76;
    std::vector<uint8_t> area(4 + 16 * kPitch + 68);
    const uint8_t* ref = area.data() + 4;
    alignas(64) int16_t cur[1024], arranged[1024];
    alignas(64) uint8_t prediction[17 * 64];
    for (int round = 0; round < 40; ++round) {
        for (int16_t& v : cur) v = int16_t(rng() & 255);
        for (uint8_t& v : area) v = uint8_t(rng());
        fast.arrange_bytes(cur, arranged);
        const uint32_t weights[4] = {uint32_t(1 + rng() % 4), uint32_t(rng() % 4), uint32_t(rng() % 4),
                                     uint32_t(rng() % 2)};
        const int hx = round & 1, hy = (round >> 1) & 1;
        portable.halfpel(prediction, 64, ref, kPitch, hx, hy);
        std::vector<uint64_t> bounds;
        for (int rows = kSearchCostRows; rows <= 16; rows += kSearchCostRows) {
            uint32_t partial[4];
            portable.ssd16xn_narrow(cur, prediction, 64, rows, partial);
            bounds.push_back(WeightedCost(partial, weights));
            bounds.push_back(WeightedCost(partial, weights) + 1);
        }
        for (uint64_t bound : bounds) {
            uint32_t want[4] = {}, got[4] = {};
            const bool want_ok = portable.ssd16x16_narrow_bounded(cur, prediction, 64, weights, bound, want);
            if (bound == bounds[6]) {
                EXPECT_TRUE(want_ok) << "looked after the last row";
            }
            const bool got_ok = fast.halfpel_bytes_bounded(arranged, ref, kPitch, hx, hy, weights, bound, got);
            ASSERT_EQ(got_ok, want_ok) << "halfpel " << round << " " << bound;
            if (want_ok) {
                for (int k = 0; k < 4; ++k) ASSERT_EQ(got[k], want[k]) << "halfpel " << round << " " << bound;
            }
            if (hx || hy) continue;
            // At offset 0 the prediction is the reference itself.
            const bool bytes_ok = fast.ssd16x16_bytes_bounded(arranged, ref, kPitch, weights, bound, got);
            ASSERT_EQ(bytes_ok, want_ok) << "bytes " << round << " " << bound;
            if (want_ok) {
                for (int k = 0; k < 4; ++k) ASSERT_EQ(got[k], want[k]) << "bytes " << round << " " << bound;
            }
            const bool narrow_ok = fast.ssd16x16_narrow_bounded(cur, ref, kPitch, weights, bound, got);
            ASSERT_EQ(narrow_ok, want_ok) << "narrow " << round << " " << bound;
            if (want_ok) {
                for (int k = 0; k < 4; ++k) ASSERT_EQ(got[k], want[k]) << "narrow " << round << " " << bound;
            }
        }
    }
}

// Adding and subtracting a prediction at the extremes of the working values:
// the sums wrap in 16 bits alike.
void ExpectPredictionSameAsPortable(const MotionKernels& fast) {
    const MotionKernels portable = motion_kernels_portable();
    std::mt19937 rng(23);
    alignas(16) int16_t a[1024], b[1024];
    alignas(16) uint8_t pred[16 * 72];
    for (int round = 0; round < 50; ++round) {
        for (int i = 0; i < 1024; ++i) a[i] = round % 3 == 0 ? int16_t((i & 1) ? 32767 : -32768) : int16_t(rng());
        for (auto& v : pred) v = round % 2 ? uint8_t(rng()) : 255;
        std::copy(std::begin(a), std::end(a), b);
        portable.add_prediction(a, pred + 4, 72);
        fast.add_prediction(b, pred + 4, 72);
        ASSERT_TRUE(std::equal(std::begin(a), std::end(a), b)) << "add " << round;
        portable.subtract_prediction(a, pred + 4, 72);
        fast.subtract_prediction(b, pred + 4, 72);
        ASSERT_TRUE(std::equal(std::begin(a), std::end(a), b)) << "subtract " << round;
    }
}

// The one look every search starts with: the class of the block and, for
// bytes, the arranged block the level's own costs read and the activity.
// Samples one step outside each class's range must move the block to the
// next class, however few of them there are.
void ExpectPreparedBlockSameAsPortable(const MotionKernels& fast) {
    const MotionKernels portable = motion_kernels_portable();
    std::mt19937 rng(41);
    alignas(64) int16_t cur[1024], arranged[1024], arranged_by_parts[1024];
    for (int round = 0; round < 120; ++round) {
        for (int16_t& v : cur) v = round % 5 == 0 ? int16_t(255 * (rng() & 1)) : int16_t(rng() & 255);
        const int at = int(rng() % 1024);
        switch (round % 6) {
        case 1: cur[at] = -1; break;
        case 2: cur[at] = 256; break;
        case 3: cur[at] = kNarrowSampleMin; break;
        case 4: cur[at] = kNarrowSampleMin - 1; break;
        default: break;
        }
        uint32_t want[4] = {}, got[4] = {};
        const BlockSamples want_class = PrepareBlock(portable, cur, arranged, want);
        const BlockSamples got_class = PrepareBlock(fast, cur, arranged, got);
        ASSERT_EQ(int(got_class), int(want_class)) << "round " << round;
        if (want_class != BlockSamples::kBytes) continue;
        for (int k = 0; k < 4; ++k) ASSERT_EQ(got[k], want[k]) << "round " << round << " channel " << k;
        fast.arrange_bytes(cur, arranged_by_parts);
        ASSERT_TRUE(std::equal(arranged, arranged + 1024, arranged_by_parts)) << "round " << round;
    }
}

}  // namespace

TEST(MotionKernels, EveryLevelMatchesThePortableRoutines) {
    ExpectNarrowSameAsPortable(motion_kernels_portable());
    ExpectLooksFallAfterTheSameRows(motion_kernels_portable());
    for (const kernel_test::Level& level : kernel_test::SimdLevels()) {
        SCOPED_TRACE(level.name);
        const MotionKernels fast = motion_kernels_for(level.features);
        ExpectSameAsPortable(fast);
        ExpectNarrowSameAsPortable(fast);
        ExpectBoundedSameAsPortable(fast);
        ExpectHalfpelBoundedSameAsPortable(fast);
        ExpectLooksFallAfterTheSameRows(fast);
        ExpectByteActivitySameAsPortable(fast);
        ExpectPredictionSameAsPortable(fast);
        ExpectPreparedBlockSameAsPortable(fast);
    }
}
