#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "rvxlib/ratecontrol/full_size_estimate.h"
#include "rvxlib/encoder/frame_store.h"
#include "rvxlib/ratecontrol/analysis_picture.h"

using namespace _rvxlib_;

namespace {

constexpr uint8_t kGuard = 0xA5;

// Pictures of a pattern, each row padded to 4 bytes and followed by guard
// bytes, halved: what the halved picture holds, with the guards checked.
struct Halved {
    std::vector<uint8_t> pixels;  // AnalysisDimension(w) x AnalysisDimension(h), tightly packed
    bool guards_kept = true;
};

template <class Pattern>
Halved Halve(uint32_t width, uint32_t height, uint32_t bytes, Pattern pattern) {
    const std::size_t stride = (width * bytes + 3) & ~3u;
    std::vector<uint8_t> source(stride * height, kGuard);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (uint32_t c = 0; c < bytes; ++c) source[y * stride + x * bytes + c] = pattern(x, y, c);
    const uint32_t out_width = AnalysisDimension(width), out_height = AnalysisDimension(height);
    const std::size_t out_stride = out_width * bytes + 8;
    std::vector<uint8_t> out(out_stride * out_height + 8, kGuard);
    ReducePicture(source.data(), width, height, stride, bytes, out.data(), out_stride);
    Halved result;
    for (uint32_t y = 0; y < out_height; ++y) {
        result.pixels.insert(result.pixels.end(), out.begin() + y * out_stride,
                             out.begin() + y * out_stride + out_width * bytes);
        for (std::size_t k = out_width * bytes; k < out_stride; ++k)
            if (out[y * out_stride + k] != kGuard) result.guards_kept = false;
    }
    return result;
}

}  // namespace

// Every 2x2 square becomes its rounded mean in every channel (alpha too);
// an odd last row or column is its own pair, so it keeps its value rather
// than mixing in what lies beyond the picture.
TEST(AnalysisPicture, HalvesEverySizeAndLayoutByTwoByTwoMeans) {
    struct Case {
        uint32_t width, height, bytes;
    } cases[] = {{8, 6, 3}, {8, 6, 4}, {7, 5, 3}, {5, 7, 4}, {1, 1, 3}, {3, 1, 4}, {1, 4, 3}, {33, 17, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + "x" + std::to_string(c.bytes));
        const uint32_t out_width = AnalysisDimension(c.width), out_height = AnalysisDimension(c.height);
        const bool odd_width = c.width % 2, odd_height = c.height % 2;

        // A flat picture stays flat.
        const Halved flat = Halve(c.width, c.height, c.bytes, [](uint32_t, uint32_t, uint32_t ch) {
            return uint8_t(40 + 70 * ch);
        });
        ASSERT_EQ(flat.pixels.size(), std::size_t(out_width) * out_height * c.bytes);
        EXPECT_TRUE(flat.guards_kept);
        for (std::size_t k = 0; k < flat.pixels.size(); ++k) ASSERT_EQ(flat.pixels[k], 40 + 70 * (k % c.bytes));

        // Columns of 0 and 255: pairs meet at 128 (rounded up from 127.5),
        // an odd last column of 0 stays 0.
        const Halved columns = Halve(c.width, c.height, c.bytes, [](uint32_t x, uint32_t, uint32_t) {
            return uint8_t(x % 2 ? 255 : 0);
        });
        EXPECT_TRUE(columns.guards_kept);
        for (uint32_t y = 0; y < out_height; ++y)
            for (uint32_t x = 0; x < out_width; ++x) {
                const uint8_t want = odd_width && x + 1 == out_width ? 0 : 128;
                ASSERT_EQ(columns.pixels[(y * out_width + x) * c.bytes], want) << x << "," << y;
            }

        // Rows of 255 and 1: pairs meet at 128, an odd last row keeps 255.
        const Halved rows = Halve(c.width, c.height, c.bytes, [](uint32_t, uint32_t y, uint32_t) {
            return uint8_t(y % 2 ? 1 : 255);
        });
        for (uint32_t y = 0; y < out_height; ++y)
            for (uint32_t x = 0; x < out_width; ++x) {
                const uint8_t want = odd_height && y + 1 == out_height ? 255 : 128;
                ASSERT_EQ(rows.pixels[(y * out_width + x) * c.bytes + c.bytes - 1], want) << x << "," << y;
            }
    }
}

namespace {

constexpr uint32_t kGop = 4;
constexpr uint32_t kHalvedMacroblocks = 6;
constexpr uint32_t kMacroblocks = 24;
constexpr uint32_t kBlocks = 6;

uint64_t Smallest(uint32_t macroblocks, uint32_t kind) {
    return _rvxlib_::SmallestFrameBytes(macroblocks, kBlocks, kind != _rvxlib_::kFrameKindI);
}

// A first pass of `frames` frames in groups of kGop (I P P P) on the halved
// pictures, every frame costing `above` over its smallest (I frames four
// times that).
std::vector<_rvxlib_::RVXPassFrame> HalvedPass(uint32_t frames, uint64_t above) {
    std::vector<_rvxlib_::RVXPassFrame> pass(frames);
    for (uint32_t n = 0; n < frames; ++n) {
        pass[n].kind = n % kGop ? _rvxlib_::kFrameKindP : _rvxlib_::kFrameKindI;
        pass[n].group = n / kGop;
        pass[n].coding_position = n % kGop;
        pass[n].bytes = Smallest(kHalvedMacroblocks, pass[n].kind) + (n % kGop ? above : 4 * above);
    }
    return pass;
}

}  // namespace

// The costs at full size are the smallest full-size payload plus what each
// frame cost above its smallest, times what the runs coded at full size
// show for its kind, its first-pass level and its own run.
TEST(SizeSample, FullSizeCostsFollowTheSampleByKindLevelAndRun) {
    // Frames 0..3 and 8..11 are at the fine level, 4..7 and 12..15 at the
    // coarse one (kGop = 4). The sample has the first two frames of every
    // run; `factor(n, kind)` is what display frame n costs at full size
    // over the halved one.
    struct Case {
        const char* name;
        double (*factor)(uint32_t n, uint32_t kind);
        // What every frame of the pass is expected to come out at, as a
        // multiple of its halved cost above the smallest.
        double (*expected)(uint32_t n, uint32_t kind);
    } cases[] = {
        {"one factor for all", [](uint32_t, uint32_t) { return 3.0; }, [](uint32_t, uint32_t) { return 3.0; }},
        {"I frames gain more",
         [](uint32_t, uint32_t kind) { return kind == _rvxlib_::kFrameKindI ? 4.0 : 2.0; },
         [](uint32_t, uint32_t kind) { return kind == _rvxlib_::kFrameKindI ? 4.0 : 2.0; }},
        {"the coarse level gains less",
         [](uint32_t n, uint32_t) { return (n / kGop) % 2 ? 2.0 : 3.5; },
         [](uint32_t n, uint32_t) { return (n / kGop) % 2 ? 2.0 : 3.5; }},
        // The fine runs 0 and 2 differ (a scene cut between): each run keeps
        // its own, the mean of the level moved by the run's own share.
        {"scenes differ",
         [](uint32_t n, uint32_t) { return n / kGop == 2 ? 4.0 : 2.0; },
         [](uint32_t n, uint32_t) { return n / kGop == 2 ? 4.0 : 2.0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<_rvxlib_::RVXPassFrame> halved = HalvedPass(16, 200);
        std::vector<RVXSampleFrame> sample;
        for (uint32_t n = 0; n < 16; ++n) {
            if (n % kGop >= 2) continue;
            RVXSampleFrame s;
            s.display = n;
            s.frame = halved[n];
            const double above = double(halved[n].bytes - Smallest(kHalvedMacroblocks, halved[n].kind));
            s.frame.bytes = Smallest(kMacroblocks, halved[n].kind) + uint64_t(above * c.factor(n, halved[n].kind));
            sample.push_back(s);
        }
        const std::vector<_rvxlib_::RVXPassFrame> full =
            FullSizePassFrames(halved, kHalvedMacroblocks, sample, kMacroblocks, kBlocks, kGop);
        ASSERT_EQ(full.size(), halved.size());
        for (uint32_t n = 0; n < 16; ++n) {
            SCOPED_TRACE(n);
            const double above = double(halved[n].bytes - Smallest(kHalvedMacroblocks, halved[n].kind));
            EXPECT_EQ(full[n].kind, halved[n].kind);
            EXPECT_EQ(full[n].group, halved[n].group);
            EXPECT_EQ(full[n].coding_position, halved[n].coding_position);
            EXPECT_NEAR(double(full[n].bytes),
                        double(Smallest(kMacroblocks, halved[n].kind)) + above * c.expected(n, halved[n].kind), 2.0);
        }
    }
}

// Without a sample (a first pass cut short before its first run ended), or
// with sample frames the first pass never had, the costs still come out
// sized for the full picture, never below its smallest payloads.
TEST(SizeSample, MissingOrStraySampleFramesStillGiveFullSizeCosts) {
    const std::vector<_rvxlib_::RVXPassFrame> halved = HalvedPass(8, 100);
    RVXSampleFrame stray;
    stray.display = 40;
    stray.frame = halved[0];
    stray.frame.bytes = 1;
    for (const std::vector<RVXSampleFrame>& sample : {std::vector<RVXSampleFrame>{}, std::vector<RVXSampleFrame>{stray}}) {
        const std::vector<_rvxlib_::RVXPassFrame> full =
            FullSizePassFrames(halved, kHalvedMacroblocks, sample, kMacroblocks, kBlocks, kGop);
        ASSERT_EQ(full.size(), halved.size());
        for (uint32_t n = 0; n < full.size(); ++n) {
            const uint64_t smallest = Smallest(kMacroblocks, halved[n].kind);
            EXPECT_GT(full[n].bytes, smallest + (halved[n].bytes - Smallest(kHalvedMacroblocks, halved[n].kind)));
        }
    }
}
