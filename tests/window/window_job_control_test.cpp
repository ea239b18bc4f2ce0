// Job control with jobs that report without pause: abort and close stop a
// job in the middle of its reports, a failing job returns the window to
// idle, and a running job keeps its tab in front.
#include <atomic>

#include "app/window/source_page.h"
#include "common/temp_dir.h"
#include "jobs/job_messages.h"
#include "support/thread.h"
#include "window_fixture.h"

namespace {

enum class Request { kProgress, kFail };

// A job that reports to the window over and over, the way a real job
// reports every frame, until it is stopped; or fails on its own.
class RequestingJob : public IPageJob {
public:
    RequestingJob(IJobHost* host, Request request) : worker_(*this), host_(host), request_(request) {}
    ~RequestingJob() override {
        worker_.Stop();
        if (loaded_) alive_count.fetch_sub(1);
    }
    int32_t Load() override {
        loaded_ = true;
        alive_count.fetch_add(1);
        return 0;
    }
    bool Start() override { return worker_.Start() == 1; }
    std::string FailureReason() const override { return "the test source ran dry"; }

    static inline std::atomic<int> alive_count{0};
    std::atomic<int> served{0};

private:
    class Worker : public CThread {
    public:
        explicit Worker(RequestingJob& job) : job_(job) {}
        ~Worker() override { Stop(); }
        int32_t Run() override { return job_.Run(*this); }

    private:
        RequestingJob& job_;
    };

    int32_t Run(CThread& thread) {
        if (request_ == Request::kFail) {
            host_->PostJobMessage(MSG_JOB_FAILED);
            return -1;
        }
        for (uint32_t n = 1; thread.CanContinue(); ++n) {
            host_->SendProgress({JobStage::kFrames, n, 4 * n, "frame"});
            served.fetch_add(1);
        }
        host_->PostJobMessage(MSG_JOB_FAILED);
        return -1;
    }

    Worker worker_;
    IJobHost* host_;
    Request request_;
    bool loaded_ = false;
};

class JobControlTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        SetText(kIdOutputFile, dir / "out.rvx");
        Tab()->setCurrentIndex(1);
    }

    // Starts a job on the image page and waits until it has reported.
    RequestingJob* StartBlockedJob(Request request) {
        RequestingJob* job = nullptr;
        window->Controller().SetJobFactory(1, [&job, request](IJobHost* host, const EncodeRequest&) {
            auto made = std::make_unique<RequestingJob>(host, request);
            job = made.get();
            return made;
        });
        Button(kIdCreate)->click();
        // Reports no longer wait for the window, so the job is always in
        // the middle of its reports; it only has to have made some.
        EXPECT_TRUE(PumpUntil([&] { return window->IsRunning() && job && job->served.load() > 0; }));
        return job;
    }

    TempDir dir{"window-jobs"};
};

}  // namespace

TEST_F(JobControlTest, AbortReleasesAJobBlockedInAProgressReport) {
    for (int round = 0; round < 2; ++round) {
        StartBlockedJob(Request::kProgress);
        EXPECT_EQ(RequestingJob::alive_count.load(), 1);
        EXPECT_FALSE(Button(kIdCreate)->isEnabled());
        EXPECT_TRUE(Button(kIdAbort)->isEnabled());
        EXPECT_FALSE(Field(kIdImagePath)->isEnabled());
        EXPECT_FALSE(Field(kIdFrameRateNumerator)->isEnabled());

        prompts.answers = {true};
        // At once, without serving what is queued; returns only once the
        // job's thread ended.
        window->ConfirmAbort(false);
        EXPECT_EQ(prompts.records.back().text, "処理を中断します。よろしいですか？");
        EXPECT_EQ(prompts.records.back().caption, "中断確認");
        EXPECT_EQ(RequestingJob::alive_count.load(), 0);
        ASSERT_TRUE(PumpUntil([&] { return !window->IsRunning(); }));
        PumpFor(30);  // the stopped job's last message must change nothing
        ExpectIdle();
        EXPECT_TRUE(Field(kIdImagePath)->isEnabled());
        EXPECT_FALSE(prompts.Shown("処理に失敗しました。"));
    }
}

TEST_F(JobControlTest, CloseReleasesAJobBlockedInAProgressReport) {
    for (int round = 0; round < 2; ++round) {
        window->show();
        StartBlockedJob(Request::kProgress);
        prompts.answers = {true};
        window->ConfirmAbort(true);
        EXPECT_EQ(prompts.records.back().text, "処理を中断し終了します。よろしいですか？");
        EXPECT_EQ(prompts.records.back().caption, "終了確認");
        EXPECT_EQ(RequestingJob::alive_count.load(), 0);
        ASSERT_TRUE(PumpUntil([&] { return !window->isVisible(); }));
        // The next round needs a fresh window.
        window = std::make_unique<CMainWindow>();
        window->SetPrompts(&prompts);
        window->show();
        SetText(kIdOutputFile, dir / "out.rvx");
        Tab()->setCurrentIndex(1);
    }
}

TEST_F(JobControlTest, ClosingWhileRunningAsksAndNoKeepsTheJobRunning) {
    RequestingJob* job = StartBlockedJob(Request::kProgress);
    prompts.answers = {false};
    window->close();
    ASSERT_TRUE(PumpUntil([&] { return prompts.Shown("処理を中断し終了します。よろしいですか？"); }));
    const int served = job->served.load();
    ASSERT_TRUE(PumpUntil([&] { return job->served.load() > served + 3; }));  // still reporting
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->IsRunning());

    // A tab click while running snaps back to the running page.
    Tab()->setCurrentIndex(2);
    EXPECT_EQ(Tab()->currentIndex(), 1);

    // The exit button is disabled while running; an abort answered No keeps
    // running as well.
    EXPECT_FALSE(Button(kIdExit)->isEnabled());
    prompts.answers = {false};
    Button(kIdAbort)->click();
    ASSERT_TRUE(PumpUntil([&] { return prompts.Shown("処理を中断します。よろしいですか？"); }));
    EXPECT_TRUE(window->IsRunning());
    EXPECT_EQ(RequestingJob::alive_count.load(), 1);
}

TEST_F(JobControlTest, AJobThatFailsReturnsTheWindowToIdleWithItsReason) {
    window->Controller().SetJobFactory(1, [](IJobHost* host, const EncodeRequest&) {
        return std::make_unique<RequestingJob>(host, Request::kFail);
    });
    Button(kIdCreate)->click();
    ASSERT_TRUE(PumpUntil([&] { return prompts.Shown("処理に失敗しました。"); }));
    ASSERT_TRUE(PumpUntil([&] { return !window->IsRunning(); }));
    const PromptRecord box = prompts.records.back();
    EXPECT_EQ(box.caption, "エラー");
    EXPECT_EQ(box.icon, PromptIcon::kError);
    EXPECT_EQ(box.detail, "the test source ran dry");
    EXPECT_EQ(RequestingJob::alive_count.load(), 0);
    ExpectIdle();
    EXPECT_EQ(window->windowTitle().toStdString(), "RVX Encoder");
    Tab()->setCurrentIndex(2);
    EXPECT_EQ(Tab()->currentIndex(), 2);
}

TEST_F(JobControlTest, ExitAsksAndYesClosesTheWindow) {
    prompts.answers = {false};
    Button(kIdExit)->click();
    ASSERT_TRUE(PumpUntil([&] { return prompts.Shown("終了します。よろしいですか？"); }));
    EXPECT_EQ(prompts.records.back().caption, "終了確認");
    PumpFor(20);
    EXPECT_TRUE(window->isVisible());
    prompts.answers = {true};
    window->close();  // the title bar's close asks the same when idle
    ASSERT_TRUE(PumpUntil([&] { return !window->isVisible(); }));
    EXPECT_EQ(prompts.records.size(), 2u);
}
