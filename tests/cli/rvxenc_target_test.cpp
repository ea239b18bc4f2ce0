#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "cli/run_program.h"
#include "common/temp_dir.h"
#include "common/test_movies.h"
#include "container/rvx_reader.h"

namespace fs = std::filesystem;

namespace {

void MakeSample(const TempDir& dir) {
    const std::string cmd = "python3 " + std::string(RVX_SOURCE_DIR) + "/scripts/make-sample --out " +
                            dir.path().string() + " --frames 40 --size 96x64 >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
}

}  // namespace

TEST(RvxencTarget, RefusesTargetsItCannotMeet) {
    TempDir dir("target");
    MakeSample(dir);
    const std::string source = (dir / "frame0001.png");
    const std::string out = (dir / "out.rvx");
    struct Case {
        std::string args;
        std::string says;
    } cases[] = {
        {"--size lots", "not a size"},
        {"--bitrate 4MiB", "not a rate"},
        {"--size 1M --transform Diff2D", "Diff2D"},
        {"--size 1M --bitrate 4M", "cannot both"},
        {"--size 500", "smallest this movie can be"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const ProgramResult r = RunRvxenc(source + " -o " + out + " --quiet " + c.args);
        EXPECT_EQ(r.exit_code, 2) << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
        EXPECT_FALSE(fs::exists(out));
    }
}

// The movie of a fixed quality gives the target: the two passes land within
// the tolerance of its size, with progress over both passes in JSON.
TEST(RvxencTarget, MeetsASizeWithSoundAndReportsBothPasses) {
    TempDir dir("target");
    MakeSample(dir);
    const std::string source = (dir / "frame0001.png") + " --wav " + (dir / "sound.wav");
    ProgramResult r = RunRvxenc(source + " -o " + (dir / "fixed.rvx") + " --quality 10 --quiet");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    const uint64_t target = fs::file_size(dir / "fixed.rvx");
    r = RunRvxenc(source + " -o " + (dir / "out.rvx") + " --size " + std::to_string(target) +
                  " --preset medium --progress json");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NEAR(double(fs::file_size(dir / "out.rvx")), double(target), 0.02 * double(target));
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(dir / "out.rvx"));
    EXPECT_TRUE(reader.Verify());
    EXPECT_TRUE(reader.HasSound());

    const std::regex line("\"pass\": ([12]),.*\"percent\": ([0-9.]+)");
    double last = 0.0;
    bool seen[3] = {};
    for (std::sregex_iterator it(r.output.begin(), r.output.end(), line), end; it != end; ++it) {
        seen[std::stoi((*it)[1])] = true;
        const double percent = std::stod((*it)[2]);
        EXPECT_GE(percent, last);
        last = percent;
    }
    EXPECT_TRUE(seen[1] && seen[2]) << r.output;
    EXPECT_DOUBLE_EQ(last, 100.0);
}

// Near the coarsest fixed qualities, where a fixed encode's P and B frames
// already rest at 32 and only its I frames differ, the presets past classic
// still land on the target, and spend it on better pictures: their P and B
// frames keep the preset's balance with the I frames instead, past 32.
TEST(RvxencTarget, NearTheCoarsestQualitiesTargetsAreMetWithBetterPictures) {
    TempDir dir("target");
    MakeSample(dir);
    const std::string source = dir / "frame0001.png";
    const std::string pattern = dir / "frame%04d.png";
    for (const char* preset : {"fast", "medium", "slow"}) {
        for (const char* level : {"16", "30"}) {
            SCOPED_TRACE(std::string(preset) + " " + level);
            const std::string common = std::string(" --preset ") + preset + " --quiet --overwrite";
            ProgramResult r = RunRvxenc(source + " -o " + (dir / "fixed.rvx") + " --quality " + level + common);
            ASSERT_EQ(r.exit_code, 0) << r.output;
            const uint64_t target = fs::file_size(dir / "fixed.rvx");
            r = RunRvxenc(source + " -o " + (dir / "out.rvx") + " --size " + std::to_string(target) + common);
            ASSERT_EQ(r.exit_code, 0) << r.output;
            EXPECT_NEAR(double(fs::file_size(dir / "out.rvx")), double(target), 0.01 * double(target));
            const double fixed = MeanPsnr(dir / "fixed.rvx", pattern);
            EXPECT_GT(fixed, 0);
            EXPECT_GT(MeanPsnr(dir / "out.rvx", pattern), fixed);
        }
    }
}

// Noise has no coarser form: a target a little below what quality 32
// everywhere codes cannot be met. The movie is kept, and the miss is a
// failure of its own: a message with both sizes, exit 3, and the JSON end
// object marks it.
TEST(RvxencTarget, AMovieThatStillMissesItsTargetIsKeptAndExitsThree) {
    if (!HaveFfmpegProgram()) GTEST_SKIP() << "the ffmpeg program makes the noise";
    TempDir dir("target");
    ASSERT_TRUE(RunFfmpeg("-f lavfi -i " + ShellQuoted("nullsrc=s=160x120:r=25,geq=random(1)*255:128:128") +
                          " -frames:v 20 " + ShellQuoted(dir / "n%04d.png")));
    const std::string source = dir / "n0001.png";
    ProgramResult r = RunRvxenc(source + " -o " + (dir / "coarsest.rvx") + " --quality 32,32,32 --quiet");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    const uint64_t target = fs::file_size(dir / "coarsest.rvx") * 95 / 100;
    const std::string out = dir / "out.rvx";
    r = RunRvxenc(source + " -o " + out + " --size " + std::to_string(target) + " --progress json");
    ASSERT_EQ(r.exit_code, 3) << r.output;
    const uint64_t written = fs::file_size(out);
    EXPECT_GT(double(written), 1.02 * double(target));
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(out));
    EXPECT_TRUE(reader.Verify());
    const std::regex said("目標サイズを超えました: 目標 " + std::to_string(target) + " バイト、実際 " +
                          std::to_string(written) + " バイト \\(\\+[0-9]+\\.[0-9] %\\)");
    EXPECT_TRUE(std::regex_search(r.output, said)) << r.output;
    EXPECT_NE(r.output.find("\"size\": " + std::to_string(written) + ", "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"target\": " + std::to_string(target) + ", \"target_missed\": true}"), std::string::npos)
        << r.output;

    // A target it can meet ends as before, marked as met.
    r = RunRvxenc(source + " -o " + out + " --overwrite --size " + std::to_string(written * 2) + " --progress json");
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("\"target_missed\": false}"), std::string::npos) << r.output;
}
