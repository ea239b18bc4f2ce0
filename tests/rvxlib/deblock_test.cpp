#include "rvxlib/dsp/deblock.h"
#include "support/cpu_features.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

using namespace _rvxlib_;

namespace {

struct Picture {
    uint32_t w, h;
    std::vector<uint8_t> bytes;
    Picture(uint32_t width, uint32_t height, uint8_t fill) : w(width), h(height), bytes(width * height * 4, fill) {}
    uint8_t& at(uint32_t x, uint32_t y, int k) { return bytes[(y * w + x) * 4 + k]; }
};

}  // namespace

TEST(DeblockEdgeFilter, StepEdgeIsSmoothedOnTwoPixels) {
    Picture pic(16, 8, 255);
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 8; ++x) pic.at(x, y, 1) = 0;
    CRVXDeblockEdgeFilterUnSigned filter(16, 8);
    ASSERT_EQ(filter.Init(0), 1);
    ASSERT_EQ(filter.FilterPicture(pic.bytes.data()), 1);
    for (uint32_t y = 0; y < 8; ++y) {
        EXPECT_EQ(pic.at(6, y, 1), 0);
        EXPECT_EQ(pic.at(7, y, 1), 64);
        EXPECT_EQ(pic.at(8, y, 1), 192);
        EXPECT_EQ(pic.at(9, y, 1), 255);
        for (uint32_t x = 0; x < 16; ++x) EXPECT_EQ(pic.at(x, y, 0), 255);  // other channels untouched
    }
}

TEST(DeblockEdgeFilter, HorizontalEdgesOnlyInsideThePicture) {
    // Height 8: no horizontal pass at all; height 16: only the edge at y = 8.
    for (uint32_t h : {8u, 16u}) {
        Picture pic(8, h, 0);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < 8; ++x) pic.at(x, y, 2) = static_cast<uint8_t>(y < 8 ? 0 : 200);
        for (uint32_t x = 0; x < 8; ++x) pic.at(x, 7, 2) = 40;  // a row edge inside the first block
        CRVXDeblockEdgeFilterUnSigned filter(8, h);
        filter.FilterPicture(pic.bytes.data());
        if (h == 8) {
            EXPECT_EQ(pic.at(3, 7, 2), 40);
        } else {
            // p6 = 0, p7 = 40, p8 = 200, p9 = 200 at the edge y = 8.
            EXPECT_EQ(pic.at(3, 6, 2), 0);
            EXPECT_EQ(pic.at(3, 7, 2), 70);   // avg(40, avg(0, 200))
            EXPECT_EQ(pic.at(3, 8, 2), 160);  // avg(200, avg(40, 200))
            EXPECT_EQ(pic.at(3, 9, 2), 200);
            EXPECT_EQ(pic.at(3, 15, 2), 200);
        }
    }
}

TEST(DeblockEdgeFilter, ConstantPictureIsUnchangedAndNullPictureRefused) {
    Picture pic(64, 48, 123);
    CRVXDeblockEdgeFilterUnSigned filter(64, 48);
    filter.Init(0);
    ASSERT_EQ(filter.FilterPicture(pic.bytes.data()), 1);
    for (uint8_t v : pic.bytes) ASSERT_EQ(v, 123);
    EXPECT_EQ(filter.FilterPicture(nullptr), 0);

    CRVXDeblockNullFilter null_filter(64, 48);
    EXPECT_EQ(null_filter.Init(0), 1);
    EXPECT_EQ(null_filter.FilterPicture(nullptr), 1);
}

// Undoing the filter all the way gives a picture the filter turns back into
// the source (within the rounding of its averages); part of the way lands
// in between; none leaves the source alone.
TEST(DeblockEdgeFilter, UndoingTheFilterBringsTheSourceBackAfterIt) {
    Picture source(32, 24, 0);
    std::mt19937 rng(5);
    // Texture kept away from 0 and 255, so the undone edges need no clamping.
    for (auto& v : source.bytes) v = uint8_t(120 + rng() % 16);
    CRVXDeblockEdgeFilterUnSigned filter(32, 24);
    ASSERT_EQ(filter.Init(0), 1);
    auto error_after_filter = [&](int32_t quarters) {
        Picture coded = source;
        UndoDeblocking(coded.bytes.data(), 32, 24, 32 * 4, quarters);
        if (quarters == 0) {
            EXPECT_EQ(coded.bytes, source.bytes);
        }
        filter.FilterPicture(coded.bytes.data());
        int worst = 0;
        long squares = 0;
        for (std::size_t i = 0; i < coded.bytes.size(); ++i) {
            const int d = int(coded.bytes[i]) - int(source.bytes[i]);
            worst = std::max(worst, std::abs(d));
            squares += d * d;
        }
        return std::pair{worst, squares};
    };
    const auto none = error_after_filter(0), half = error_after_filter(2), whole = error_after_filter(4);
    EXPECT_LE(whole.first, 2);
    EXPECT_LT(whole.second, half.second);
    EXPECT_LT(half.second, none.second);
}
