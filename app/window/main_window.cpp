#include "app/window/main_window.h"

#include <QApplication>
#include <QFileInfo>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QUrl>

#include "app/output_check.h"
#include "app/progress_text.h"
#include "app/window/dialog_folders.h"
#include "app/window/job_controller.h"
#include "app/window/job_queue_panel.h"
#include "app/window/path_field.h"
#include "app/window/progress_words.h"
#include "app/window/queue_model.h"
#include "app/window/source_page.h"
#include "app/window/target_probe.h"
#include "jobs/rate_control.h"
#include "jobs/target_miss.h"

const char* const kWindowTitle = "RVX Encoder";

namespace {

constexpr int kProgressRange = 10000;

}  // namespace

CMainWindow::CMainWindow()
    : own_prompts_(std::make_unique<CQtPrompts>()), prompts_(own_prompts_.get()), controller_(new CJobController(this)) {
    setWindowTitle(QString::fromUtf8(kWindowTitle));
    for (int page = 0; page < CJobController::kPages; ++page)
        controller_->SetJobFactory(page, PageJobFactoryFor(page));
    BuildControls();
    ConnectControls();
    ConnectController();
    SetPrompts(nullptr);
    ApplyDefaultOptions(options_);
    options_.ApplyDefaultRateOptions();
    options_.ApplyDefaultSourceOptions();
    SetUrlOpener(nullptr);
    RestoreQueue();
    UpdateResultButtons();
    bar_->setRange(0, kProgressRange);
    bar_->setValue(0);
    EnableOptions(true);
}

// The controller, a child, would go after the pages; its job must end
// while everything it reports to still exists.
CMainWindow::~CMainWindow() { controller_->ReleaseJob(); }

void CMainWindow::SetPrompts(IWindowPrompts* prompts) {
    prompts_ = prompts ? prompts : own_prompts_.get();
    for (CSourcePage* page : pages_) page->SetPrompts(prompts_);
}

void CMainWindow::SetUrlOpener(UrlOpener opener) {
    url_opener_ = opener ? std::move(opener)
                         : UrlOpener([](const QUrl& url) { return QDesktopServices::openUrl(url); });
}

bool CMainWindow::IsRunning() const { return controller_->IsRunning(); }
bool CMainWindow::IsQueueRunning() const { return controller_->IsQueueRunning(); }
CQueueModel* CMainWindow::Queue() const { return controller_->Queue(); }

QWidget* CMainWindow::Control(uint32_t control_id) const { return findChild<QWidget*>(QString::number(control_id)); }

void CMainWindow::ConnectControls() {
    connect(tab_, &QTabWidget::currentChanged, this, &CMainWindow::TabChanged);
    connect(options_.frame_rate, &QComboBox::currentIndexChanged, this,
            [this] { UpdateFrameRateFields(options_, false); });
    connect(output_browse_, &QPushButton::clicked, this, &CMainWindow::ChooseOutput);
    connect(options_.rate_size, &QRadioButton::toggled, this, [this] { options_.FollowRateChoice(); });
    connect(create_, &QPushButton::clicked, this, &CMainWindow::Create);
    connect(queue_add_, &QPushButton::clicked, this, &CMainWindow::AddToQueue);
    connect(play_, &QPushButton::clicked, this, [this] { OpenResult(false); });
    connect(open_folder_, &QPushButton::clicked, this, [this] { OpenResult(true); });
    connect(queue_, &CJobQueuePanel::startRequested, controller_, &CJobController::StartQueue);
    connect(queue_, &CJobQueuePanel::selectionChanged, this, &CMainWindow::UpdateResultButtons);
    // The boxes they open run after the click has been handled.
    connect(abort_, &QPushButton::clicked, this, [this] { ConfirmAbort(false); }, Qt::QueuedConnection);
    connect(exit_, &QPushButton::clicked, this, [this] { ConfirmExit(); }, Qt::QueuedConnection);
}

void CMainWindow::ConnectController() {
    connect(controller_, &CJobController::jobStarted, this, &CMainWindow::JobStarted);
    connect(controller_, &CJobController::progressChanged, this, &CMainWindow::ShowProgress);
    connect(controller_, &CJobController::jobFinished, this, &CMainWindow::ShowJobEnd);
    connect(controller_, &CJobController::runningChanged, this, &CMainWindow::FollowRunning);
    connect(controller_, &CJobController::queueChanged, this, [this] {
        SaveQueueFile();
        UpdateResultButtons();
    });
    connect(controller_, &CJobController::targetCheckStarted, this, [this] { WaitForTargetCheck(true); });
    connect(controller_, &CJobController::targetCheckEnded, this, [this] { WaitForTargetCheck(false); });
    connect(controller_, &CJobController::targetRefused, this, &CMainWindow::TellTargetRefused);
}

void CMainWindow::TabChanged(int index) {
    // While a job runs its page stays in front.
    if (running_tab_ >= 0 && index != running_tab_) tab_->setCurrentIndex(running_tab_);
}

void CMainWindow::ChooseOutput() {
    const FileDialogSpec spec =
        WithAllFilesFilter({true, U(tr("出力するファイルを選択する")), {{U(tr("rvx file (*.rvx)")), "*.rvx"}}});
    const std::string chosen = prompts_->ChooseFile(this, spec, DialogStart(kIdOutputFile, U(output_->text())));
    if (chosen.empty()) return;
    RememberDialogFolder(kIdOutputFile, chosen);
    output_->setText(Q(chosen));
}

void CMainWindow::closeEvent(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    event->ignore();
    // The box is asked once the close request has been handled.
    if (IsRunning() || IsQueueRunning())
        QMetaObject::invokeMethod(this, [this] { ConfirmAbort(true); }, Qt::QueuedConnection);
    else
        QMetaObject::invokeMethod(this, [this] { ConfirmExit(); }, Qt::QueuedConnection);
}

void CMainWindow::Create() {
    if (IsRunning() || IsQueueRunning() || controller_->IsCheckingTarget()) return;
    // The options are read now, as the user confirmed them.
    EncodeRequest request;
    if (!PrepareRequest(request)) return;
    controller_->RunWhenReachable(tab_->currentIndex(), request, false);
}

void CMainWindow::AddToQueue() {
    if (IsRunning() || IsQueueRunning() || controller_->IsCheckingTarget()) return;
    EncodeRequest request;
    if (!PrepareRequest(request)) return;
    if (request.source.empty()) {
        prompts_->Tell(this, U(tr("入力ファイルが指定されていません。")), U(tr("エラー")), PromptIcon::kError);
        return;
    }
    // A waiting row would write the same file first; the later row would
    // replace it as surely as an existing file.
    const QString output = QFileInfo(Q(request.output)).absoluteFilePath();
    for (const QueueEntry& row : Queue()->Entries())
        if (row.state == QueueState::kWaiting && QFileInfo(Q(row.request.output)).absoluteFilePath() == output) {
            if (!prompts_->Ask(this,
                               U(tr("ファイル[%1]はキューの待機中の行も出力します。上書きしてもよろしいですか？")
                                     .arg(Q(request.output))),
                               U(tr("上書き確認"))))
                return;
            break;
        }
    controller_->RunWhenReachable(tab_->currentIndex(), request, true);
}

bool CMainWindow::PrepareRequest(EncodeRequest& request) {
    const std::string path = U(output_->text());
    switch (CheckOutputFile(path)) {
    case OutputCheck::kEmpty:
        prompts_->Tell(this, U(tr("ファイル名が入力されていません。")), U(tr("エラー")), PromptIcon::kError);
        return false;
    case OutputCheck::kExists:
        if (!prompts_->Ask(this, U(tr("ファイル[%1]はすでに存在します。上書きしてもよろしいですか？").arg(Q(path))),
                           U(tr("上書き確認"))))
            return false;
        break;
    case OutputCheck::kCannotCreate:
        prompts_->Tell(this, U(tr("指定したファイル名で作成できません、")), U(tr("エラー")), PromptIcon::kError);
        return false;
    case OutputCheck::kAccepted:
        break;
    }
    request.output = path;
    if (!ReadSettings(request.settings)) return false;
    Page(tab_->currentIndex())->AddPaths(request);
    return true;
}

bool CMainWindow::ReadSettings(EncodeSettings& settings) {
    settings = ReadEncodeSettings(options_);
    settings.preset = options_.ChosenPreset();
    if (std::string refusal; !options_.ReadSourceOptions(settings.source, &refusal)) {
        prompts_->Tell(this, refusal, U(tr("エラー")), PromptIcon::kError);
        return false;
    }
    if (!options_.SizeChosen()) return true;
    uint64_t bytes = 0;
    if (!ParseTargetSize(U(options_.target_size->text()) + "M", &bytes)) {
        prompts_->Tell(this, U(tr("目標サイズが入力されていません。")), U(tr("エラー")), PromptIcon::kError);
        return false;
    }
    settings.target_bytes = bytes;
    if (const std::string refusal = RateTargetRefusal(settings); !refusal.empty()) {
        prompts_->Tell(this, U(tr("指定したサイズでは作成できません。")), U(tr("エラー")), PromptIcon::kError, refusal);
        return false;
    }
    return true;
}

void CMainWindow::ConfirmExit() {
    if (prompts_->Ask(this, U(tr("終了します。よろしいですか？")), U(tr("終了確認"))))
        CloseApp();
    else
        update();
}

void CMainWindow::ConfirmAbort(bool then_close) {
    const bool yes = then_close
                         ? prompts_->Ask(this, U(tr("処理を中断し終了します。よろしいですか？")), U(tr("終了確認")))
                         : prompts_->Ask(this, U(tr("処理を中断します。よろしいですか？")), U(tr("中断確認")));
    if (!yes) {
        update();
        return;
    }
    controller_->Abort();
    if (then_close) {
        CloseApp();
        return;
    }
    const bool go_on = IsQueueRunning() && Queue()->NextWaiting() >= 0 &&
                       !prompts_->Ask(this, U(tr("キューの残りの処理も中止しますか？")), U(tr("中断確認")));
    if (go_on)
        controller_->RunNextRow();
    else
        controller_->StopQueue();
}

void CMainWindow::CloseApp() {
    controller_->StopQueue();
    controller_->ReleaseJob();
    closing_ = true;
    close();
}

void CMainWindow::JobStarted(int page) {
    running_tab_ = page;
    tab_->setCurrentIndex(page);
    job_clock_.start();
    progress_reports_ = 0;
    EnableOptions(false);
    if (IsQueueRunning()) setWindowTitle(Q(TitleWithPercent(kWindowTitle, controller_->QueueFraction(0.0))));
}

void CMainWindow::JobIdle() {
    running_tab_ = -1;
    EnableOptions(!IsQueueRunning());
    status_->clear();
    bar_->setValue(0);
    if (!IsQueueRunning()) setWindowTitle(QString::fromUtf8(kWindowTitle));
    UpdateResultButtons();
}

void CMainWindow::FollowRunning() {
    if (IsRunning())
        EnableOptions(false);
    else
        JobIdle();
}

void CMainWindow::EnableOptions(bool enable) {
    output_->setEnabled(enable);
    output_browse_->setEnabled(enable);
    options_.SetEnabled(enable);
    create_->setEnabled(enable);
    queue_add_->setEnabled(enable);
    exit_->setEnabled(enable);
    abort_->setEnabled(!enable);
    queue_->SetQueueRunning(!enable);
    for (CSourcePage* page : pages_) page->SetLocked(IsRunning());
    if (enable) UpdateFrameRateFields(options_, false);
}

void CMainWindow::ShowProgress(const JobProgress& progress) {
    double fraction = progress.Fraction();
    if (!(fraction >= 0.0)) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    ++progress_reports_;
    const QString text = CProgressWords::Status(progress);
    const QString remaining = CProgressWords::Remaining(
        job_clock_.isValid() ? job_clock_.elapsed() / 1000.0 : 0.0, fraction, progress_reports_);
    status_->setText(remaining.isEmpty() ? text : text + QString::fromUtf8("　") + remaining);
    bar_->setValue(static_cast<int>(fraction * kProgressRange));
    const double title_fraction = IsQueueRunning() ? controller_->QueueFraction(fraction) : fraction;
    setWindowTitle(Q(TitleWithPercent(kWindowTitle, title_fraction)));
    if (progress_observer_) progress_observer_(fraction);
}

void CMainWindow::ShowJobEnd(const JobResult& result) {
    if (result.end == JobResult::End::kDone) last_result_ = result.output;
    UpdateResultButtons();
    // A queue row says its end in its row, not in a box that would stop the queue.
    if (result.queued) return;
    const std::string error = U(tr("エラー"));
    switch (result.end) {
    case JobResult::End::kDone:
        prompts_->Tell(this, U(tr("処理が完了しました。")), U(tr("処理完了")), PromptIcon::kInformation,
                       result.target_missed ? U(tr("目標サイズを超えました: 目標 %1 バイト、実際 %2 バイト (%3 %)")
                                                    .arg(QString::number(result.target_bytes),
                                                         QString::number(result.written_bytes),
                                                         QString::asprintf("%+.1f", TargetOverPercent(
                                                                                        result.target_bytes,
                                                                                        result.written_bytes))))
                                            : std::string());
        break;
    case JobResult::End::kLoadFailed:
        // A setting the source cannot take is the user's to change; the
        // file itself loaded.
        if (result.settings_refused)
            prompts_->Tell(this, result.reason, error, PromptIcon::kError);
        else
            prompts_->Tell(this, U(tr("ファイルのロードに失敗しました。")), error, PromptIcon::kError, result.reason);
        break;
    case JobResult::End::kFailed:
        // A target below the smallest movie is refused before any picture
        // is coded; the user needs the size that would work.
        if (result.target_refused)
            TellTargetRefused(result.target_bytes, result.smallest_bytes);
        else if (result.settings_refused)
            prompts_->Tell(this, result.reason, error, PromptIcon::kError);
        else
            prompts_->Tell(this, U(tr("処理に失敗しました。")), error, PromptIcon::kError, result.reason);
        break;
    }
}

void CMainWindow::TellTargetRefused(quint64 target_bytes, quint64 smallest_bytes) {
    prompts_->Tell(this, U(TargetRefusalText(target_bytes, smallest_bytes)), U(tr("エラー")), PromptIcon::kError);
}

void CMainWindow::WaitForTargetCheck(bool waiting) {
    // The window is painted but takes no input while the source is asked.
    setEnabled(!waiting);
    if (waiting)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}
