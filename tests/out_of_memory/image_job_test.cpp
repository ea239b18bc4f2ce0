// Out of memory at any allocation of a numbered-image job ends the job as a
// failure that says so: no terminate, no output, no work directory left.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "allocation_limit.h"
#include "container/rvx_reader.h"
#include "common/memory_host.h"
#include "common/temp_dir.h"
#include "jobs/encode_from_images.h"
#include "jobs/job_messages.h"
#include "support/surface.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kFrames = 6;

void WriteRun(const TempDir& dir) {
    for (int n = 1; n <= kFrames; ++n) {
        CPlaneSurface s;
        ASSERT_TRUE(s.CreateWithFormat(48, 32, PF_X8R8G8B8));
        ASSERT_TRUE(s.Lock());
        const SurfaceDesc& d = s.Desc();
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 48 * 4; ++x) d.bits[y * d.pitch + x] = static_cast<uint8_t>(x * 5 + y * 3 + n * 17);
        s.Unlock();
        char name[32];
        std::snprintf(name, sizeof name, "pic%04d.png", n);
        ASSERT_TRUE(s.SavePNG(dir / name, nullptr, 0));
    }
}

struct Host : MemoryHost {
    Host(const std::string& image, const std::string& output) : request(StartUpRequest(image, output)) {
        // Short groups with a B frame: every kind of frame in a few pictures.
        request.settings.p_frames = 2;
        request.settings.b_frames = 1;
    }
    uint32_t WaitForEnd() { return WaitForJobEnd(); }
    EncodeRequest request;
};

struct Outcome {
    uint32_t message = 0;
    std::string reason;
    bool fired = false;
    long allocations = 0;
    bool work_directory_left = false;
};

// Loads the job with memory to spare, then runs it with the allocation
// after `allowed` failing (a negative value: none fails).
Outcome RunJob(const TempDir& dir, long allowed, std::size_t min_bytes = 0) {
    Outcome outcome;
    Host host(dir / "pic0001.png", dir / "out.rvx");
    auto job = std::make_unique<CEncodeFromSeqFile>(&host, host.request);
    EXPECT_EQ(job->Load(), kJobOk) << job->FailureReason();
    const std::string work = job->WorkDirectory();
    {
        allocation_limit::ExemptThisThread exempt;
        allocation_limit::Armed armed(allowed < 0 ? 1L << 40 : allowed, min_bytes);
        EXPECT_EQ(job->Start(), 1);
        outcome.message = host.WaitForEnd();
        job->Stop();
        outcome.fired = allocation_limit::Fired();
        outcome.allocations = allocation_limit::Count();
    }
    outcome.reason = job->FailureReason();
    job.reset();
    outcome.work_directory_left = !work.empty() && fs::exists(work);
    return outcome;
}

}  // namespace

TEST(ImageJobOutOfMemory, EveryFailingAllocationEndsTheJobCleanly) {
    TempDir dir("oom");
    WriteRun(dir);
    const Outcome clean = RunJob(dir, -1);
    ASSERT_EQ(clean.message, uint32_t{MSG_JOB_DONE}) << clean.reason;
    ASSERT_TRUE(fs::exists(dir / "out.rvx"));
    fs::remove(dir / "out.rvx");
    ASSERT_GT(clean.allocations, 100);

    // Spread over the whole run: the encoder's set-up, its threads, the
    // loaders started beside it, the pictures, the final assembly.
    int out_of_memory = 0;
    const long step = clean.allocations / 60 + 1;
    for (long allowed = 0; allowed < clean.allocations; allowed += step) {
        SCOPED_TRACE("allocation " + std::to_string(allowed) + " of " + std::to_string(clean.allocations));
        const Outcome o = RunJob(dir, allowed);
        ASSERT_NE(o.message, 0u) << "the job never ended";
        EXPECT_FALSE(o.work_directory_left);
        if (o.message == MSG_JOB_DONE) {
            fs::remove(dir / "out.rvx");
            continue;
        }
        EXPECT_FALSE(o.reason.empty());
        // Neither the movie nor a temporary file beside it.
        for (const auto& entry : fs::directory_iterator(dir.path()))
            EXPECT_EQ(entry.path().extension(), ".png") << entry.path() << " left behind: " << o.reason;
        out_of_memory += o.reason.find("out of memory") != std::string::npos;
    }
    EXPECT_GT(out_of_memory, 0);
}

TEST(ImageJobOutOfMemory, APictureBufferThatCannotBeHadFailsTheJobAsOutOfMemory) {
    TempDir dir("oom-picture");
    WriteRun(dir);
    // The first allocation as large as a picture.
    const Outcome o = RunJob(dir, 0, 48 * 32 * 3);
    ASSERT_TRUE(o.fired);
    EXPECT_EQ(o.message, uint32_t{MSG_JOB_FAILED});
    EXPECT_NE(o.reason.find("out of memory"), std::string::npos) << o.reason;
    EXPECT_FALSE(fs::exists(dir / "out.rvx"));
    EXPECT_FALSE(o.work_directory_left);
}

TEST(ImageJobOutOfMemory, LoadingFailsWithTheReasonAndLeavesNoWorkDirectory) {
    TempDir dir("oom-load");
    WriteRun(dir);
    int out_of_memory = 0;
    for (long allowed = 0; allowed < 400; allowed += 7) {
        Host host(dir / "pic0001.png", dir / "out.rvx");
        auto job = std::make_unique<CEncodeFromSeqFile>(&host, host.request);
        int32_t result;
        {
            allocation_limit::Armed armed(allowed);
            result = job->Load();
        }
        if (result == kJobOk) continue;
        EXPECT_TRUE(job->WorkDirectory().empty() || !fs::exists(job->WorkDirectory()));
        out_of_memory += job->FailureReason() == "out of memory";
    }
    EXPECT_GT(out_of_memory, 0);
}

// A grey run's slots each need a conversion picture. When the second slot's
// cannot be had, the first picture (already decoded into slot 0) takes the
// only slot there is: the run must still go on, or fail, but never wait for
// loaders that were never started.
TEST(ImageJobOutOfMemory, AGreySlotThatCannotBeMadeNeitherHangsNorLosesFrames) {
    TempDir dir("oom-grey-slot");
    constexpr int kSide = 256;
    for (int n = 1; n <= 4; ++n) {
        CPlaneSurface s;
        ASSERT_TRUE(s.CreateWithFormat(kSide, kSide, PF_A8));
        ASSERT_TRUE(s.Lock());
        const SurfaceDesc& d = s.Desc();
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) d.bits[y * d.pitch + x] = static_cast<uint8_t>(x * 3 + y * 5 + n * 29);
        s.Unlock();
        char name[32];
        std::snprintf(name, sizeof name, "grey%04d.png", n);
        ASSERT_TRUE(s.SavePNG(dir / name, nullptr, 0));
    }
    struct ThreadSetting {
        ThreadSetting() { ::setenv("RVX_THREADS", "2", 1); }
        ~ThreadSetting() { ::unsetenv("RVX_THREADS"); }
    } threads;
    // Every allocation as large as a conversion picture fails in turn, the
    // second slot's among them.
    bool slot_failed = false;
    for (long allowed = 0; allowed < 6; ++allowed) {
        SCOPED_TRACE("picture-sized allocation " + std::to_string(allowed));
        Host host(dir / "grey0001.png", dir / "out.rvx");
        auto job = std::make_unique<CEncodeFromSeqFile>(&host, host.request);
        ASSERT_EQ(job->Load(), kJobOk) << job->FailureReason();
        uint32_t message = 0;
        {
            allocation_limit::ExemptThisThread exempt;
            allocation_limit::Armed armed(allowed, std::size_t{kSide} * kSide * 4);
            ASSERT_EQ(job->Start(), 1);
            message = host.WaitForJobEnd(std::chrono::seconds(20));
            slot_failed = slot_failed || allocation_limit::Fired();
        }
        if (message == 0) {
            // A job whose thread waits for ever cannot be stopped: it is left.
            job.release();
            FAIL() << "the job never ended";
        }
        job->Stop();
        if (message == MSG_JOB_DONE) {
            CRVXReader reader;
            ASSERT_TRUE(reader.Open(dir / "out.rvx"));
            EXPECT_EQ(reader.FrameCount(), 4u);
            reader.Close();
            fs::remove(dir / "out.rvx");
        } else {
            EXPECT_NE(job->FailureReason().find("out of memory"), std::string::npos) << job->FailureReason();
        }
    }
    EXPECT_TRUE(slot_failed);
}
