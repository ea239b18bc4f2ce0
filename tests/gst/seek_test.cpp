// Duration, position and seeking: to a group start, accurately inside a
// group, and past the end, with the pictures and sound that follow a seek
// checked against rvxdec's.

#include <algorithm>

#include "gst/gst_harness.h"
#include "gst/reference_decode.h"
#include "gst/test_movies.h"

namespace {

// 30 pictures in groups of 7 (I B B P B B P): groups start at 0, 7, 14, 21, 28.
MovieRecipe SeekMovie() {
    MovieRecipe recipe;
    recipe.frames = 30;
    recipe.p_frames = 2;
    recipe.b_frames = 2;
    return recipe;
}

}  // namespace

TEST(GstSeek, DurationAndPositionAreAnswered) {
    const std::string path = MakeMovie(SeekMovie());
    ASSERT_FALSE(path.empty());
    Pipeline pipeline(DecodePipeline(path, false, true));
    ASSERT_TRUE(pipeline.Pause());
    gint64 duration = 0, position = -1;
    ASSERT_TRUE(gst_element_query_duration(pipeline.get(), GST_FORMAT_TIME, &duration));
    EXPECT_EQ(duration, gint64(30 * GST_SECOND / 25));
    EXPECT_TRUE(gst_element_query_position(pipeline.get(), GST_FORMAT_TIME, &position));
    EXPECT_GE(position, 0);
}

TEST(GstSeek, SeeksLandOnTheGroupStartOrExactlyOnTheTarget) {
    const std::string path = MakeMovie(SeekMovie());
    ASSERT_FALSE(path.empty());
    ReferenceMovie reference;
    ASSERT_TRUE(DecodeReference(path, &reference));
    ASSERT_EQ(reference.pictures.size(), 30u);
    const struct {
        uint32_t target;       // display frame sought
        bool key_unit;
        uint32_t first_shown;  // what playback must start with
    } seeks[] = {
        {16, true, 14}, {14, true, 14}, {6, true, 0},      // the group start at or before
        {17, false, 17}, {21, false, 21}, {29, false, 29}, // accurately
    };
    for (const auto& seek : seeks) {
        SCOPED_TRACE("seek to " + std::to_string(seek.target) + (seek.key_unit ? " key unit" : " accurate"));
        Pipeline pipeline(DecodePipeline(path, false, true));
        ASSERT_TRUE(pipeline.Pause());
        // Half a frame in, so that snapping has something to do.
        const gint64 target = gint64(FrameTimeOf(reference, seek.target) + GST_SECOND / 50);
        const auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH | (seek.key_unit ? GST_SEEK_FLAG_KEY_UNIT : GST_SEEK_FLAG_ACCURATE));
        ASSERT_TRUE(gst_element_seek_simple(pipeline.get(), GST_FORMAT_TIME, flags, target));
        ASSERT_TRUE(pipeline.Pause());
        pipeline.ClearSamples();
        const PipelineRun run = pipeline.Play();
        ASSERT_TRUE(run.eos) << (run.errors.empty() ? "timed out" : run.errors.front());
        // An accurate seek half-way into a picture still shows that picture.
        ASSERT_EQ(run.video.size(), 30u - seek.first_shown);
        // A picture that starts before the segment is clipped to its start.
        const uint64_t start = seek.key_unit ? FrameTimeOf(reference, seek.first_shown) : uint64_t(target);
        for (std::size_t i = 0; i < run.video.size(); ++i) {
            const std::size_t n = seek.first_shown + i;
            EXPECT_EQ(run.video[i].pts, std::max(FrameTimeOf(reference, n), start));
            EXPECT_TRUE(run.video[i].bytes == reference.pictures[n]) << "picture " << n;
        }
        // The sound from where it starts equals the whole decoded sound there.
        ASSERT_FALSE(run.audio.empty());
        const uint64_t first = run.audio.front().pts;
        EXPECT_LE(first > start ? first - start : start - first, GST_SECOND / kSoundRate);
        const std::size_t offset = std::size_t((first * kSoundRate + GST_SECOND / 2) / GST_SECOND) * 4;
        const std::vector<uint8_t> sound = run.AllAudio();
        ASSERT_EQ(offset + sound.size(), reference.sound.size());
        EXPECT_TRUE(std::equal(sound.begin(), sound.end(), reference.sound.begin() + std::ptrdiff_t(offset)));
    }
}

TEST(GstSeek, SeekPastTheEndEndsTheStream) {
    const std::string path = MakeMovie(SeekMovie());
    ASSERT_FALSE(path.empty());
    for (bool key_unit : {false, true}) {
        Pipeline pipeline(DecodePipeline(path, false, true));
        ASSERT_TRUE(pipeline.Pause());
        const auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH | (key_unit ? GST_SEEK_FLAG_KEY_UNIT : 0));
        ASSERT_TRUE(gst_element_seek_simple(pipeline.get(), GST_FORMAT_TIME, flags, 10 * GST_SECOND));
        const PipelineRun run = pipeline.Play();
        EXPECT_TRUE(run.eos) << (run.errors.empty() ? "timed out" : run.errors.front());
        EXPECT_TRUE(run.video.empty()) << run.video.size() << " first " << run.video.front().pts;
        EXPECT_TRUE(run.audio.empty());
    }
}
