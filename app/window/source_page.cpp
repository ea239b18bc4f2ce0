#include "app/window/source_page.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>

#include "app/window/main_window.h"
#include "app/window/path_field.h"
#include "app/window/window_job_host.h"
#include "app/window/window_messages.h"

FileDialogSpec WithAllFilesFilter(FileDialogSpec spec) {
    spec.filters.push_back({"すべてのファイル (*.*)", "*"});
    return spec;
}

CSourcePage::CSourcePage(CMainWindow* window, std::vector<PathSpec> paths, PageJobFactory factory)
    : window_(window), paths_(std::move(paths)), factory_(std::move(factory)), grid_(new QGridLayout(this)) {
    setAcceptDrops(true);
    grid_->setVerticalSpacing(2);
    int row = 0;
    for (const PathSpec& spec : paths_) {
        grid_->addWidget(new QLabel(Q(spec.label), this), row++, 0, 1, 2);
        auto* field = new CPathField(this);
        field->setObjectName(QString::number(spec.field_id));
        const uint32_t id = spec.field_id;
        field->SetDropHandler([this](const QString& path) { DropFile(path); });
        auto* button = new QPushButton(Q(spec.button_text), this);
        button->setObjectName(QString::number(spec.button_id));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, id] {
            for (const PathSpec& s : paths_)
                if (s.field_id == id) Browse(s);
        });
        grid_->addWidget(field, row, 0);
        grid_->addWidget(button, row++, 1);
    }
    grid_->setColumnStretch(0, 1);
}

CSourcePage::~CSourcePage() { ReleaseJob(); }

CPathField* CSourcePage::Field(uint32_t id) const {
    return findChild<CPathField*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

bool CSourcePage::event(QEvent* event) {
    if (!IsWindowMessage(event)) return QWidget::event(event);
    const auto* message = static_cast<CWindowEvent*>(event);
    switch (message->Message()) {
    case MSG_PAGE_CREATE:
        CreateJob();
        break;
    case MSG_PAGE_ABORT:
        Abort();
        break;
    case MSG_PAGE_RELEASE:
        ReleaseJob();
        break;
    case MSG_JOB_DONE:
        JobDone(message->JobSerial());
        break;
    case MSG_JOB_FAILED:
        JobFailed(message->JobSerial());
        break;
    default:
        return QWidget::event(event);
    }
    return true;
}

void CSourcePage::CreateJob() {
    // A second create that was posted before the first job started.
    if (job_) return;
    window_->Relay().Reopen();
    host_ = std::make_unique<CWindowJobHost>(window_, this, ++serial_);
    job_ = factory_ ? factory_(host_.get()) : nullptr;
    if (!job_ || job_->Load() != 0) {
        const std::string reason = job_ ? job_->FailureReason() : std::string();
        ReleaseJob();
        window_->Prompts().Tell(window_, "ファイルのロードに失敗しました。", "エラー", PromptIcon::kError, reason);
        return;
    }
    PostWindowMessage(window_, MSG_JOB_STARTED, MSG_PAGE_ABORT, this);
    EnableOwnControls(false);
    if (!job_->Start()) PostWindowMessage(this, MSG_JOB_FAILED, 0, nullptr, serial_);
}

void CSourcePage::Abort() {
    ReleaseJob();
    EnableOwnControls(true);
}

void CSourcePage::ReleaseJob() {
    job_.reset();
    host_.reset();
}

void CSourcePage::JobDone(uint64_t serial) {
    if (!job_ || serial != serial_) return;  // a released job's last word
    window_->Prompts().Tell(window_, "処理が完了しました。", "処理完了", PromptIcon::kInformation);
    EnableOwnControls(true);
    PostWindowMessage(window_, MSG_JOB_IDLE);
    ReleaseJob();
}

void CSourcePage::JobFailed(uint64_t serial) {
    if (!job_ || serial != serial_) return;
    // A failed job would otherwise leave the window running with nothing
    // behind it until the user aborts.
    std::string reason = job_->FailureReason();
    ReleaseJob();
    EnableOwnControls(true);
    PostWindowMessage(window_, MSG_JOB_IDLE);
    window_->Prompts().Tell(window_, "処理に失敗しました。", "エラー", PromptIcon::kError, reason);
}

void CSourcePage::EnableOwnControls(bool enable) {
    for (const PathSpec& spec : paths_) {
        if (QWidget* w = findChild<QWidget*>(QString::number(spec.field_id))) w->setEnabled(enable);
        if (QWidget* w = findChild<QWidget*>(QString::number(spec.button_id))) w->setEnabled(enable);
    }
}

void CSourcePage::Browse(const PathSpec& spec) {
    CPathField* field = Field(spec.field_id);
    const std::string chosen =
        window_->Prompts().ChooseFile(window_, WithAllFilesFilter(spec.dialog), U(field->text()));
    if (!chosen.empty()) SetPath(spec.field_id, Q(chosen));
    update();
}

void CSourcePage::SetPath(uint32_t field_id, const QString& path) {
    Field(field_id)->setText(path);
    PathChosen(field_id);
}

void CSourcePage::DropFile(const QString& path) {
    if (job_ || paths_.empty()) return;
    const std::string name = U(path.toLower());
    const PathSpec* target = nullptr;
    for (const PathSpec& spec : paths_)
        for (const std::string& ending : spec.drop_endings)
            if (!target && name.size() >= ending.size() &&
                name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
                target = &spec;
    if (!target)
        for (const PathSpec& spec : paths_)
            if (spec.drop_endings.empty()) {
                target = &spec;
                break;
            }
    if (target) SetPath(target->field_id, path);
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
