#pragma once
// Runs the window's jobs: one job at a time, started at once (作成) or as the
// next waiting row of the queue, which it owns as a table model. It knows no
// widget: the window and the pages connect to its signals.
//
// A job never waits for the window. Its progress arrives as queued signals
// and only the latest report is kept; the window is told of it at most once
// a screen refresh. Aborting destroys the job, which returns once its thread
// has ended.

#include <QFutureWatcher>
#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "app/window/job_host_bridge.h"
#include "app/window/page_job.h"
#include "app/window/target_probe.h"
#include "jobs/job_progress.h"

class CQueueModel;

// How a job ended, for the window to tell (a job of 作成) or for the row
// (a job of the queue, whose row the controller has already updated).
struct JobResult {
    enum class End { kDone, kFailed, kLoadFailed };
    End end = End::kFailed;
    int page = 0;
    bool queued = false;
    std::string output;
    std::string reason;  // why it failed, from the job; empty when it said nothing
    // A setting the source cannot take, or a target below the smallest movie
    // (target_bytes and smallest_bytes then say both sizes).
    bool settings_refused = false;
    bool target_refused = false;
    uint64_t target_bytes = 0;
    uint64_t smallest_bytes = 0;
    // A movie written to a target size: the size written, and whether it
    // came out too far over target_bytes (the movie is kept).
    uint64_t written_bytes = 0;
    bool target_missed = false;
};
Q_DECLARE_METATYPE(JobResult)
Q_DECLARE_METATYPE(JobProgress)

class CJobController : public QObject {
    Q_OBJECT

public:
    static constexpr int kPages = 3;
    // The window is told of progress at most this often.
    static constexpr int kProgressIntervalMs = 16;

    explicit CJobController(QObject* parent = nullptr);
    ~CJobController() override;

    CQueueModel* Queue() const { return queue_; }
    // The job a page's requests become (tests give their own).
    void SetJobFactory(int page, PageJobFactory factory);

    bool IsRunning() const { return job_ != nullptr; }
    bool IsQueueRunning() const { return queue_running_; }
    bool IsCheckingTarget() const { return probe_.isRunning(); }
    // The page of the running job, -1 for none.
    int RunningPage() const { return job_ ? running_page_ : -1; }
    // The whole queue's progress with the running row at `fraction`: the
    // rows ended in this run of the queue, the running one, and the waiting.
    double QueueFraction(double fraction) const;

public slots:
    // 作成: loads the page's job for the request and starts it. A job that
    // does not load ends at once (jobFinished).
    void Run(int page, const EncodeRequest& request);
    void Enqueue(int page, const EncodeRequest& request);
    // Run or Enqueue once it is known off the window's thread that the
    // source can reach the request's target size (targetRefused when it
    // cannot); at once for a request without a target or a source.
    void RunWhenReachable(int page, const EncodeRequest& request, bool enqueue);
    void StartQueue();
    // Releases the running job (returning once its thread ended) and marks
    // its row 中断. The queue stays running: StopQueue or RunNextRow decide.
    void Abort();
    void StopQueue();
    // The next waiting row, when the queue runs and nothing else does.
    void RunNextRow();
    // Releases the running job without marking anything (the window closes).
    void ReleaseJob();

signals:
    void jobStarted(int page);
    void progressChanged(const JobProgress& progress);
    void jobFinished(const JobResult& result);
    // A job or the queue started or stopped.
    void runningChanged();
    // Rows were added, moved, removed or changed state (worth saving).
    void queueChanged();
    void targetCheckStarted();
    void targetCheckEnded();
    void targetRefused(quint64 target_bytes, quint64 smallest_bytes);

private:
    // Starts the job; false when it ended at once (jobFinished was sent).
    bool Launch(int page, const EncodeRequest& request, bool queued);
    void ProgressReady(quint64 serial);
    void DeliverProgress();
    void JobEnded(quint64 serial, quint32 message);
    void Finish(JobResult result);
    JobResult ResultOfJob(bool done) const;
    // What a queue row that failed says.
    static QString RowFailureText(const JobResult& result);
    void ProbeFinished();

    CQueueModel* queue_;
    std::array<PageJobFactory, kPages> factories_;
    CLatestProgress latest_;
    // The bridge outlives its job: the job is released first.
    std::unique_ptr<CJobHostBridge> host_;
    std::unique_ptr<IPageJob> job_;
    uint64_t serial_ = 0;
    int running_page_ = -1;
    bool running_queued_ = false;
    std::string running_output_;
    bool queue_running_ = false;
    int queue_rows_ended_ = 0;  // in this run of the queue
    QTimer pace_;
    bool progress_waiting_ = false;  // a report is ready while the pace holds it
    JobProgress held_;
    bool holding_ = false;
    QFutureWatcher<TargetProbe> probe_;
    int probe_page_ = 0;
    EncodeRequest probe_request_;
    bool probe_enqueue_ = false;
};
