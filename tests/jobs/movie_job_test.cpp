#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "common/memory_host.h"
#include "common/temp_dir.h"
#include "common/test_movies.h"
#include "container/rvx_reader.h"
#include "jobs/encode_from_directshow.h"
#include "jobs/job_messages.h"
#include "jobs/staged_sound.h"
#include "recording_writer.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct MovieHost : MemoryHost {
    MovieHost(const std::string& movie, const std::string& output) : request(StartUpRequest(movie, output)) {}
    uint32_t WaitForEnd(std::chrono::milliseconds limit = 60s) { return WaitForJobEnd(limit); }
    EncodeRequest request;
};

class MovieJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveFfmpegProgram()) GTEST_SKIP() << "the ffmpeg program is not installed (scripts/setup)";
    }
    // A 160x120 movie of `seconds` at `rate`, optionally with a tone, coded
    // by the codec arguments into `name`.
    std::string MakeMovie(const std::string& name, const std::string& rate, double seconds, const std::string& codecs,
                          bool sound = true, int sample_rate = 44100) {
        const std::string path = dir_ / name;
        // The tone comes first: the pattern's length limit must not end the sound early.
        const std::string inputs = (sound ? ToneInput(seconds, sample_rate) + " " : std::string()) +
                                   "-f lavfi -i testsrc2=size=160x120:rate=" + rate +
                                   ":duration=" + std::to_string(seconds);
        EXPECT_TRUE(RunFfmpeg(inputs + " " + codecs + " " + ShellQuoted(path))) << name;
        return path;
    }

    TempDir dir_{"movie"};
};

struct MovieCase {
    const char* name;
    const char* codecs;
    const char* rate;
    uint32_t frames;
    uint32_t rate_numerator;
};

TEST_F(MovieJobTest, EachContainerEncodesEveryPictureAtItsRateWithItsSound) {
    const MovieCase cases[] = {
        {"h264.mp4", "-c:v libx264 -pix_fmt yuv420p -c:a aac", "30000/1001", 60, 29970},
        {"h264.mkv", "-c:v libx264 -pix_fmt yuv420p -c:a aac", "25", 50, 25000},
        {"vp8.webm", "-c:v libvpx -b:v 400k -c:a libvorbis", "30", 60, 30000},
        {"vp9.webm", "-c:v libvpx-vp9 -b:v 400k -c:a libopus", "25", 50, 25000},
        {"mpeg2.mpg", "-c:v mpeg2video -c:a mp2 -f vob", "25", 50, 25000},
    };
    for (const MovieCase& c : cases) {
        SCOPED_TRACE(c.name);
        const double seconds = c.frames * (c.rate_numerator == 29970 ? 1001.0 / 30000 : 1000.0 / c.rate_numerator);
        const int sample_rate = std::string(c.codecs).find("opus") != std::string::npos ? 48000 : 44100;
        const std::string movie = MakeMovie(c.name, c.rate, seconds, c.codecs, true, sample_rate);
        const std::string output = dir_ / (std::string(c.name) + ".rvx");
        MovieHost host(movie, output);
        auto job = std::make_unique<CEncodeFromDirectShow>(&host, host.request);
        ASSERT_EQ(job->Load(), kJobOk) << job->FailureReason();
        EXPECT_TRUE(job->HasSound());
        EXPECT_NEAR(job->TotalFrames(), c.frames, 1u);
        EXPECT_EQ(job->RateNumerator(), c.rate_numerator);
        EXPECT_EQ(job->RateDenominator(), 1000u);
        const fs::path work = job->WorkDirectory();
        ASSERT_EQ(job->Start(), 1);
        ASSERT_EQ(host.WaitForEnd(), MSG_JOB_DONE) << job->FailureReason();
        EXPECT_FALSE(fs::exists(work / kStagedSoundName));  // handed over and deleted
        job.reset();
        EXPECT_FALSE(fs::exists(work));

        CRVXReader reader;
        ASSERT_TRUE(reader.Open(output));
        EXPECT_TRUE(reader.Verify());
        EXPECT_EQ(reader.FrameCount(), c.frames);
        EXPECT_EQ(reader.Width(), 160u);
        EXPECT_EQ(reader.Height(), 120u);
        EXPECT_EQ(reader.RateNumerator(), c.rate_numerator);
        EXPECT_EQ(reader.RateDenominator(), 1000u);
        ASSERT_TRUE(reader.HasSound());
        EXPECT_EQ(reader.Sound().sample_rate, static_cast<uint32_t>(sample_rate));
        EXPECT_EQ(reader.Sound().channels, 1u);
        // Codec delay and padding move the end by a few milliseconds only.
        EXPECT_NEAR(double(_snxlib_::SNXSampleFrames(reader.Sound())) / sample_rate, seconds, 0.06);
    }
}

TEST_F(MovieJobTest, MovieWithoutSoundIsEncodedWithoutStagingAnySound) {
    const std::string movie = MakeMovie("silent.mp4", "25", 1.2, "-c:v libx264 -pix_fmt yuv420p", false);
    MovieHost host(movie, dir_ / "silent.rvx");
    auto job = std::make_unique<CEncodeFromDirectShow>(&host, host.request);
    ASSERT_EQ(job->Load(), kJobOk) << job->FailureReason();
    EXPECT_FALSE(job->HasSound());
    EXPECT_FALSE(fs::exists(fs::path(job->WorkDirectory()) / kStagedSoundName));
    ASSERT_EQ(job->Start(), 1);
    ASSERT_EQ(host.WaitForEnd(), MSG_JOB_DONE) << job->FailureReason();
    job.reset();
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(dir_ / "silent.rvx"));
    EXPECT_EQ(reader.FrameCount(), 30u);
    EXPECT_FALSE(reader.HasSound());
}

TEST_F(MovieJobTest, PicturesWithAlphaArriveAsARGBAndOpaqueOnesAsRGB) {
    const std::string alpha = dir_ / "alpha.mkv", opaque = dir_ / "opaque.mkv";
    ASSERT_TRUE(RunFfmpeg(PatternInput(64, 48, "25", 5) + " -vf \"format=bgra,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='4*X'\"" +
                          " -c:v ffv1 -pix_fmt bgra " + ShellQuoted(alpha)));
    ASSERT_TRUE(RunFfmpeg(PatternInput(64, 48, "25", 5) + " -c:v ffv1 -pix_fmt bgr0 " + ShellQuoted(opaque)));
    for (const auto& [movie, layout] : {std::pair{alpha, "picture 64x48 3"}, std::pair{opaque, "picture 64x48 2"}}) {
        SCOPED_TRACE(movie);
        MovieHost host(movie, movie + ".txt");
        auto job = std::make_unique<CEncodeFromDirectShow>(&host, host.request);
        job->SetWriterFactory(&RecordingWriter::Create);
        ASSERT_EQ(job->Load(), kJobOk) << job->FailureReason();
        ASSERT_EQ(job->Start(), 1);
        ASSERT_EQ(host.WaitForEnd(20s), MSG_JOB_DONE) << job->FailureReason();
        std::ifstream in(movie + ".txt");
        std::string line;
        std::getline(in, line);
        EXPECT_EQ(line.rfind(layout, 0), 0u) << line;
        std::getline(in, line);
        EXPECT_EQ(line, "rate 25000/1000");
        if (movie == alpha) {
            std::getline(in, line);  // first pixel: B, G, R and the alpha of column 0
            EXPECT_EQ(line.substr(line.rfind(',')), ",0") << line;
        }
    }
}

TEST_F(MovieJobTest, StopEndsDecodingBeforeTheFailureIsPostedAndLeavesNothing) {
    RecordingWriterSettings::frame_delay_ms = 20;  // about 6 s for the whole movie
    const std::string movie = MakeMovie("long.mkv", "25", 12, "-c:v libx264 -pix_fmt yuv420p -c:a aac");
    const std::string output = dir_ / "long.rvx";
    MovieHost host(movie, output);
    auto job = std::make_unique<CEncodeFromDirectShow>(&host, host.request);
    job->SetWriterFactory(&RecordingWriter::Create);
    ASSERT_EQ(job->Load(), kJobOk) << job->FailureReason();
    const fs::path work = job->WorkDirectory();
    ASSERT_EQ(job->Start(), 1);
    for (int i = 0; i < 5000 && job->FramesDone() < 10; ++i) std::this_thread::sleep_for(1ms);
    ASSERT_GE(job->FramesDone(), 10u);

    const auto asked = std::chrono::steady_clock::now();
    job->RequestStop();
    ASSERT_EQ(host.WaitForEnd(5s), MSG_JOB_FAILED);
    // One frame may still be in the encoder when the stop comes, no more.
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 50ms + 200ms);
    const uint32_t frames_at_failure = job->FramesDone();
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(job->FramesDone(), frames_at_failure);  // the pipeline no longer delivers
    EXPECT_LT(frames_at_failure, 300u);
    job.reset();
    RecordingWriterSettings::frame_delay_ms = 0;
    EXPECT_FALSE(fs::exists(output));
    EXPECT_FALSE(fs::exists(work));
}

TEST_F(MovieJobTest, FilesThatAreNoPlayableMovieFailTheLoadWithAReason) {
    const std::string noise = dir_ / "noise.mpg";
    {
        std::ofstream out(noise, std::ios::binary);
        for (int i = 0; i < 20000; ++i) out.put(static_cast<char>((i * 7919) >> 3));
    }
    // An MP4 cut before its index has no streams to play at all.
    const std::string whole = MakeMovie("whole.mp4", "25", 2, "-c:v libx264 -pix_fmt yuv420p -c:a aac");
    const std::string cut = dir_ / "cut.mp4";
    fs::copy_file(whole, cut);
    fs::resize_file(cut, fs::file_size(whole) / 2);
    const std::string sound_only = dir_ / "tone.m4a";
    ASSERT_TRUE(RunFfmpeg(ToneInput(1) + " -c:a aac " + ShellQuoted(sound_only)));

    // A bare JPEG stream carries neither a rate nor picture times.
    const std::string no_rate = dir_ / "bare.mjpeg";
    ASSERT_TRUE(RunFfmpeg(PatternInput(160, 120, "25", 10) + " -c:v mjpeg -f mjpeg " + ShellQuoted(no_rate)));

    const std::pair<std::string, std::string> cases[] = {
        {noise, noise + ": "},
        {no_rate, "does not tell its frame rate"},
        {cut, cut + ": "},
        {sound_only, "no picture stream"},
        {dir_ / "missing.mp4", "no such file"},
        {"", "no movie file"},
    };
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path);
        MovieHost host(path, dir_ / "x.rvx");
        const auto started = std::chrono::steady_clock::now();
        auto job = std::make_unique<CEncodeFromDirectShow>(&host, host.request);
        EXPECT_EQ(job->Load(), kJobFail);
        EXPECT_NE(job->FailureReason().find(reason), std::string::npos) << job->FailureReason();
        EXPECT_GT(job->FailureReason().size(), reason.size() + (path == noise || path == cut ? 5 : 0));
        EXPECT_TRUE(job->WorkDirectory().empty());
        job.reset();
        // Never a hang: at worst the load gives up at its own 20 s bound (a
        // cut file on a loaded machine has been seen to stall the demuxer
        // without an error until then).
        EXPECT_LT(std::chrono::steady_clock::now() - started, 25s);
    }
}

TEST_F(MovieJobTest, DamagedMovieEncodesWhatDecodesOrFailsWithAReason) {
    const std::string whole = MakeMovie("whole.mpg", "25", 4, "-c:v mpeg2video -c:a mp2 -f vob");
    const std::string cut = dir_ / "cut.mpg";
    fs::copy_file(whole, cut);
    fs::resize_file(cut, fs::file_size(whole) / 3);
    const std::string garbled = dir_ / "garbled.mp4";
    fs::copy_file(MakeMovie("clean.mp4", "25", 4, "-c:v libx264 -pix_fmt yuv420p -c:a aac"), garbled);
    {
        std::fstream f(garbled, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(fs::file_size(garbled) / 3));
        for (int i = 0; i < 6000; ++i) f.put(static_cast<char>(i * 37));
    }
    for (const std::string& movie : {cut, garbled}) {
        SCOPED_TRACE(movie);
        const std::string output = movie + ".rvx";
        MovieHost host(movie, output);
        auto job = std::make_unique<CEncodeFromDirectShow>(&host, host.request);
        if (job->Load() != kJobOk) {
            EXPECT_FALSE(job->FailureReason().empty());
            continue;
        }
        ASSERT_EQ(job->Start(), 1);
        const uint32_t end = host.WaitForEnd();
        ASSERT_NE(end, 0u) << "the job hung";
        if (end == MSG_JOB_FAILED) {
            EXPECT_FALSE(job->FailureReason().empty());
            EXPECT_FALSE(fs::exists(output));
            continue;
        }
        CRVXReader reader;
        ASSERT_TRUE(reader.Open(output));
        EXPECT_TRUE(reader.Verify());
        EXPECT_GT(reader.FrameCount(), 0u);
        EXPECT_LE(reader.FrameCount(), 100u);
    }
}

TEST_F(MovieJobTest, PipelineErrorMidMovieEndsTheJobWithTheErrorText) {
    // Two program streams back to back: the pictures grow from 160x120 to
    // 320x240 after one second, which the encoder opened for the first size
    // cannot take.
    const std::string first = dir_ / "small.mpg", second = dir_ / "large.mpg", joined = dir_ / "joined.mpg";
    ASSERT_TRUE(RunFfmpeg(PatternInput(160, 120, "25", 25) + " -c:v mpeg2video -f mpeg " + ShellQuoted(first)));
    ASSERT_TRUE(RunFfmpeg(PatternInput(320, 240, "25", 25) + " -c:v mpeg2video -f mpeg " + ShellQuoted(second)));
    {
        std::ofstream out(joined, std::ios::binary);
        out << std::ifstream(first, std::ios::binary).rdbuf() << std::ifstream(second, std::ios::binary).rdbuf();
    }
    MovieHost host(joined, dir_ / "joined.rvx");
    auto job = std::make_unique<CEncodeFromDirectShow>(&host, host.request);
    ASSERT_EQ(job->Load(), kJobOk) << job->FailureReason();
    ASSERT_EQ(job->Start(), 1);
    ASSERT_EQ(host.WaitForEnd(20s), MSG_JOB_FAILED);
    EXPECT_NE(job->FailureReason().find("picture size changed"), std::string::npos) << job->FailureReason();
    EXPECT_LE(job->FramesDone(), 25u);
    EXPECT_FALSE(fs::exists(dir_ / "joined.rvx"));
}

TEST_F(MovieJobTest, EncodeFailureEndsTheMovieAsAFailureWithTheFramesReason) {
    // Early in the movie, and at its last picture, when the end of the stream
    // may already be on its way behind the refused picture.
    const std::string movie = MakeMovie("ok.mp4", "25", 2, "-c:v libx264 -pix_fmt yuv420p -c:a aac");
    for (const int fail_at : {7, 49}) {
        SCOPED_TRACE(fail_at);
        RecordingWriterSettings::fail_at_frame = fail_at;
        MovieHost host(movie, dir_ / "ok.rvx");
        auto job = std::make_unique<CEncodeFromDirectShow>(&host, host.request);
        job->SetWriterFactory(&RecordingWriter::Create);
        ASSERT_EQ(job->Load(), kJobOk) << job->FailureReason();
        ASSERT_EQ(job->Start(), 1);
        const uint32_t end = host.WaitForEnd(20s);
        RecordingWriterSettings::fail_at_frame = -1;
        ASSERT_EQ(end, MSG_JOB_FAILED);
        EXPECT_NE(job->FailureReason().find("frame " + std::to_string(fail_at + 1)), std::string::npos)
            << job->FailureReason();
        EXPECT_EQ(job->FramesDone(), static_cast<uint32_t>(fail_at));
        EXPECT_FALSE(fs::exists(dir_ / "ok.rvx"));
    }
}

}  // namespace
