// Real jobs through the window: a numbered PNG run encoded from the second
// page, an abort half way, the movie and AVI pages' own jobs, and the AVI
// page's information lines.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "common/temp_dir.h"
#include "common/test_movies.h"
#include "container/rvx_reader.h"
#include "jobs/avi_info_lines.h"
#include "window_fixture.h"

namespace {

class EncodeTest : public WindowTest {
protected:
    void SetUp() override {
        if (!HaveFfmpegProgram()) GTEST_SKIP() << "the ffmpeg program makes the test pictures";
        WindowTest::SetUp();
        // The jobs' work directories go under a folder the test can inspect.
        setenv("TMPDIR", work.path().c_str(), 1);
        window->SetProgressObserver([this](double fraction) {
            fractions.push_back(fraction);
            statuses.push_back(Text(kIdStatusLine));
            titles.push_back(window->windowTitle().toStdString());
            if (on_progress) on_progress();
        });
    }
    void TearDown() override {
        WindowTest::TearDown();
        unsetenv("TMPDIR");
    }

    bool WorkDirectoriesLeft() const {
        for (const auto& entry : std::filesystem::directory_iterator(work.path()))
            if (entry.path().filename().string().rfind("rvx", 0) == 0) return true;
        return false;
    }

    void StartImageRun(const std::string& first_image) {
        Tab()->setCurrentIndex(1);
        SetText(kIdImagePath, first_image);
        SetText(kIdOutputFile, output);
        Button(kIdCreate)->click();
    }

    TempDir clips{"window-clips"};
    TempDir work{"window-work"};
    std::string output = clips / "movie.rvx";
    std::vector<double> fractions;
    std::vector<std::string> statuses;
    std::vector<std::string> titles;
    std::function<void()> on_progress;
};

}  // namespace

TEST_F(EncodeTest, AnImageRunEncodesToTheEndAndReturnsToIdle) {
    std::filesystem::create_directories(clips.path() / "take1");
    ASSERT_TRUE(WritePatternPngs(clips / "take1/f%04d.png", 160, 120, "25", 24));
    const std::string first = clips / "take1/f0001.png";
    StartImageRun(first);
    ASSERT_TRUE(PumpUntil([&] { return prompts.Shown("処理が完了しました。"); }, 60000));
    ASSERT_TRUE(PumpUntil([&] { return !window->IsRunning(); }));

    const PromptRecord done = prompts.records.back();
    EXPECT_EQ(done.caption, "処理完了");
    EXPECT_EQ(done.icon, PromptIcon::kInformation);
    ASSERT_FALSE(fractions.empty());
    EXPECT_DOUBLE_EQ(fractions.back(), 1.0);
    // Reports are shown at the screen's pace, so frames may be passed over,
    // but never the last one, and the bar never goes back.
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    // Status texts show the paths as typed, not the run's internal pattern.
    // Which frames are shown depends on the pace, the movie's line comes last.
    EXPECT_EQ(statuses.back(), output + "を出力中...");
    for (const std::string& status : statuses)
        if (status.find("をエンコード中... ") != std::string::npos) {
            EXPECT_EQ(status.rfind(clips / "take1/f00", 0), 0u) << status;
            EXPECT_TRUE(std::regex_search(status, std::regex("^[^ ]*f00[0-2][0-9]\\.pngをエンコード中\\.\\.\\. [0-9]+/24")))
                << status;
        }
    for (const std::string& status : statuses) EXPECT_EQ(status.find("//"), std::string::npos) << status;
    for (size_t i = 0; i < titles.size(); ++i)
        EXPECT_EQ(titles[i], std::to_string(int(fractions[i] * 100)) + "% - RVX Encoder");
    // The time left needs a few reports to give the pace.
    EXPECT_EQ(statuses[0].find("残り"), std::string::npos);
    ExpectIdle();
    EXPECT_EQ(window->windowTitle().toStdString(), "RVX Encoder");
    EXPECT_TRUE(Field(kIdImagePath)->isEnabled());

    CRVXReader reader;
    ASSERT_TRUE(reader.Open(output));
    EXPECT_EQ(reader.FrameCount(), 24u);
    EXPECT_EQ(reader.Width(), 160u);
    EXPECT_TRUE(reader.Verify());
    EXPECT_FALSE(WorkDirectoriesLeft());
}

TEST_F(EncodeTest, AbortHalfWayLeavesNoOutputAndNoWorkDirectory) {
    // The job runs on while the window asks; it must be long enough not to
    // end first.
    ASSERT_TRUE(WritePatternPngs(clips / "f%04d.png", 320, 240, "25", 60));
    bool asked = false;
    on_progress = [&] {
        if (asked) return;
        asked = true;
        prompts.answers = {true};
        Button(kIdAbort)->click();
    };
    StartImageRun(clips / "f0001.png");
    ASSERT_TRUE(PumpUntil([&] { return asked && !window->IsRunning(); }, 60000));
    PumpFor(50);
    EXPECT_TRUE(prompts.Shown("処理を中断します。よろしいですか？"));
    EXPECT_FALSE(prompts.Shown("処理が完了しました。"));
    EXPECT_FALSE(prompts.Shown("処理に失敗しました。"));
    EXPECT_LT(fractions.back(), 1.0);
    ExpectIdle();
    EXPECT_FALSE(std::filesystem::exists(output));
    EXPECT_FALSE(WorkDirectoriesLeft());

    // The window takes the next job as if nothing had happened.
    fractions.clear();
    on_progress = nullptr;
    Button(kIdCreate)->click();
    ASSERT_TRUE(PumpUntil([&] { return prompts.Shown("処理が完了しました。"); }, 120000));
    EXPECT_TRUE(std::filesystem::exists(output));
}

TEST_F(EncodeTest, AviPageShowsTheFileInformationLines) {
    const std::string avi = clips / "clip.avi";
    ASSERT_TRUE(RunFfmpeg(ToneInput(0.4, 22050) + " " + PatternInput(64, 48, "30000/1001", 12) +
                          " -c:v mjpeg -c:a pcm_s16le -ac 1 " + ShellQuoted(avi)));
    Tab()->setCurrentIndex(2);
    SetText(kIdAviPath, avi);
    // The file is read off the window's thread, once typing pauses.
    ASSERT_TRUE(PumpUntil([&] { return Text(kIdAviSoundLine) != ""; }));
    EXPECT_TRUE(std::regex_match(Text(kIdAviVideoLine), std::regex("64x48 \\d+bit 29\\.97 fps 12frames")))
        << Text(kIdAviVideoLine);
    EXPECT_EQ(Text(kIdAviSoundLine), "22.05kHz 16bit 1ch 352kbps");
    // A half-typed path clears both lines at once, and the answer for the
    // whole path, asked just before, does not bring them back.
    emit Field(kIdAviPath)->editingFinished();
    SetText(kIdAviPath, avi.substr(0, avi.size() - 3));
    EXPECT_EQ(Text(kIdAviVideoLine), "");
    EXPECT_EQ(Text(kIdAviSoundLine), "");
    PumpFor(500);
    EXPECT_EQ(Text(kIdAviVideoLine), "");
    EXPECT_EQ(Text(kIdAviSoundLine), "");
    // The browse button refreshes them too.
    prompts.files = {avi};
    Button(kIdAviBrowse)->click();
    EXPECT_TRUE(PumpUntil([&] { return Text(kIdAviVideoLine) != ""; }));
}

// A file that holds up its reader (here a pipe nobody writes yet) must not
// hold up the window: typing goes on, and once the file gives way the lines
// follow the path now in the field.
TEST_F(EncodeTest, AviPageKeepsTypingWhileAFileHoldsUpItsReader) {
    const std::string avi = clips / "clip.avi", pipe = clips / "slow.avi";
    ASSERT_TRUE(RunFfmpeg(PatternInput(64, 48, "25", 5) + " -c:v mjpeg " + ShellQuoted(avi)));
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    Tab()->setCurrentIndex(2);
    SetText(kIdAviPath, pipe);
    emit Field(kIdAviPath)->editingFinished();  // read now, without the pause
    PumpFor(300);
    SetText(kIdAviPath, avi);  // the window still answers
    emit Field(kIdAviPath)->editingFinished();
    EXPECT_EQ(Text(kIdAviVideoLine), "");
    std::ofstream(pipe) << "not a movie";  // opens the pipe, which lets the reader go on
    ASSERT_TRUE(PumpUntil([&] { return Text(kIdAviVideoLine) != ""; }));
    EXPECT_TRUE(std::regex_match(Text(kIdAviVideoLine), std::regex("64x48 \\d+bit 25\\.00 fps 5frames")))
        << Text(kIdAviVideoLine);
    EXPECT_EQ(Text(kIdAviSoundLine), "ありません。");
}

// The first and third pages hand their files to their own jobs: a movie
// through the media framework, an AVI file through its reader, each with its
// sound.
TEST_F(EncodeTest, MovieAndAviPagesEncodeThroughTheirOwnJobs) {
    const std::string mkv = clips / "clip.mkv", avi = clips / "clip.avi";
    ASSERT_TRUE(RunFfmpeg(ToneInput(0.5) + " " + PatternInput(48, 32, "25", 12) + " -c:v ffv1 -c:a flac " +
                          ShellQuoted(mkv)));
    ASSERT_TRUE(RunFfmpeg(ToneInput(0.5) + " " + PatternInput(48, 32, "25", 12) + " -c:v mjpeg -c:a pcm_s16le " +
                          ShellQuoted(avi)));
    const struct {
        int page;
        uint32_t field;
        std::string file;
    } sources[] = {{0, kIdMoviePath, mkv}, {2, kIdAviPath, avi}};
    for (const auto& source : sources) {
        std::filesystem::remove(output);
        prompts.records.clear();
        Tab()->setCurrentIndex(source.page);
        SetText(source.field, source.file);
        SetText(kIdOutputFile, output);
        Button(kIdCreate)->click();
        ASSERT_TRUE(PumpUntil([&] { return prompts.Shown("処理が完了しました。"); }, 60000)) << source.file;
        ASSERT_TRUE(PumpUntil([&] { return !window->IsRunning(); }));
        CRVXReader reader;
        ASSERT_TRUE(reader.Open(output)) << source.file;
        EXPECT_TRUE(reader.Verify());
        EXPECT_EQ(reader.FrameCount(), 12u) << source.file;
        EXPECT_EQ(reader.Width(), 48u);
        EXPECT_TRUE(reader.HasSound()) << source.file;
        EXPECT_FALSE(WorkDirectoriesLeft());
    }
}
