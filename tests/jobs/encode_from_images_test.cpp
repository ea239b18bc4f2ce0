#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>
#include <tuple>
#include <vector>

#include "common/memory_host.h"
#include "common/png_writer.h"
#include "common/temp_dir.h"
#include "jobs/encode_from_images.h"
#include "container/rvx_reader.h"
#include "jobs/job_messages.h"
#include "jobs/staged_sound.h"
#include "image_frame_sum.h"
#include "recording_writer.h"
#include "support/graphic_loader.h"
#include "support/surface.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A picture whose every pixel depends on its position and the frame number.
void WriteImage(const std::string& path, int w, int h, int frame, uint32_t format = PF_X8R8G8B8) {
    CPlaneSurface s;
    ASSERT_TRUE(s.CreateWithFormat(w, h, format));
    ASSERT_TRUE(s.Lock());
    const SurfaceDesc& d = s.Desc();
    const int bytes = format == PF_A8 ? 1 : 4;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * bytes; ++x) d.bits[y * d.pitch + x] = static_cast<uint8_t>(x * 7 + y * 3 + frame * 11);
    s.Unlock();
    ASSERT_TRUE(s.SavePNG(path, nullptr, 0));
}

void WriteRun(const TempDir& dir, const char* stem, int first, int count, int w = 24, int h = 16) {
    for (int i = first; i < first + count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%04d.png", stem, i);
        WriteImage(dir / name, w, h, i);
    }
}

// Half a second of a mono 8 kHz sawtooth.
void WriteTone(const std::string& path) {
    CStagedSoundFile wave;
    ASSERT_TRUE(wave.Create(path));
    PcmFormat f;
    f.channels = 1;
    f.samples_per_second = 8000;
    f.block_alignment = 2;
    f.average_bytes_per_second = 16000;
    f.bits_per_sample = 16;
    ASSERT_TRUE(wave.WriteHeader(f));
    std::vector<int16_t> samples(4000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>((i * 37) % 2000 - 1000);
    ASSERT_TRUE(wave.Append(samples.data(), samples.size() * 2));
    ASSERT_TRUE(wave.Complete());
}

// A host with the request the window makes for the image page.
struct JobHost : MemoryHost {
    JobHost(const std::string& image, const std::string& output, const std::string& wave = "")
        : request(StartUpRequest(image, output, wave)) {}
    uint32_t WaitForEnd() { return WaitForJobEnd(std::chrono::seconds(10)); }
    EncodeRequest request;
};

// The recording writer shows which pixels arrive and can be made slow or
// failing; the real writer proves the movie.
std::unique_ptr<CEncodeFromSeqFile> LoadedJob(JobHost& host, MovieWriterFactory factory = &RecordingWriter::Create) {
    auto job = std::make_unique<CEncodeFromSeqFile>(&host, host.request);
    job->SetWriterFactory(factory);
    EXPECT_EQ(job->Load(), kJobOk) << job->FailureReason();
    return job;
}

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class ImageJob : public ::testing::Test {
protected:
    void TearDown() override {
        RecordingWriterSettings::frame_delay_ms = 0;
        RecordingWriterSettings::fail_at_frame = -1;
    }
    TempDir dir{"images"};
};

}  // namespace

TEST_F(ImageJob, EncodesFromTheChosenNumberToTheEndOfTheRun) {
    WriteRun(dir, "a", 1, 9);
    JobHost host(dir / "a0005.png", dir / "out.rvx");
    host.request.settings.frame_rate = ChosenFrameRate(2, "", "");  // 59.94fps
    auto job = LoadedJob(host, &CreateRVXMovieWriter);
    EXPECT_EQ(job->FirstNumber(), 5u);
    EXPECT_EQ(job->EndNumber(), 10u);
    const std::string work = job->WorkDirectory();
    EXPECT_TRUE(fs::is_directory(work));
    ASSERT_EQ(job->Start(), 1);
    ASSERT_EQ(host.WaitForEnd(), MSG_JOB_DONE) << job->FailureReason();
    job.reset();
    EXPECT_FALSE(fs::exists(work));

    CRVXReader reader;
    ASSERT_TRUE(reader.Open(dir.path() / "out.rvx"));
    EXPECT_TRUE(reader.Verify());
    EXPECT_EQ(reader.FrameCount(), 5u);
    EXPECT_EQ(reader.Width(), 24u);
    EXPECT_EQ(reader.RateNumerator(), 60000u);
    EXPECT_EQ(reader.RateDenominator(), 1001u);
    EXPECT_EQ(reader.FormatFlags() & 0xFFFF, 0x2003u);  // YUV411, DCT
    EXPECT_FALSE(reader.HasSound());
    // Progress names each image and counts 1..5; the last report is the output.
    ASSERT_GE(host.progress.size(), 6u);
    EXPECT_EQ(host.progress[0], FrameReport(dir / "a0005.png", 1, 5));
    EXPECT_EQ(host.progress[4], FrameReport(dir / "a0009.png", 5, 5));
    EXPECT_DOUBLE_EQ(host.progress[0].Fraction(), 0.2);
    EXPECT_EQ(host.progress.back(), (JobProgress{JobStage::kWriting, 0, 0, dir / "out.rvx"}));
}

TEST_F(ImageJob, SoundIsEncodedAfterTheFramesAndABadWaveIsLeftOut) {
    WriteRun(dir, "s", 1, 3);
    std::ofstream(dir / "bad.wav", std::ios::binary) << "RIFF....AVI ";
    WriteTone(dir / "music.wav");
    {
        JobHost host(dir / "s0001.png", dir / "with.rvx", dir / "music.wav");
        host.request.settings.sound_method = OptionRowValue(SoundMethodTable, 2);  // MDCT-High
        auto job = LoadedJob(host, &CreateRVXMovieWriter);
        ASSERT_EQ(job->Start(), 1);
        ASSERT_EQ(host.WaitForEnd(), MSG_JOB_DONE) << job->FailureReason();
        CRVXReader reader;
        ASSERT_TRUE(reader.Open(dir.path() / "with.rvx"));
        EXPECT_TRUE(reader.Verify());
        EXPECT_TRUE(reader.HasSound());
        EXPECT_EQ(reader.HeaderWord(rvx_layout::kOffsetSoundSampleRate), 8000u);
    }
    {
        JobHost host(dir / "s0001.png", dir / "without.rvx", dir / "bad.wav");
        auto job = LoadedJob(host, &CreateRVXMovieWriter);
        EXPECT_TRUE(job->SoundPath().empty());
        ASSERT_EQ(job->Start(), 1);
        ASSERT_EQ(host.WaitForEnd(), MSG_JOB_DONE) << job->FailureReason();
        CRVXReader reader;
        ASSERT_TRUE(reader.Open(dir.path() / "without.rvx"));
        EXPECT_FALSE(reader.HasSound());
    }
}

TEST_F(ImageJob, LoadFailsWithoutAReadableFirstImage) {
    std::ofstream(dir / "junk0001.png") << "not a picture";
    for (const char* name : {"junk0001.png", "missing0001.png"}) {
        JobHost host(dir / name, dir / "x.rvx");
        CEncodeFromSeqFile job(&host, host.request);
        EXPECT_NE(job.Load(), kJobOk) << name;
        EXPECT_TRUE(job.WorkDirectory().empty());
        EXPECT_FALSE(job.FailureReason().empty());
    }
}

TEST_F(ImageJob, AnImageOfAnotherSizeFailsTheJobWithoutOutput) {
    WriteRun(dir, "m", 1, 3);
    WriteImage(dir / "m0004.png", 8, 8, 4);  // smaller than the others
    WriteRun(dir, "m", 5, 2);
    JobHost host(dir / "m0001.png", dir / "out.rvx");
    auto job = LoadedJob(host);
    const std::string work = job->WorkDirectory();
    ASSERT_EQ(job->Start(), 1);
    EXPECT_EQ(host.WaitForEnd(), MSG_JOB_FAILED);
    EXPECT_NE(job->FailureReason().find("m0004.png"), std::string::npos) << job->FailureReason();
    job.reset();
    EXPECT_FALSE(fs::exists(dir / "out.rvx"));
    EXPECT_FALSE(fs::exists(work));
}

TEST_F(ImageJob, AFrameTheWriterRefusesFailsTheJob) {
    WriteRun(dir, "w", 1, 4);
    RecordingWriterSettings::fail_at_frame = 2;
    JobHost host(dir / "w0001.png", dir / "out.rvx");
    auto job = LoadedJob(host);
    ASSERT_EQ(job->Start(), 1);
    EXPECT_EQ(host.WaitForEnd(), MSG_JOB_FAILED);
    EXPECT_FALSE(fs::exists(dir / "out.rvx"));
}

TEST_F(ImageJob, GreyRunsCarryTheGreyLevelInEveryByte) {
    for (int i = 1; i <= 2; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "g%04d.png", i);
        WriteImage(dir / name, 10, 6, i, PF_A8);
    }
    std::string first_run;
    for (int round = 0; round < 2; ++round) {
        const std::string out = dir / ("grey" + std::to_string(round) + ".rvx");
        JobHost host(dir / "g0001.png", out);
        auto job = LoadedJob(host);
        ASSERT_EQ(job->Start(), 1);
        ASSERT_EQ(host.WaitForEnd(), MSG_JOB_DONE) << job->FailureReason();
        job.reset();
        const auto lines = Lines(out);
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[0], "picture 10x6 30002003");
        // Pixel (0,0) of frame 1 has grey level 11.
        EXPECT_NE(lines[2].find(" 11,11,11,11"), std::string::npos) << lines[2];
        std::ostringstream all;
        for (auto& l : lines) all << l << "\n";
        if (round == 0)
            first_run = all.str();
        else
            EXPECT_EQ(all.str(), first_run);
    }
}

TEST_F(ImageJob, StopMidRunLeavesNoOutputAndNoWorkDirectory) {
    WriteRun(dir, "r", 1, 40);
    RecordingWriterSettings::frame_delay_ms = 20;
    JobHost host(dir / "r0001.png", dir / "out.rvx");
    auto job = LoadedJob(host);
    const std::string work = job->WorkDirectory();
    ASSERT_EQ(job->Start(), 1);
    while (job->FramesDone() < 3) std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(fs::is_empty(work));  // frame files are there
    job.reset();  // the window releases the job on abort
    EXPECT_EQ(host.Messages().back(), MSG_JOB_FAILED);
    EXPECT_FALSE(fs::exists(dir / "out.rvx"));
    EXPECT_FALSE(fs::exists(dir / "out.rvx.part"));
    EXPECT_FALSE(fs::exists(work));
}

TEST_F(ImageJob, TwoJobsRunSideBySide) {
    WriteRun(dir, "p", 1, 6);
    WriteRun(dir, "q", 1, 4, 16, 8);
    JobHost host_p(dir / "p0001.png", dir / "p.rvx"), host_q(dir / "q0001.png", dir / "q.rvx");
    auto job_p = LoadedJob(host_p, &CreateRVXMovieWriter);
    auto job_q = LoadedJob(host_q, &CreateRVXMovieWriter);
    // Both write frame files of the same names; they must not meet.
    EXPECT_NE(job_p->WorkDirectory(), job_q->WorkDirectory());
    ASSERT_EQ(job_p->Start(), 1);
    ASSERT_EQ(job_q->Start(), 1);
    EXPECT_EQ(host_p.WaitForEnd(), MSG_JOB_DONE) << job_p->FailureReason();
    EXPECT_EQ(host_q.WaitForEnd(), MSG_JOB_DONE) << job_q->FailureReason();
    for (auto [name, frames, width] : {std::tuple{"p.rvx", 6u, 24u}, std::tuple{"q.rvx", 4u, 16u}}) {
        CRVXReader reader;
        ASSERT_TRUE(reader.Open(dir.path() / name));
        EXPECT_TRUE(reader.Verify()) << name;
        EXPECT_EQ(reader.FrameCount(), frames);
        EXPECT_EQ(reader.Width(), width);
    }
}

TEST_F(ImageJob, JapaneseAndPercentFolderNamesWork) {
    const fs::path folder = dir.path() / "動画 100%";
    fs::create_directory(folder);
    for (int i = 1; i <= 3; ++i) WriteImage((folder / ("コマ" + std::to_string(i) + ".png")).string(), 8, 8, i);
    JobHost host((folder / "コマ1.png").string(), (folder / "出力.rvx").string());
    auto job = LoadedJob(host);
    ASSERT_EQ(job->Start(), 1);
    ASSERT_EQ(host.WaitForEnd(), MSG_JOB_DONE) << job->FailureReason();
    // Only the last digit run counts: the run is コマ1..コマ3, the folder stays.
    EXPECT_EQ(Lines((folder / "出力.rvx").string()).size(), 5u);
    EXPECT_EQ(host.progress[2].name, (folder / "コマ3.png").string());
}

// Reading images ahead, coding groups and the sound beside the arriving
// pictures and sharing rows among threads must not change a byte: the same
// run encoded on one thread and on several gives the same movie. The run is
// longer than the loader's slots and holds several groups.
TEST_F(ImageJob, OneThreadAndSeveralWriteTheSameMovie) {
    WriteRun(dir, "t", 1, 40, 72, 56);
    WriteTone(dir / "tone.wav");
    struct ThreadSetting {
        ~ThreadSetting() { ::unsetenv("RVX_THREADS"); }
    } restore;
    std::vector<char> movies[3];
    const char* counts[3] = {"1", "2", "3"};
    for (int k = 0; k < 3; ++k) {
        ::setenv("RVX_THREADS", counts[k], 1);
        std::string file = "t";
        file += counts[k];
        file += ".rvx";
        const std::string out = dir / file;
        JobHost host(dir / "t0001.png", out, dir / "tone.wav");
        auto job = LoadedJob(host, &CreateRVXMovieWriter);
        ASSERT_EQ(job->Start(), 1);
        ASSERT_EQ(host.WaitForEnd(), MSG_JOB_DONE) << job->FailureReason();
        job.reset();
        std::ifstream in(out, std::ios::binary);
        movies[k].assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_GT(movies[0].size(), 1000u);
    EXPECT_TRUE(movies[0] == movies[1]);
    EXPECT_TRUE(movies[0] == movies[2]);
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(dir / "t2.rvx"));
    EXPECT_TRUE(reader.Verify());
    EXPECT_TRUE(reader.HasSound());
}

// The loader stops at an unusable image far into the run (beyond its slots)
// and the job fails with that image's name, whatever the thread count.
TEST_F(ImageJob, AnUnusableImageFarIntoTheRunFailsTheJobAtEveryThreadCount) {
    WriteRun(dir, "u", 1, 20);
    WriteImage(dir / "u0021.png", 8, 8, 21);
    WriteRun(dir, "u", 22, 3);
    struct ThreadSetting {
        ~ThreadSetting() { ::unsetenv("RVX_THREADS"); }
    } restore;
    for (const char* threads : {"1", "2"}) {
        ::setenv("RVX_THREADS", threads, 1);
        JobHost host(dir / "u0001.png", dir / "out.rvx");
        auto job = LoadedJob(host);
        ASSERT_EQ(job->Start(), 1);
        EXPECT_EQ(host.WaitForEnd(), MSG_JOB_FAILED) << threads;
        EXPECT_NE(job->FailureReason().find("u0021.png"), std::string::npos) << job->FailureReason();
        job.reset();
        EXPECT_FALSE(fs::exists(dir / "out.rvx"));
    }
}

// Files that grow and shrink along the run (grain, and data split into
// chunks of changing size) take every path by which the loaders keep or let
// go of their buffers from picture to picture. Every frame must still reach
// the writer as a fresh decode of its file gives it, at every thread count,
// and the real writer must make a whole movie of the run.
TEST_F(ImageJob, FilesGrowingAndShrinkingAlongTheRunArriveAsFreshDecodes) {
    constexpr int kFrames = 36;
    // Flat pictures with a little grain, the plain pattern and heavy grain:
    // from about 45 to 230 KB.
    const PngLayout kinds[] = {{.grain = 1, .flat = true}, {.grain = 90}, {}, {.grain = 4, .flat = true},
                               {.grain = 127}, {.grain = 1, .flat = true}, {.grain = 30}};
    const std::size_t chunk_sizes[] = {4096, 1024, 16384, 2500, 8192};
    std::vector<std::string> expected;
    std::size_t smallest = SIZE_MAX, largest = 0;
    for (int i = 1; i <= kFrames; ++i) {
        PngLayout layout = kinds[i % std::size(kinds)];
        layout.width = 320;
        layout.height = 240;
        layout.seed = i;
        layout.idat_size = chunk_sizes[i % std::size(chunk_sizes)];
        const std::vector<uint8_t> png = WritePng(layout);
        ASSERT_GT(png.size(), 3 * layout.idat_size);  // several data chunks
        smallest = std::min(smallest, png.size());
        largest = std::max(largest, png.size());
        char name[32];
        std::snprintf(name, sizeof name, "r%04d.png", i);
        std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
        expected.push_back(RecordedSumOfImage(dir / name));
    }
    ASSERT_GT(largest, 2 * smallest + 65536);
    struct ThreadSetting {
        ~ThreadSetting() { ::unsetenv("RVX_THREADS"); }
    } restore;
    for (const char* threads : {"1", "2", "3"}) {
        SCOPED_TRACE(threads);
        ::setenv("RVX_THREADS", threads, 1);
        const std::string out = dir / "recorded.rvx";
        JobHost host(dir / "r0001.png", out);
        auto job = LoadedJob(host);
        ASSERT_EQ(job->Start(), 1);
        ASSERT_EQ(host.WaitForJobEnd(std::chrono::minutes(5)), MSG_JOB_DONE) << job->FailureReason();
        job.reset();
        std::vector<std::string> sums;
        for (const std::string& line : Lines(out))
            if (line.rfind("frame ", 0) == 0) sums.push_back(line.substr(0, line.find(' ', 6)));
        EXPECT_EQ(sums, expected);
    }
    JobHost host(dir / "r0001.png", dir / "movie.rvx");
    auto job = LoadedJob(host, &CreateRVXMovieWriter);
    ASSERT_EQ(job->Start(), 1);
    ASSERT_EQ(host.WaitForJobEnd(std::chrono::minutes(5)), MSG_JOB_DONE) << job->FailureReason();
    job.reset();
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(dir / "movie.rvx"));
    EXPECT_TRUE(reader.Verify());
    EXPECT_EQ(reader.FrameCount(), uint32_t(kFrames));
}
