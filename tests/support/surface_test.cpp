#include "support/surface.h"

#include <gtest/gtest.h>

namespace {

TEST(SurfaceLifetime, FinalReleaseFreesOnlyThePixels) {
    CPlaneSurface s;
    ASSERT_EQ(s.Create(4, 3, 0), 1);
    EXPECT_EQ(s.GetFormat(), uint32_t{PF_X8R8G8B8});
    EXPECT_EQ(s.AddRef(), 2);
    EXPECT_EQ(s.ReleaseRef(), 1);
    EXPECT_EQ(s.ReleaseRef(), 0);
    EXPECT_EQ(s.Lock(), 0);
    EXPECT_EQ(s.GetFormat(), 0u);
    int32_t w = 0, h = 0;
    s.GetSize(&w, &h);
    EXPECT_EQ(w, 4);
    EXPECT_EQ(h, 3);
    // Releasing past zero keeps the count at zero and runs the hook again.
    EXPECT_EQ(s.ReleaseRef(), 0);
    EXPECT_EQ(s.RefCount(), 0);
    EXPECT_EQ(s.AddRef(), 1);
}

TEST(SurfaceLifetime, QueryInterfaceAnswersTheClassTreeButNotTheRoot) {
    CPlaneSurface s;
    void* out = nullptr;
    EXPECT_EQ(s.QueryInterface(kIidPlaneSurface, &out), kSOk);
    EXPECT_EQ(out, &s);
    EXPECT_EQ(s.QueryInterface(kIidSurfaceEx, &out), kSOk);
    EXPECT_EQ(s.QueryInterface(kIidSurface, &out), kSOk);
    EXPECT_EQ(s.RefCount(), 4);
    EXPECT_EQ(s.QueryInterface(kIidObjectInterface, &out), kENoInterface);
    EXPECT_EQ(s.QueryInterface(kIidSurface, nullptr), kEPointer);
}

TEST(SurfaceCreation, PitchesFormatsAndRefusals) {
    CPlaneSurface s;
    ASSERT_EQ(s.CreateWithFormat(3, 2, PF_B8G8R8), 1);
    EXPECT_EQ(s.Desc().pitch, 12);
    ASSERT_EQ(s.CreateWithFormat(5, 1, PF_A8), 1);
    EXPECT_EQ(s.Desc().pitch, 8);
    EXPECT_EQ(s.CreateWithFormat(5, 1, 0), 0);
    EXPECT_EQ(s.CreateWithFormat(5, 1, 12), 0);
    EXPECT_EQ(s.CreateWithFormat(0, 1, PF_A8), 0);
    EXPECT_EQ(s.CreateWithFormat(0x7FFFFFFF, 0x7FFFFFFF, PF_A8R8G8B8), 0);
    EXPECT_EQ(s.Lock(), 0);
    ASSERT_EQ(s.Create(2, 2, 1), 1);
    EXPECT_EQ(s.GetFormat(), uint32_t{PF_A8R8G8B8});
    // Defaults of 0 come from the display depth, here 32 bits.
    s.SetDefaultFormats(0, 0);
    ASSERT_EQ(s.Create(2, 2, 1), 1);
    EXPECT_EQ(s.GetFormat(), uint32_t{PF_A8R8G8B8});
    ASSERT_EQ(s.Create(2, 2, 0), 1);
    EXPECT_EQ(s.GetFormat(), uint32_t{PF_X8R8G8B8});
}

TEST(SurfaceColourKey, DependsOnAlpha) {
    CPlaneSurface s;
    ASSERT_EQ(s.CreateWithFormat(2, 2, PF_X8R8G8B8), 1);
    EXPECT_EQ(s.GetColorKey(), 0xFF00FF00u);
    ASSERT_EQ(s.Fill(0xFF102030, nullptr), 1);
    ASSERT_EQ(s.SetColorKeyAt(1, 1), 1);
    EXPECT_EQ(s.GetColorKey(), 0xFF102030u);
    EXPECT_EQ(s.SetColorKeyAt(2, 1), 0);
    ASSERT_EQ(s.CreateWithFormat(2, 2, PF_A8R8G8B8), 1);
    EXPECT_EQ(s.GetColorKey(), 0u);
    EXPECT_EQ(s.SetColorKey(0x12345678), 0);
    EXPECT_EQ(s.GetColorKey(), 0u);
}

TEST(SurfacePixels, GetPixelChecksBoundsAndOutputs) {
    CPlaneSurface s;
    ASSERT_EQ(s.CreateWithFormat(2, 2, PF_R5G6B5), 1);
    ASSERT_EQ(s.Fill(0xFFFFFFFF, nullptr), 1);
    uint32_t argb = 1, raw = 1;
    EXPECT_EQ(s.GetPixel(2, 0, &argb, &raw), 0);
    EXPECT_EQ(s.GetPixel(0, -1, &argb, &raw), 0);
    EXPECT_EQ(argb, 1u);
    EXPECT_EQ(s.GetPixel(0, 0, nullptr, nullptr), 0);
    ASSERT_EQ(s.GetPixel(1, 1, &argb, nullptr), 1);
    EXPECT_EQ(argb, 0xFFF8FCF8u);
    ASSERT_EQ(s.CreateWithFormat(1, 1, PF_X32), 1);
    EXPECT_EQ(s.GetPixel(0, 0, &argb, &raw), 0);
    EXPECT_EQ(argb, 0u);
    EXPECT_EQ(raw, 0u);
}

TEST(SurfaceCopy, ColourKeyBecomesTransparencyAndClipsApply) {
    CPlaneSurface src, dst;
    ASSERT_EQ(src.CreateWithFormat(2, 1, PF_X8R8G8B8), 1);
    const SurfaceRect left{0, 0, 1, 1};
    src.Fill(0xFF00FF00, nullptr);
    src.Fill(0xFFAABBCC, &left);
    ASSERT_EQ(dst.CreateWithFormat(3, 1, PF_A8R8G8B8), 1);
    dst.Fill(0x11111111, nullptr);
    ASSERT_EQ(dst.CopyFrom(&src, 1, 0, nullptr), 1);
    uint32_t c[3];
    for (int x = 0; x < 3; ++x) dst.GetPixel(x, 0, &c[x], nullptr);
    EXPECT_EQ(c[0], 0x11111111u);
    EXPECT_EQ(c[1], 0xFFAABBCCu);
    EXPECT_EQ(c[2], 0x0000FF00u);

    const SurfaceRect nowhere{10, 10, 20, 20};
    dst.SetClipRect(&nowhere);
    EXPECT_EQ(dst.CopyFrom(&src, 0, 0, nullptr), 0);
    CPlaneSurface rgb;
    ASSERT_EQ(rgb.CreateWithFormat(2, 1, PF_R8G8B8), 1);
    dst.SetClipRect(nullptr);
    EXPECT_EQ(dst.CopyFrom(&rgb, 0, 0, nullptr), 0);
}

TEST(SurfaceCopy, OverlappingCopyWithinOneSurfaceKeepsTheRows) {
    CPlaneSurface s;
    ASSERT_EQ(s.CreateWithFormat(1, 4, PF_A8), 1);
    for (int y = 0; y < 4; ++y) s.Desc().bits[y * s.Desc().pitch] = static_cast<uint8_t>(y + 1);
    const SurfaceRect top{0, 0, 1, 3};
    ASSERT_EQ(s.CopyFrom(&s, 0, 1, &top), 1);
    for (int y = 0; y < 4; ++y) EXPECT_EQ(s.Desc().bits[y * s.Desc().pitch], y == 0 ? 1 : y);
}

TEST(SurfaceGeometry, FitPlaceAndClipRectangles) {
    CPlaneSurface s;
    SurfacePoint offset;
    SurfaceRect source{0, 0, 10, 4};
    const SurfaceRect dest{100, 200, 106, 210};
    ASSERT_EQ(s.FitRect(&offset, &source, &dest, 4), 1);  // centre, middle
    EXPECT_EQ(source.left, 2);
    EXPECT_EQ(source.right, 8);
    EXPECT_EQ(offset.x, 100);
    EXPECT_EQ(offset.y, 203);
    SurfaceRect tall{0, 0, 2, 9};
    ASSERT_EQ(s.FitRect(&offset, &tall, &dest, 8), 1);  // right, bottom
    EXPECT_EQ(offset.x, 104);
    EXPECT_EQ(offset.y, 201);
    EXPECT_EQ(s.FitRect(nullptr, &tall, &dest, 0), 0);

    SurfacePoint point{10, 10};
    SurfaceRect big{0, 0, 8, 8};
    const SurfaceSize size{4, 4};
    ASSERT_EQ(s.PlaceRect(&point, &big, &size, 4), 1);
    EXPECT_EQ(point.x, 8);
    EXPECT_EQ(point.y, 8);
    EXPECT_EQ(big.right, 4);

    point = {-1, 2};
    SurfaceRect src{0, 0, 4, 4};
    SurfaceSize placed{4, 4};
    const SurfaceRect clip{0, 0, 10, 5};
    ASSERT_EQ(s.PlaceClipped(&point, &placed, &src, &clip, 0), 1);
    EXPECT_EQ(point.x, 0);
    EXPECT_EQ(point.y, 2);
    EXPECT_EQ(placed.cx, 3);
    EXPECT_EQ(placed.cy, 3);
    EXPECT_EQ(src.left, 1);
    EXPECT_EQ(src.bottom, 3);
    point = {20, 20};
    placed = {4, 4};
    EXPECT_EQ(s.PlaceClipped(&point, &placed, &src, &clip, 0), 0);
    EXPECT_EQ(placed.cx, 0);
}

}  // namespace
