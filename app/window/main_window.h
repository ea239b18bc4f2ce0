#pragma once
// The main window: the source tab, the output file, the option controls, the
// status line, the progress bar and the three job buttons, and the protocol
// that runs one job at a time through the pages.
//
// Every step of the protocol runs on the window's thread. Steps that answer
// a button, a page or a job are queued (QMetaObject::invokeMethod), so they
// run from the event loop after what is already waiting there, and never
// once the window is gone.

#include <QElapsedTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/job_request_relay.h"
#include "app/window/option_controls.h"
#include "app/window/page_job.h"
#include "app/window/target_probe.h"
#include "app/window/window_prompts.h"
#include "jobs/job_progress.h"

class CJobQueuePanel;
class CPathField;
class CSourcePage;
class QLabel;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QUrl;

// Hands a file or folder to the desktop's default application; true when
// the desktop took it.
using UrlOpener = std::function<bool(const QUrl&)>;

class CMainWindow : public QWidget {
public:
    CMainWindow();
    ~CMainWindow() override;

    // Replaces the message boxes and file dialogs (tests answer them from a
    // script); null restores the real ones. The prompts must outlive their use.
    void SetPrompts(IWindowPrompts* prompts);
    IWindowPrompts& Prompts() { return *prompts_; }
    CJobRequestRelay& Relay() { return relay_; }
    CSourcePage* Page(int index) const { return pages_[static_cast<size_t>(index)]; }
    bool IsRunning() const { return running_page_ != nullptr; }
    bool IsQueueRunning() const { return queue_running_; }
    CJobQueuePanel* Queue() const { return queue_; }
    // Replaces QDesktopServices::openUrl for 再生 and フォルダを開く (tests
    // see what would be opened); null restores it.
    void SetUrlOpener(UrlOpener opener);

    // Shows a report of the running job on the status line, the bar and the
    // title; called on the window's thread.
    void ShowProgress(const JobProgress& progress);
    // Called after every progress report has been shown (the screenshot
    // mode grabs the window from here).
    void SetProgressObserver(std::function<void(double)> observer) { progress_observer_ = std::move(observer); }

    // 終了, or closing while idle: asks, and closes on yes.
    void ConfirmExit();
    // 中断, or closing while a job runs: asks, and on yes releases the job
    // (even one waiting for this thread) and returns to idle or closes.
    void ConfirmAbort(bool then_close);
    // A page loaded its job and starts it; the page stays in front and the
    // options are locked until JobIdle.
    void JobStarted(CSourcePage* page);
    void JobIdle();
    // A job wrote its movie: 再生 and フォルダを開く offer it.
    void JobEndedWell(const std::string& output);
    // The running row of the queue ended (or its source did not load); the
    // next waiting row follows once the window is idle again.
    void QueuedJobEnded(bool done, const std::string& reason);

    // The control with the numeric id, or null: for drivers from outside
    // (the screenshot mode).
    QWidget* Control(uint32_t control_id) const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void ConnectControls();
    void TabChanged(int index);
    void ChooseOutput();
    void Create();
    // The output check and the settings as 作成 and キューに追加 take them;
    // false (after telling why) when the user or a check refused.
    bool PrepareRequest(EncodeRequest& request);
    bool ReadSettings(EncodeSettings& settings);
    void CloseApp();
    void EnableOptions(bool enable);

    void RestoreQueue();
    void SaveQueueFile() const;
    void AddToQueue();
    // Whether the job can reach its target, asked off the window's thread.
    TargetProbe ProbeTargetWhileWaiting(const PageJobFactory& factory, const EncodeRequest& request);
    // Whether the request's source (its paths added by the page) can be
    // coded to its target size; when it cannot, the user is told the
    // smallest size.
    bool TargetReachable(const CSourcePage& page, const EncodeRequest& request);
    void StartQueue();
    void RunNextQueueRow();
    void StopQueue();
    // The row now running, or -1.
    int RunningRow() const;
    void ShowQueueProgress(double fraction);
    // What 再生 and フォルダを開く act on: the selected row's movie once
    // it is done, else the last movie written; empty for none.
    std::string ResultPath() const;
    void UpdateResultButtons();
    void OpenResult(bool folder);

    std::unique_ptr<IWindowPrompts> own_prompts_;
    IWindowPrompts* prompts_;
    CJobRequestRelay relay_;
    QTabWidget* tab_ = nullptr;
    std::array<CSourcePage*, 3> pages_{};
    CPathField* output_ = nullptr;
    QPushButton* output_browse_ = nullptr;
    COptionControls options_;
    QLabel* status_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* create_ = nullptr;
    QPushButton* abort_ = nullptr;
    QPushButton* exit_ = nullptr;
    QPushButton* queue_add_ = nullptr;
    QPushButton* play_ = nullptr;
    QPushButton* open_folder_ = nullptr;
    CJobQueuePanel* queue_ = nullptr;
    bool queue_running_ = false;
    int queue_rows_ended_ = 0;  // in this run of the queue
    std::string last_result_;
    UrlOpener url_opener_;
    CSourcePage* running_page_ = nullptr;
    int running_tab_ = -1;
    bool closing_ = false;
    QElapsedTimer job_clock_;
    uint32_t progress_reports_ = 0;
    std::function<void(double)> progress_observer_;
};

// "RVX Encoder".
extern const char* const kWindowTitle;
