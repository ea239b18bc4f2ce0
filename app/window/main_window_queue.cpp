// The queue of jobs and the finished movie: adding the current page's job
// as a row, running the rows one after another through their pages, and
// handing a movie to the desktop.
#include <QApplication>
#include <QFileInfo>
#include <QPushButton>
#include <QTabWidget>
#include <QUrl>
#include <chrono>
#include <future>

#include "app/progress_text.h"
#include "app/window/config_files.h"
#include "app/window/job_queue_panel.h"
#include "app/window/main_window.h"
#include "app/window/queue_store.h"
#include "app/window/source_page.h"
#include "app/window/target_probe.h"
#include "jobs/rate_control.h"

namespace {

constexpr char kQueueFile[] = "queue.json";

}  // namespace

void CMainWindow::RestoreQueue() {
    const QString path = ConfigFilePath(kQueueFile);
    if (!path.isEmpty()) queue_->SetEntries(LoadQueue(path));
}

void CMainWindow::SaveQueueFile() const {
    const QString path = ConfigFilePath(kQueueFile);
    if (!path.isEmpty()) SaveQueue(path, queue_->Entries());
}

bool CMainWindow::TargetReachable(const CSourcePage& page, const EncodeRequest& request) {
    // Without a source the job itself says what is missing.
    if (request.source.empty()) return true;
    const TargetProbe probe = ProbeTargetWhileWaiting(page.Factory(), request);
    if (!probe.refused) return true;
    prompts_->Tell(this, TargetRefusalText(probe.target_bytes, probe.smallest_bytes), "エラー", PromptIcon::kError);
    return false;
}

TargetProbe CMainWindow::ProbeTargetWhileWaiting(const PageJobFactory& factory, const EncodeRequest& request) {
    // The probe opens the source and may code its sound: off this thread,
    // with the window painted but taking no input until it is through.
    std::future<TargetProbe> probe =
        std::async(std::launch::async, [factory, request] { return ProbeTarget(factory, request); });
    setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    while (probe.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    QApplication::restoreOverrideCursor();
    setEnabled(true);
    return probe.get();
}

void CMainWindow::AddToQueue() {
    if (running_page_ || queue_running_) return;
    EncodeRequest request;
    if (!PrepareRequest(request)) return;
    const int tab = tab_->currentIndex();
    CSourcePage* page = pages_[static_cast<size_t>(tab)];
    page->AddPaths(request);
    if (request.source.empty()) {
        prompts_->Tell(this, "入力ファイルが指定されていません。", "エラー", PromptIcon::kError);
        return;
    }
    // A waiting row would write the same file first; the later row would
    // replace it as surely as an existing file.
    const QString output = QFileInfo(Q(request.output)).absoluteFilePath();
    for (const QueueEntry& row : queue_->Entries())
        if (row.state == QueueState::kWaiting && QFileInfo(Q(row.request.output)).absoluteFilePath() == output) {
            if (!prompts_->Ask(this, "ファイル[" + request.output + "]はキューの待機中の行も出力します。上書きしてもよろしいですか？",
                               "上書き確認"))
                return;
            break;
        }
    if (HasRateTarget(request.settings) && !TargetReachable(*page, request)) return;
    QueueEntry entry;
    entry.page = tab;
    entry.request = std::move(request);
    queue_->Append(std::move(entry));
}

void CMainWindow::StartQueue() {
    if (running_page_ || queue_running_ || queue_->NextWaiting() < 0) return;
    queue_running_ = true;
    queue_rows_ended_ = 0;
    EnableOptions(false);
    RunNextQueueRow();
}

void CMainWindow::RunNextQueueRow() {
    // One row at a time: a row marked running is on its way to its page.
    if (!queue_running_ || running_page_ || RunningRow() >= 0) return;
    const int row = queue_->NextWaiting();
    if (row < 0) {
        StopQueue();
        return;
    }
    QueueEntry entry = queue_->Entries()[size_t(row)];
    entry.state = QueueState::kRunning;
    entry.percent = 0;
    entry.reason.clear();
    queue_->Update(row, entry);
    tab_->setCurrentIndex(entry.page);
    job_clock_.start();
    progress_reports_ = 0;
    ShowQueueProgress(0.0);
    CSourcePage* page = pages_[size_t(entry.page)];
    // A row aborted before its page got to it is not started after all.
    QMetaObject::invokeMethod(
        this,
        [this, page, request = entry.request] {
            if (queue_running_ && !running_page_ && RunningRow() >= 0) page->RunQueuedJob(request);
        },
        Qt::QueuedConnection);
}

void CMainWindow::StopQueue() {
    queue_running_ = false;
    if (!running_page_) {
        EnableOptions(true);
        setWindowTitle(QString::fromUtf8(kWindowTitle));
    }
}

void CMainWindow::QueuedJobEnded(bool done, const std::string& reason) {
    const int row = RunningRow();
    if (row >= 0) {
        QueueEntry entry = queue_->Entries()[size_t(row)];
        entry.state = done ? QueueState::kDone : QueueState::kFailed;
        entry.reason = done ? std::string() : reason;
        queue_->Update(row, entry);
    }
    ++queue_rows_ended_;
    UpdateResultButtons();
    // After the page's JobIdle, which is already waiting in the event loop.
    QMetaObject::invokeMethod(this, [this] { RunNextQueueRow(); }, Qt::QueuedConnection);
}

int CMainWindow::RunningRow() const {
    const std::vector<QueueEntry>& entries = queue_->Entries();
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].state == QueueState::kRunning) return int(i);
    return -1;
}

void CMainWindow::ShowQueueProgress(double fraction) {
    const int row = RunningRow();
    if (row >= 0) {
        QueueEntry entry = queue_->Entries()[size_t(row)];
        const int percent = static_cast<int>(fraction * 100.0);
        if (percent != entry.percent) {
            entry.percent = percent;
            queue_->Update(row, entry, false);
        }
    }
    // Rows added to or removed from the waiting ones change the whole.
    const double rows = queue_rows_ended_ + (row >= 0 ? 1 : 0) + queue_->WaitingRows();
    const double overall = rows > 0 ? (queue_rows_ended_ + (row >= 0 ? fraction : 0.0)) / rows : 1.0;
    setWindowTitle(Q(TitleWithPercent(kWindowTitle, overall)));
}

void CMainWindow::JobEndedWell(const std::string& output) {
    last_result_ = output;
    UpdateResultButtons();
}

std::string CMainWindow::ResultPath() const {
    const int row = queue_->SelectedRow();
    std::string path = last_result_;
    if (row >= 0) {
        const QueueEntry& entry = queue_->Entries()[size_t(row)];
        path = entry.state == QueueState::kDone ? entry.request.output : std::string();
    }
    // A movie removed since cannot be played or shown.
    return !path.empty() && QFileInfo(Q(path)).isFile() ? path : std::string();
}

void CMainWindow::UpdateResultButtons() {
    const bool result = !ResultPath().empty();
    play_->setEnabled(result);
    open_folder_->setEnabled(result);
}

void CMainWindow::OpenResult(bool folder) {
    const std::string path = ResultPath();
    if (path.empty()) return;
    const QFileInfo file(Q(path));
    const QUrl url = QUrl::fromLocalFile(folder ? file.absolutePath() : file.absoluteFilePath());
    if (!url_opener_(url))
        prompts_->Tell(this, folder ? "フォルダを開けませんでした。" : "ファイルを開けませんでした。", "エラー",
                       PromptIcon::kError, U(url.toLocalFile()));
}
