#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "kernel_levels.h"
#include "rvxlib/dsp/color_space_kernels.h"

using namespace _rvxlib_;

namespace {

constexpr ColorConversion kConversions[] = {ColorConversion::kBgr24ToBgra, ColorConversion::kBgraToBgra,
                                            ColorConversion::kBgr24ToVuya, ColorConversion::kBgraToVuya};

// Every length up to a few whole steps of the widest twin, so each tail
// length follows zero, one and several full steps, plus long rows.
std::vector<uint32_t> RowLengths() {
    std::vector<uint32_t> lengths;
    for (uint32_t n = 1; n <= 70; ++n) lengths.push_back(n);
    lengths.insert(lengths.end(), {300u, 1031u});
    return lengths;
}

// Bytes whose page ends where the last byte ends, followed by a page that
// cannot be read or written: a routine that strays past the row faults.
class RowAtPageEnd {
public:
    explicit RowAtPageEnd(std::size_t bytes) {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        span_ = (bytes + page - 1) / page * page + page;
        void* base = mmap(nullptr, span_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) return;
        base_ = static_cast<uint8_t*>(base);
        if (mprotect(base_ + span_ - page, page, PROT_NONE) != 0) return;
        row_ = base_ + span_ - page - bytes;
    }
    ~RowAtPageEnd() {
        if (base_ != nullptr) munmap(base_, span_);
    }
    RowAtPageEnd(const RowAtPageEnd&) = delete;
    RowAtPageEnd& operator=(const RowAtPageEnd&) = delete;
    uint8_t* row() const { return row_; }  // null when the pages could not be set up

private:
    uint8_t* base_ = nullptr;
    uint8_t* row_ = nullptr;
    std::size_t span_ = 0;
};

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
            for (uint32_t mask : {0u, 0xFF000000u, 0x80402001u})
                for (uint32_t count : RowLengths())
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
    }
}

// The YUV arithmetic on every 24-bit colour, from 32-bit pixels (alpha and
// mask passing through) and from packed 24-bit pixels, both directions.
TEST(ColorKernels, EveryColourMatchesThePortableRoutines) {
    const ColorKernels portable = color_kernels_portable();
    constexpr uint32_t kRow = 65536;
    std::vector<uint8_t> all(4 * kRow), packed(3 * kRow), a(all.size()), b(all.size());
    for (const kernel_test::Level& level : kernel_test::SimdLevels()) {
        SCOPED_TRACE(level.name);
        const ColorKernels fast = color_kernels_for(level.features);
        for (uint32_t high = 0; high < 256; ++high) {
            for (uint32_t low = 0; low < kRow; ++low) {
                const uint32_t alpha = (low * 7 + high) & 0xFF;
                const uint32_t value = alpha << 24 | high << 16 | low;
                std::memcpy(&all[4 * low], &value, 4);
                std::memcpy(&packed[3 * low], &value, 3);
            }
            const uint32_t mask = high % 2 == 0 ? 0u : 0x80402001u;
            for (ColorConversion conversion : {ColorConversion::kBgraToVuya, ColorConversion::kBgr24ToVuya}) {
                const ColorRowRoutines& reference = portable[conversion];
                const ColorRowRoutines& twin = fast[conversion];
                const uint8_t* pixels = conversion == ColorConversion::kBgraToVuya ? all.data() : packed.data();
                reference.forward(a.data(), pixels, kRow, mask);
                twin.forward(b.data(), pixels, kRow, mask);
                ASSERT_EQ(a, b) << static_cast<int>(conversion) << " forward " << high;
                // Every V, U, Y triple back to colours.
                reference.back(a.data(), all.data(), kRow, mask);
                twin.back(b.data(), all.data(), kRow, mask);
                ASSERT_EQ(a, b) << static_cast<int>(conversion) << " back " << high;
            }
        }
    }
}

TEST(ColorKernels, RowsEndingAtAnUnreadablePageStayInside) {
    std::mt19937 rng(5);
    for (const kernel_test::Level& level : kernel_test::AllLevels()) {
        SCOPED_TRACE(level.name);
        const ColorKernels kernels = color_kernels_for(level.features);
        for (ColorConversion conversion : kConversions) {
            const bool packed_source = conversion == ColorConversion::kBgr24ToBgra ||
                                       conversion == ColorConversion::kBgr24ToVuya;
            const uint32_t source_bytes = packed_source ? 3 : 4;
            for (uint32_t count : RowLengths()) {
                // Forward reads the source row and writes 32-bit pixels; back
                // the other way round. Each row ends at the unreadable page.
                RowAtPageEnd wide(4 * std::size_t{count}), narrow(source_bytes * std::size_t{count});
                ASSERT_NE(wide.row(), nullptr);
                ASSERT_NE(narrow.row(), nullptr);
                for (std::size_t i = 0; i < source_bytes * count; ++i) narrow.row()[i] = static_cast<uint8_t>(rng());
                kernels[conversion].forward(wide.row(), narrow.row(), count, 0xFF000000u);
                kernels[conversion].back(narrow.row(), wide.row(), count, 0xFF000000u);
            }
        }
    }
}
