#pragma once
// The main window: the source tab, the output file, the option controls, the
// status line, the progress bar and the three job buttons, and the protocol
// that runs one job at a time through the pages.

#include <QElapsedTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/job_request_relay.h"
#include "app/option_window.h"
#include "app/window/window_prompts.h"

class CSourcePage;
class QTabWidget;

class CMainWindow : public QWidget, public IOptionWindow {
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

    // Sets the status line and the bar; called on the window's thread for
    // every progress report of the running job.
    void ShowProgress(const std::string& text, double fraction);
    // Called after every progress report has been shown (the screenshot
    // mode grabs the window from here).
    void SetProgressObserver(std::function<void(double)> observer) { progress_observer_ = std::move(observer); }

    // IOptionWindow, on the window's thread.
    void SetListRows(uint32_t control_id, const std::vector<std::string>& rows) override;
    void SelectListRow(uint32_t control_id, int32_t row) override;
    void SetControlText(uint32_t control_id, const std::string& text) override;
    void EnableControl(uint32_t control_id, bool enable) override;
    void SendProgress(const std::string& text, double fraction) override { ShowProgress(text, fraction); }
    void PostJobMessage(uint32_t message) override;
    int32_t GetListSelection(uint32_t control_id) override;
    std::string GetControlText(uint32_t control_id) override;

    // The control with the numeric id, or null.
    QWidget* Control(uint32_t control_id) const;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void ConnectControls();
    void TabChanged(int index);
    void Create();
    void ConfirmExit();
    void ConfirmAbort(bool then_close);
    void CloseApp();
    void JobStarted(CSourcePage* page);
    void JobIdle();
    void EnableOptions(bool enable);

    std::unique_ptr<IWindowPrompts> own_prompts_;
    IWindowPrompts* prompts_;
    CJobRequestRelay relay_;
    QTabWidget* tab_ = nullptr;
    std::array<CSourcePage*, 3> pages_{};
    CSourcePage* running_page_ = nullptr;
    int running_tab_ = -1;
    bool closing_ = false;
    QElapsedTimer job_clock_;
    uint32_t progress_reports_ = 0;
    std::function<void(double)> progress_observer_;
};

// "RVX Encoder".
extern const char* const kWindowTitle;
