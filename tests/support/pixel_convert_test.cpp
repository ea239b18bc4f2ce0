#include "support/pixel_convert.h"
#include "support/pixel_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// Widening 24-bit rows reads four bytes at a time but must never read or
// write past either row, and must end with the last pixel intact.
TEST(RowConverter, TwentyFourBitRowsWidenToOpaquePixelsAtEveryWidth) {
    for (int32_t width = 1; width <= 21; ++width) {
        for (uint32_t format : {uint32_t(PF_X8R8G8B8), uint32_t(PF_A8R8G8B8)}) {
            std::vector<uint8_t> src(std::size_t(width) * 3);
            for (std::size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 37 + 11);
            std::vector<uint8_t> out(std::size_t(width) * 4 + 4, 0xAB);
            ASSERT_EQ(ConvertRow(out.data(), format, src.data(), PF_B8G8R8, width), 1);
            for (int32_t x = 0; x < width; ++x) {
                EXPECT_EQ(out[4 * x + 0], src[3 * x + 0]) << width;
                EXPECT_EQ(out[4 * x + 1], src[3 * x + 1]) << width;
                EXPECT_EQ(out[4 * x + 2], src[3 * x + 2]) << width;
                EXPECT_EQ(out[4 * x + 3], 0xFF) << width;
            }
            EXPECT_EQ(out[4 * width], 0xAB) << width;  // nothing written beyond the row
        }
    }
}

TEST(RowConverter, NarrowsAndWidensByShiftingWithoutRounding) {
    const uint8_t argb[4] = {0x40, 0x80, 0xFF, 0x00};  // 0x00FF8040 as B, G, R, A
    uint8_t out[2] = {};
    ASSERT_EQ(ConvertRow(out, PF_R5G6B5, argb, PF_A8R8G8B8, 1), 1);
    EXPECT_EQ(out[0] | (out[1] << 8), 0xFC08);

    const uint8_t white565[2] = {0xFF, 0xFF};
    uint8_t wide[4] = {};
    ASSERT_EQ(ConvertRow(wide, PF_A8R8G8B8, white565, PF_R5G6B5, 1), 1);
    EXPECT_EQ(std::vector<uint8_t>(wide, wide + 4), (std::vector<uint8_t>{0xF8, 0xFC, 0xF8, 0xFF}));

    const uint8_t a4[2] = {0x9F, 0x5C};  // A=5, R=C, G=9, B=F
    ASSERT_EQ(ConvertRow(wide, PF_A8R8G8B8, a4, PF_A4R4G4B4, 1), 1);
    EXPECT_EQ(std::vector<uint8_t>(wide, wide + 4), (std::vector<uint8_t>{0xF0, 0x90, 0xC0, 0x50}));
}

TEST(RowConverter, RefusesPairsWithoutAConversionAndWritesNothing) {
    const uint8_t src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t out[8];
    std::memset(out, 0xAA, sizeof out);
    EXPECT_EQ(ConvertRow(out, PF_R5G6B5, src, PF_X8R8G8B8, 2), 0);
    EXPECT_EQ(ConvertRow(out, PF_A4R4G4B4, src, PF_X8R8G8B8, 2), 0);
    EXPECT_EQ(ConvertRow(out, PF_A8R8G8B8, src, PF_X4R4G4B4, 2), 0);
    EXPECT_EQ(ConvertRow(out, PF_A8R8G8B8, src, PF_R8G8B8, 2), 0);
    EXPECT_EQ(ConvertRow(out, PF_A8R8G8B8, src, PF_A8, 2), 0);
    for (uint8_t b : out) EXPECT_EQ(b, 0xAA);
    EXPECT_EQ(ConvertRow(out, PF_R5G6B5, src, PF_A8R8G8B8, 2), 1);
}

TEST(RowConverter, ThirtyTwoBitCopiesKeepOrForceTheFourthByte) {
    const uint8_t src[4] = {1, 2, 3, 0x42};
    uint8_t out[4] = {};
    ASSERT_EQ(ConvertRow(out, PF_X8R8G8B8, src, PF_A8R8G8B8, 1), 1);
    EXPECT_EQ(out[3], 0x42);
    ASSERT_EQ(ConvertRow(out, PF_A8R8G8B8, src, PF_X8R8G8B8, 1), 1);
    EXPECT_EQ(out[3], 0xFF);
    uint8_t three[3] = {};
    ASSERT_EQ(ConvertRow(three, PF_B8G8R8, src, PF_A8R8G8B8, 1), 1);
    EXPECT_EQ(std::vector<uint8_t>(three, three + 3), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(KeyedRowConverter, KeyedPixelsBecomeTransparentInTheSourcePrecision) {
    const uint8_t src[6] = {0x00, 0xFF, 0x00, 0x01, 0xFF, 0x00};
    uint8_t out[8] = {};
    ASSERT_EQ(ConvertRowKeyed(out, PF_A8R8G8B8, src, PF_B8G8R8, 0xFF00FF00, 2), 1);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8),
              (std::vector<uint8_t>{0x00, 0xFF, 0x00, 0x00, 0x01, 0xFF, 0x00, 0xFF}));

    // A 5-6-5 key matches every colour that narrows to the same pixel.
    const uint8_t green565[2] = {0xE0, 0x07};
    uint8_t a4[2] = {};
    ASSERT_EQ(ConvertRowKeyed(a4, PF_A4R4G4B4, green565, PF_R5G6B5, 0xFF03FE07, 1), 1);
    EXPECT_EQ(a4[1] >> 4, 0);
    ASSERT_EQ(ConvertRowKeyed(a4, PF_A4R4G4B4, green565, PF_R5G6B5, 0xFF000000, 1), 1);
    EXPECT_EQ(a4[1] >> 4, 0xF);

    // Without a source-only alpha situation the key plays no part.
    const uint8_t bgra[4] = {0x00, 0xFF, 0x00, 0x33};
    uint8_t copy[4] = {};
    ASSERT_EQ(ConvertRowKeyed(copy, PF_A8R8G8B8, bgra, PF_A8R8G8B8, 0xFF00FF00, 1), 1);
    EXPECT_EQ(copy[3], 0x33);
    EXPECT_EQ(ConvertRowKeyed(copy, PF_A8X8, bgra, PF_B8G8R8, 0, 1), 0);
}

TEST(PixelExpansion, ShiftsFieldsUpAndReportsRawBytes) {
    uint32_t argb = 0, raw = 0;
    const uint8_t p565[2] = {0xFF, 0xFF};
    ASSERT_TRUE(ExpandPixel(PF_R5G6B5, p565, &argb, &raw));
    EXPECT_EQ(argb, 0xFFF8FCF8u);
    EXPECT_EQ(raw, 0xFFFFu);
    const uint8_t p4444[2] = {0x00, 0xF0};
    ASSERT_TRUE(ExpandPixel(PF_A4R4G4B4, p4444, &argb, &raw));
    EXPECT_EQ(argb, 0xF0000000u);
    const uint8_t rgb[3] = {0x11, 0x22, 0x33};
    ASSERT_TRUE(ExpandPixel(PF_R8G8B8, rgb, &argb, &raw));
    EXPECT_EQ(argb, 0xFF112233u);
    EXPECT_EQ(raw, 0x332211u);
    EXPECT_FALSE(ExpandPixel(PF_X32, rgb, &argb, &raw));
    EXPECT_EQ(argb, 0u);
}

TEST(PixelFormats, TwinsAndPitches) {
    EXPECT_EQ(PixelFormatTwin(PF_R5G6B5, true), PF_A4R4G4B4);
    EXPECT_EQ(PixelFormatTwin(PF_B8G8R8, true), PF_A8R8G8B8);
    EXPECT_EQ(PixelFormatTwin(PF_A8R8G8B8, false), PF_X8R8G8B8);
    EXPECT_EQ(PixelFormatTwin(PF_R8G8B8, true), PF_R8G8B8);
    EXPECT_EQ(RowPitch(3, 24), 12);
    EXPECT_EQ(RowPitch(5, 8), 8);
    EXPECT_EQ(RowPitch(13, 4), 8);
}

}  // namespace
