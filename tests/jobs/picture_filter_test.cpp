#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "jobs/black_borders.h"
#include "jobs/encode_job.h"
#include "jobs/picture_filter.h"

namespace {

// Each pixel names its own place: blue is x, green is y, alpha mixes both;
// red is fixed so that no sample is black.
std::vector<uint8_t> PositionPicture(uint32_t w, uint32_t h, uint32_t bytes_per_pixel, uint32_t stride) {
    std::vector<uint8_t> p(std::size_t(stride) * h, 0xEE);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* px = &p[std::size_t(y) * stride + x * bytes_per_pixel];
            px[0] = uint8_t(x);
            px[1] = uint8_t(y);
            px[2] = 200;
            if (bytes_per_pixel == 4) px[3] = uint8_t(x * 3 + y * 17);
        }
    return p;
}

// Where output pixel (ox, oy) comes from in a w x h source: undo the crop,
// the mirror, then the clockwise turn.
void SourceOf(const PictureSteps& s, uint32_t w, uint32_t h, uint32_t ox, uint32_t oy, uint32_t& x, uint32_t& y) {
    const bool sideways = s.rotation % 180 == 90;
    const uint32_t tw = sideways ? h : w;
    uint32_t tx = ox + s.crop.left, ty = oy + s.crop.top;
    if (s.mirrored) tx = tw - 1 - tx;
    switch (s.rotation) {
    case 90: x = ty, y = h - 1 - tx; break;
    case 180: x = w - 1 - tx, y = h - 1 - ty; break;
    case 270: x = w - 1 - ty, y = tx; break;
    default: x = tx, y = ty; break;
    }
}

// All pictures the filter gives for the pushed ones, flushed.
std::vector<std::vector<uint8_t>> RunFilter(CPictureFilter& filter, const std::vector<std::vector<uint8_t>>& in) {
    std::vector<std::vector<uint8_t>> out;
    const std::size_t bytes = std::size_t(filter.OutputStride()) * filter.OutputHeight();
    auto take = [&] {
        while (const uint8_t* p = filter.Pull()) out.emplace_back(p, p + bytes);
    };
    for (const auto& picture : in) {
        EXPECT_TRUE(filter.Push(picture.data())) << filter.Failure();
        take();
    }
    EXPECT_TRUE(filter.Flush()) << filter.Failure();
    take();
    EXPECT_FALSE(filter.Failed()) << filter.Failure();
    return out;
}

struct TurnCase {
    const char* name;
    uint32_t rotation;
    bool mirrored;
    CropEdges crop;
    uint32_t layout;
    uint32_t out_w, out_h;
};

}  // namespace

TEST(PictureFilter, TurnsMirrorsAndCropsEveryPixelToItsPlace) {
    constexpr uint32_t w = 7, h = 5;
    const TurnCase cases[] = {
        {"upright", 0, false, {}, kLayoutRGB32, 7, 5},
        {"clockwise", 90, false, {}, kLayoutRGB32, 5, 7},
        {"half turn", 180, false, {}, kLayoutARGB32, 7, 5},
        {"anticlockwise", 270, false, {}, kLayoutRGB32, 5, 7},
        {"mirrored", 0, true, {}, kLayoutARGB32, 7, 5},
        {"clockwise mirrored", 90, true, {}, kLayoutARGB32, 5, 7},
        {"anticlockwise mirrored", 270, true, {}, kLayoutRGB32, 5, 7},
        {"crop", 0, false, {1, 2, 3, 0}, kLayoutARGB32, 3, 3},
        {"crop after clockwise", 90, false, {1, 2, 0, 1}, kLayoutRGB32, 4, 4},
        {"crop after half turn mirrored", 180, true, {0, 1, 2, 1}, kLayoutRGB32, 5, 3},
        {"24-bit source turned", 270, false, {1, 0, 0, 0}, kLayoutRGB24, 4, 7},
        {"24-bit source cropped", 0, false, {2, 1, 1, 1}, kLayoutRGB24, 4, 3},
    };
    for (const TurnCase& c : cases) {
        SCOPED_TRACE(c.name);
        PictureSteps steps;
        steps.rotation = c.rotation;
        steps.mirrored = c.mirrored;
        steps.crop = c.crop;
        const uint32_t bpp = c.layout == kLayoutRGB24 ? 3 : 4;
        const uint32_t stride = (w * bpp + 3) & ~3u;
        CPictureFilter filter;
        if (!steps.Any()) steps.scale_width = w;  // a step that changes nothing, so a graph is built
        ASSERT_TRUE(filter.Open(steps, c.layout, w, h, stride)) << filter.Failure();
        EXPECT_EQ(filter.OutputWidth(), c.out_w);
        EXPECT_EQ(filter.OutputHeight(), c.out_h);
        EXPECT_EQ(filter.OutputLayout(), c.layout == kLayoutARGB32 ? kLayoutARGB32 : kLayoutRGB32);
        const auto out = RunFilter(filter, {PositionPicture(w, h, bpp, stride)});
        ASSERT_EQ(out.size(), 1u);
        for (uint32_t oy = 0; oy < c.out_h; ++oy)
            for (uint32_t ox = 0; ox < c.out_w; ++ox) {
                uint32_t x = 0, y = 0;
                SourceOf(steps, w, h, ox, oy, x, y);
                const uint8_t* px = &out[0][(std::size_t(oy) * c.out_w + ox) * 4];
                ASSERT_EQ(px[0], x) << "at " << ox << "," << oy;
                ASSERT_EQ(px[1], y) << "at " << ox << "," << oy;
                ASSERT_EQ(px[2], 200);
                if (c.layout == kLayoutARGB32) {
                    ASSERT_EQ(px[3], uint8_t(x * 3 + y * 17));
                }
            }
    }
}

TEST(PictureFilter, ScaledSizesKeepTheCroppedShapeToTheNearestPixel) {
    struct Case {
        uint32_t w, h, rotation;
        CropEdges crop;
        uint32_t scale_w, scale_h, out_w, out_h;
    } const cases[] = {
        {64, 48, 0, {}, 32, 0, 32, 24},
        {64, 48, 0, {}, 0, 100, 133, 100},  // 133.3
        {64, 48, 0, {}, 0, 25, 33, 25},     // 33.3
        {64, 48, 0, {}, 22, 0, 22, 17},     // 16.5 rounds up
        {64, 48, 0, {}, 40, 30, 40, 30},
        {64, 48, 0, {}, 30, 40, 30, 40},    // both given: the shape is the user's
        {64, 48, 90, {}, 24, 0, 24, 32},    // the turned picture's shape
        {64, 48, 0, {8, 0, 8, 0}, 0, 24, 24, 24},
        {64, 3, 0, {}, 1, 0, 1, 1},         // never below one pixel
        {64, 48, 0, {0, 6, 0, 6}, 0, 0, 64, 36},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " to " << c.scale_w << "x" << c.scale_h);
        PictureSteps steps;
        steps.rotation = c.rotation;
        steps.crop = c.crop;
        steps.scale_width = c.scale_w;
        steps.scale_height = c.scale_h;
        std::string refusal;
        const PictureSize size = StepsOutputSize(steps, c.w, c.h, refusal);
        EXPECT_EQ(size.width, c.out_w);
        EXPECT_EQ(size.height, c.out_h);
        EXPECT_EQ(refusal, "");
        CPictureFilter filter;
        ASSERT_TRUE(filter.Open(steps, kLayoutRGB32, c.w, c.h, c.w * 4)) << filter.Failure();
        const auto out = RunFilter(filter, {PositionPicture(c.w, c.h, 4, c.w * 4)});
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].size(), std::size_t(c.out_w) * c.out_h * 4);
    }
}

TEST(PictureFilter, RefusesACropThatLeavesNothingAndPicturesTooLarge) {
    struct Case {
        const char* name;
        uint32_t w, h, rotation;
        CropEdges crop;
        uint32_t scale_w, scale_h;
        const char* refusal;
    } const cases[] = {
        {"crop as wide as the picture", 64, 48, 0, {32, 0, 32, 0}, 0, 0, "leaves nothing of the 64x48 picture"},
        {"crop counted after turning", 64, 48, 90, {0, 32, 0, 32}, 0, 0, "leaves nothing of the 48x64 picture"},
        {"crop larger than the picture", 64, 48, 0, {0, 100, 0, 0}, 0, 0, "leaves nothing"},
        {"scale beyond the codec", 64, 48, 0, {}, 20000, 0, "larger than 16384x16384"},
        {"kept shape beyond the codec", 1, 64, 0, {}, 16384, 0, "larger than 16384x16384"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PictureSteps steps;
        steps.rotation = c.rotation;
        steps.crop = c.crop;
        steps.scale_width = c.scale_w;
        steps.scale_height = c.scale_h;
        std::string refusal;
        EXPECT_EQ(StepsOutputSize(steps, c.w, c.h, refusal).width, 0u);
        EXPECT_NE(refusal.find(c.refusal), std::string::npos) << refusal;
        CPictureFilter filter;
        EXPECT_FALSE(filter.Open(steps, kLayoutRGB32, c.w, c.h, c.w * 4));
        EXPECT_EQ(filter.Failure(), refusal);
    }
}

namespace {

// How much neighbouring lines disagree with the mean of theirs: large for a
// woven picture of two moments, small for one moment.
uint64_t CombEnergy(const std::vector<uint8_t>& p, uint32_t w, uint32_t h) {
    uint64_t sum = 0;
    for (uint32_t y = 1; y + 1 < h; ++y)
        for (uint32_t x = 0; x < w * 4; x += 4) {
            const int above = p[(y - 1) * w * 4 + x + 1], here = p[y * w * 4 + x + 1], below = p[(y + 1) * w * 4 + x + 1];
            sum += uint64_t(std::abs(2 * here - above - below));
        }
    return sum;
}

// Frame k weaves two moments of a bright bar moving right: the top field
// shows it at 8k, the bottom field, a field later, at 8k + 4.
std::vector<uint8_t> WovenBar(uint32_t w, uint32_t h, uint32_t k) {
    std::vector<uint8_t> p(std::size_t(w) * h * 4, 0);
    for (uint32_t y = 0; y < h; ++y) {
        const uint32_t left = 8 * k + (y % 2 ? 4 : 0);
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t level = x >= left && x < left + 12 ? 230 : 20;
            uint8_t* px = &p[(std::size_t(y) * w + x) * 4];
            px[0] = px[1] = px[2] = level;
            px[3] = 255;
        }
    }
    return p;
}

}  // namespace

TEST(PictureFilter, DeinterlacingGivesOnePicturePerPictureWithoutTheComb) {
    constexpr uint32_t w = 64, h = 32, count = 5;
    for (const bool top_first : {true, false}) {
        SCOPED_TRACE(top_first ? "top field first" : "bottom field first");
        PictureSteps steps;
        steps.deinterlace = true;
        steps.top_field_first = top_first;
        CPictureFilter filter;
        ASSERT_TRUE(filter.Open(steps, kLayoutRGB32, w, h, w * 4)) << filter.Failure();
        std::size_t pulled = 0;
        uint64_t woven = 0, deinterlaced = 0;
        for (uint32_t k = 0; k < count; ++k) {
            const auto in = WovenBar(w, h, k);
            woven += CombEnergy(in, w, h);
            ASSERT_TRUE(filter.Push(in.data()));
            while (const uint8_t* p = filter.Pull()) {
                deinterlaced += CombEnergy(std::vector<uint8_t>(p, p + w * h * 4), w, h);
                ++pulled;
            }
            EXPECT_LE(pulled, k + 1);
        }
        EXPECT_LT(pulled, count);  // the deinterlacer looks one picture ahead
        ASSERT_TRUE(filter.Flush());
        while (filter.Pull()) ++pulled;
        EXPECT_EQ(pulled, count);
        EXPECT_FALSE(filter.Failed());
        EXPECT_LT(deinterlaced * 3, woven) << deinterlaced << " of " << woven;
    }
}

TEST(PictureFilter, DeinterlacingLeavesAStillPictureAndItsAlphaAlone) {
    // Lines alike in both fields: nothing to interpolate differs, so any
    // change is a conversion's loss.
    constexpr uint32_t w = 16, h = 12;
    for (const uint32_t layout : {kLayoutARGB32, kLayoutRGB32, kLayoutRGB24}) {
        SCOPED_TRACE(layout >> 28);
        const uint32_t bpp = layout == kLayoutRGB24 ? 3 : 4;
        std::vector<uint8_t> still(w * h * bpp);
        for (uint32_t i = 0; i < still.size(); ++i) still[i] = uint8_t((i % (w * bpp)) * 5);
        PictureSteps steps;
        steps.deinterlace = true;
        CPictureFilter filter;
        ASSERT_TRUE(filter.Open(steps, layout, w, h, w * bpp));
        const auto out = RunFilter(filter, {still, still, still});
        ASSERT_EQ(out.size(), 3u);
        for (const auto& picture : out)
            for (uint32_t i = 0; i < w * h; ++i)
                for (uint32_t c = 0; c < (layout == kLayoutARGB32 ? 4u : 3u); ++c)
                    ASSERT_EQ(picture[i * 4 + c], still[i * bpp + c]) << "pixel " << i << " sample " << c;
    }
}

namespace {

struct Framed {
    uint32_t left = 0, top = 0, right = 0, bottom = 0;
    uint8_t level = 160;     // of the picture inside the bars; 0: black all over
    bool noise = false;      // grain over the bars and a logo dot in one
};

std::vector<uint8_t> FramedPicture(uint32_t w, uint32_t h, uint32_t bpp, const Framed& f, uint32_t seed = 1) {
    const uint32_t stride = (w * bpp + 3) & ~3u;
    std::vector<uint8_t> p(std::size_t(stride) * h, 0);
    uint32_t random = seed * 2654435761u;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const bool inside = x >= f.left && x < w - f.right && y >= f.top && y < h - f.bottom;
            random = random * 1664525u + 1013904223u;
            uint8_t level = inside && f.level != 0 ? uint8_t(f.level + (x * 3 + y) % 40) : 0;
            if (!inside && f.noise) level = uint8_t((random >> 24) % 18);
            uint8_t* px = &p[std::size_t(y) * stride + x * bpp];
            px[0] = px[1] = px[2] = level;
            if (bpp == 4) px[3] = 255;
        }
    if (f.noise && f.top > 2) {
        for (uint32_t x = w - 6; x < w - 4; ++x) std::fill_n(&p[std::size_t(1) * stride + x * bpp], 3, 255);
    }
    return p;
}

}  // namespace

TEST(BlackBorders, FindsTheBarsEveryPictureHas) {
    constexpr uint32_t w = 120, h = 80;
    struct Case {
        const char* name;
        std::vector<Framed> pictures;
        uint32_t bpp;
        CropEdges expected;
    } const cases[] = {
        {"letterbox", {{0, 10, 0, 10}}, 4, {0, 10, 0, 10}},
        {"pillarbox", {{14, 0, 14, 0}}, 3, {14, 0, 14, 0}},
        {"both, odd bars crop less", {{9, 7, 11, 5}}, 4, {8, 6, 10, 4}},
        {"grain in the bars and a logo dot", {{0, 10, 0, 10, 160, true}}, 4, {0, 10, 0, 10}},
        {"thin bars are left", {{2, 1, 2, 1}}, 4, {}},
        {"a dark scene does not crop into the others",
         {{0, 10, 0, 10}, {0, 25, 0, 25}, {0, 10, 0, 10}},
         4,
         {0, 10, 0, 10}},
        {"a black picture says nothing", {{0, 0, 0, 0, 0}, {0, 12, 0, 12}}, 4, {0, 12, 0, 12}},
        {"only black pictures: nothing known", {{0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}}, 4, {}},
        {"no pictures", {}, 4, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::vector<uint8_t>> pictures;
        uint32_t seed = 1;
        for (const Framed& f : c.pictures) pictures.push_back(FramedPicture(w, h, c.bpp, f, seed++));
        const SamplePictureShape shape{w, h, (w * c.bpp + 3) & ~3u, c.bpp};
        EXPECT_EQ(DetectBlackBorders(pictures, shape), c.expected);
    }
}

TEST(BlackBorders, EdgesFoundUprightCropTheTurnedPictureToItsContent) {
    // The bars are found on the source, the crop applies after the turn: a
    // crop with the turned edges must leave exactly the framed content.
    constexpr uint32_t w = 96, h = 64;
    const Framed framed{6, 10, 12, 4};
    const auto picture = FramedPicture(w, h, 4, framed);
    const CropEdges upright = DetectBlackBorders({picture}, {w, h, w * 4, 4});
    ASSERT_EQ(upright, (CropEdges{6, 10, 12, 4}));
    for (const uint32_t rotation : {0u, 90u, 180u, 270u})
        for (const bool mirrored : {false, true}) {
            SCOPED_TRACE(testing::Message() << rotation << (mirrored ? " mirrored" : ""));
            PictureSteps steps;
            steps.rotation = rotation;
            steps.mirrored = mirrored;
            steps.crop = EdgesAfterTurn(upright, rotation, mirrored);
            CPictureFilter filter;
            ASSERT_TRUE(filter.Open(steps, kLayoutRGB32, w, h, w * 4)) << filter.Failure();
            const auto out = RunFilter(filter, {picture});
            ASSERT_EQ(out.size(), 1u);
            const uint32_t ow = filter.OutputWidth(), oh = filter.OutputHeight();
            EXPECT_EQ(uint64_t(ow) * oh, uint64_t(w - 18) * (h - 14));
            for (std::size_t i = 0; i < out[0].size(); i += 4) ASSERT_GE(out[0][i + 1], framed.level);
        }
}
