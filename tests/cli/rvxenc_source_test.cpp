// The source flags end to end: a scaled, cropped or trimmed image run read
// back from the written movie, settings the source cannot take refused with
// exit 2 and nothing written, and --info's list of sound tracks.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/temp_dir.h"
#include "common/test_movies.h"
#include "container/rvx_reader.h"
#include "jobs/sound_tracks.h"
#include "run_program.h"

namespace {

class RvxencSource : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveFfmpegProgram()) GTEST_SKIP() << "the ffmpeg program makes the test pictures";
        ASSERT_TRUE(WritePatternPngs(dir / "f%04d.png", 64, 48, "25", 10));
    }
    ProgramResult Encode(const std::string& flags, const std::string& out) {
        return RunRvxenc(ShellQuoted(dir / "f0001.png") + " -o " + ShellQuoted(dir / out) + " --quiet " + flags);
    }
    TempDir dir{"rvxenc-source"};
};

}  // namespace

TEST_F(RvxencSource, ScaleCropAndTrimmingShapeTheWrittenMovie) {
    const struct {
        const char* flags;
        uint32_t frames, width, height;
    } cases[] = {
        {"", 10, 64, 48},
        {"--scale 16x", 10, 16, 12},
        {"--scale x24", 10, 32, 24},
        {"--scale 32x32", 10, 32, 32},
        {"--start 2f --duration 3f", 3, 64, 48},
        {"--start 8f", 2, 64, 48},
        {"--duration 4f --crop 8,0,8,0", 4, 48, 48},
        {"--crop 8,4,8,4 --scale 24x", 10, 24, 20},
        {"--rotate 90", 10, 48, 64},
        {"--rotate 180 --deinterlace on --duration 1f", 1, 64, 48},
    };
    for (const auto& c : cases) {
        const ProgramResult r = Encode(std::string(c.flags) + " --overwrite", "out.rvx");
        ASSERT_EQ(r.exit_code, 0) << c.flags << ": " << r.output;
        std::string out;
        EXPECT_EQ(RunProgram(kRvxdecProgram + " " + ShellQuoted(dir / "out.rvx"), &out), 0) << c.flags << ": " << out;
        CRVXReader reader;
        ASSERT_TRUE(reader.Open(dir.path() / "out.rvx")) << c.flags;
        EXPECT_EQ(reader.FrameCount(), c.frames) << c.flags;
        EXPECT_EQ(reader.Width(), c.width) << c.flags;
        EXPECT_EQ(reader.Height(), c.height) << c.flags;
    }
}

// A setting wrong in itself is refused before anything opens; one this
// source cannot take is refused by the job. Either way: exit 2, the reason,
// and no movie.
TEST_F(RvxencSource, SettingsTheSourceCannotTakeExitTwoAndWriteNothing) {
    const struct {
        const char* flags;
        const char* said;  // a part of the message
    } cases[] = {
        {"--scale 0x10", "--scale: '0x10'"},
        {"--scale 16385x", "--scale: '16385x'"},
        {"--duration 0", "--duration: '0'"},
        {"--crop 40,0,40,0", ""},
        {"--crop 0,48,0,0", ""},
        {"--start 50f", ""},
        {"--start 10f", ""},
    };
    for (const auto& c : cases) {
        const ProgramResult r = Encode(c.flags, "refused.rvx");
        EXPECT_EQ(r.exit_code, 2) << c.flags << ": " << r.output;
        EXPECT_NE(r.output.find(c.said), std::string::npos) << c.flags << ": " << r.output;
        EXPECT_EQ(r.output.find("ファイルのロードに失敗しました。"), std::string::npos) << c.flags << ": " << r.output;
        EXPECT_FALSE(std::filesystem::exists(dir / "refused.rvx")) << c.flags;
    }
}

// Every sound track with its number and language; a movie that is not an
// AVI file, which the AVI page cannot show, still lists its tracks.
TEST_F(RvxencSource, InfoListsEverySoundTrack) {
    // The pattern's frame count belongs to the last input.
    const std::string inputs = ToneInput(1) + " " + ToneInput(1, 48000) + " " + PatternInput(64, 48, "25", 10);
    const std::string tracks = " -map 2:v -map 0:a -map 1:a -metadata:s:a:0 language=jpn -metadata:s:a:1 language=eng ";
    const std::string avi = dir / "two.avi";
    const std::string mkv = dir / "two.mkv";
    ASSERT_TRUE(RunFfmpeg(inputs + tracks + "-c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le " + ShellQuoted(avi)));
    ASSERT_TRUE(RunFfmpeg(inputs + tracks + "-c:v ffv1 -c:a flac " + ShellQuoted(mkv)));

    for (const std::string& path : {avi, mkv}) {
        const bool is_avi = path == avi;
        const std::vector<SoundTrackInfo> listed = is_avi ? AviSoundTracks(path) : MovieSoundTracks(path);
        if (listed.empty()) {
            ADD_FAILURE() << path << ": the source lists no sound tracks in this build yet";
            continue;
        }
        std::string out;
        ASSERT_EQ(RunProgram(kRvxenc + " --info " + ShellQuoted(path), &out), 0) << out;
        EXPECT_EQ(out.find("映像ライン："), is_avi ? 0u : std::string::npos) << out;
        const size_t first = out.find("音楽トラック1：");
        const size_t second = out.find("音楽トラック2：");
        ASSERT_NE(first, std::string::npos) << out;
        ASSERT_NE(second, std::string::npos) << out;
        EXPECT_LT(first, second) << out;
        EXPECT_EQ(out.find("音楽トラック3："), std::string::npos) << out;
        // A matroska file names the languages (in two or three letters, as
        // the framework reports them); an AVI file keeps none.
        if (!is_avi) {
            EXPECT_TRUE(out.find("音楽トラック1：[ja] ") != std::string::npos ||
                        out.find("音楽トラック1：[jpn] ") != std::string::npos) << out;
            EXPECT_TRUE(out.find("音楽トラック2：[en] ") != std::string::npos ||
                        out.find("音楽トラック2：[eng] ") != std::string::npos) << out;
        }

        // The number --info shows chooses the sound: the second track is the 48 kHz one.
        const std::string movie = dir / "track.rvx";
        const ProgramResult chosen = RunRvxenc(ShellQuoted(path) + " -o " + ShellQuoted(movie) +
                                               " --quiet --overwrite --audio-track 2");
        ASSERT_EQ(chosen.exit_code, 0) << path << ": " << chosen.output;
        ASSERT_EQ(RunProgram(kRvxdecProgram + " " + ShellQuoted(movie), &out), 0) << out;
        EXPECT_NE(out.find("48000 Hz"), std::string::npos) << path << ": " << out;
        std::filesystem::remove(movie);
        const ProgramResult missing =
            RunRvxenc(ShellQuoted(path) + " -o " + ShellQuoted(movie) + " --quiet --audio-track 3");
        EXPECT_EQ(missing.exit_code, 2) << path << ": " << missing.output;
        EXPECT_FALSE(std::filesystem::exists(movie)) << path;
    }
}
