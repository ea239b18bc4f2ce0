// The queue kept between runs, and the finished movie handed to the desktop.
#include <QFileInfo>
#include <QPushButton>
#include <QUrl>

#include "app/window/config_files.h"
#include "app/window/job_controller.h"
#include "app/window/job_queue_panel.h"
#include "app/window/main_window.h"
#include "app/window/queue_model.h"
#include "app/window/queue_store.h"

namespace {

constexpr char kQueueFile[] = "queue.json";

}  // namespace

void CMainWindow::RestoreQueue() {
    const QString path = ConfigFilePath(kQueueFile);
    if (!path.isEmpty()) Queue()->SetEntries(LoadQueue(path));
}

void CMainWindow::SaveQueueFile() const {
    const QString path = ConfigFilePath(kQueueFile);
    if (!path.isEmpty()) SaveQueue(path, Queue()->Entries());
}

std::string CMainWindow::ResultPath() const {
    const int row = queue_->SelectedRow();
    std::string path = last_result_;
    if (row >= 0) {
        const QueueEntry& entry = Queue()->Entry(row);
        const bool written = entry.state == QueueState::kDone || entry.state == QueueState::kTargetMissed;
        path = written ? entry.request.output : std::string();
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
        prompts_->Tell(this, U(folder ? tr("フォルダを開けませんでした。") : tr("ファイルを開けませんでした。")),
                       U(tr("エラー")), PromptIcon::kError, U(url.toLocalFile()));
}
