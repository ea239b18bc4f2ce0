#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "cli/run_program.h"
#include "common/temp_dir.h"
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
