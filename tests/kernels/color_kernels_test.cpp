#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "kernel_levels.h"
#include "rvxlib/color_space_kernels.h"

using namespace _rvxlib_;

namespace {

constexpr ColorConversion kConversions[] = {ColorConversion::kBgr24ToBgra, ColorConversion::kBgraToBgra,
                                            ColorConversion::kBgr24ToVuya, ColorConversion::kBgraToVuya};

}  // namespace

TEST(ColorKernels, EveryLevelMatchesThePortableRoutines) {
    const ColorKernels portable = color_kernels_portable();
    std::mt19937 rng(11);
    // Every 8-bit value in every position, plus row lengths that leave tails.
    std::vector<uint8_t> src(4 * 1031 + 3);
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i < 1024 ? i * 37 : rng());
    for (const kernel_test::Level& level : kernel_test::SimdLevels()) {
        SCOPED_TRACE(level.name);
        const ColorKernels fast = color_kernels_for(level.features);
        for (ColorConversion conversion : kConversions) {
            const ColorRowRoutines& reference = portable[conversion];
            const ColorRowRoutines& twin = fast[conversion];
            for (uint32_t mask : {0u, 0xFF000000u})
                for (uint32_t count : {1u, 3u, 4u, 5u, 300u, 1031u})
                    // Rows that start off any alignment, in and out.
                    for (std::size_t shift : {0u, 1u, 3u}) {
                        std::vector<uint8_t> a(4 * count + 8, 0xAB), b(a);
                        reference.forward(a.data() + shift, src.data() + shift, count, mask);
                        twin.forward(b.data() + shift, src.data() + shift, count, mask);
                        ASSERT_EQ(a, b) << static_cast<int>(conversion) << " forward " << count;
                        std::fill(a.begin(), a.end(), 0xAB);
                        std::fill(b.begin(), b.end(), 0xAB);
                        reference.back(a.data() + shift, src.data() + shift, count, mask);
                        twin.back(b.data() + shift, src.data() + shift, count, mask);
                        ASSERT_EQ(a, b) << static_cast<int>(conversion) << " back " << count;
                    }
        }
        // The YUV arithmetic on every 24-bit value, both directions.
        const ColorRowRoutines& reference = portable[ColorConversion::kBgraToVuya];
        const ColorRowRoutines& twin = fast[ColorConversion::kBgraToVuya];
        std::vector<uint8_t> all(4 * 65536), a(all.size()), b(all.size());
        for (uint32_t high = 0; high < 256; ++high) {
            for (uint32_t low = 0; low < 65536; ++low) {
                const uint32_t value = high << 16 | low;
                std::memcpy(&all[4 * low], &value, 4);
            }
            reference.forward(a.data(), all.data(), 65536, 0);
            twin.forward(b.data(), all.data(), 65536, 0);
            ASSERT_EQ(a, b) << high;
            reference.back(a.data(), all.data(), 65536, 0);
            twin.back(b.data(), all.data(), 65536, 0);
            ASSERT_EQ(a, b) << high;
        }
    }
}
