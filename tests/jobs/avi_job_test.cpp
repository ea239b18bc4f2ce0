#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "avi_files.h"
#include "common/memory_host.h"
#include "container/rvx_reader.h"
#include "jobs/avi_movie.h"
#include "jobs/encode_from_avi.h"
#include "jobs/job_messages.h"
#include "recording_writer.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct AviHost : MemoryHost {
    AviHost(const std::string& avi, const std::string& output) : request(StartUpRequest(avi, output)) {}
    uint32_t WaitForEnd() { return WaitForJobEnd(); }
    EncodeRequest request;
};

class AviJob : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveFfmpegProgram()) GTEST_SKIP() << "the ffmpeg program is needed to make the AVI files";
    }
    void TearDown() override { RecordingWriterSettings::frame_delay_ms = 0; }

    // Loads and runs a job on the file to its end; the job is gone afterwards
    // and its work directory with it.
    uint32_t Encode(const std::string& avi, const std::string& output, std::string* reason = nullptr,
                    MovieWriterFactory factory = &CreateRVXMovieWriter) {
        AviHost host(avi, output);
        auto job = std::make_unique<CEncodeFromAVI>(&host, host.request);
        job->SetWriterFactory(factory);
        if (job->Load() != kJobOk) {
            ADD_FAILURE() << job->FailureReason();
            return 0;
        }
        const std::string work = job->WorkDirectory();
        EXPECT_TRUE(fs::is_directory(work));
        EXPECT_EQ(job->Start(), 1);
        const uint32_t end = host.WaitForEnd();
        if (reason) *reason = job->FailureReason();
        progress = host.progress;
        job.reset();
        EXPECT_FALSE(fs::exists(work));
        return end;
    }

    TempDir dir{"avijob"};
    std::vector<JobProgress> progress;
};

}  // namespace

TEST_F(AviJob, EncodesEveryPictureAtTheFilesOwnRateWithItsSound) {
    AviRecipe recipe;
    recipe.video = "-c:v mjpeg -q:v 3";
    recipe.sound = "-c:a pcm_s16le -ac 2";
    recipe.rate = "30000/1001";
    recipe.frames = 12;
    recipe.seconds = 2;
    const std::string avi = MakeAvi(dir, "movie.avi", recipe);
    ASSERT_FALSE(avi.empty());
    std::string reason;
    ASSERT_EQ(Encode(avi, dir / "movie.rvx", &reason), MSG_JOB_DONE) << reason;

    CRVXReader reader;
    ASSERT_TRUE(reader.Open(dir.path() / "movie.rvx"));
    EXPECT_TRUE(reader.Verify());
    EXPECT_EQ(reader.FrameCount(), 12u);
    EXPECT_EQ(reader.Width(), 32u);
    EXPECT_EQ(reader.Height(), 24u);
    EXPECT_EQ(reader.RateNumerator(), 30000u);
    EXPECT_EQ(reader.RateDenominator(), 1001u);
    ASSERT_TRUE(reader.HasSound());
    EXPECT_EQ(reader.Sound().channels, 2);
    EXPECT_EQ(reader.Sound().sample_rate, 44100u);
    // Every sample of the file's sound, as ffmpeg itself decodes it.
    EXPECT_EQ(_snxlib_::SNXSampleFrames(reader.Sound()), DecodedSound(dir, avi, "s16le").size() / 4);
    ASSERT_GE(progress.size(), 12u);
    EXPECT_EQ(progress[0], FrameReport(avi, 1, 12));
    EXPECT_EQ(progress[11], FrameReport(avi, 12, 12));
}

TEST_F(AviJob, EightBitMp3AndMissingSound) {
    struct Case {
        const char* sound;
        int sample_rate;
    };
    for (const Case& c : {Case{"-c:a pcm_u8", 22050}, Case{"-c:a libmp3lame -b:a 64k", 44100}, Case{"", 0}}) {
        AviRecipe recipe;
        recipe.video = "-c:v mpeg4 -q:v 3";
        recipe.sound = c.sound;
        recipe.sample_rate = c.sample_rate ? c.sample_rate : 44100;
        recipe.frames = 25;
        recipe.seconds = 2;
        const std::string avi = MakeAvi(dir, "in.avi", recipe);
        ASSERT_FALSE(avi.empty());
        std::string reason;
        ASSERT_EQ(Encode(avi, dir / "out.rvx", &reason), MSG_JOB_DONE) << c.sound << ": " << reason;
        CRVXReader reader;
        ASSERT_TRUE(reader.Open(dir.path() / "out.rvx"));
        EXPECT_TRUE(reader.Verify());
        // ffmpeg may leave an empty entry where the sound's delay shifted a
        // picture; the file counts it, and so does the movie.
        CAVIMovie movie;
        ASSERT_EQ(movie.Open(avi), kAviOk);
        EXPECT_GE(movie.GetFileInfo()->length, 25u) << c.sound;
        EXPECT_EQ(reader.FrameCount(), movie.GetFileInfo()->length) << c.sound;
        EXPECT_EQ(reader.HasSound(), c.sample_rate != 0) << c.sound;
        if (c.sample_rate) {
            EXPECT_EQ(reader.Sound().sample_rate, uint32_t(c.sample_rate));
            // Within one coded sound frame of ffmpeg's own decoding.
            const double expected = double(DecodedSound(dir, avi, "s16le").size()) / 2;
            EXPECT_NEAR(double(_snxlib_::SNXSampleFrames(reader.Sound())), expected, 1152) << c.sound;
        }
    }
}

TEST_F(AviJob, AFileCutShortKeepsThePicturesBeforeTheCut) {
    // The header still counts 40 pictures; the job ends at the last one that
    // is there instead of failing the whole movie.
    const std::string avi = MakeCutAvi(dir);
    ASSERT_FALSE(avi.empty());
    std::string reason;
    ASSERT_EQ(Encode(avi, dir / "cut.rvx", &reason), MSG_JOB_DONE) << reason;
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(dir.path() / "cut.rvx"));
    EXPECT_TRUE(reader.Verify());
    EXPECT_GT(reader.FrameCount(), 5u);
    EXPECT_LT(reader.FrameCount(), 40u);
}

TEST_F(AviJob, FilesThatCannotBeEncodedSayWhy) {
    std::ofstream(dir / "text.avi") << "not a movie";
    for (const std::string& path : {std::string(), dir / "text.avi", dir / "missing.avi"}) {
        AviHost host(path, dir / "x.rvx");
        CEncodeFromAVI job(&host, host.request);
        EXPECT_NE(job.Load(), kJobOk) << path;
        EXPECT_TRUE(job.WorkDirectory().empty());
        EXPECT_FALSE(job.FailureReason().empty());
    }
    // Sound alone, and a picture codec nothing here decodes: the file loads
    // and the job fails with the reason.
    const std::string sound_only = MakeSoundOnlyAvi(dir);
    const std::string undecodable = MakeUndecodableAvi(dir);
    ASSERT_FALSE(sound_only.empty() || undecodable.empty());
    std::string reason;
    EXPECT_EQ(Encode(sound_only, dir / "a.rvx", &reason), MSG_JOB_FAILED);
    EXPECT_NE(reason.find("no video stream"), std::string::npos) << reason;
    EXPECT_EQ(Encode(undecodable, dir / "b.rvx", &reason), MSG_JOB_FAILED);
    EXPECT_NE(reason.find("no decoder"), std::string::npos) << reason;
    EXPECT_FALSE(fs::exists(dir / "a.rvx") || fs::exists(dir / "b.rvx"));
}

TEST_F(AviJob, StopMidMovieLeavesNoOutputAndNoWorkDirectory) {
    AviRecipe recipe;
    recipe.video = "-c:v mjpeg -q:v 5";
    recipe.sound = "-c:a pcm_s16le";
    recipe.frames = 100;
    recipe.seconds = 5;
    const std::string avi = MakeAvi(dir, "long.avi", recipe);
    ASSERT_FALSE(avi.empty());
    RecordingWriterSettings::frame_delay_ms = 20;
    AviHost host(avi, dir / "out.rvx");
    auto job = std::make_unique<CEncodeFromAVI>(&host, host.request);
    job->SetWriterFactory(&RecordingWriter::Create);
    ASSERT_EQ(job->Load(), kJobOk);
    const std::string work = job->WorkDirectory();
    EXPECT_TRUE(fs::exists(job->StagedSoundPath()));
    ASSERT_EQ(job->Start(), 1);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (job->FramesDone() < 3 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    ASSERT_GE(job->FramesDone(), 3u);
    job.reset();  // the window releases the job on abort
    EXPECT_FALSE(fs::exists(work));
    EXPECT_FALSE(fs::exists(dir / "out.rvx"));
    for (uint32_t m : host.Messages()) EXPECT_NE(m, MSG_JOB_DONE);
}
