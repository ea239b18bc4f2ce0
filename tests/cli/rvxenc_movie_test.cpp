#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "common/temp_dir.h"
#include "common/test_movies.h"
#include "container/rvx_reader.h"
#include "run_program.h"

namespace {

class RvxencMovie : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveFfmpegProgram()) GTEST_SKIP() << "the ffmpeg program is not installed (scripts/setup)";
    }
    TempDir dir_{"climovie"};
};

// A movie that stores the source pictures without loss must reach the
// encoder exactly as the pictures themselves do: same order, rows the right
// way up, colours in their places. An odd width and a 32-bit RGB stream
// (no YUV on the way) leave the encoder as the only loss.
TEST_F(RvxencMovie, LosslessMovieEncodesLikeItsOwnPictures) {
    const std::string pattern = dir_ / "src%04d.png";
    ASSERT_TRUE(WritePatternPngs(pattern, 150, 100, "25", 30));
    const std::string movie = dir_ / "rgb.mkv";
    ASSERT_TRUE(RunFfmpeg(PatternInput(150, 100, "25", 30) + " -c:v ffv1 -pix_fmt bgr0 " + ShellQuoted(movie)));

    std::string out;
    const std::string options = " --picture-format YUV444 --quiet --overwrite";
    ASSERT_EQ(RunProgram(kRvxenc + " " + ShellQuoted(movie) + " -o " + ShellQuoted(dir_ / "movie.rvx") + options, &out), 0) << out;
    ASSERT_EQ(RunProgram(kRvxenc + " " + ShellQuoted(dir_ / "src0001.png") + " -o " + ShellQuoted(dir_ / "images.rvx") + options,
                  &out), 0) << out;
    const double from_movie = MeanPsnr(dir_ / "movie.rvx", pattern);
    const double from_images = MeanPsnr(dir_ / "images.rvx", pattern);
    EXPECT_GT(from_images, 25.0);
    EXPECT_NEAR(from_movie, from_images, 0.01);
}

TEST_F(RvxencMovie, EncodesAnH264MovieIntactAndRefusesAFileThatIsNoMovie) {
    const std::string movie = dir_ / "movie.mp4";
    ASSERT_TRUE(RunFfmpeg(ToneInput(2) + " " + PatternInput(160, 120, "30000/1001", 60) +
                          " -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest " + ShellQuoted(movie)));
    std::string out;
    ASSERT_EQ(RunProgram(kRvxenc + " " + ShellQuoted(movie) + " -o " + ShellQuoted(dir_ / "movie.rvx") + " --quiet", &out), 0)
        << out;
    out.clear();
    EXPECT_EQ(RunProgram(kRvxdecProgram + " " + ShellQuoted(dir_ / "movie.rvx"), &out), 0) << out;
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(dir_.path() / "movie.rvx"));
    EXPECT_EQ(reader.FrameCount(), 60u);
    EXPECT_EQ(reader.RateNumerator(), 29970u);

    std::ofstream(dir_ / "notes.txt") << "not a movie at all\n";
    out.clear();
    EXPECT_EQ(RunProgram(kRvxenc + " " + ShellQuoted(dir_ / "notes.txt") + " -o " + ShellQuoted(dir_ / "notes.rvx"), &out), 1);
    EXPECT_NE(out.find("ファイルのロードに失敗しました。"), std::string::npos) << out;
    EXPECT_FALSE(std::ifstream(dir_ / "notes.rvx").good());
}

}  // namespace
