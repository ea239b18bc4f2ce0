#include "app/window/main_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>

#include "app/output_check.h"
#include "app/progress_text.h"
#include "app/window/source_page.h"
#include "app/window/window_messages.h"
#include "jobs/control_ids.h"

const char* const kWindowTitle = "RVX Encoder";

namespace {

constexpr int kProgressRange = 10000;

}  // namespace

CMainWindow::CMainWindow() : own_prompts_(std::make_unique<CQtPrompts>()), prompts_(own_prompts_.get()) {
    setWindowTitle(QString::fromUtf8(kWindowTitle));
    BuildControls();
    ConnectControls();
    ApplyDefaultOptions(*this);
    auto* bar = static_cast<QProgressBar*>(Control(kIdProgressBar));
    bar->setRange(0, kProgressRange);
    bar->setValue(0);
    EnableOptions(true);
    // A job asks for the window from its own thread; the event brings the
    // request to this thread.
    relay_.SetNotify([this] { PostWindowMessage(this, MSG_PROGRESS); });
}

CMainWindow::~CMainWindow() {
    // The pages (and their jobs) outlive this body as child widgets; their
    // jobs must end now, while the relay they wait on still exists.
    relay_.Abandon();
    for (CSourcePage* page : pages_)
        if (page) page->ReleaseJob();
}

void CMainWindow::SetPrompts(IWindowPrompts* prompts) { prompts_ = prompts ? prompts : own_prompts_.get(); }

QWidget* CMainWindow::Control(uint32_t control_id) const { return findChild<QWidget*>(QString::number(control_id)); }

void CMainWindow::ConnectControls() {
    connect(tab_, &QTabWidget::currentChanged, this, [this](int index) { TabChanged(index); });
    connect(static_cast<QComboBox*>(Control(kIdFrameRate)), &QComboBox::currentIndexChanged, this,
            [this] { UpdateFrameRateFields(*this, false); });
    connect(static_cast<QPushButton*>(Control(kIdOutputBrowse)), &QPushButton::clicked, this, [this] {
        auto* field = static_cast<QLineEdit*>(Control(kIdOutputFile));
        const FileDialogSpec spec =
            WithAllFilesFilter({true, "出力するファイルを選択する", {{"rvx file (*.rvx)", "*.rvx"}}});
        const std::string chosen = prompts_->ChooseFile(this, spec, U(field->text()));
        if (!chosen.empty()) field->setText(Q(chosen));
    });
    connect(static_cast<QPushButton*>(Control(kIdCreate)), &QPushButton::clicked, this, [this] { Create(); });
    connect(static_cast<QPushButton*>(Control(kIdAbort)), &QPushButton::clicked, this,
            [this] { PostWindowMessage(this, MSG_CONFIRM_ABORT, 0); });
    connect(static_cast<QPushButton*>(Control(kIdExit)), &QPushButton::clicked, this,
            [this] { PostWindowMessage(this, MSG_CONFIRM_EXIT); });
}

void CMainWindow::TabChanged(int index) {
    // While a job runs its page stays in front.
    if (running_page_ && index != running_tab_) tab_->setCurrentIndex(running_tab_);
}

bool CMainWindow::event(QEvent* event) {
    if (!IsWindowMessage(event)) return QWidget::event(event);
    const auto* message = static_cast<CWindowEvent*>(event);
    switch (message->Message()) {
    case MSG_PROGRESS:
        relay_.Serve();
        break;
    case MSG_JOB_STARTED:
        JobStarted(static_cast<CSourcePage*>(message->Sender()));
        break;
    case MSG_JOB_IDLE:
        JobIdle();
        break;
    case MSG_CONFIRM_EXIT:
        ConfirmExit();
        break;
    case MSG_CONFIRM_ABORT:
        ConfirmAbort(message->Param() == 1);
        break;
    case MSG_APP_CLOSE:
        CloseApp();
        break;
    default:
        return QWidget::event(event);
    }
    return true;
}

void CMainWindow::closeEvent(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    event->ignore();
    if (running_page_)
        PostWindowMessage(this, MSG_CONFIRM_ABORT, 1);
    else
        PostWindowMessage(this, MSG_CONFIRM_EXIT);
}

void CMainWindow::Create() {
    if (running_page_) return;
    const std::string path = GetControlText(kIdOutputFile);
    switch (CheckOutputFile(path)) {
    case OutputCheck::kEmpty:
        prompts_->Tell(this, "ファイル名が入力されていません。", "エラー", PromptIcon::kError);
        return;
    case OutputCheck::kExists:
        if (!prompts_->Ask(this, "ファイル[" + path + "]はすでに存在します。上書きしてもよろしいですか？", "上書き確認"))
            return;
        break;
    case OutputCheck::kCannotCreate:
        prompts_->Tell(this, "指定したファイル名で作成できません、", "エラー", PromptIcon::kError);
        return;
    case OutputCheck::kAccepted:
        break;
    }
    PostWindowMessage(pages_[static_cast<size_t>(tab_->currentIndex())], MSG_PAGE_CREATE);
}

void CMainWindow::ConfirmExit() {
    if (prompts_->Ask(this, "終了します。よろしいですか？", "終了確認"))
        PostWindowMessage(this, MSG_APP_CLOSE);
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
    PostWindowMessage(this, then_close ? MSG_APP_CLOSE : MSG_JOB_IDLE);
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
    EnableOptions(true);
    static_cast<QLabel*>(Control(kIdStatusLine))->clear();
    static_cast<QProgressBar*>(Control(kIdProgressBar))->setValue(0);
    setWindowTitle(QString::fromUtf8(kWindowTitle));
}

void CMainWindow::EnableOptions(bool enable) {
    for (uint32_t id = kIdOutputFile; id <= kIdAudioBlockSize; ++id) EnableControl(id, enable);
    EnableControl(kIdCreate, enable);
    EnableControl(kIdExit, enable);
    EnableControl(kIdAbort, !enable);
    if (enable) UpdateFrameRateFields(*this, false);
}

void CMainWindow::ShowProgress(const std::string& text, double fraction) {
    auto* status = static_cast<QLabel*>(Control(kIdStatusLine));
    auto* bar = static_cast<QProgressBar*>(Control(kIdProgressBar));
    if (!status || !bar) return;
    if (!(fraction >= 0.0)) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    ++progress_reports_;
    const std::string remaining =
        RemainingTimeText(job_clock_.isValid() ? job_clock_.elapsed() / 1000.0 : 0.0, fraction, progress_reports_);
    status->setText(Q(remaining.empty() ? text : text + "　" + remaining));
    bar->setValue(static_cast<int>(fraction * kProgressRange));
    if (running_page_) setWindowTitle(Q(TitleWithPercent(kWindowTitle, fraction)));
    if (progress_observer_) progress_observer_(fraction);
}

void CMainWindow::PostJobMessage(uint32_t message) {
    if (running_page_) PostWindowMessage(running_page_, message);
}

void CMainWindow::SetListRows(uint32_t control_id, const std::vector<std::string>& rows) {
    auto* list = qobject_cast<QComboBox*>(Control(control_id));
    if (!list) return;
    list->clear();
    for (const std::string& row : rows) list->addItem(Q(row));
}

void CMainWindow::SelectListRow(uint32_t control_id, int32_t row) {
    if (auto* list = qobject_cast<QComboBox*>(Control(control_id))) list->setCurrentIndex(row);
}

void CMainWindow::SetControlText(uint32_t control_id, const std::string& text) {
    QWidget* control = Control(control_id);
    if (auto* field = qobject_cast<QLineEdit*>(control))
        field->setText(Q(text));
    else if (auto* label = qobject_cast<QLabel*>(control))
        label->setText(Q(text));
}

void CMainWindow::EnableControl(uint32_t control_id, bool enable) {
    if (QWidget* control = Control(control_id)) control->setEnabled(enable);
}

int32_t CMainWindow::GetListSelection(uint32_t control_id) {
    auto* list = qobject_cast<QComboBox*>(Control(control_id));
    return list ? list->currentIndex() : -1;
}

std::string CMainWindow::GetControlText(uint32_t control_id) {
    QWidget* control = Control(control_id);
    if (auto* field = qobject_cast<QLineEdit*>(control)) return U(field->text());
    if (auto* label = qobject_cast<QLabel*>(control)) return U(label->text());
    if (auto* list = qobject_cast<QComboBox*>(control)) return U(list->currentText());
    return std::string();
}
