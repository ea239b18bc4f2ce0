// The job controller on its own, without a widget: what it signals for a
// job of 作成 and for the rows of its queue, with jobs made here that report
// as fast as they can and end as told.
#include <QSignalSpy>
#include <QTranslator>
#include <atomic>
#include <thread>

#include "app/window/job_controller.h"
#include "app/window/progress_words.h"
#include "app/window/queue_model.h"
#include "app/window/window_language.h"
#include "jobs/job_messages.h"
#include "window_fixture.h"

namespace {

struct Script {
    uint32_t reports = 0;
    bool loads = true;
    uint32_t end = MSG_JOB_DONE;
    uint64_t target = 0, written = 0;  // a target missed when written is over it
    bool refuses_target = false;
};

// Reports `reports` frames on its own thread without a pause, then ends.
class ScriptedJob : public IPageJob {
public:
    ScriptedJob(IJobHost* host, Script script) : host_(host), script_(script) {}
    ~ScriptedJob() override {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    int32_t Load() override { return script_.loads ? 0 : -1; }
    bool Start() override {
        thread_ = std::thread([this] {
            for (uint32_t n = 1; n <= script_.reports && !stop_; ++n)
                host_->SendProgress({JobStage::kFrames, n, script_.reports, "f.png"});
            reported = true;
            if (!stop_) host_->PostJobMessage(script_.end);
        });
        return true;
    }
    std::string FailureReason() const override { return script_.loads ? "broken" : "unreadable"; }
    bool TargetRefused() const override { return script_.refuses_target; }
    uint64_t RefusedTargetBytes() const override { return script_.refuses_target ? script_.target : 0; }
    uint64_t SmallestReachableBytes() const override { return script_.refuses_target ? script_.written : 0; }
    uint64_t TargetBytes() const override { return script_.target; }
    uint64_t WrittenBytes() const override { return script_.written; }
    bool TargetMissed() const override { return script_.written > script_.target * 1.02 && script_.target; }

    std::atomic<bool> reported{false};

private:
    IJobHost* host_;
    Script script_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class JobControllerTest : public ::testing::Test {
protected:
    void SetUp() override { TestApplication(); }

    // Page 0's jobs follow the scripts in turn.
    void Give(std::vector<Script> scripts) {
        scripts_ = std::move(scripts);
        controller.SetJobFactory(0, [this](IJobHost* host, const EncodeRequest&) {
            auto job = std::make_unique<ScriptedJob>(host, scripts_.at(made_++));
            last_ = job.get();
            return job;
        });
    }
    static EncodeRequest Request(const std::string& output) { return {"in.png", "", output, EncodeSettings()}; }
    JobResult Finished(const QSignalSpy& spy, int i) const { return spy.at(i).at(0).value<JobResult>(); }

    Watchdog watchdog{std::chrono::seconds(60)};
    CJobController controller;
    std::vector<Script> scripts_;
    size_t made_ = 0;
    ScriptedJob* last_ = nullptr;
};

}  // namespace

TEST_F(JobControllerTest, AJobNeverWaitsForTheWindowAndItsLastReportComesBeforeItsEnd) {
    Give({{20000}});
    QSignalSpy progress(&controller, &CJobController::progressChanged);
    QSignalSpy finished(&controller, &CJobController::jobFinished);
    controller.Run(0, Request("a.rvx"));
    ASSERT_TRUE(controller.IsRunning());
    // Nobody serves the window's events, and the job still gets through.
    while (!last_->reported) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(PumpUntil([&] { return finished.count() == 1; }));
    ASSERT_GE(progress.count(), 1);
    EXPECT_LT(progress.count(), 200);  // coalesced, not one signal per report
    EXPECT_EQ(progress.last().at(0).value<JobProgress>().frame, 20000u);
    EXPECT_EQ(Finished(finished, 0).end, JobResult::End::kDone);
    EXPECT_EQ(Finished(finished, 0).output, "a.rvx");
    EXPECT_FALSE(controller.IsRunning());
}

TEST_F(JobControllerTest, TheQueueRunsItsRowsInOrderAndEachRowSaysHowItEnded) {
    Give({{50}, {0, false}, {50, true, MSG_JOB_FAILED}, {50, true, MSG_JOB_DONE, 400000, 630211},
          {50, true, MSG_JOB_DONE, 400000, 405000}});
    for (const char* out : {"1.rvx", "2.rvx", "3.rvx", "4.rvx", "5.rvx"}) controller.Enqueue(0, Request(out));
    QSignalSpy finished(&controller, &CJobController::jobFinished);
    QSignalSpy changed(&controller, &CJobController::queueChanged);
    controller.StartQueue();
    ASSERT_TRUE(PumpUntil([&] { return !controller.IsQueueRunning(); }));
    ASSERT_EQ(finished.count(), 5);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(Finished(finished, i).queued);
    EXPECT_TRUE(Finished(finished, 3).target_missed);
    EXPECT_FALSE(Finished(finished, 4).target_missed);  // within 2 %
    const struct {
        QueueState state;
        const char* text;
    } rows[] = {
        {QueueState::kDone, "完了"},
        {QueueState::kFailed, "失敗: ファイルのロードに失敗しました。 (unreadable)"},
        {QueueState::kFailed, "失敗: broken"},
        {QueueState::kTargetMissed, "目標超過: 目標 400000 バイト、実際 630211 バイト (+57.6 %)"},
        {QueueState::kDone, "完了"},
    };
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(controller.Queue()->Entry(i).state, rows[i].state) << i;
        EXPECT_EQ(U(CQueueModel::StateText(controller.Queue()->Entry(i))), rows[i].text) << i;
    }
    // Each row started and ended: a change worth saving each time.
    EXPECT_GE(changed.count(), 10);
    EXPECT_DOUBLE_EQ(controller.QueueFraction(0.0), 1.0);
}

TEST_F(JobControllerTest, AnAbortedRowStaysAbortedAndTheQueueGoesOnOnlyWhenAsked) {
    Give({{100000000}, {100000000}, {10}, {10}});
    for (const char* out : {"1.rvx", "2.rvx", "3.rvx", "4.rvx"}) controller.Enqueue(0, Request(out));
    QSignalSpy finished(&controller, &CJobController::jobFinished);
    controller.StartQueue();
    controller.Abort();  // returns once the job's thread has ended
    EXPECT_FALSE(controller.IsRunning());
    EXPECT_TRUE(controller.IsQueueRunning());
    EXPECT_EQ(controller.Queue()->Entry(0).state, QueueState::kAborted);
    EXPECT_DOUBLE_EQ(controller.QueueFraction(0.0), 1.0 / 4.0);
    controller.StopQueue();
    PumpFor(30);
    EXPECT_EQ(controller.Queue()->Entry(1).state, QueueState::kWaiting);

    // Started again, the next waiting row runs; aborted with the rest asked
    // for, the queue goes on to its end.
    controller.StartQueue();
    EXPECT_EQ(controller.Queue()->Entry(1).state, QueueState::kRunning);
    controller.Abort();
    controller.RunNextRow();
    ASSERT_TRUE(PumpUntil([&] { return !controller.IsQueueRunning(); }));
    EXPECT_EQ(controller.Queue()->Entry(1).state, QueueState::kAborted);
    EXPECT_EQ(controller.Queue()->Entry(2).state, QueueState::kDone);
    EXPECT_EQ(controller.Queue()->Entry(3).state, QueueState::kDone);
    EXPECT_EQ(finished.count(), 2);  // an abort is no job end to tell
}

TEST_F(JobControllerTest, AnUnreachableTargetIsRefusedOffTheWindowsThreadAndQueuesNothing) {
    Give({{0, true, MSG_JOB_FAILED, 100, 5000, true}});
    EncodeRequest request = Request("t.rvx");
    request.settings.target_bytes = 100;
    QSignalSpy refused(&controller, &CJobController::targetRefused);
    QSignalSpy ended(&controller, &CJobController::targetCheckEnded);
    controller.RunWhenReachable(0, request, true);
    EXPECT_TRUE(controller.IsCheckingTarget());
    ASSERT_TRUE(PumpUntil([&] { return ended.count() == 1; }));
    ASSERT_EQ(refused.count(), 1);
    EXPECT_EQ(refused.at(0).at(0).toULongLong(), 100u);
    EXPECT_EQ(refused.at(0).at(1).toULongLong(), 5000u);
    EXPECT_EQ(controller.Queue()->rowCount(), 0);
}

// Japanese needs no translation and stays as written; any other language
// gets English.
TEST(WindowLanguage, JapaneseKeepsTheTextsAndOtherLanguagesGetEnglish) {
    TestApplication();
    const struct {
        const char* rvx_lang;
        QLocale::Language system;
        const char* language;
    } cases[] = {{"", QLocale::Japanese, "ja"}, {"", QLocale::German, "en"}, {"ja", QLocale::English, "ja"},
                 {"ja_JP.UTF-8", QLocale::French, "ja"}, {"en", QLocale::Japanese, "en"}, {"C", QLocale::Japanese, "ja"}};
    for (const auto& c : cases)
        EXPECT_EQ(WindowLanguage(c.rvx_lang, QLocale(c.system)).toStdString(), c.language) << c.rvx_lang;
    QTranslator japanese, english;
    EXPECT_FALSE(LoadWindowTranslation(japanese, "ja"));
    ASSERT_TRUE(LoadWindowTranslation(english, "en"));
    QueueEntry done;
    done.state = QueueState::kDone;
    EXPECT_EQ(CQueueModel::StateText(done).toStdString(), "完了");
    QCoreApplication::installTranslator(&english);
    EXPECT_EQ(CQueueModel::StateText(done).toStdString(), "Done");
    done.state = QueueState::kRunning;
    done.percent = 42;
    EXPECT_EQ(CQueueModel::StateText(done).toStdString(), "Running 42%");
    QCoreApplication::removeTranslator(&english);
    EXPECT_EQ(CQueueModel::StateText(done).toStdString(), "処理中 42%");
}

TEST(ProgressWords, EachStageIsWordedAsTheStatusLineShowsIt) {
    TestApplication();
    const struct {
        JobProgress progress;
        const char* text;
    } cases[] = {
        {{JobStage::kLoad, 0, 0, "/in/a.png"}, "/in/a.png"},
        {{JobStage::kFrames, 3, 40, "/in/a%1.png"}, "/in/a%1.pngをエンコード中... 3/40"},
        {{JobStage::kFrames, 3, 40, "/in/a.png", 1}, "解析中… 3/40"},
        {{JobStage::kSound, 0, 0, "/in/s.wav", 2}, "/in/s.wavをエンコード中..."},
        {{JobStage::kWriting, 0, 0, "/out/m.rvx"}, "/out/m.rvxを出力中..."},
    };
    for (const auto& c : cases) EXPECT_EQ(U(CProgressWords::Status(c.progress)), c.text);
    EXPECT_EQ(U(CProgressWords::Remaining(10.0, 0.25, 3)), "残り 0:30");
    EXPECT_EQ(U(CProgressWords::Remaining(10.0, 0.25, 2)), "");
}
