#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "kernel_levels.h"
#include "support/png_channel_order.h"

namespace {

using RoutineFor = ChannelSwapRow (*)(uint32_t features, uint32_t bytes_per_pixel);

// Every width up to several vector steps, from source rows that end exactly
// where their buffers end (a read past them shows under the sanitizers), and
// a destination guard after the last pixel that must stay untouched.
void ExpectEveryLevelMatchesPortable(RoutineFor routine_for, uint32_t out_bytes_for_3) {
    std::mt19937 rng(11);
    for (uint32_t bytes : {3u, 4u}) {
        const uint32_t out_bytes = bytes == 3 ? out_bytes_for_3 : 4;
        const ChannelSwapRow portable = routine_for(0, bytes);
        for (const kernel_test::Level& level : kernel_test::SimdLevels()) {
            SCOPED_TRACE(level.name);
            const ChannelSwapRow fast = routine_for(level.features, bytes);
            for (uint32_t width = 0; width <= 70; ++width) {
                std::vector<uint8_t> src(width * bytes);
                for (uint8_t& v : src) v = uint8_t(rng());
                std::vector<uint8_t> want(width * out_bytes + 1, 0xA5), got(want);
                portable(want.data(), src.data(), width);
                fast(got.data(), src.data(), width);
                ASSERT_EQ(got, want) << bytes << " bytes, width " << width;
                ASSERT_EQ(want.back(), 0xA5);
            }
        }
    }
}

}  // namespace

TEST(PngChannelOrder, EveryLevelMatchesThePortableRoutine) {
    ExpectEveryLevelMatchesPortable(ChannelSwapRowFor, 3);
    ExpectEveryLevelMatchesPortable(PngRowTo32BitsFor, 4);
}

// The portable routines define the bytes: red and blue swapped, green where
// it was, alpha kept, and pixels without alpha widened with an opaque byte,
// the byte the bitmap's 24 -> 32-bit conversion writes.
TEST(PngChannelOrder, PortableRoutinesPutBlueFirst) {
    const uint8_t rgb[6] = {1, 2, 3, 4, 5, 6};
    const uint8_t rgba[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t out[8];
    ChannelSwapRowFor(0, 3)(out, rgb, 2);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
    ChannelSwapRowFor(0, 4)(out, rgba, 2);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{3, 2, 1, 4, 7, 6, 5, 8}));
    PngRowTo32BitsFor(0, 3)(out, rgb, 2);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{3, 2, 1, 0xFF, 6, 5, 4, 0xFF}));
    PngRowTo32BitsFor(0, 4)(out, rgba, 2);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{3, 2, 1, 4, 7, 6, 5, 8}));
}
