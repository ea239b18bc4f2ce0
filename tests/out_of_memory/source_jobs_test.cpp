// The AVI and movie jobs run out of memory for a picture as cleanly as the
// image job: the job fails saying so, the decoding threads end, and neither a
// movie nor a work directory is left.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "allocation_limit.h"
#include "common/memory_host.h"
#include "common/temp_dir.h"
#include "common/test_movies.h"
#include "jobs/encode_from_avi.h"
#include "jobs/encode_from_directshow.h"
#include "jobs/job_messages.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

template <class Job>
void ExpectCleanOutOfMemory(const std::string& movie, const TempDir& dir) {
    MemoryHost host;
    auto job = std::make_unique<Job>(&host, StartUpRequest(movie, dir / "out.rvx"));
    ASSERT_EQ(job->Load(), kJobOk) << job->FailureReason();
    const std::string work = job->WorkDirectory();
    uint32_t message = 0;
    {
        allocation_limit::ExemptThisThread exempt;
        // The first allocation as large as a picture (64 x 48, 3 or 4 bytes a pixel).
        allocation_limit::Armed armed(0, 64 * 48 * 3);
        ASSERT_EQ(job->Start(), 1);
        message = host.WaitForJobEnd(std::chrono::seconds(30));
        job->Stop();
        EXPECT_TRUE(allocation_limit::Fired());
    }
    EXPECT_EQ(message, uint32_t{MSG_JOB_FAILED});
    EXPECT_NE(job->FailureReason().find("out of memory"), std::string::npos) << job->FailureReason();
    job.reset();
    EXPECT_FALSE(fs::exists(dir / "out.rvx"));
    EXPECT_FALSE(!work.empty() && fs::exists(work));
}

}  // namespace

TEST(SourceJobsOutOfMemory, APictureThatCannotBeHadFailsTheAviAndMovieJobsCleanly) {
    if (!HaveFfmpegProgram()) GTEST_SKIP() << "the ffmpeg program makes the test movies";
    TempDir dir("oom-sources");
    const std::string avi = dir / "clip.avi", mkv = dir / "clip.mkv";
    ASSERT_TRUE(RunFfmpeg(ToneInput(0.4) + " " + PatternInput(64, 48, "25", 10) + " -c:v mjpeg -c:a pcm_s16le " +
                          ShellQuoted(avi)));
    ASSERT_TRUE(RunFfmpeg(ToneInput(0.4) + " " + PatternInput(64, 48, "25", 10) + " -c:v ffv1 -c:a flac " +
                          ShellQuoted(mkv)));
    ExpectCleanOutOfMemory<CEncodeFromAVI>(avi, dir);
    ExpectCleanOutOfMemory<CEncodeFromDirectShow>(mkv, dir);
}
