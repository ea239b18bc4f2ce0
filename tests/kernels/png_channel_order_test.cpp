#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "kernel_levels.h"
#include "support/png_channel_order.h"

// Every width up to a few vector steps, from rows that end exactly where the
// buffers end (a read or write past them shows under the sanitizers), and a
// destination guard after the last pixel that must stay untouched.
TEST(PngChannelOrder, EveryLevelMatchesThePortableRoutine) {
    std::mt19937 rng(11);
    for (uint32_t bytes : {3u, 4u}) {
        const ChannelSwapRow portable = ChannelSwapRowFor(0, bytes);
        for (const kernel_test::Level& level : kernel_test::SimdLevels()) {
            SCOPED_TRACE(level.name);
            const ChannelSwapRow fast = ChannelSwapRowFor(level.features, bytes);
            for (uint32_t width = 0; width <= 40; ++width) {
                std::vector<uint8_t> src(width * bytes);
                for (uint8_t& v : src) v = uint8_t(rng());
                std::vector<uint8_t> want(width * bytes + 1, 0xA5), got(want);
                portable(want.data(), src.data(), width);
                fast(got.data(), src.data(), width);
                ASSERT_EQ(got, want) << bytes << " bytes, width " << width;
                if (width == 0) continue;
                // Red and blue swapped, green and alpha where they were.
                ASSERT_EQ(want[0], src[2]);
                ASSERT_EQ(want[1], src[1]);
                ASSERT_EQ(want[2], src[0]);
                if (bytes == 4) {
                    ASSERT_EQ(want[3], src[3]);
                }
                ASSERT_EQ(want.back(), 0xA5);
            }
        }
    }
}
