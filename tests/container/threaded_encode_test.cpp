#include <gtest/gtest.h>

#include <cmath>

#include "container/file_write_ops.h"
#include "container/rvx_encode.h"
#include "movie_fixture.h"
#include "support/cpu_features.h"

using namespace rvx_layout;
using namespace movie_fixture;

namespace {

// Texture panning by a fraction of a pixel per frame with a block crossing
// it, and a cut to a different scene at frame 6, so the movie holds P and B
// frames with real vectors, unpredicted macroblocks and a scene change.
std::vector<uint8_t> MovingPicture(uint32_t width, uint32_t height, uint32_t frame) {
    const size_t stride = size_t(width) * 4;
    std::vector<uint8_t> picture(stride * height);
    const bool cut = frame >= 6;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = &picture[y * stride + x * 4];
            const double u = x + 1.5 * frame, v = y + 0.5 * frame;
            const bool block = x >= 10 + 3 * frame && x < 30 + 3 * frame && y >= 20 && y < 40;
            p[0] = uint8_t(128 + 100 * std::sin(u * (cut ? 0.31 : 0.13)) * std::cos(v * 0.11));
            p[1] = block ? 230 : uint8_t(128 + 90 * std::cos(0.07 * u + 0.05 * v));
            p[2] = uint8_t(cut ? (x * y) & 255 : 128 + 60 * std::sin(0.04 * (u - v)) + ((x ^ y) & 7));
            p[3] = uint8_t(255 - 2 * x - frame);
        }
    }
    return picture;
}

struct Structure {
    uint16_t p_frames = 2;
    uint16_t b_frames = 2;
    uint32_t frames = 11;
    _rvxlib_::RVXPreset preset = _rvxlib_::RVXPreset::kClassic;
};

std::vector<uint8_t> Encode(const TempDir& dir, uint32_t format, uint32_t features, uint32_t threads,
                            Structure structure = {}) {
    const uint32_t width = 100, height = 72, frames = structure.frames;
    std::string name = "f";
    name += std::to_string(features);
    name += 't';
    name += std::to_string(threads);
    CRVXEncode writer;
    writer.SetFrameRate(30, 1);
    writer.SetGopStructure(structure.p_frames, structure.b_frames);
    writer.SetPicture(width, height, (kSourceBGRA32 << kFormatSourceShift) | format);
    writer.SetWorkDirectory(dir.path());
    writer.SetFramePrefix(dir / (name + "frame"));
    writer.SetProcessorFeatureWord(features);
    writer.SetThreads(threads);
    writer.SetPreset(structure.preset, false);
    EXPECT_TRUE(writer.Open());
    for (uint32_t n = 0; n < frames; ++n) {
        const std::vector<uint8_t> source = MovingPicture(width, height, n);
        EXPECT_TRUE(writer.AddFrame(source.data()));
    }
    EXPECT_TRUE(writer.FinishFrames());
    EXPECT_GT(writer.Groups().size(), 1u);
    const fs::path path = dir / (name + ".rvx");
    EXPECT_TRUE(writer.WriteMovie(path, PosixFileWriteOps()));
    return ReadFile(path);
}

}  // namespace

// The portable routines on one thread define the movie; the processor's fast
// routines with rows shared among threads must write the very same bytes.
TEST(ThreadedEncode, WritesTheSameMovieAsThePortableSingleThreadedPath) {
    const uint32_t pictures[] = {kPictureYUV411, kPictureYUV422,   kPictureYUV444,   kPictureRGB888,
                                 kPictureARGB8888, kPictureAYUV4444, kPictureAYUV4422, kPictureAYUV4411};
    const uint32_t transforms[] = {kTransformWordDct, kTransformWordDiff2D, kTransformWordDctNoDeblock,
                                   kTransformWordDct | kFormatIntDctEncode};
    for (uint32_t picture : pictures) {
        for (uint32_t transform : transforms) {
            SCOPED_TRACE(testing::Message() << std::hex << picture << " " << transform);
            TempDir dir;
            const std::vector<uint8_t> reference = Encode(dir, picture | transform, 0, 1);
            ASSERT_GT(reference.size(), 1000u);
            EXPECT_TRUE(Encode(dir, picture | transform, ProcessorFeatures(), 3) == reference);
            EXPECT_TRUE(Encode(dir, picture | transform, 0, 2) == reference);
        }
    }
}

// From two threads on, a group's P and B frames are coded on the group
// thread while the next group arrives. Many short groups (one frame each
// fills the frame store up to its bound), groups of P frames only and of B
// frames, and groups cut short by the scene change, at every thread count
// and processor level, must give the portable single-threaded bytes.
TEST(ThreadedEncode, GroupsCodedBesideTheArrivingPicturesWriteTheSameMovie) {
    const Structure structures[] = {{0, 0, 9}, {1, 0, 20}, {1, 1, 23}, {3, 2, 31}};
    for (const Structure& structure : structures) {
        for (uint32_t format : {kPictureYUV411 | kTransformWordDct, kPictureAYUV4422 | kTransformWordDiff2D}) {
            SCOPED_TRACE(testing::Message() << structure.p_frames << "P " << structure.b_frames << "B "
                                            << std::hex << format);
            TempDir dir;
            const std::vector<uint8_t> reference = Encode(dir, format, 0, 1, structure);
            ASSERT_GT(reference.size(), 1000u);
            for (uint32_t threads : {2u, 3u}) {
                EXPECT_TRUE(Encode(dir, format, 0, threads, structure) == reference) << threads;
                EXPECT_TRUE(Encode(dir, format, ProcessorFeatures(), threads, structure) == reference)
                    << threads;
            }
        }
    }
}

// The presets that decide by cost learn from the frames they coded and
// search more ways per macroblock; they too write one movie whatever the
// thread count and processor level. The integer DCT cannot tell them its
// unrounded values and keeps the fixed decisions.
TEST(ThreadedEncode, EveryPresetWritesTheSameMovieAtEveryThreadCountAndLevel) {
    using _rvxlib_::RVXPreset;
    const uint32_t formats[] = {kPictureYUV411 | kTransformWordDctNoDeblock, kPictureAYUV4422 | kTransformWordDct,
                                kPictureRGB888 | kTransformWordDiff2D,
                                kPictureYUV444 | kTransformWordDct | kFormatIntDctEncode};
    for (RVXPreset preset : {RVXPreset::kFast, RVXPreset::kMedium, RVXPreset::kSlow}) {
        for (uint32_t format : formats) {
            SCOPED_TRACE(testing::Message() << int(preset) << " " << std::hex << format);
            TempDir dir;
            const Structure structure{3, 2, 23, preset};
            const std::vector<uint8_t> reference = Encode(dir, format, 0, 1, structure);
            ASSERT_GT(reference.size(), 1000u);
            EXPECT_TRUE(Encode(dir, format, ProcessorFeatures(), 3, structure) == reference);
            EXPECT_TRUE(Encode(dir, format, 0, 2, structure) == reference);
        }
    }
}
