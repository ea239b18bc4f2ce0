#include "app/window/main_window.h"

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
#include "app/window/job_queue_panel.h"
#include "app/window/path_field.h"
#include "app/window/source_page.h"
#include "jobs/rate_control.h"

const char* const kWindowTitle = "RVX Encoder";

namespace {

constexpr int kProgressRange = 10000;

}  // namespace

CMainWindow::CMainWindow() : own_prompts_(std::make_unique<CQtPrompts>()), prompts_(own_prompts_.get()) {
    setWindowTitle(QString::fromUtf8(kWindowTitle));
    BuildControls();
    ConnectControls();
    ApplyDefaultOptions(options_);
    options_.ApplyDefaultRateOptions();
    options_.ApplyDefaultSourceOptions();
    SetUrlOpener(nullptr);
    RestoreQueue();
    UpdateResultButtons();
    bar_->setRange(0, kProgressRange);
    bar_->setValue(0);
    EnableOptions(true);
    // A job asks for the window from its own thread; the queued call brings
    // the request to this thread.
    relay_.SetNotify(
        [this] { QMetaObject::invokeMethod(this, [this] { relay_.Serve(); }, Qt::QueuedConnection); });
}

CMainWindow::~CMainWindow() {
    // The pages (and their jobs) outlive this body as child widgets; their
    // jobs must end now, while the relay they wait on still exists.
    relay_.Abandon();
    for (CSourcePage* page : pages_)
        if (page) page->ReleaseJob();
}

void CMainWindow::SetPrompts(IWindowPrompts* prompts) { prompts_ = prompts ? prompts : own_prompts_.get(); }

void CMainWindow::SetUrlOpener(UrlOpener opener) {
    url_opener_ = opener ? std::move(opener)
                         : UrlOpener([](const QUrl& url) { return QDesktopServices::openUrl(url); });
}

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
    queue_->SetOnChanged([this] { SaveQueueFile(); });
    queue_->SetOnStart([this] { StartQueue(); });
    queue_->SetOnSelection([this] { UpdateResultButtons(); });
    connect(abort_, &QPushButton::clicked, this, [this] { ConfirmAbort(false); }, Qt::QueuedConnection);
    connect(exit_, &QPushButton::clicked, this, [this] { ConfirmExit(); }, Qt::QueuedConnection);
}

void CMainWindow::TabChanged(int index) {
    // While a job runs its page stays in front.
    if (running_page_ && index != running_tab_) tab_->setCurrentIndex(running_tab_);
}

void CMainWindow::ChooseOutput() {
    const FileDialogSpec spec = WithAllFilesFilter({true, "出力するファイルを選択する", {{"rvx file (*.rvx)", "*.rvx"}}});
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
    if (running_page_ || queue_running_)
        QMetaObject::invokeMethod(this, [this] { ConfirmAbort(true); }, Qt::QueuedConnection);
    else
        QMetaObject::invokeMethod(this, [this] { ConfirmExit(); }, Qt::QueuedConnection);
}

void CMainWindow::Create() {
    if (running_page_ || queue_running_) return;
    // The options are read now, as the user confirmed them; the page adds
    // its own paths when it makes the job.
    EncodeRequest request;
    if (!PrepareRequest(request)) return;
    CSourcePage* page = pages_[static_cast<size_t>(tab_->currentIndex())];
    if (HasRateTarget(request.settings)) {
        EncodeRequest probed = request;
        page->AddPaths(probed);
        if (!TargetReachable(*page, probed)) return;
    }
    QMetaObject::invokeMethod(page, [page, request] { page->CreateJob(request); }, Qt::QueuedConnection);
}

bool CMainWindow::PrepareRequest(EncodeRequest& request) {
    const std::string path = U(output_->text());
    switch (CheckOutputFile(path)) {
    case OutputCheck::kEmpty:
        prompts_->Tell(this, "ファイル名が入力されていません。", "エラー", PromptIcon::kError);
        return false;
    case OutputCheck::kExists:
        if (!prompts_->Ask(this, "ファイル[" + path + "]はすでに存在します。上書きしてもよろしいですか？", "上書き確認"))
            return false;
        break;
    case OutputCheck::kCannotCreate:
        prompts_->Tell(this, "指定したファイル名で作成できません、", "エラー", PromptIcon::kError);
        return false;
    case OutputCheck::kAccepted:
        break;
    }
    request.output = path;
    return ReadSettings(request.settings);
}

bool CMainWindow::ReadSettings(EncodeSettings& settings) {
    settings = ReadEncodeSettings(options_);
    settings.preset = options_.ChosenPreset();
    if (std::string refusal; !options_.ReadSourceOptions(settings.source, &refusal)) {
        prompts_->Tell(this, refusal, "エラー", PromptIcon::kError);
        return false;
    }
    if (!options_.SizeChosen()) return true;
    uint64_t bytes = 0;
    if (!ParseTargetSize(U(options_.target_size->text()) + "M", &bytes)) {
        prompts_->Tell(this, "目標サイズが入力されていません。", "エラー", PromptIcon::kError);
        return false;
    }
    settings.target_bytes = bytes;
    if (const std::string refusal = RateTargetRefusal(settings); !refusal.empty()) {
        prompts_->Tell(this, "指定したサイズでは作成できません。", "エラー", PromptIcon::kError, refusal);
        return false;
    }
    return true;
}

void CMainWindow::ConfirmExit() {
    if (prompts_->Ask(this, "終了します。よろしいですか？", "終了確認"))
        QMetaObject::invokeMethod(this, [this] { CloseApp(); }, Qt::QueuedConnection);
    else
        update();
}

void CMainWindow::ConfirmAbort(bool then_close) {
    const bool yes = then_close ? prompts_->Ask(this, "処理を中断し終了します。よろしいですか？", "終了確認")
                                : prompts_->Ask(this, "処理を中断します。よろしいですか？", "中断確認");
    if (!yes) {
        update();
        return;
    }
    // The job may be waiting for this thread right now; release it before
    // waiting for its thread to end.
    relay_.Abandon();
    if (running_page_) running_page_->Abort();
    if (const int row = RunningRow(); row >= 0) {
        QueueEntry entry = queue_->Entries()[size_t(row)];
        entry.state = QueueState::kAborted;
        queue_->Update(row, entry);
        ++queue_rows_ended_;
    }
    if (then_close) {
        QMetaObject::invokeMethod(this, [this] { CloseApp(); }, Qt::QueuedConnection);
        return;
    }
    const bool go_on = queue_running_ && queue_->NextWaiting() >= 0 &&
                       !prompts_->Ask(this, "キューの残りの処理も中止しますか？", "中断確認");
    if (queue_running_ && !go_on) StopQueue();
    QMetaObject::invokeMethod(this, [this] { JobIdle(); }, Qt::QueuedConnection);
    if (go_on) QMetaObject::invokeMethod(this, [this] { RunNextQueueRow(); }, Qt::QueuedConnection);
}

void CMainWindow::CloseApp() {
    relay_.Abandon();
    for (CSourcePage* page : pages_) page->ReleaseJob();
    running_page_ = nullptr;
    closing_ = true;
    close();
}

void CMainWindow::JobStarted(CSourcePage* page) {
    running_page_ = page;
    running_tab_ = tab_->indexOf(page);
    job_clock_.start();
    progress_reports_ = 0;
    EnableOptions(false);
}

void CMainWindow::JobIdle() {
    running_page_ = nullptr;
    running_tab_ = -1;
    EnableOptions(!queue_running_);
    status_->clear();
    bar_->setValue(0);
    if (!queue_running_) setWindowTitle(QString::fromUtf8(kWindowTitle));
    UpdateResultButtons();
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
    if (enable) UpdateFrameRateFields(options_, false);
}

void CMainWindow::ShowProgress(const JobProgress& progress) {
    double fraction = progress.Fraction();
    if (!(fraction >= 0.0)) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    ++progress_reports_;
    const std::string text = WindowStatusText(progress);
    const std::string remaining =
        RemainingTimeText(job_clock_.isValid() ? job_clock_.elapsed() / 1000.0 : 0.0, fraction, progress_reports_);
    status_->setText(Q(remaining.empty() ? text : text + "　" + remaining));
    bar_->setValue(static_cast<int>(fraction * kProgressRange));
    if (queue_running_)
        ShowQueueProgress(fraction);
    else if (running_page_)
        setWindowTitle(Q(TitleWithPercent(kWindowTitle, fraction)));
    if (progress_observer_) progress_observer_(fraction);
}
