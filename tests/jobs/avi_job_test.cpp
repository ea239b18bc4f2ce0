#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "avi_files.h"
#include "common/memory_host.h"
#include "container/rvx_reader.h"
#include "jobs/avi_movie.h"
#include "jobs/encode_from_avi.h"
#include "jobs/sound_tracks.h"
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

TEST_F(AviJob, AGappyCaptureCodesEveryEntryWithItsSoundInStep) {
    // 45 entries at 15 fps of which five hold pictures, the last eight empty.
    const std::string avi = MakeGappyAvi(dir, "capture.avi", "15", 45, "not(mod(n,9))+eq(n,44)", true);
    ASSERT_FALSE(avi.empty());
    ASSERT_TRUE(EmptyPictureEntry(avi, 5));
    std::string reason;
    ASSERT_EQ(Encode(avi, dir / "capture.rvx", &reason), MSG_JOB_DONE) << reason;
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(dir.path() / "capture.rvx"));
    EXPECT_TRUE(reader.Verify());
    EXPECT_EQ(reader.FrameCount(), 45u);
    EXPECT_EQ(reader.RateNumerator(), 15u);
    EXPECT_EQ(reader.RateDenominator(), 1u);
    ASSERT_GE(progress.size(), 45u);
    EXPECT_EQ(progress[0], FrameReport(avi, 1, 45));
    EXPECT_EQ(progress[44], FrameReport(avi, 45, 45));
    // Three seconds of pictures, three seconds of sound.
    ASSERT_TRUE(reader.HasSound());
    EXPECT_NEAR(double(_snxlib_::SNXSampleFrames(reader.Sound())) / reader.Sound().sample_rate, 3.0, 0.05);
}

namespace {

// A two-track AVI: a 44.1 kHz tone, then a 22.05 kHz one named "Japanese".
std::string MakeTwoTrackAvi(const TempDir& dir) {
    const std::string path = dir / "two.avi";
    const bool made = RunFfmpeg(ToneInput(1, 44100) + " " + ToneInput(1, 22050) + " " +
                                PatternInput(32, 24, "25", 10) +
                                " -map 2:v -map 0:a -map 1:a -c:v mjpeg -c:a pcm_s16le -metadata:s:a:1 title=Japanese"
                                " -metadata:s:a:1 language=jpn " +
                                ShellQuoted(path));
    return made ? path : std::string();
}

}  // namespace

TEST_F(AviJob, SoundTracksAreListedAndTheChosenOneIsCoded) {
    const std::string avi = MakeTwoTrackAvi(dir);
    ASSERT_FALSE(avi.empty());
    const std::vector<SoundTrackInfo> tracks = AviSoundTracks(avi);
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0].description, "PCM signed 16-bit little-endian, 44.1 kHz, 1 channel");
    // The file format keeps a stream's name but no language.
    EXPECT_EQ(tracks[1].description, "Japanese, PCM signed 16-bit little-endian, 22.1 kHz, 1 channel");
    EXPECT_EQ(tracks[1].language, "");
    EXPECT_TRUE(AviSoundTracks(dir / "missing.avi").empty());

    struct Case {
        uint16_t track;
        uint32_t sample_rate;
    };
    for (const Case& c : {Case{0, 44100}, Case{1, 44100}, Case{2, 22050}}) {
        AviHost host(avi, dir / "out.rvx");
        host.request.settings.source.audio_track = c.track;
        auto job = std::make_unique<CEncodeFromAVI>(&host, host.request);
        ASSERT_EQ(job->Load(), kJobOk) << job->FailureReason();
        ASSERT_EQ(job->Start(), 1);
        ASSERT_EQ(host.WaitForEnd(), MSG_JOB_DONE) << job->FailureReason();
        job.reset();
        CRVXReader reader;
        ASSERT_TRUE(reader.Open(dir.path() / "out.rvx"));
        ASSERT_TRUE(reader.HasSound()) << c.track;
        EXPECT_EQ(reader.Sound().sample_rate, c.sample_rate) << c.track;
        fs::remove(dir / "out.rvx");
    }
    // A track the file does not have is refused before anything is coded.
    for (const std::string& path : {avi, MakeAvi(dir, "silent.avi", AviRecipe{})}) {
        AviHost host(path, dir / "out.rvx");
        host.request.settings.source.audio_track = 3;
        CEncodeFromAVI job(&host, host.request);
        EXPECT_EQ(job.Load(), kJobFail);
        EXPECT_TRUE(job.SettingsRefused());
        const std::string expected = path + " has no sound track 3; it has " + (path == avi ? "2" : "0");
        EXPECT_EQ(job.FailureReason(), expected);
    }
}

namespace {

class SampledAviJob : public CEncodeFromAVI {
public:
    using CEncodeFromAVI::CEncodeFromAVI;
    using CEncodeFromAVI::SamplePictures;
};

}  // namespace

TEST_F(AviJob, SamplePicturesAreSpreadOverTheMovieTopDown) {
    // Raw pictures: every one is a key frame, so each sample is exactly the
    // picture at its place.
    AviRecipe recipe;
    recipe.frames = 40;
    const std::string avi = MakeAvi(dir, "raw.avi", recipe);
    ASSERT_FALSE(avi.empty());
    const std::vector<uint8_t> pattern = PatternBgra(dir, recipe);
    const size_t picture = size_t(recipe.width) * recipe.height * 4;
    ASSERT_EQ(pattern.size(), picture * 40);

    AviHost host(avi, dir / "out.rvx");
    SampledAviJob job(&host, host.request);
    ASSERT_EQ(job.Load(), kJobOk) << job.FailureReason();
    const auto samples = job.SamplePictures(4);
    ASSERT_EQ(samples.size(), 4u);
    const int expected_frames[] = {5, 15, 25, 35};
    for (size_t k = 0; k < samples.size(); ++k) {
        ASSERT_EQ(samples[k].size(), picture) << k;
        EXPECT_TRUE(std::equal(samples[k].begin(), samples[k].end(), pattern.begin() + expected_frames[k] * picture))
            << k;
    }
    EXPECT_TRUE(job.SamplePictures(0).empty());
}

namespace {

// The checksums of the pictures a recording writer's movie lists.
std::vector<std::string> RecordedPictures(const std::string& movie) {
    std::vector<std::string> sums;
    std::ifstream in(movie);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("frame ", 0) == 0) sums.push_back(line);
    return sums;
}

}  // namespace

TEST_F(AviJob, APartOfAGappyFileCodesThePicturesStandingThere) {
    // Entries 3 to 5 are empty; a part from frame 4 starts inside the gap,
    // with the picture of entry 2.
    const std::string avi = MakeGappyAvi(dir, "part.avi", "25", 12, "not(between(n,3,5))", true);
    ASSERT_FALSE(avi.empty());
    std::string reason;
    ASSERT_EQ(Encode(avi, dir / "whole.txt", &reason, &RecordingWriter::Create), MSG_JOB_DONE) << reason;
    const std::vector<std::string> whole = RecordedPictures(dir / "whole.txt");
    ASSERT_EQ(whole.size(), 12u);
    EXPECT_EQ(whole[2], whole[4]);
    EXPECT_NE(whole[5], whole[6]);

    struct Case {
        SourceTime start;
        SourceTime duration;
        uint32_t first;
        uint32_t frames;
    };
    const Case cases[] = {
        {{SourceTime::Unit::kFrames, 4}, {SourceTime::Unit::kFrames, 5}, 4, 5},
        {{SourceTime::Unit::kMicroseconds, 200000}, {}, 5, 7},  // to the end
        {{}, {SourceTime::Unit::kFrames, 3}, 0, 3},
    };
    for (const Case& c : cases) {
        for (const bool recorded : {true, false}) {
            SCOPED_TRACE(std::to_string(c.first) + "+" + std::to_string(c.frames) + (recorded ? " recorded" : ""));
            const std::string output = dir / (recorded ? "part.txt" : "part.rvx");
            AviHost host(avi, output);
            host.request.settings.source.start = c.start;
            host.request.settings.source.duration = c.duration;
            auto job = std::make_unique<CEncodeFromAVI>(&host, host.request);
            if (recorded) job->SetWriterFactory(&RecordingWriter::Create);
            ASSERT_EQ(job->Load(), kJobOk) << job->FailureReason();
            ASSERT_EQ(job->Start(), 1);
            ASSERT_EQ(host.WaitForEnd(), MSG_JOB_DONE) << job->FailureReason();
            job.reset();
            const auto last_frame = std::find_if(host.progress.rbegin(), host.progress.rend(),
                                                 [](const JobProgress& p) { return p.stage == JobStage::kFrames; });
            ASSERT_NE(last_frame, host.progress.rend());
            EXPECT_EQ(*last_frame, FrameReport(avi, c.frames, c.frames));
            if (recorded) {
                EXPECT_EQ(RecordedPictures(output), std::vector<std::string>(whole.begin() + c.first,
                                                                             whole.begin() + c.first + c.frames));
                continue;
            }
            CRVXReader reader;
            ASSERT_TRUE(reader.Open(output));
            EXPECT_TRUE(reader.Verify());
            EXPECT_EQ(reader.FrameCount(), c.frames);
            ASSERT_TRUE(reader.HasSound());
            EXPECT_NEAR(double(_snxlib_::SNXSampleFrames(reader.Sound())) / reader.Sound().sample_rate,
                        c.frames / 25.0, 0.03);
            fs::remove(output);
        }
    }
}
