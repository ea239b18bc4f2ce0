#include "rvxlib/dsp/color_space.h"
#include "support/cpu_features.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

using namespace _rvxlib_;

namespace {

std::array<uint8_t, 4> ConvertOne24(uint8_t b, uint8_t g, uint8_t r) {
    CRVXColorSpaceRGB24bitToYUV32bit cs(1, 1);
    EXPECT_EQ(cs.Init(0), 1);
    const uint8_t src[4] = {b, g, r, 0};
    std::array<uint8_t, 4> out{};
    cs.ConvertRow(out.data(), src, 1);
    return out;
}

}  // namespace

TEST(ColorSpace, PrimaryColoursGiveTheirFixedYuvValues) {
    // Output bytes are V, U, Y, A.
    EXPECT_EQ(ConvertOne24(255, 255, 255), (std::array<uint8_t, 4>{129, 129, 254, 255}));
    EXPECT_EQ(ConvertOne24(0, 0, 0), (std::array<uint8_t, 4>{128, 128, 0, 255}));
    EXPECT_EQ(ConvertOne24(0, 0, 255), (std::array<uint8_t, 4>{255, 85, 76, 255}));  // red
    EXPECT_EQ(ConvertOne24(255, 0, 0), (std::array<uint8_t, 4>{107, 255, 29, 255}));  // blue
}

TEST(ColorSpace, ThirtyTwoBitSourcesKeepOrForceAlpha) {
    const uint8_t src[8] = {0, 0, 255, 0x40, 10, 20, 30, 0x00};
    uint8_t out[8];
    CRVXColorSpaceRGB32bitToYUV32bit keep(2, 1, 0);
    keep.ConvertRow(out, src, 2);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 85);
    EXPECT_EQ(out[2], 76);
    EXPECT_EQ(out[3], 0x40);
    EXPECT_EQ(out[7], 0x00);
    CRVXColorSpaceRGB32bitToYUV32bit force(2, 1, 0xFF000000u);
    force.ConvertRow(out, src, 2);
    EXPECT_EQ(out[3], 255);
    EXPECT_EQ(out[7], 255);

    CRVXColorSpace32bitTo32bit copy(2, 1, 0xFF000000u);
    copy.ConvertRow(out, src, 2);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{0, 0, 255, 255, 10, 20, 30, 255}));
    CRVXColorSpace24bitTo32bit rgb(2, 1);
    rgb.ConvertRow(out, src, 2);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{0, 0, 255, 255, 0x40, 10, 20, 255}));
}

TEST(ColorSpace, PicturePaddingRepeatsLastColumnAndRow) {
    // 17 x 1 pixels of 24 bits: the row pitch is 51 rounded up to 52.
    CRVXColorSpace24bitTo32bit cs(17, 1);
    ASSERT_EQ(cs.SourcePitch(), 52u);
    ASSERT_EQ(cs.PaddedWidth(), 32u);
    ASSERT_EQ(cs.PaddedHeight(), 16u);
    std::vector<uint8_t> src(52);
    for (int x = 0; x < 17; ++x) {
        src[3 * x] = static_cast<uint8_t>(x);
        src[3 * x + 1] = static_cast<uint8_t>(100 + x);
        src[3 * x + 2] = static_cast<uint8_t>(200 + x);
    }
    std::vector<uint8_t> dst(32 * 16 * 4, 0xEE);
    ASSERT_EQ(cs.ConvertPicture(src.data(), dst.data()), 1);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            const int from = x < 17 ? x : 16;
            const uint8_t* p = &dst[(y * 32 + x) * 4];
            ASSERT_EQ(p[0], from) << x << "," << y;
            ASSERT_EQ(p[1], 100 + from);
            ASSERT_EQ(p[2], 200 + from);
            ASSERT_EQ(p[3], 255);
        }
    // And back into the padded 24-bit row, exactly.
    std::vector<uint8_t> back(52, 0xEE);
    ASSERT_EQ(cs.ConvertPictureBack(dst.data(), back.data()), 1);
    EXPECT_TRUE(std::equal(src.begin(), src.begin() + 51, back.begin()));
    EXPECT_EQ(back[51], 0xEE);  // the row padding is not the converter's
}

TEST(ColorSpace, RefusesMissingPicturesAndEmptySizes) {
    CRVXColorSpace24bitTo32bit empty(0, 5);
    uint8_t buffer[64] = {};
    EXPECT_EQ(empty.ConvertPicture(buffer, buffer), 0);
    CRVXColorSpace24bitTo32bit huge(0xFFFFFFF8u, 1);  // no padded width exists
    EXPECT_EQ(huge.ConvertPicture(buffer, buffer), 0);
    CRVXColorSpace24bitTo32bit cs(1, 1);
    EXPECT_EQ(cs.ConvertPicture(nullptr, buffer), 0);
    EXPECT_EQ(cs.ConvertPicture(buffer, nullptr), 0);
}

TEST(ColorSpace, YuvRoundTripStaysWithinAFewLevels) {
    std::mt19937 rng(7);
    const uint32_t width = 640, height = 3;
    CRVXColorSpaceRGB32bitToYUV32bit cs(width, height, 0);
    std::vector<uint8_t> src(width * height * 4);
    for (auto& b : src) b = static_cast<uint8_t>(rng());
    // Add the extremes, where the clamps act.
    const uint8_t corners[8][3] = {{0, 0, 0},     {255, 255, 255}, {0, 0, 255},   {0, 255, 0},
                                   {255, 0, 0},   {255, 255, 0},   {255, 0, 255}, {0, 255, 255}};
    for (int i = 0; i < 8; ++i) std::copy(corners[i], corners[i] + 3, &src[4 * i]);
    std::vector<uint8_t> picture(cs.PaddedWidth() * cs.PaddedHeight() * 4);
    ASSERT_EQ(cs.ConvertPicture(src.data(), picture.data()), 1);
    std::vector<uint8_t> back(src.size());
    ASSERT_EQ(cs.ConvertPictureBack(picture.data(), back.data()), 1);
    int worst = 0;
    for (std::size_t i = 0; i < src.size(); ++i) {
        if (i % 4 == 3) {
            ASSERT_EQ(back[i], src[i]);  // alpha passes through
            continue;
        }
        worst = std::max(worst, std::abs(back[i] - src[i]));
    }
    // Saturated colours (pure red, blue) lose up to a few levels in the
    // clamped chroma; everything stays close.
    EXPECT_LE(worst, 6);

    // Ordinary colours (away from the chroma clamps) come back within 3.
    CRVXColorSpaceRGB24bitToYUV32bit mid(1, 1);
    for (int trial = 0; trial < 20000; ++trial) {
        const uint8_t bgr[3] = {static_cast<uint8_t>(64 + rng() % 128), static_cast<uint8_t>(64 + rng() % 128),
                                static_cast<uint8_t>(64 + rng() % 128)};
        uint8_t vuya[4], out[3];
        mid.ConvertRow(vuya, bgr, 1);
        mid.ConvertRowBack(out, vuya, 1);
        for (int k = 0; k < 3; ++k) ASSERT_LE(std::abs(out[k] - bgr[k]), 3) << trial;
    }
}
