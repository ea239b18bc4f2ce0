#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "common/memory_host.h"
#include "common/temp_dir.h"
#include "container/quant_matrices.h"
#include "container/rvx_reader.h"
#include "avi_files.h"
#include "jobs/encode_from_avi.h"
#include "jobs/encode_from_directshow.h"
#include "jobs/encode_from_images.h"
#include "jobs/job_messages.h"
#include "jobs/rate_control.h"
#include "rvxlib/format/format_word.h"
#include "support/surface.h"

namespace fs = std::filesystem;

namespace {

// Grain over a slow pan: every frame costs something, and differently.
void WriteGrainRun(const TempDir& dir, int count, int w, int h, int grain = 9) {
    uint32_t seed = 12345;
    for (int frame = 1; frame <= count; ++frame) {
        CPlaneSurface s;
        ASSERT_TRUE(s.CreateWithFormat(w, h, PF_X8R8G8B8));
        ASSERT_TRUE(s.Lock());
        const SurfaceDesc& d = s.Desc();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 4; ++c) {
                    seed = seed * 1103515245u + 12345u;
                    const double wave = 100 * std::sin((x + 2 * frame) * 0.15 + c) * std::cos(y * 0.1);
                    d.bits[y * d.pitch + 4 * x + c] =
                        uint8_t(std::clamp(128 + wave + int((seed >> 16) % grain) - grain / 2, 0.0, 255.0));
                }
        s.Unlock();
        char name[32];
        std::snprintf(name, sizeof name, "g%04d.png", frame);
        ASSERT_TRUE(s.SavePNG(dir / name, nullptr, 0));
    }
}

struct RunResult {
    uint32_t message = 0;
    bool refused = false;
    std::string reason;
    std::string notice;
    bool missed = false;
    uint64_t target = 0, written = 0;
    uint64_t smallest = 0;  // with the target refused
    std::vector<JobProgress> progress;
};

// A host that asks the job to stop when a given pass reaches a given frame.
struct StoppingHost : MemoryHost {
    void SendProgress(const JobProgress& report) override {
        MemoryHost::SendProgress(report);
        if (job && report.stage == JobStage::kFrames && report.pass == stop_pass && report.frame == stop_frame)
            job->RequestStop();
    }
    IThread* job = nullptr;
    uint8_t stop_pass = 0;
    uint32_t stop_frame = 0;
};

RunResult RunImages(const TempDir& dir, const fs::path& output, const EncodeSettings& settings,
                    uint8_t stop_pass = 0, uint32_t stop_frame = 0) {
    StoppingHost host;
    host.stop_pass = stop_pass;
    host.stop_frame = stop_frame;
    EncodeRequest request{dir / "g0001.png", "", output, settings};
    auto job = std::make_unique<CEncodeFromSeqFile>(&host, request);
    host.job = job.get();
    RunResult result;
    EXPECT_EQ(job->Load(), kJobOk) << job->FailureReason();
    EXPECT_EQ(job->Start(), 1);
    result.message = host.WaitForJobEnd();
    result.refused = job->TargetRefused();
    result.reason = job->FailureReason();
    result.notice = job->Notice();
    result.missed = job->TargetMissed();
    result.target = job->TargetBytes();
    result.written = job->WrittenBytes();
    result.smallest = job->SmallestReachableBytes();
    const std::string work = job->WorkDirectory();
    job.reset();
    EXPECT_FALSE(fs::exists(work));
    result.progress = host.progress;
    return result;
}

// A refused target fails the job, says why (naming `word`) and writes nothing.
void ExpectRefusedWithoutOutput(const RunResult& run, const fs::path& output, const char* word) {
    EXPECT_EQ(run.message, MSG_JOB_FAILED);
    EXPECT_TRUE(run.refused);
    EXPECT_NE(run.reason.find(word), std::string::npos) << run.reason;
    EXPECT_FALSE(fs::exists(output));
}

}  // namespace

TEST(RateTarget, SizesAndRatesReadAsAPersonWritesThem) {
    struct Case {
        const char* text;
        bool ok;
        uint64_t bytes;
    } sizes[] = {
        {"123456", true, 123456},    {"50M", true, 50000000},   {"1.5G", true, 1500000000},
        {"700MiB", true, 734003200}, {"64KiB", true, 65536},    {"2GiB", true, 2147483648ull},
        {"800k", true, 800000},      {" 12k ", true, 12000},    {"0", false, 0},
        {"", false, 0},              {"M", false, 0},           {"12 parsecs", false, 0},
        {"-5M", false, 0},           {"99999999999999999999", false, 0},
    };
    for (const Case& c : sizes) {
        SCOPED_TRACE(c.text);
        uint64_t bytes = 0;
        EXPECT_EQ(ParseTargetSize(c.text, &bytes), c.ok);
        if (c.ok) {
            EXPECT_EQ(bytes, c.bytes);
        }
    }
    uint64_t rate = 0;
    EXPECT_TRUE(ParseTargetBitrate("4M", &rate));
    EXPECT_EQ(rate, 4000000u);
    EXPECT_TRUE(ParseTargetBitrate("800k", &rate));
    EXPECT_EQ(rate, 800000u);
    EXPECT_FALSE(ParseTargetBitrate("4MiB", &rate));

    EncodeSettings settings;
    settings.target_bits_per_second = 4000000;
    // 60 frames at 30 per second are two seconds: one megabyte.
    EXPECT_EQ(TargetMovieBytes(settings, 60, 30, 1), 1000000u);
    EXPECT_EQ(TargetMovieBytes(settings, 60, 30000, 1001), 1001000u);
}

TEST(RateTarget, LosslessCodingAndTwoTargetsAreRefused) {
    EncodeSettings settings;
    EXPECT_EQ(RateTargetRefusal(settings), "");
    settings.target_bytes = 1000000;
    EXPECT_EQ(RateTargetRefusal(settings), "");
    settings.transform = OptionRowValue(TransformTable, 1);  // Diff2D
    EXPECT_NE(RateTargetRefusal(settings).find("Diff2D"), std::string::npos);
    settings.transform = OptionRowValue(TransformTable, 0);
    settings.target_bits_per_second = 100000;
    EXPECT_NE(RateTargetRefusal(settings), "");
}

// Two passes over an image run land the whole file near the target, with
// progress that covers both passes and never falls.
TEST(RateTarget, ImageRunLandsNearTheTargetWithProgressOverBothPasses) {
    TempDir dir{"target"};
    WriteGrainRun(dir, 30, 96, 64);
    // Each target is what the preset codes at one fixed quality, so that it
    // is reachable, from fine to coarse. The presets that decide by cost also
    // reach below quality 32 everywhere, by dropping more coefficients.
    struct Case {
        RVXPreset preset;
        uint16_t quality;
        double share;  // of that size
    };
    for (const Case& c : {Case{RVXPreset::kClassic, 10, 1.0}, Case{RVXPreset::kFast, 3, 1.0},
                          Case{RVXPreset::kMedium, 6, 1.0}, Case{RVXPreset::kSlow, 12, 1.0},
                          Case{RVXPreset::kMedium, 32, 0.92}}) {
        const RVXPreset preset = c.preset;
        SCOPED_TRACE(_rvxlib_::PresetName(preset) + std::string(" ") + std::to_string(c.quality));
        EncodeSettings settings;
        settings.preset = preset;
        const fs::path output = dir / "out.rvx";
        uint8_t intra[64], inter[64];
        LoadQuantMatrices(kMatrixSelectorMpeg, intra, inter);
        LoadQuantMatrices(settings.matrix, intra, inter);
        const _rvxlib_::RVXFrameQuantisers fixed = _rvxlib_::QuantisersForLevel(preset, c.quality, intra, inter);
        settings.quality_i = fixed.i;
        settings.quality_p = fixed.p;
        settings.quality_b = fixed.b;
        ASSERT_EQ(RunImages(dir, output, settings).message, MSG_JOB_DONE);
        const uint64_t target = uint64_t(double(fs::file_size(output)) * c.share);
        fs::remove(output);
        settings.target_bytes = target;
        const RunResult run = RunImages(dir, output, settings);
        ASSERT_EQ(run.message, MSG_JOB_DONE) << run.reason;
        EXPECT_NEAR(double(fs::file_size(output)), double(target), 0.01 * double(target));
        CRVXReader reader;
        ASSERT_TRUE(reader.Open(output));
        EXPECT_TRUE(reader.Verify());
        EXPECT_EQ(reader.FrameCount(), 30u);

        double last = 0.0;
        bool passes[3] = {};
        for (const JobProgress& p : run.progress) {
            EXPECT_GE(p.Fraction(), last);
            last = p.Fraction();
            passes[p.pass] = true;
        }
        EXPECT_TRUE(passes[1] && passes[2]);
        EXPECT_FALSE(passes[0]);
        EXPECT_DOUBLE_EQ(last, 1.0);
        fs::remove(output);
    }
}

// The integer DCT keeps no unrounded values, so its levels cannot be chosen
// by cost past quality 32: the plan stays within 32 too. A target it can
// reach lands on it; one below what quality 32 everywhere codes gets that
// movie and says so, rather than a plan the coder silently clamps.
TEST(RateTarget, IntegerDctIsPlannedOnlyUpTo32) {
    TempDir dir{"target"};
    WriteGrainRun(dir, 30, 96, 64);
    struct Case {
        uint16_t quality;
        double share;  // of the size at that quality
        bool reached;
    };
    for (const Case& c : {Case{12, 1.0, true}, Case{32, 0.9, false}}) {
        SCOPED_TRACE(std::to_string(c.quality) + " " + std::to_string(c.share));
        EncodeSettings settings;
        settings.preset = RVXPreset::kMedium;
        settings.transform = _rvxlib_::kTransformWordDct | _rvxlib_::kFormatIntDctEncode;
        uint8_t intra[64], inter[64];
        LoadQuantMatrices(kMatrixSelectorMpeg, intra, inter);
        LoadQuantMatrices(settings.matrix, intra, inter);
        const _rvxlib_::RVXFrameQuantisers fixed =
            _rvxlib_::QuantisersForLevel(settings.preset, c.quality, intra, inter);
        settings.quality_i = fixed.i;
        settings.quality_p = fixed.p;
        settings.quality_b = fixed.b;
        const fs::path output = dir / "out.rvx";
        ASSERT_EQ(RunImages(dir, output, settings).message, MSG_JOB_DONE);
        const uint64_t target = uint64_t(double(fs::file_size(output)) * c.share);
        fs::remove(output);
        settings.target_bytes = target;
        const RunResult run = RunImages(dir, output, settings);
        ASSERT_EQ(run.message, MSG_JOB_DONE) << run.reason;
        if (c.reached) {
            EXPECT_NEAR(double(fs::file_size(output)), double(target), 0.01 * double(target));
            EXPECT_EQ(run.notice, "");
            EXPECT_FALSE(run.missed);
        } else {
            EXPECT_GT(fs::file_size(output), target);
            // Over by a tenth: a miss, with both sizes for the front ends.
            EXPECT_TRUE(run.missed);
            EXPECT_EQ(run.written, fs::file_size(output));
            EXPECT_EQ(run.target, target);
            EXPECT_NE(run.notice.find("larger than asked"), std::string::npos) << run.notice;
            EXPECT_NE(run.notice.find("quality 32 everywhere"), std::string::npos) << run.notice;
        }
        CRVXReader reader;
        ASSERT_TRUE(reader.Open(output));
        EXPECT_TRUE(reader.Verify());
        fs::remove(output);
    }
}

// A target below every macroblock at quality 32 without coefficients is
// refused before any picture is coded, and nothing is written.
TEST(RateTarget, TargetBelowTheSmallestMovieIsRefusedWithoutOutput) {
    TempDir dir{"target"};
    WriteGrainRun(dir, 12, 96, 64);
    EncodeSettings settings;
    // 12 frames of 24 macroblocks: 288 + 24 + 144 bytes of container and
    // 12 payloads of about 60 bytes.
    settings.target_bytes = 900;
    const fs::path output = dir / "out.rvx";
    const RunResult run = RunImages(dir, output, settings);
    ExpectRefusedWithoutOutput(run, output, "smallest");
    for (const JobProgress& p : run.progress) EXPECT_NE(p.stage, JobStage::kFrames);
}

// A target above the smallest a movie of empty macroblocks would be, but
// below what this grainy movie comes to at its coarsest quantisers, is
// refused once the first pass has measured the movie, and nothing is
// written. The size named is one the preset surely cannot go below: asked
// for, the movie comes out at least that large.
TEST(RateTarget, TargetBelowTheMeasuredSmallestIsRefusedAfterTheFirstPass) {
    TempDir dir{"target"};
    WriteGrainRun(dir, 12, 96, 64, 120);
    for (RVXPreset preset : {RVXPreset::kClassic, RVXPreset::kMedium, RVXPreset::kSlow}) {
        SCOPED_TRACE(int(preset));
        EncodeSettings settings;
        settings.preset = preset;
        settings.target_bytes = 2000;
        const fs::path output = dir / "out.rvx";
        const RunResult refused = RunImages(dir, output, settings);
        ExpectRefusedWithoutOutput(refused, output, "first pass");
        ASSERT_GT(refused.smallest, settings.target_bytes);
        settings.target_bytes = refused.smallest;
        const RunResult met = RunImages(dir, output, settings);
        EXPECT_EQ(met.message, MSG_JOB_DONE) << met.reason;
        EXPECT_GE(fs::file_size(output), refused.smallest * 98 / 100);
        fs::remove(output);
    }
}

// Stopping in either pass fails the job, leaves no movie and, once the job
// is gone, no work directory.
TEST(RateTarget, StopInEitherPassLeavesNothing) {
    TempDir dir{"target"};
    WriteGrainRun(dir, 12, 96, 64);
    EncodeSettings settings;
    settings.target_bytes = 12000;
    for (uint8_t pass : {1, 2}) {
        SCOPED_TRACE(int(pass));
        const fs::path output = dir / "out.rvx";
        const RunResult run = RunImages(dir, output, settings, pass, 5);
        EXPECT_EQ(run.message, MSG_JOB_FAILED);
        EXPECT_EQ(run.reason, "stopped");
        EXPECT_FALSE(fs::exists(output));
        EXPECT_EQ(run.progress.back().pass, pass);
    }
}

// A target beyond quality 2 everywhere gets that movie, and says so.
TEST(RateTarget, TargetBeyondTheFinestQualityGivesItAndSaysSo) {
    TempDir dir{"target"};
    WriteGrainRun(dir, 12, 96, 64);
    EncodeSettings settings;
    settings.target_bytes = 50000000;
    const fs::path output = dir / "out.rvx";
    const RunResult run = RunImages(dir, output, settings);
    ASSERT_EQ(run.message, MSG_JOB_DONE) << run.reason;
    EXPECT_NE(run.notice.find("smaller than asked"), std::string::npos) << run.notice;
    EXPECT_NE(run.notice.find("quality 2 everywhere"), std::string::npos) << run.notice;
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(output));
    EXPECT_TRUE(reader.Verify());
}

namespace {

// Runs a job of any kind on a file to its end; the message it ended with.
template <class Job>
uint32_t RunFileJob(const std::string& source, const fs::path& output, const EncodeSettings& settings,
                    std::string* reason) {
    MemoryHost host;
    auto job = std::make_unique<Job>(&host, EncodeRequest{source, "", output, settings});
    if (job->Load() != kJobOk) {
        *reason = job->FailureReason();
        return 0;
    }
    EXPECT_EQ(job->Start(), 1);
    const uint32_t message = host.WaitForJobEnd();
    *reason = job->FailureReason();
    return message;
}

template <class Job>
void ExpectTargetMet(const std::string& source, const TempDir& dir, RVXPreset preset = RVXPreset::kClassic) {
    // The movie of one fixed quality gives a target the source can meet.
    EncodeSettings fixed;
    fixed.preset = preset;
    fixed.quality_i = 10;
    fixed.quality_p = 12;
    fixed.quality_b = 14;
    std::string reason;
    ASSERT_EQ(RunFileJob<Job>(source, dir / "fixed.rvx", fixed, &reason), MSG_JOB_DONE) << reason;
    EncodeSettings settings;
    settings.preset = preset;
    settings.target_bytes = fs::file_size(dir / "fixed.rvx");
    ASSERT_EQ(RunFileJob<Job>(source, dir / "target.rvx", settings, &reason), MSG_JOB_DONE) << reason;
    EXPECT_NEAR(double(fs::file_size(dir / "target.rvx")), double(settings.target_bytes),
                0.03 * double(settings.target_bytes));
    CRVXReader fixed_reader, reader;
    ASSERT_TRUE(fixed_reader.Open(dir / "fixed.rvx"));
    ASSERT_TRUE(reader.Open(dir / "target.rvx"));
    EXPECT_TRUE(reader.Verify());
    EXPECT_EQ(reader.FrameCount(), fixed_reader.FrameCount());
    EXPECT_EQ(reader.HasSound(), fixed_reader.HasSound());
}

}  // namespace

// An AVI file is rewound and a movie opened again for the second pass; both
// keep their sound and every picture.
TEST(RateTarget, AviFilesAndMoviesAreReadTwice) {
    if (!HaveFfmpegProgram()) GTEST_SKIP() << "the ffmpeg program is needed to make the files";
    TempDir dir{"target"};
    AviRecipe recipe;
    recipe.video = "-c:v mjpeg -q:v 3";
    recipe.sound = "-c:a pcm_s16le";
    recipe.width = 96;
    recipe.height = 64;
    recipe.rate = "30";
    recipe.frames = 40;
    recipe.seconds = 2;
    const std::string avi = MakeAvi(dir, "movie.avi", recipe);
    ASSERT_FALSE(avi.empty());
    {
        SCOPED_TRACE("avi");
        ExpectTargetMet<CEncodeFromAVI>(avi, dir);
    }
    {
        // Its pictures come bottom-up, through the flip, into the halved
        // first pass.
        SCOPED_TRACE("avi, medium");
        ExpectTargetMet<CEncodeFromAVI>(avi, dir, RVXPreset::kMedium);
    }
    {
        SCOPED_TRACE("movie");
        ExpectTargetMet<CEncodeFromDirectShow>(avi, dir);
    }
}

namespace {

// The preset's fixed qualities at `level`, as a one-pass encode codes them.
void SetLevel(EncodeSettings* settings, uint16_t level) {
    uint8_t intra[64], inter[64];
    LoadQuantMatrices(kMatrixSelectorMpeg, intra, inter);
    LoadQuantMatrices(settings->matrix, intra, inter);
    const _rvxlib_::RVXFrameQuantisers fixed = _rvxlib_::QuantisersForLevel(settings->preset, level, intra, inter);
    settings->quality_i = fixed.i;
    settings->quality_p = fixed.p;
    settings->quality_b = fixed.b;
}

std::vector<char> FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

// The presets that decide by cost measure the first pass on pictures of half
// the width and height, with short runs at full size to bring the costs
// back: sizes that do not halve into whole macroblocks, and pictures too
// small to halve, land on the target as a full-size first pass does.
TEST(RateTarget, ReducedFirstPassLandsOnTheTargetAtOddSizes) {
    struct Case {
        int width, height;
        RVXPreset preset;
        uint16_t level;
    } cases[] = {
        {72, 40, RVXPreset::kMedium, 6},  {33, 35, RVXPreset::kMedium, 10}, {16, 16, RVXPreset::kMedium, 6},
        {176, 144, RVXPreset::kFast, 8},  {90, 70, RVXPreset::kSlow, 12},   {31, 64, RVXPreset::kMedium, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " " +
                     _rvxlib_::PresetName(c.preset));
        TempDir dir{"target"};
        WriteGrainRun(dir, 40, c.width, c.height);
        EncodeSettings settings;
        settings.preset = c.preset;
        SetLevel(&settings, c.level);
        const fs::path output = dir / "out.rvx";
        ASSERT_EQ(RunImages(dir, output, settings).message, MSG_JOB_DONE);
        const uint64_t target = fs::file_size(output);
        fs::remove(output);
        settings.target_bytes = target;
        const RunResult run = RunImages(dir, output, settings);
        ASSERT_EQ(run.message, MSG_JOB_DONE) << run.reason;
        EXPECT_NEAR(double(fs::file_size(output)), double(target), 0.01 * double(target));
        EXPECT_EQ(run.notice, "");
        CRVXReader reader;
        ASSERT_TRUE(reader.Open(output));
        EXPECT_TRUE(reader.Verify());
        EXPECT_EQ(reader.FrameCount(), 40u);
        EXPECT_EQ(reader.Width(), uint32_t(c.width));
        EXPECT_EQ(reader.Height(), uint32_t(c.height));
    }
}

// The first pass codes its halved pictures and its full-size runs on
// threads of their own, two runs at once: the movie is the same at every
// thread count.
TEST(RateTarget, ReducedFirstPassWritesTheSameMovieAtEveryThreadCount) {
    TempDir dir{"target"};
    WriteGrainRun(dir, 45, 96, 80);
    struct ThreadSetting {
        ~ThreadSetting() { ::unsetenv("RVX_THREADS"); }
    } restore;
    EncodeSettings settings;
    settings.preset = RVXPreset::kMedium;
    settings.target_bytes = 60000;
    std::vector<char> movies[3];
    const char* counts[3] = {"1", "2", "3"};
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(counts[k]);
        ::setenv("RVX_THREADS", counts[k], 1);
        const fs::path output = dir / (std::string("t") + counts[k] + ".rvx");
        const RunResult run = RunImages(dir, output, settings);
        ASSERT_EQ(run.message, MSG_JOB_DONE) << run.reason;
        movies[k] = FileBytes(output);
    }
    ASSERT_GT(movies[0].size(), 1000u);
    EXPECT_TRUE(movies[0] == movies[1]);
    EXPECT_TRUE(movies[0] == movies[2]);
}

// A stop while the halved pictures and the full-size runs are being coded
// (in a run, between runs, on the last frame) fails the job and leaves no
// movie and no work directory (RunImages checks it is gone).
TEST(RateTarget, StopInTheReducedFirstPassLeavesNothing) {
    TempDir dir{"target"};
    WriteGrainRun(dir, 20, 96, 64);
    EncodeSettings settings;
    settings.preset = RVXPreset::kMedium;
    settings.target_bytes = 20000;
    for (uint32_t frame : {1u, 2u, 9u, 17u, 20u}) {
        SCOPED_TRACE(frame);
        const fs::path output = dir / "out.rvx";
        const RunResult run = RunImages(dir, output, settings, 1, frame);
        EXPECT_EQ(run.message, MSG_JOB_FAILED);
        EXPECT_EQ(run.reason, "stopped");
        EXPECT_FALSE(fs::exists(output));
        EXPECT_EQ(run.progress.back().pass, 1);
    }
}
