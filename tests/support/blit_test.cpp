#include "support/surface.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A PF_A8 surface whose bytes are given row by row.
void MakeMask(CPlaneSurface& s, int w, int h, const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(s.CreateWithFormat(w, h, PF_A8), 1);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) s.Desc().bits[y * s.Desc().pitch + x] = bytes[y * w + x];
    }
}

std::vector<uint8_t> MaskBytes(CPlaneSurface& s) {
    std::vector<uint8_t> out;
    for (int y = 0; y < s.Desc().height; ++y) {
        for (int x = 0; x < s.Desc().width; ++x) out.push_back(s.Desc().bits[y * s.Desc().pitch + x]);
    }
    return out;
}

TEST(Blit, ScalingThreeToSevenRepeatsTheNearestPixels) {
    CPlaneSurface src, dst;
    MakeMask(src, 3, 1, {10, 20, 30});
    MakeMask(dst, 7, 1, std::vector<uint8_t>(7, 0));
    const SurfaceSize size{7, 1};
    ASSERT_EQ(dst.Blt(&src, 0, 0, nullptr, &size, 0), 1);
    EXPECT_EQ(MaskBytes(dst), (std::vector<uint8_t>{10, 10, 20, 20, 20, 30, 30}));
}

TEST(Blit, DoublingMakesTwoByTwoBlocksAndNegativeSizesMirror) {
    CPlaneSurface src, dst;
    MakeMask(src, 2, 2, {1, 2, 3, 4});
    MakeMask(dst, 4, 4, std::vector<uint8_t>(16, 0));
    const SurfaceSize twice{4, 4};
    ASSERT_EQ(dst.Blt(&src, 0, 0, nullptr, &twice, 0), 1);
    EXPECT_EQ(MaskBytes(dst), (std::vector<uint8_t>{1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4, 3, 3, 4, 4}));

    CPlaneSurface small;
    MakeMask(small, 2, 2, {0, 0, 0, 0});
    const SurfaceSize left_right{-2, 2}, upside_down{2, -2}, both{-2, -2};
    ASSERT_EQ(small.Blt(&src, 0, 0, nullptr, &left_right, 0), 1);
    EXPECT_EQ(MaskBytes(small), (std::vector<uint8_t>{2, 1, 4, 3}));
    ASSERT_EQ(small.Blt(&src, 0, 0, nullptr, &upside_down, 0), 1);
    EXPECT_EQ(MaskBytes(small), (std::vector<uint8_t>{3, 4, 1, 2}));
    ASSERT_EQ(small.Blt(&src, 0, 0, nullptr, &both, 0), 1);
    EXPECT_EQ(MaskBytes(small), (std::vector<uint8_t>{4, 3, 2, 1}));
}

TEST(Blit, ClippingCutsTheSourceOnTheMatchingSide) {
    CPlaneSurface src, dst;
    MakeMask(src, 4, 1, {1, 2, 3, 4});
    MakeMask(dst, 4, 1, std::vector<uint8_t>(4, 0));
    const SurfaceRect clip{1, 0, 4, 1};
    dst.SetClipRect(&clip);
    // Unscaled, placed one column left of the clip: one source column is cut.
    ASSERT_EQ(dst.Blt(&src, 0, 0, nullptr, nullptr, 0), 1);
    EXPECT_EQ(MaskBytes(dst), (std::vector<uint8_t>{0, 2, 3, 4}));

    // Mirrored and placed two columns left of the surface: the pixels that
    // fall off are the source's right end, shown at the destination's left.
    dst.SetClipRect(nullptr);
    MakeMask(dst, 4, 1, std::vector<uint8_t>(4, 0));
    const SurfaceSize mirror{-4, 1};
    ASSERT_EQ(dst.Blt(&src, -2, 0, nullptr, &mirror, 0), 1);
    EXPECT_EQ(MaskBytes(dst), (std::vector<uint8_t>{2, 1, 0, 0}));
}

TEST(Blit, AnchorsPlaceTheRectangleAroundThePoint) {
    CPlaneSurface src, dst;
    MakeMask(src, 2, 2, {1, 2, 3, 4});
    MakeMask(dst, 4, 4, std::vector<uint8_t>(16, 0));
    ASSERT_EQ(dst.Blt(&src, 4, 4, nullptr, nullptr, 8), 1);  // bottom right at (4, 4)
    EXPECT_EQ(MaskBytes(dst), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 0, 0, 3, 4}));
    MakeMask(dst, 4, 4, std::vector<uint8_t>(16, 0));
    ASSERT_EQ(dst.Blt(&src, 2, 2, nullptr, nullptr, 4), 1);  // centred on (2, 2)
    EXPECT_EQ(MaskBytes(dst), (std::vector<uint8_t>{0, 0, 0, 0, 0, 1, 2, 0, 0, 3, 4, 0, 0, 0, 0, 0}));
}

TEST(Blit, RefusesItselfEmptyAreasAndUnsupportedPairs) {
    CPlaneSurface a, b, rgb;
    MakeMask(a, 2, 2, {1, 2, 3, 4});
    MakeMask(b, 2, 2, {0, 0, 0, 0});
    EXPECT_EQ(a.Blt(&a, 0, 0, nullptr, nullptr, 0), 0);
    EXPECT_EQ(b.Blt(&a, 2, 0, nullptr, nullptr, 0), 0);
    const SurfaceSize flat{2, 0};
    EXPECT_EQ(b.Blt(&a, 0, 0, nullptr, &flat, 0), 0);
    const SurfaceRect inverted{1, 0, 0, 2};
    EXPECT_EQ(b.Blt(&a, 0, 0, &inverted, nullptr, 0), 0);
    ASSERT_EQ(rgb.CreateWithFormat(2, 2, PF_R8G8B8), 1);
    EXPECT_EQ(rgb.Blt(&a, 0, 0, nullptr, nullptr, 0), 0);
    CPlaneSurface empty;
    EXPECT_EQ(b.Blt(&empty, 0, 0, nullptr, nullptr, 0), 0);
}

TEST(Blit, AlphaMaskIntoArgbWritesOnlyAlpha) {
    CPlaneSurface mask, argb;
    MakeMask(mask, 2, 1, {0x10, 0xF0});
    ASSERT_EQ(argb.CreateWithFormat(2, 1, PF_A8R8G8B8), 1);
    ASSERT_EQ(argb.Fill(0xFF123456, nullptr), 1);
    ASSERT_EQ(argb.Blt(&mask, 0, 0, nullptr, nullptr, 0), 1);
    uint32_t c0 = 0, c1 = 0;
    argb.GetPixel(0, 0, &c0, nullptr);
    argb.GetPixel(1, 0, &c1, nullptr);
    EXPECT_EQ(c0, 0x10123456u);
    EXPECT_EQ(c1, 0xF0123456u);

    CPlaneSurface opaque;
    ASSERT_EQ(opaque.CreateWithFormat(2, 1, PF_X8R8G8B8), 1);
    ASSERT_EQ(opaque.Blt(&argb, 0, 0, nullptr, nullptr, 0), 1);
    uint32_t raw = 0;
    opaque.GetPixel(0, 0, nullptr, &raw);
    EXPECT_EQ(raw, 0xFF123456u);  // the blit sets the ignored byte
}

TEST(Fill, ConvertsTheColourAndHonoursTheClip) {
    CPlaneSurface s;
    ASSERT_EQ(s.CreateWithFormat(3, 2, PF_X4R4G4B4), 1);
    ASSERT_EQ(s.Fill(0x00123456, nullptr), 1);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            uint32_t raw = 0;
            s.GetPixel(x, y, nullptr, &raw);
            EXPECT_EQ(raw, 0xF135u);
        }
    }
    const SurfaceRect corner{2, 1, 10, 10};
    ASSERT_EQ(s.Fill(0xFF000000, &corner), 1);
    uint32_t raw = 0;
    s.GetPixel(2, 1, nullptr, &raw);
    EXPECT_EQ(raw, 0xF000u);
    s.GetPixel(1, 1, nullptr, &raw);
    EXPECT_EQ(raw, 0xF135u);

    const SurfaceRect outside{5, 5, 9, 9};
    s.SetClipRect(&outside);
    EXPECT_EQ(s.Fill(0, nullptr), 0);
    CPlaneSurface rgb;
    ASSERT_EQ(rgb.CreateWithFormat(1, 1, PF_R8G8B8), 1);
    EXPECT_EQ(rgb.Fill(0, nullptr), 0);
}

}  // namespace
