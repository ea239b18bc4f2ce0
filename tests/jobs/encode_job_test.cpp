#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "common/memory_host.h"
#include "common/temp_dir.h"
#include "jobs/encode_job.h"
#include "jobs/job_messages.h"
#include "recording_writer.h"
#include "support/thread.h"

namespace {

// The job base driven directly, as a job's Run would.
class BaseJob : public CThread, public CEncodeRVXFile {
public:
    BaseJob(IJobHost* host, const std::string& output, const SourceSettings& source = {})
        : CEncodeRVXFile(host, Request(output, source)) {
        SetWriterFactory(&RecordingWriter::Create);
    }
    ~BaseJob() override { Stop(); }
    void SetTotal(uint32_t total) { total_frames_ = total; }
    uint32_t Total() const { return total_frames_; }
    int32_t Finish() { return FinishRun(*this); }
    // What the automatic crop is shown.
    std::vector<std::vector<uint8_t>> samples;
    uint32_t samples_asked = 0;

private:
    static EncodeRequest Request(const std::string& output, const SourceSettings& source) {
        EncodeRequest request = StartUpRequest("", output);
        request.settings.source = source;
        return request;
    }
    std::vector<std::vector<uint8_t>> SamplePictures(uint32_t count) override {
        samples_asked = count;
        return samples;
    }
};

// The frame lines of a recording writer's movie.
std::vector<std::string> RecordedLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(EncodeJob, StrideIsPaddedToFourBytesAndUnknownLayoutsFail) {
    MemoryHost host;
    BaseJob job(&host, "");
    ASSERT_TRUE(job.SetSourceFormat(kLayoutRGB24, 640, 480, false));
    EXPECT_EQ(job.Stride(), 1920u);
    ASSERT_TRUE(job.SetSourceFormat(kLayoutRGB24, 641, 480, false));
    EXPECT_EQ(job.Stride(), 1924u);
    ASSERT_TRUE(job.SetSourceFormat(kLayoutARGB32, 5, 1, true));
    EXPECT_EQ(job.Stride(), 20u);
    EXPECT_FALSE(job.SetSourceFormat(0x40000000, 5, 1, false));
    EXPECT_FALSE(job.SetSourceFormat(kLayoutRGB32, 0, 10, false));
    EXPECT_FALSE(job.SetSourceFormat(kLayoutRGB32, 0x10000000, 0x1000, false));  // no 64 GB pictures
    // The movie writer's own size limit, on either side: a source it would
    // refuse is refused before any work is done.
    EXPECT_FALSE(job.SetSourceFormat(kLayoutRGB24, 16385, 1, false));
    EXPECT_FALSE(job.SetSourceFormat(kLayoutRGB24, 1, 16385, false));
    EXPECT_EQ(job.Stride(), 20u);  // a refused format changes nothing
    EXPECT_TRUE(job.SetSourceFormat(kLayoutRGB24, 16384, 2, false));
}

TEST(EncodeJob, FramesNeedAnOpenWriterAndPixels) {
    TempDir dir("base");
    MemoryHost host;
    BaseJob job(&host, dir / "out.rvx");
    const uint8_t pixel[16] = {};
    EXPECT_EQ(job.EncodeFrame(pixel), kJobFail);
    ASSERT_TRUE(job.SetSourceFormat(kLayoutRGB32, 2, 2, false));
    ASSERT_TRUE(job.OpenEncoder(dir.path().string() + "/", "src"));
    EXPECT_FALSE(job.OpenEncoder(dir.path().string() + "/", "again"));
    EXPECT_TRUE(job.HasWriter());
    EXPECT_EQ(job.EncodeFrame(nullptr), kJobInvalidPointer);
    EXPECT_EQ(job.FramesDone(), 0u);
    EXPECT_TRUE(host.progress.empty());
}

TEST(EncodeJob, BottomUpRowsReachTheWriterTopDownWithProgress) {
    TempDir dir("flip");
    MemoryHost host;
    BaseJob job(&host, dir / "out.rvx");
    ASSERT_TRUE(job.SetSourceFormat(kLayoutRGB24, 2, 3, true));
    job.SetTotal(300);
    ASSERT_TRUE(job.OpenEncoder(dir.path().string() + "/", "clip.avi"));
    // Three rows of 8 bytes (6 used); row r starts with byte 10 * r.
    std::vector<uint8_t> rows(24, 0);
    for (int r = 0; r < 3; ++r) rows[r * 8] = static_cast<uint8_t>(10 * r);
    ASSERT_EQ(job.EncodeFrame(rows.data()), kJobOk);
    ASSERT_EQ(host.progress.size(), 1u);
    EXPECT_EQ(host.progress[0], FrameReport("clip.avi", 1, 300));
    EXPECT_EQ(static_cast<int>(host.progress[0].Fraction() * 10000), 33);
    EXPECT_EQ(job.Finish(), kJobOk);
    EXPECT_EQ(host.Messages(), std::vector<uint32_t>{MSG_JOB_DONE});

    std::ifstream in(dir / "out.rvx");
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "picture 2x3 10002003");
    std::getline(in, line);
    std::getline(in, line);
    EXPECT_NE(line.find(" 20,0,0,0"), std::string::npos) << line;  // the source's last row first
}

TEST(EncodeJob, FinishWithoutFramesOrAfterAStopWritesNothing) {
    TempDir dir("fin");
    {
        MemoryHost host;
        BaseJob job(&host, dir / "empty.rvx");
        EXPECT_NE(job.Finish(), kJobOk);  // no writer
        EXPECT_EQ(host.Messages(), std::vector<uint32_t>{MSG_JOB_FAILED});
    }
    {
        MemoryHost host;
        BaseJob job(&host, dir / "stopped.rvx");
        ASSERT_TRUE(job.SetSourceFormat(kLayoutRGB32, 2, 2, false));
        ASSERT_TRUE(job.OpenEncoder(dir.path().string() + "/", "src"));
        const uint8_t pixels[16] = {};
        ASSERT_EQ(job.EncodeFrame(pixels), kJobOk);
        job.RequestStop();
        EXPECT_NE(job.Finish(), kJobOk);
        EXPECT_EQ(host.Messages(), std::vector<uint32_t>{MSG_JOB_FAILED});
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.rvx"));
    EXPECT_FALSE(std::filesystem::exists(dir / "stopped.rvx"));
}

TEST(EncodeJob, AnUncountedBottomUpSourceKeepsItsPartTurnedAsItsFactsSay) {
    // 24-bit rows, bottom-up as AVI files hold them: blue is x, green the
    // row from the top, red the frame.
    constexpr uint32_t w = 6, h = 4, stride = 20;
    TempDir dir("part");
    MemoryHost host;
    SourceSettings source;
    source.start = {SourceTime::Unit::kFrames, 2};
    source.duration = {SourceTime::Unit::kFrames, 3};
    BaseJob job(&host, dir / "out.rvx", source);
    ASSERT_TRUE(job.SetSourceFormat(kLayoutRGB24, w, h, true));
    job.SetSourcePictureFacts({90, true, false, true});
    ASSERT_TRUE(job.OpenEncoder(dir.path().string() + "/", "clip.avi"));
    EXPECT_EQ(job.FirstKeptFrame(), 2u);
    EXPECT_EQ(job.Total(), 3u);  // a source that does not know its length counts on the duration
    for (uint32_t k = 0; k < 8; ++k) {
        std::vector<uint8_t> rows(stride * h, 0);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                uint8_t* px = &rows[(h - 1 - y) * stride + x * 3];
                px[0] = uint8_t(x), px[1] = uint8_t(y), px[2] = uint8_t(100 + k);
            }
        ASSERT_EQ(job.EncodeFrame(rows.data()), kJobOk);
        EXPECT_EQ(job.PastKeptFrames(), k >= 4) << k;
    }
    EXPECT_EQ(job.FramesDone(), 3u);
    ASSERT_EQ(job.Finish(), kJobOk) << job.FailureReason();
    const auto lines = RecordedLines(dir / "out.rvx");
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "picture 4x6 20002003");  // turned, in 32-bit pixels
    // A clockwise turn brings the bottom left to the top left, the mirror
    // then the top left; a missing flip would show row 3 there.
    for (uint32_t k = 0; k < 3; ++k)
        EXPECT_NE(lines[2 + k].find(" 0,0," + std::to_string(102 + k) + ","), std::string::npos) << lines[2 + k];
}

TEST(EncodeJob, InterlacedSourcesAreDeinterlacedAndCroppedByTheirBlackBars) {
    constexpr uint32_t w = 64, h = 48, count = 4;
    // Bars of 8 rows above and below; the content differs between fields.
    std::vector<uint8_t> picture(w * h * 4, 0);
    for (uint32_t y = 8; y < h - 8; ++y)
        for (uint32_t x = 0; x < w; ++x) std::fill_n(&picture[(y * w + x) * 4], 3, uint8_t(y % 2 ? 90 : 200));
    TempDir dir("deint");
    MemoryHost host;
    SourceSettings source;
    source.crop = CropMode::kAuto;
    BaseJob job(&host, dir / "out.rvx", source);
    job.samples = {picture, std::vector<uint8_t>(w * h * 4, 0)};
    ASSERT_TRUE(job.SetSourceFormat(kLayoutRGB32, w, h, false));
    job.SetSourcePictureFacts({0, false, true, false});
    job.SetTotal(count);
    ASSERT_TRUE(job.OpenEncoder(dir.path().string() + "/", "clip.mkv"));
    EXPECT_EQ(job.samples_asked, 12u);
    EXPECT_EQ(job.Stride(), w * 4);
    for (uint32_t k = 0; k < count; ++k) ASSERT_EQ(job.EncodeFrame(picture.data()), kJobOk);
    EXPECT_LT(job.FramesDone(), count);  // the deinterlacer holds one back
    ASSERT_EQ(job.Finish(), kJobOk) << job.FailureReason();
    EXPECT_EQ(job.FramesDone(), count);
    const auto lines = RecordedLines(dir / "out.rvx");
    ASSERT_GE(lines.size(), 2u + count);
    EXPECT_EQ(lines[0].substr(0, 14), "picture 64x32 ");
    const JobProgress last = host.progress[host.progress.size() - 2];  // before the writing
    EXPECT_EQ(last, FrameReport("clip.mkv", count, count));
}
