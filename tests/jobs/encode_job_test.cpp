#include <gtest/gtest.h>

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
    BaseJob(IJobHost* host, const std::string& output) : CEncodeRVXFile(host, StartUpRequest("", output)) {
        SetWriterFactory(&RecordingWriter::Create);
    }
    ~BaseJob() override { Stop(); }
    void SetTotal(uint32_t total) { total_frames_ = total; }
    int32_t Finish() { return FinishRun(*this); }
};

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
