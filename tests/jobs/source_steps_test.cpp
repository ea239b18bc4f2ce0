// The part of the movie, its sound and the picture steps, end to end through
// image-run jobs: PNG runs and WAVE files made by the ffmpeg program, movies
// read back with our own reader.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/memory_host.h"
#include "common/temp_dir.h"
#include "container/rvx_reader.h"
#include "jobs/encode_from_images.h"
#include "jobs/job_messages.h"
#include "jobs/sound_cut.h"
#include "image_frame_sum.h"
#include "recording_writer.h"
#include "rvxlib/encoder/encoder_presets.h"
#include "snxlib/wave_reader.h"
#include "support/graphic_loader.h"
#include "support/stdio_file.h"
#include "support/surface.h"

namespace fs = std::filesystem;

namespace {

void RunTool(const std::string& command) {
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

// `count` moving test pictures a0001.png.. of w x h, each unlike the others;
// `filter` (an ffmpeg filter chain) frames them, e.g. in black bars.
void WriteRun(const TempDir& dir, uint32_t count, uint32_t w = 48, uint32_t h = 32,
              const std::string& filter = "null") {
    RunTool("ffmpeg -v error -y -f lavfi -i testsrc2=s=" + std::to_string(w) + "x" + std::to_string(h) +
        ":r=30 -frames:v " + std::to_string(count) + " -vf " + filter + " " + (dir / "a%04d.png"));
}

void WriteWave(const std::string& path, double seconds, uint32_t rate, uint32_t channels, const char* codec) {
    RunTool("ffmpeg -v error -y -f lavfi -i sine=f=440:r=" + std::to_string(rate) + ":d=" + std::to_string(seconds) +
        " -ac " + std::to_string(channels) + " -c:a " + codec + " " + path);
}

std::vector<std::string> FrameLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("frame ", 0) == 0) lines.push_back(line);
    return lines;
}

SourceTime Frames(uint64_t n) { return {SourceTime::Unit::kFrames, n}; }
SourceTime Micros(uint64_t us) { return {SourceTime::Unit::kMicroseconds, us}; }

struct Job {
    Job(const std::string& image, const std::string& output, const std::string& wave = "")
        : request(StartUpRequest(image, output, wave)) {}
    // Runs the job to its end; the message it ended with.
    uint32_t RunWith(MovieWriterFactory factory) {
        job = std::make_unique<CEncodeFromSeqFile>(&host, request);
        job->SetWriterFactory(factory);
        if (job->Load() != kJobOk) return 0;
        if (job->Start() != 1) return 0;
        return host.WaitForJobEnd(std::chrono::seconds(60));
    }
    uint32_t LastTotal() {
        std::lock_guard<std::mutex> hold(host.mutex);
        for (auto it = host.progress.rbegin(); it != host.progress.rend(); ++it)
            if (it->stage == JobStage::kFrames) return it->total;
        return 0;
    }
    EncodeRequest request;
    MemoryHost host;
    std::unique_ptr<CEncodeFromSeqFile> job;
};

class SourceSteps : public ::testing::Test {
protected:
    TempDir dir{"steps"};
};

}  // namespace

TEST_F(SourceSteps, KeepsThePartAskedInFramesAndInSeconds) {
    WriteRun(dir, 10);
    struct Case {
        const char* name;
        const char* chosen;
        SourceTime start, duration;
        FrameRate rate;
        uint32_t first, count;  // picture numbers kept
    } const cases[] = {
        {"start in frames", "a0001.png", Frames(3), {}, {}, 4, 7},
        {"duration in frames", "a0001.png", {}, Frames(4), {}, 1, 4},
        {"both in frames", "a0001.png", Frames(2), Frames(5), {}, 3, 5},
        {"seconds at the run's 30 per second", "a0001.png", Micros(100000), Micros(200000), {}, 4, 6},
        {"seconds at the chosen rate, rounded", "a0001.png", Micros(300000), Micros(250000), {10, 1}, 4, 3},
        {"a duration past the end keeps the rest", "a0001.png", Frames(8), Frames(100), {}, 9, 2},
        {"counted from the chosen picture", "a0003.png", Frames(2), Frames(3), {}, 5, 3},
        {"the last picture alone", "a0001.png", Frames(9), {}, {}, 10, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = dir / "part.txt";
        Job job(dir / c.chosen, out);
        job.request.settings.source.start = c.start;
        job.request.settings.source.duration = c.duration;
        job.request.settings.frame_rate = c.rate;
        ASSERT_EQ(job.RunWith(&RecordingWriter::Create), MSG_JOB_DONE) << job.job->FailureReason();
        const auto lines = FrameLines(out);
        ASSERT_EQ(lines.size(), c.count);
        for (uint32_t k = 0; k < c.count; ++k) {
            char name[32];
            std::snprintf(name, sizeof name, "a%04u.png", c.first + k);
            EXPECT_EQ(lines[k].rfind(RecordedSumOfImage(dir / name) + " ", 0), 0u) << "frame " << k << " is not " << name;
        }
        EXPECT_EQ(job.LastTotal(), c.count);
        EXPECT_EQ(job.job->FramesDone(), c.count);
    }
}

TEST_F(SourceSteps, TheSoundIsCutToTheKeptFramesToTheSample) {
    WriteRun(dir, 12);
    struct Case {
        const char* name;
        uint32_t rate, channels;
        const char* codec;
        SourceTime start, duration;
        uint64_t first_frame, end_frame;
    } const cases[] = {
        {"16-bit stereo", 8000, 2, "pcm_s16le", Frames(2), Frames(5), 2, 7},
        {"24-bit mono from a time", 11025, 1, "pcm_s24le", Micros(100000), {}, 3, 12},
        {"float, six channels", 22050, 6, "pcm_f32le", {}, Frames(7), 0, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string wave = dir / "sound.wav", out = dir / "cut.rvx";
        WriteWave(wave, 0.5, c.rate, c.channels, c.codec);
        Job job(dir / "a0001.png", out, wave);
        job.request.settings.source.start = c.start;
        job.request.settings.source.duration = c.duration;
        ASSERT_EQ(job.RunWith(&CreateRVXMovieWriter), MSG_JOB_DONE) << job.job->FailureReason();
        CRVXReader reader;
        ASSERT_TRUE(reader.Open(out));
        EXPECT_TRUE(reader.Verify());
        EXPECT_EQ(reader.FrameCount(), c.end_frame - c.first_frame);
        ASSERT_TRUE(reader.HasSound());
        // At 30 pictures a second, to the nearest sample frame; without a
        // duration the sound runs to its own end, as it does uncut.
        StdioFile file(wave, "rb");
        _snxlib_::CWaveReader whole;
        ASSERT_TRUE(whole.Open(file.get()));
        const uint64_t end = c.duration.IsSet() ? (c.end_frame * c.rate + 15) / 30 : whole.TotalSamples() / c.channels;
        const uint64_t samples = end - (c.first_frame * c.rate + 15) / 30;
        EXPECT_EQ(reader.Sound().total_samples, samples * c.channels);
        EXPECT_EQ(reader.Sound().channels, c.channels);
        EXPECT_FALSE(fs::exists(job.job->WorkDirectory() + kCutSoundName));
    }
}

TEST_F(SourceSteps, APartBeyondTheSoundLeavesTheMovieSilent) {
    WriteRun(dir, 12);
    const std::string wave = dir / "short.wav", out = dir / "silent.rvx";
    WriteWave(wave, 0.1, 8000, 1, "pcm_s16le");
    Job job(dir / "a0001.png", out, wave);
    job.request.settings.source.start = Frames(6);
    ASSERT_EQ(job.RunWith(&CreateRVXMovieWriter), MSG_JOB_DONE) << job.job->FailureReason();
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(out));
    EXPECT_TRUE(reader.Verify());
    EXPECT_EQ(reader.FrameCount(), 6u);
    EXPECT_FALSE(reader.HasSound());
}

TEST(SoundCut, CopiesTheSampleFramesOfThePartUnchanged) {
    TempDir dir("cut");
    const std::string wave = dir / "in.wav", out = dir / "out.wav";
    RunTool("ffmpeg -v error -y -f lavfi -i aevalsrc=exprs='sin(40*t)|cos(13*t)':s=48000:d=1 -c:a pcm_s24le " + wave);
    uint64_t samples = 0;
    std::string failure;
    // Frames 3 to 10 at 24000/1001 per second: sample frames 6006 to 20020.
    ASSERT_TRUE(CutSound(wave, out, 3, 10, 24000, 1001, samples, failure)) << failure;
    ASSERT_EQ(samples, 20020u - 6006u);
    StdioFile a(wave, "rb"), b(out, "rb");
    _snxlib_::CWaveReader whole, part;
    ASSERT_TRUE(whole.Open(a.get()) && part.Open(b.get()));
    EXPECT_EQ(part.BitsPerSample(), 24);
    ASSERT_EQ(part.TotalSamples(), samples * 2);
    std::vector<int16_t> expected(20020 * 2), got(samples * 2);
    ASSERT_TRUE(whole.ReadSamples(expected.data(), uint32_t(expected.size())));
    ASSERT_TRUE(part.ReadSamples(got.data(), uint32_t(got.size())));
    EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin() + 6006 * 2));
}

TEST_F(SourceSteps, AutomaticCropTakesTheBlackBarsAway) {
    // 64x36 pictures letterboxed into 64x48, then turned by the settings.
    WriteRun(dir, 8, 64, 36, "pad=64:48:0:6:black");
    for (const uint16_t rotation : {0, 90}) {
        SCOPED_TRACE(rotation);
        const std::string out = dir / "auto.rvx";
        Job job(dir / "a0001.png", out);
        job.request.settings.source.crop = CropMode::kAuto;
        job.request.settings.source.extra_rotation = rotation;
        ASSERT_EQ(job.RunWith(&CreateRVXMovieWriter), MSG_JOB_DONE) << job.job->FailureReason();
        CRVXReader reader;
        ASSERT_TRUE(reader.Open(out));
        EXPECT_EQ(reader.Width(), rotation ? 36u : 64u);
        EXPECT_EQ(reader.Height(), rotation ? 64u : 36u);
        EXPECT_EQ(reader.FrameCount(), 8u);
    }
}

TEST_F(SourceSteps, SettingsThatCannotApplyAreRefusedAndNothingIsWritten) {
    WriteRun(dir, 10, 48, 32);
    struct Case {
        const char* name;
        SourceTime start, duration;
        CropEdges crop;
        uint32_t scale_w;
        const char* reason;
        uint16_t rotation = 0;
    } const cases[] = {
        {"start at the end", Frames(10), {}, {}, 0, "the start (10 frames) lies past the end of the movie (10 frames)"},
        {"start in seconds past the end", Micros(1500000), {}, {}, 0, "the start (1.5 s) lies past the end"},
        {"no duration", {}, Frames(0), {}, 0, "the duration (0 frames) keeps no frame"},
        {"a duration shorter than a frame", {}, Micros(10000), {}, 0, "the duration (0.01 s) keeps no frame"},
        {"crop larger than the picture", {}, {}, {30, 0, 20, 0}, 0, "leaves nothing of the 48x32 picture"},
        {"scale beyond the codec", {}, {}, {}, 40000, "larger than 16384x16384"},
        {"crop counted after turning", {}, {}, {0, 24, 0, 24}, 0, "leaves nothing of the 32x48 picture", 90},
        {"not a quarter turn", {}, {}, {}, 0, "the rotation (45 degrees) is not a quarter turn", 45},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = dir / "refused.rvx";
        const std::string wave = dir / "s.wav";
        WriteWave(wave, 0.2, 8000, 1, "pcm_s16le");
        Job job(dir / "a0001.png", out, wave);
        SourceSettings& source = job.request.settings.source;
        source.start = c.start;
        source.duration = c.duration;
        source.crop = c.crop.Empty() ? CropMode::kNone : CropMode::kEdges;
        source.crop_edges = c.crop;
        source.scale_width = c.scale_w;
        source.extra_rotation = c.rotation;
        EXPECT_EQ(job.RunWith(&CreateRVXMovieWriter), MSG_JOB_FAILED);
        EXPECT_TRUE(job.job->SettingsRefused());
        EXPECT_NE(job.job->FailureReason().find(c.reason), std::string::npos) << job.job->FailureReason();
        EXPECT_EQ(job.job->FramesDone(), 0u);
        EXPECT_FALSE(fs::exists(out));
        const std::string work = job.job->WorkDirectory();
        job.job.reset();
        EXPECT_FALSE(fs::exists(work));
    }
}

TEST_F(SourceSteps, TwoPassesCodeTheSamePartWithTheSameSteps) {
    WriteRun(dir, 24, 64, 48);
    const std::string wave = dir / "s.wav", out = dir / "target.rvx";
    WriteWave(wave, 1.0, 8000, 1, "pcm_s16le");
    // The fast preset measures its first pass on reduced pictures.
    for (const RVXPreset preset : {RVXPreset::kClassic, RVXPreset::kFast}) {
        SCOPED_TRACE(PresetName(preset));
        Job job(dir / "a0001.png", out, wave);
        job.request.settings.target_bytes = 20000;
        job.request.settings.preset = preset;
        SourceSettings& source = job.request.settings.source;
        source.start = Frames(4);
        source.duration = Frames(14);
        source.deinterlace = Deinterlace::kOn;
        source.crop = CropMode::kEdges;
        source.crop_edges = {0, 8, 0, 8};
        ASSERT_EQ(job.RunWith(&CreateRVXMovieWriter), MSG_JOB_DONE) << job.job->FailureReason();
        CRVXReader reader;
        ASSERT_TRUE(reader.Open(out));
        EXPECT_TRUE(reader.Verify());
        EXPECT_EQ(reader.FrameCount(), 14u);
        EXPECT_EQ(reader.Width(), 64u);
        EXPECT_EQ(reader.Height(), 32u);
        EXPECT_EQ(reader.Sound().total_samples, (18u * 8000 + 15) / 30 - (4u * 8000 + 15) / 30);
    }
}
