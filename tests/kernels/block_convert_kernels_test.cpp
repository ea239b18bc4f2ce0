#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "kernel_levels.h"
#include "rvxlib/dsp/block_convert_kernels.h"

using namespace _rvxlib_;

namespace {

using Samples = std::vector<int16_t>;

// The sample patterns a converter meets: pictures (0..255), differences
// anywhere in 16 bits, and the extremes where a mean's sum leaves 16 bits.
Samples Pattern(int which, std::size_t count, std::mt19937& rng) {
    Samples s(count);
    for (std::size_t i = 0; i < count; ++i) {
        switch (which % 5) {
            case 0: s[i] = int16_t(rng() & 255); break;
            case 1: s[i] = int16_t(rng()); break;
            case 2: s[i] = -32768; break;
            case 3: s[i] = 32767; break;
            default: s[i] = (rng() & 1) ? int16_t(-32768) : int16_t(32767); break;
        }
    }
    return s;
}

// Runs `step` with the portable routines and with each level's on copies of
// the same source and destination; every value of the destination must agree,
// so a twin that touches what it should leave alone fails too.
void ExpectEveryLevelMatches(
    const std::function<void(const BlockConvertKernels&, Samples& dst, const Samples& src)>& step,
    std::size_t dst_count, std::size_t src_count) {
    const BlockConvertKernels portable = block_convert_kernels_portable();
    for (const kernel_test::Level& level : kernel_test::SimdLevels()) {
        SCOPED_TRACE(level.name);
        const BlockConvertKernels fast = block_convert_kernels_for(level.features);
        std::mt19937 rng(17);
        for (int round = 0; round < 30; ++round) {
            const Samples src = Pattern(round, src_count, rng);
            Samples want = Pattern(round + 1, dst_count, rng);
            Samples got = want;
            step(portable, want, src);
            step(fast, got, src);
            ASSERT_EQ(want, got) << "round " << round;
        }
    }
}

constexpr std::size_t kMacroblock = 1024;
constexpr std::size_t kWork = 256;

}  // namespace

TEST(BlockConvertKernels, PlaneGatherAndScatterMatchThePortableRoutinesForEveryChannel) {
    for (int channel = 0; channel < 4; ++channel) {
        SCOPED_TRACE(channel);
        ExpectEveryLevelMatches(
            [&](const BlockConvertKernels& k, Samples& work, const Samples& mb) {
                k.gather_plane(work.data(), mb.data(), channel);
            },
            kWork, kMacroblock);
        ExpectEveryLevelMatches(
            [&](const BlockConvertKernels& k, Samples& mb, const Samples& work) {
                k.scatter_plane(mb.data(), work.data(), channel);
            },
            kMacroblock, kWork);
    }
}

TEST(BlockConvertKernels, ChromaMeansAndTheirRepeatsMatchThePortableRoutines) {
    ExpectEveryLevelMatches(
        [](const BlockConvertKernels& k, Samples& work, const Samples& mb) { k.gather_422_chroma(work.data(), mb.data()); },
        kWork, kMacroblock);
    ExpectEveryLevelMatches(
        [](const BlockConvertKernels& k, Samples& work, const Samples& mb) { k.gather_411_chroma(work.data(), mb.data()); },
        kWork, kMacroblock);
    ExpectEveryLevelMatches(
        [](const BlockConvertKernels& k, Samples& mb, const Samples& work) { k.scatter_422_chroma(mb.data(), work.data()); },
        kMacroblock, kWork);
    ExpectEveryLevelMatches(
        [](const BlockConvertKernels& k, Samples& mb, const Samples& work) { k.scatter_411_chroma(mb.data(), work.data()); },
        kMacroblock, kWork);
}

TEST(BlockConvertKernels, OpaqueAndClearedSlotsLeaveTheOtherLanesAlone) {
    ExpectEveryLevelMatches([](const BlockConvertKernels& k, Samples& mb, const Samples&) { k.set_opaque(mb.data()); },
                            kMacroblock, 0);
    for (int slot = 0; slot < 4; ++slot) {
        SCOPED_TRACE(slot);
        ExpectEveryLevelMatches(
            [&](const BlockConvertKernels& k, Samples& work, const Samples&) { k.clear_slot(work.data(), slot); },
            kWork, 0);
    }
}

// Every run of slots the layouts use, including the single slots 4:4:4 emits
// from the top down; blocks beyond the run must stay untouched.
TEST(BlockConvertKernels, ZigzagRunsOfSlotsMatchThePortableRoutines) {
    for (int first = 0; first < 4; ++first) {
        for (int count = 1; first + count <= 4; ++count) {
            SCOPED_TRACE(testing::Message() << "slots " << first << "+" << count);
            ExpectEveryLevelMatches(
                [&](const BlockConvertKernels& k, Samples& blocks, const Samples& work) {
                    k.emit_slots(blocks.data(), work.data(), first, count);
                },
                4 * 64, kWork);
            ExpectEveryLevelMatches(
                [&](const BlockConvertKernels& k, Samples& work, const Samples& blocks) {
                    k.fill_slots(work.data(), blocks.data(), first, count);
                },
                kWork, 4 * 64);
        }
    }
}
