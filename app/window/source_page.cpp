#include "app/window/source_page.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>

#include "app/window/dialog_folders.h"
#include "app/window/main_window.h"
#include "app/window/path_field.h"
#include "app/window/target_probe.h"
#include "app/window/window_job_host.h"
#include "jobs/job_messages.h"

FileDialogSpec WithAllFilesFilter(FileDialogSpec spec) {
    spec.filters.push_back({"すべてのファイル (*.*)", "*"});
    return spec;
}

CSourcePage::CSourcePage(CMainWindow* window, std::vector<PathSpec> paths, PageJobFactory factory)
    : window_(window), factory_(std::move(factory)), grid_(new QGridLayout(this)) {
    setAcceptDrops(true);
    grid_->setVerticalSpacing(2);
    rows_.reserve(paths.size());
    for (PathSpec& spec : paths) AddPathRow(std::move(spec));
    grid_->setColumnStretch(0, 1);
}

void CSourcePage::AddPathRow(PathSpec spec) {
    // Two grid rows a path: its label, then its field and button.
    const int row = 2 * static_cast<int>(rows_.size());
    grid_->addWidget(new QLabel(Q(spec.label), this), row, 0, 1, 2);
    auto* field = new CPathField(this);
    field->setObjectName(QString::number(spec.field_id));
    field->SetDropHandler([this](const QString& path) { DropFile(path); });
    auto* button = new QPushButton(Q(spec.button_text), this);
    button->setObjectName(QString::number(spec.button_id));
    button->setAutoDefault(false);
    const size_t index = rows_.size();
    connect(button, &QPushButton::clicked, this, [this, index] { Browse(rows_[index]); });
    grid_->addWidget(field, row + 1, 0);
    grid_->addWidget(button, row + 1, 1);
    rows_.push_back({std::move(spec), field, button});
}

CSourcePage::~CSourcePage() { ReleaseJob(); }

CPathField* CSourcePage::Field(uint32_t id) const {
    for (const PathRow& row : rows_)
        if (row.spec.field_id == id) return row.field;
    return nullptr;
}

void CSourcePage::AddPaths(EncodeRequest& request) const {
    if (!rows_.empty()) request.source = U(rows_[0].field->text());
    if (rows_.size() > 1) request.wave = U(rows_[1].field->text());
}

void CSourcePage::CreateJob(EncodeRequest request) {
    // A second create that was queued before the first job started.
    if (job_) return;
    AddPaths(request);
    queued_job_ = false;
    Launch(std::move(request));
}

void CSourcePage::RunQueuedJob(EncodeRequest request) {
    if (job_) return;
    queued_job_ = true;
    Launch(std::move(request));
}

void CSourcePage::Launch(EncodeRequest request) {
    job_output_ = request.output;
    window_->Relay().Reopen();
    host_ = std::make_unique<CWindowJobHost>(window_, this, ++serial_);
    job_ = factory_ ? factory_(host_.get(), request) : nullptr;
    if (!job_ || job_->Load() != 0) {
        const std::string reason = job_ ? job_->FailureReason() : std::string();
        // A setting the source cannot take is the user's to change; the
        // file itself loaded.
        const bool refused = job_ && job_->SettingsRefused();
        ReleaseJob();
        if (refused && queued_job_)
            window_->QueuedJobEnded(false, reason);
        else if (refused)
            window_->Prompts().Tell(window_, reason, "エラー", PromptIcon::kError);
        else if (queued_job_)
            window_->QueuedJobEnded(false, reason.empty() ? "ファイルのロードに失敗しました。"
                                                          : "ファイルのロードに失敗しました。 (" + reason + ")");
        else
            window_->Prompts().Tell(window_, "ファイルのロードに失敗しました。", "エラー", PromptIcon::kError, reason);
        return;
    }
    CMainWindow* window = window_;
    QMetaObject::invokeMethod(window, [window, page = this] { window->JobStarted(page); }, Qt::QueuedConnection);
    EnableOwnControls(false);
    if (!job_->Start()) {
        const uint64_t serial = serial_;
        QMetaObject::invokeMethod(this, [this, serial] { JobEnded(MSG_JOB_FAILED, serial); }, Qt::QueuedConnection);
    }
}

void CSourcePage::Abort() {
    ReleaseJob();
    EnableOwnControls(true);
}

void CSourcePage::ReleaseJob() {
    job_.reset();
    host_.reset();
}

void CSourcePage::JobEnded(uint32_t message, uint64_t serial) {
    if (!job_ || serial != serial_) return;  // a released job's last word
    if (message == MSG_JOB_DONE)
        JobDone();
    else if (message == MSG_JOB_FAILED)
        JobFailed();
}

void CSourcePage::JobDone() {
    const bool queued = queued_job_;
    if (!queued) window_->Prompts().Tell(window_, "処理が完了しました。", "処理完了", PromptIcon::kInformation);
    EnableOwnControls(true);
    CMainWindow* window = window_;
    QMetaObject::invokeMethod(window, [window] { window->JobIdle(); }, Qt::QueuedConnection);
    ReleaseJob();
    window_->JobEndedWell(job_output_);
    if (queued) window_->QueuedJobEnded(true, std::string());
}

void CSourcePage::JobFailed() {
    // A failed job would otherwise leave the window running with nothing
    // behind it until the user aborts.
    // A target below the smallest movie is refused before any picture is
    // coded; the user needs the size that would work, not a failure.
    // A source setting the source cannot take is told the same way.
    const bool refused = job_->TargetRefused() || job_->SettingsRefused();
    const std::string reason = job_->TargetRefused()
                                   ? TargetRefusalText(job_->RefusedTargetBytes(), job_->SmallestReachableBytes())
                                   : job_->FailureReason();
    ReleaseJob();
    EnableOwnControls(true);
    CMainWindow* window = window_;
    QMetaObject::invokeMethod(window, [window] { window->JobIdle(); }, Qt::QueuedConnection);
    if (queued_job_)
        window_->QueuedJobEnded(false, reason.empty() ? "処理に失敗しました。" : reason);
    else if (refused)
        window_->Prompts().Tell(window_, reason, "エラー", PromptIcon::kError);
    else
        window_->Prompts().Tell(window_, "処理に失敗しました。", "エラー", PromptIcon::kError, reason);
}

void CSourcePage::EnableOwnControls(bool enable) {
    for (const PathRow& row : rows_) {
        row.field->setEnabled(enable);
        row.button->setEnabled(enable);
    }
}

void CSourcePage::Browse(const PathRow& row) {
    const std::string chosen = window_->Prompts().ChooseFile(
        window_, WithAllFilesFilter(row.spec.dialog), DialogStart(row.spec.field_id, U(row.field->text())));
    if (!chosen.empty()) {
        RememberDialogFolder(row.spec.field_id, chosen);
        SetPath(row, Q(chosen));
    }
    update();
}

void CSourcePage::SetPath(const PathRow& row, const QString& path) {
    row.field->setText(path);
    PathChosen(row.spec.field_id);
}

void CSourcePage::DropFile(const QString& path) {
    if (job_ || rows_.empty()) return;
    const std::string name = U(path.toLower());
    const PathRow* target = nullptr;
    for (const PathRow& row : rows_)
        for (const std::string& ending : row.spec.drop_endings)
            if (!target && name.size() >= ending.size() &&
                name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
                target = &row;
    if (!target)
        for (const PathRow& row : rows_)
            if (row.spec.drop_endings.empty()) {
                target = &row;
                break;
            }
    if (target) SetPath(*target, path);
}

void CSourcePage::dragEnterEvent(QDragEnterEvent* event) {
    if (!job_ && !DroppedFilePath(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CSourcePage::dropEvent(QDropEvent* event) {
    const QString path = DroppedFilePath(event->mimeData());
    if (path.isEmpty() || job_) return;
    DropFile(path);
    event->acceptProposedAction();
}
