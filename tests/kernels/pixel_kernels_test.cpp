#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "kernel_levels.h"
#include "rvxlib/dsp/deblock_kernels.h"
#include "rvxlib/dsp/pixel_block_kernels.h"

using namespace _rvxlib_;

TEST(DeblockKernels, EveryLevelMatchesThePortableRoutine) {
    const DeblockKernels portable = deblock_kernels_portable();
    for (const kernel_test::Level& level : kernel_test::SimdLevels()) {
        SCOPED_TRACE(level.name);
        const DeblockKernels fast = deblock_kernels_for(level.features);
        std::mt19937 rng(5);
        // Sizes that leave partial vector steps, and extreme values at every edge.
        for (auto [w, h] : {std::pair{16u, 16u}, std::pair{24u, 8u}, std::pair{20u, 33u}, std::pair{640u, 48u}}) {
            std::vector<uint8_t> a(std::size_t{w} * h * 4);
            for (auto& v : a) v = static_cast<uint8_t>(rng() % 3 == 0 ? (rng() & 1) * 255 : rng());
            std::vector<uint8_t> b = a;
            portable.filter_picture(a.data(), w, h, std::size_t{4} * w);
            fast.filter_picture(b.data(), w, h, std::size_t{4} * w);
            ASSERT_EQ(a, b) << w << "x" << h;
        }
    }
}

// Loads widen every byte value; stores saturate every 16-bit value, from a
// picture position off any vector alignment.
TEST(PixelBlockKernels, EveryLevelMatchesThePortableRoutines) {
    const PixelBlockKernels portable = pixel_block_kernels_portable();
    constexpr std::size_t kPitch = 4 * 48;
    for (const kernel_test::Level& level : kernel_test::SimdLevels()) {
        SCOPED_TRACE(level.name);
        const PixelBlockKernels fast = pixel_block_kernels_for(level.features);
        std::mt19937 rng(29);
        for (int round = 0; round < 40; ++round) {
            const std::size_t shift = round % 4 == 3 ? 1 : 4 * (round % 4);
            std::vector<uint8_t> picture(kPitch * 17 + 16);
            for (auto& v : picture) v = uint8_t(rng());
            std::vector<int16_t> want(1024), got(1024, 1);
            portable.load(want.data(), picture.data() + shift, kPitch);
            fast.load(got.data(), picture.data() + shift, kPitch);
            ASSERT_EQ(want, got) << "load " << round;

            std::vector<int16_t> block(1024);
            for (int i = 0; i < 1024; ++i) {
                block[i] = round % 2 ? int16_t(rng()) : int16_t(i % 3 == 0 ? -32768 : (i % 3 == 1 ? 32767 : 256));
            }
            std::vector<uint8_t> a = picture, b = picture;
            portable.store(a.data() + shift, kPitch, block.data());
            fast.store(b.data() + shift, kPitch, block.data());
            ASSERT_EQ(a, b) << "store " << round;
        }
    }
}
