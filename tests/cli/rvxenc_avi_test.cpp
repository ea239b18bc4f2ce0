#include <gtest/gtest.h>

#include <string>

#include "common/temp_dir.h"
#include "common/test_movies.h"
#include "run_program.h"

namespace {

// The lowest PSNR rvxdec reports against the source pictures.
double LowestPsnr(const std::string& movie, const std::string& pattern) {
    std::string out;
    if (RunProgram(kRvxdecProgram + " --compare " + ShellQuoted(pattern) + " " + ShellQuoted(movie), &out) != 0) {
        ADD_FAILURE() << out;
        return 0;
    }
    const size_t at = out.find("dB mean, ");
    if (at == std::string::npos) {
        ADD_FAILURE() << out;
        return 0;
    }
    return std::stod(out.substr(at + 9));
}

class RvxencAvi : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveFfmpegProgram()) GTEST_SKIP() << "the ffmpeg program is needed to make the AVI files";
        ASSERT_TRUE(WritePatternPngs(dir / "src%04d.png", 64, 48, "25", 10));
    }
    std::string MakeAvi(const std::string& name, const std::string& codecs, const std::string& sound = "") {
        const std::string path = dir / name;
        const std::string args = sound.empty() ? PatternInput(64, 48, "25", 10) + " " + codecs
                                               : ToneInput(1) + " " + PatternInput(64, 48, "25", 10) +
                                                     " -map 1:v -map 0:a " + codecs + " " + sound;
        EXPECT_TRUE(RunFfmpeg(args + " " + ShellQuoted(path)));
        return path;
    }
    TempDir dir{"rvxenc-avi"};
};

}  // namespace

TEST_F(RvxencAvi, PicturesMatchTheSourceAfterALosslessEncode) {
    // Lossless settings leave only the reader between the source pictures
    // and the movie: raw pictures must come through exactly (any row, colour
    // or orientation slip shows), coded ones as close as their codec allows.
    struct Case {
        const char* codecs;
        double lowest_psnr;
    };
    for (const Case& c : {Case{"-c:v rawvideo -pix_fmt bgr24", 99.0}, Case{"-c:v rawvideo -pix_fmt bgra", 99.0},
                          Case{"-c:v mjpeg -q:v 2", 32.0}, Case{"-c:v mpeg4 -q:v 2", 32.0}}) {
        // PCM sound: with MP3 the muxer ends the video index with an empty
        // entry, which the movie keeps as a repeat of the last picture.
        const std::string avi = MakeAvi("in.avi", c.codecs, "-c:a pcm_s16le");
        std::string out;
        ASSERT_EQ(RunProgram(kRvxenc + " " + ShellQuoted(avi) + " -o " + ShellQuoted(dir / "out.rvx") +
                                 " --overwrite --quiet --picture-format RGB888 --transform Diff2D",
                             &out),
                  0)
            << c.codecs << ": " << out;
        EXPECT_GE(LowestPsnr(dir / "out.rvx", dir / "src%04d.png"), c.lowest_psnr) << c.codecs;
        ASSERT_EQ(RunProgram(kRvxdecProgram + " " + ShellQuoted(dir / "out.rvx"), &out), 0);
        EXPECT_NE(out.find("frames       10 "), std::string::npos) << out;
        EXPECT_NE(out.find("44100 Hz"), std::string::npos) << out;
    }
}

TEST_F(RvxencAvi, InfoPrintsBothLines) {
    const std::string avi = MakeAvi("info.avi", "-c:v rawvideo -pix_fmt bgr24", "-c:a pcm_s16le -ac 2");
    std::string out;
    ASSERT_EQ(RunProgram(kRvxenc + " --info " + ShellQuoted(avi), &out), 0) << out;
    // The page's two lines come first, as they always did; the sound tracks follow.
    EXPECT_EQ(out.rfind("映像ライン：64x48 24bit 25.00 fps 10frames\n音楽ライン：44.10kHz 16bit 2ch 1411kbps\n", 0), 0u)
        << out;
}

TEST_F(RvxencAvi, FfmpegIsLoadedOnlyWhenAnAviFileIsRead) {
    // Loading FFmpeg's libraries costs tens of milliseconds at every start;
    // an image run must not pay it, an AVI file must still find them.
    const std::string avi = MakeAvi("lazy.avi", "-c:v rawvideo -pix_fmt bgr24");
    std::string out;
    ASSERT_EQ(RunProgram("LD_DEBUG=files " + kRvxenc + " --version", &out), 0) << out;
    EXPECT_EQ(out.find("libavcodec"), std::string::npos) << out;
    ASSERT_EQ(RunProgram("LD_DEBUG=files " + kRvxenc + " --info " + ShellQuoted(avi), &out), 0) << out;
    EXPECT_NE(out.find("libavcodec"), std::string::npos);
    EXPECT_NE(out.find("映像ライン：64x48 24bit"), std::string::npos);
}
