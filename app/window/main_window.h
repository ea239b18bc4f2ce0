#pragma once
// The main window: the source tab, the output file, the option controls, the
// status line, the progress bar, the job buttons and the queue. It turns the
// controls into an EncodeRequest and hands it to the job controller, and
// shows what the controller's signals say.

#include <QElapsedTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/window/option_controls.h"
#include "app/window/window_prompts.h"
#include "jobs/job_progress.h"

class CJobController;
class CJobQueuePanel;
class CPathField;
class CQueueModel;
class CSourcePage;
class QLabel;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QUrl;
struct JobResult;

// Hands a file or folder to the desktop's default application; true when
// the desktop took it.
using UrlOpener = std::function<bool(const QUrl&)>;

class CMainWindow : public QWidget {
    Q_OBJECT

public:
    CMainWindow();
    ~CMainWindow() override;

    // Replaces the message boxes and file dialogs (tests answer them from a
    // script); null restores the real ones. The prompts must outlive their use.
    void SetPrompts(IWindowPrompts* prompts);
    IWindowPrompts& Prompts() { return *prompts_; }
    CJobController& Controller() const { return *controller_; }
    CSourcePage* Page(int index) const { return pages_[static_cast<size_t>(index)]; }
    bool IsRunning() const;
    bool IsQueueRunning() const;
    CQueueModel* Queue() const;
    CJobQueuePanel* QueuePanel() const { return queue_; }
    // Replaces QDesktopServices::openUrl for 再生 and フォルダを開く (tests
    // see what would be opened); null restores it.
    void SetUrlOpener(UrlOpener opener);

    // Called after every progress report has been shown (the screenshot
    // mode grabs the window from here).
    void SetProgressObserver(std::function<void(double)> observer) { progress_observer_ = std::move(observer); }

    // 終了, or closing while idle: asks, and closes on yes.
    void ConfirmExit();
    // 中断, or closing while a job runs: asks, and on yes stops the job and
    // returns to idle or closes.
    void ConfirmAbort(bool then_close);

    // The control with the numeric id, or null: for drivers from outside
    // (the screenshot mode).
    QWidget* Control(uint32_t control_id) const;

public slots:
    // A job of the page started: its page stays in front and the options
    // are locked until JobIdle.
    void JobStarted(int page);
    void JobIdle();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void ConnectControls();
    void ConnectController();
    void TabChanged(int index);
    void ChooseOutput();
    void Create();
    void AddToQueue();
    // The output check and the settings as 作成 and キューに追加 take them,
    // with the current page's paths; false (after telling why) when the
    // user or a check refused.
    bool PrepareRequest(EncodeRequest& request);
    bool ReadSettings(EncodeSettings& settings);
    void CloseApp();
    void EnableOptions(bool enable);
    void FollowRunning();

    void ShowProgress(const JobProgress& progress);
    void ShowJobEnd(const JobResult& result);
    void TellTargetRefused(quint64 target_bytes, quint64 smallest_bytes);
    void WaitForTargetCheck(bool waiting);

    void RestoreQueue();
    void SaveQueueFile() const;
    // What 再生 and フォルダを開く act on: the selected row's movie once
    // it is written, else the last movie written; empty for none.
    std::string ResultPath() const;
    void UpdateResultButtons();
    void OpenResult(bool folder);

    std::unique_ptr<IWindowPrompts> own_prompts_;
    IWindowPrompts* prompts_;
    CJobController* controller_;
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
    std::string last_result_;
    UrlOpener url_opener_;
    int running_tab_ = -1;
    bool closing_ = false;
    QElapsedTimer job_clock_;
    uint32_t progress_reports_ = 0;
    std::function<void(double)> progress_observer_;
};

// "RVX Encoder".
extern const char* const kWindowTitle;
