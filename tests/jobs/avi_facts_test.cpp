// What an AVI file says of its pictures: the turn and mirror of its display
// matrix, and interlacing.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "avi_files.h"
#include "jobs/avi_picture_facts.h"
#include "jobs/ffmpeg_api.h"

namespace {

// A display matrix as FFmpeg's own writers build it: a counter-clockwise
// turn by `degrees` (2x2 part in 16.16), then optionally a left-right flip
// of the result (the first column negated).
void DisplayMatrix(int32_t m[9], double degrees, bool flip) {
    const double radians = degrees * M_PI / 180.0;
    const double c = std::cos(radians), s = std::sin(radians);
    auto fixed = [](double v) { return static_cast<int32_t>(std::lround(v * 65536.0)); };
    for (int i = 0; i < 9; ++i) m[i] = 0;
    m[0] = fixed(c);
    m[1] = fixed(-s);
    m[3] = fixed(s);
    m[4] = fixed(c);
    m[8] = 1 << 30;
    if (flip) {
        m[0] = -m[0];
        m[3] = -m[3];
    }
}

}  // namespace

TEST(AviPictureFacts, DisplayMatrixGivesTheClockwiseTurnAndTheMirror) {
    ASSERT_TRUE(LoadFfmpeg()) << FfmpegLoadFailure();
    struct Case {
        double counter_clockwise;  // as the matrix was built
        bool flip;
        uint32_t rotation;  // clockwise, as a player turns the picture
        bool mirrored;
    };
    const Case cases[] = {
        {0, false, 0, false},     {-90, false, 90, false},   {90, false, 270, false},
        {180, false, 180, false}, {-180, false, 180, false}, {-270, false, 270, false},
        {0, true, 0, true},       {-90, true, 90, true},     {90, true, 270, true},
        {180, true, 180, true},   {-87.5, false, 90, false}, {-44, false, 0, false},
        {-46, true, 90, true},
    };
    for (const Case& c : cases) {
        int32_t m[9];
        DisplayMatrix(m, c.counter_clockwise, c.flip);
        const SourcePictureFacts facts = PictureFactsFromDisplayMatrix(m);
        EXPECT_EQ(facts.rotation, c.rotation) << c.counter_clockwise << (c.flip ? " flipped" : "");
        EXPECT_EQ(facts.mirrored, c.mirrored) << c.counter_clockwise << (c.flip ? " flipped" : "");
        EXPECT_FALSE(facts.interlaced);
    }
    // A matrix of zeros turns nothing into anything: upright.
    const int32_t zeros[9] = {};
    EXPECT_EQ(PictureFactsFromDisplayMatrix(zeros), SourcePictureFacts{});
}

TEST(AviPictureFacts, InterlacingAndItsFieldOrderComeFromTheStream) {
    if (!HaveFfmpegProgram()) GTEST_SKIP() << "the ffmpeg program is needed to make the AVI files";
    TempDir dir{"avifacts"};
    struct Case {
        const char* video;
        bool interlaced;
        bool top_field_first;
    };
    const Case cases[] = {
        {"-c:v mpeg2video -flags +ildct+ilme -top 1", true, true},
        {"-c:v mpeg2video -flags +ildct+ilme -top 0", true, false},
        {"-c:v mpeg2video", false, true},
        {"-c:v mjpeg", false, true},
        {"-c:v rawvideo -pix_fmt bgr24", false, true},
    };
    for (const Case& c : cases) {
        AviRecipe recipe;
        recipe.video = c.video;
        recipe.height = 48;
        const std::string avi = MakeAvi(dir, "facts.avi", recipe);
        ASSERT_FALSE(avi.empty()) << c.video;
        const SourcePictureFacts facts = ReadAviPictureFacts(avi);
        EXPECT_EQ(facts.interlaced, c.interlaced) << c.video;
        EXPECT_EQ(facts.top_field_first, c.top_field_first) << c.video;
        EXPECT_EQ(facts.rotation, 0u) << c.video;
        EXPECT_FALSE(facts.mirrored) << c.video;
    }
    std::ofstream(dir / "text.avi") << "not a movie";
    EXPECT_EQ(ReadAviPictureFacts(dir / "text.avi"), SourcePictureFacts{});
}
