#include "app/window/job_controller.h"

#include <QtConcurrent/QtConcurrentRun>

#include "app/window/queue_model.h"
#include "app/window/window_prompts.h"
#include "jobs/job_messages.h"
#include "jobs/rate_control.h"

CJobController::CJobController(QObject* parent) : QObject(parent), queue_(new CQueueModel(this)) {
    connect(queue_, &CQueueModel::rowsChanged, this, &CJobController::queueChanged);
    pace_.setSingleShot(true);
    pace_.setInterval(kProgressIntervalMs);
    connect(&pace_, &QTimer::timeout, this, [this] {
        if (progress_waiting_) ProgressReady(serial_);
        DeliverProgress();
    });
    connect(&probe_, &QFutureWatcher<TargetProbe>::finished, this, &CJobController::ProbeFinished);
}

CJobController::~CJobController() {
    ReleaseJob();
    probe_.waitForFinished();
}

void CJobController::SetJobFactory(int page, PageJobFactory factory) {
    factories_[size_t(page)] = std::move(factory);
}

double CJobController::QueueFraction(double fraction) const {
    const bool running = queue_->RunningRow() >= 0;
    const double rows = queue_rows_ended_ + (running ? 1 : 0) + queue_->WaitingRows();
    return rows > 0 ? (queue_rows_ended_ + (running ? fraction : 0.0)) / rows : 1.0;
}

void CJobController::Run(int page, const EncodeRequest& request) {
    if (job_ || queue_running_) return;
    Launch(page, request, false);
}

void CJobController::Enqueue(int page, const EncodeRequest& request) {
    QueueEntry entry;
    entry.page = page;
    entry.request = request;
    queue_->Append(std::move(entry));
}

void CJobController::RunWhenReachable(int page, const EncodeRequest& request, bool enqueue) {
    if (probe_.isRunning()) return;
    // Without a source the job itself says what is missing.
    if (!HasRateTarget(request.settings) || request.source.empty()) {
        enqueue ? Enqueue(page, request) : Run(page, request);
        return;
    }
    probe_page_ = page;
    probe_request_ = request;
    probe_enqueue_ = enqueue;
    emit targetCheckStarted();
    // The probe opens the source and may code its sound: off this thread.
    probe_.setFuture(QtConcurrent::run(
        [factory = factories_[size_t(page)], request] { return ProbeTarget(factory, request); }));
}

void CJobController::ProbeFinished() {
    const TargetProbe probe = probe_.result();
    emit targetCheckEnded();
    if (probe.refused)
        emit targetRefused(probe.target_bytes, probe.smallest_bytes);
    else if (probe_enqueue_)
        Enqueue(probe_page_, probe_request_);
    else
        Run(probe_page_, probe_request_);
}

void CJobController::StartQueue() {
    if (job_ || queue_running_ || queue_->NextWaiting() < 0) return;
    queue_running_ = true;
    queue_rows_ended_ = 0;
    emit runningChanged();
    RunNextRow();
}

void CJobController::RunNextRow() {
    // Rows whose source does not load end at once; the loop goes on to the
    // next one instead of calling itself.
    while (queue_running_ && !job_) {
        const int row = queue_->NextWaiting();
        if (row < 0) {
            StopQueue();
            return;
        }
        QueueEntry entry = queue_->Entry(row);
        entry.state = QueueState::kRunning;
        entry.percent = 0;
        entry.reason.clear();
        queue_->Update(row, entry);
        if (Launch(entry.page, entry.request, true)) return;
    }
}

void CJobController::StopQueue() {
    if (!queue_running_) return;
    queue_running_ = false;
    emit runningChanged();
}

bool CJobController::Launch(int page, const EncodeRequest& request, bool queued) {
    running_page_ = page;
    running_queued_ = queued;
    running_output_ = request.output;
    host_ = std::make_unique<CJobHostBridge>(&latest_, ++serial_);
    connect(host_.get(), &CJobHostBridge::progressReady, this, &CJobController::ProgressReady, Qt::QueuedConnection);
    connect(host_.get(), &CJobHostBridge::jobEnded, this, &CJobController::JobEnded, Qt::QueuedConnection);
    const PageJobFactory& factory = factories_[size_t(page)];
    job_ = factory ? factory(host_.get(), request) : nullptr;
    if (!job_ || job_->Load() != 0) {
        JobResult result;
        result.end = JobResult::End::kLoadFailed;
        if (job_) {
            result.reason = job_->FailureReason();
            result.settings_refused = job_->SettingsRefused();
        }
        Finish(result);
        return false;
    }
    emit jobStarted(page);
    emit runningChanged();
    if (!job_->Start()) {
        Finish(ResultOfJob(false));
        return false;
    }
    return true;
}

void CJobController::ProgressReady(quint64 serial) {
    if (serial != serial_ || !job_) return;
    // While the pace holds the last report back, the slot keeps the latest.
    if (pace_.isActive()) {
        progress_waiting_ = true;
        return;
    }
    progress_waiting_ = false;
    JobProgress progress;
    if (!latest_.Take(serial, &progress)) return;
    held_ = progress;
    holding_ = true;
    DeliverProgress();
}

void CJobController::DeliverProgress() {
    if (!holding_) return;
    holding_ = false;
    if (running_queued_) {
        if (const int row = queue_->RunningRow(); row >= 0) {
            double fraction = held_.Fraction();
            fraction = fraction >= 0.0 ? std::min(fraction, 1.0) : 0.0;
            QueueEntry entry = queue_->Entry(row);
            if (const int percent = int(fraction * 100.0); percent != entry.percent) {
                entry.percent = percent;
                queue_->Update(row, entry);
            }
        }
    }
    pace_.start();
    emit progressChanged(held_);
}

void CJobController::JobEnded(quint64 serial, quint32 message) {
    if (serial != serial_ || !job_) return;
    // The last report is shown before the end, whatever the pace.
    pace_.stop();
    progress_waiting_ = false;
    if (JobProgress last; latest_.Take(serial, &last)) {
        held_ = last;
        holding_ = true;
    }
    DeliverProgress();
    pace_.stop();
    if (message == MSG_JOB_DONE || message == MSG_JOB_FAILED) Finish(ResultOfJob(message == MSG_JOB_DONE));
}

JobResult CJobController::ResultOfJob(bool done) const {
    JobResult result;
    result.end = done ? JobResult::End::kDone : JobResult::End::kFailed;
    result.reason = done ? std::string() : job_->FailureReason();
    result.settings_refused = job_->SettingsRefused();
    result.target_refused = job_->TargetRefused();
    if (result.target_refused) {
        result.target_bytes = job_->RefusedTargetBytes();
        result.smallest_bytes = job_->SmallestReachableBytes();
    }
    if (done) {
        result.target_bytes = job_->TargetBytes();
        result.written_bytes = job_->WrittenBytes();
        result.target_missed = job_->TargetMissed();
    }
    return result;
}

void CJobController::Finish(JobResult result) {
    result.page = running_page_;
    result.queued = running_queued_;
    result.output = running_output_;
    ReleaseJob();
    if (result.queued) {
        if (const int row = queue_->RunningRow(); row >= 0) {
            QueueEntry entry = queue_->Entry(row);
            entry.reason.clear();
            if (result.end != JobResult::End::kDone) {
                entry.state = QueueState::kFailed;
                entry.reason = U(RowFailureText(result));
            } else if (result.target_missed) {
                entry.state = QueueState::kTargetMissed;
                entry.target_bytes = result.target_bytes;
                entry.written_bytes = result.written_bytes;
            } else {
                entry.state = QueueState::kDone;
            }
            queue_->Update(row, entry);
        }
        ++queue_rows_ended_;
    }
    emit jobFinished(result);
    emit runningChanged();
    RunNextRow();
}

QString CJobController::RowFailureText(const JobResult& result) {
    if (result.target_refused) return TargetRefusalText(result.target_bytes, result.smallest_bytes);
    // A setting the source cannot take is the user's to change: its reason as it is.
    if (result.settings_refused) return Q(result.reason);
    if (result.end == JobResult::End::kLoadFailed)
        return result.reason.empty() ? tr("ファイルのロードに失敗しました。")
                                     : tr("ファイルのロードに失敗しました。 (%1)").arg(Q(result.reason));
    return result.reason.empty() ? tr("処理に失敗しました。") : Q(result.reason);
}

void CJobController::Abort() {
    if (!job_) return;
    const bool queued = running_queued_;
    ReleaseJob();
    if (queued) {
        if (const int row = queue_->RunningRow(); row >= 0) {
            QueueEntry entry = queue_->Entry(row);
            entry.state = QueueState::kAborted;
            queue_->Update(row, entry);
        }
        ++queue_rows_ended_;
    }
    emit runningChanged();
}

void CJobController::ReleaseJob() {
    // The job's thread ends here; signals it sent since carry a serial no
    // longer current.
    job_.reset();
    host_.reset();
    ++serial_;
    pace_.stop();
    holding_ = false;
    progress_waiting_ = false;
}
