#pragma once
// The real main window, offscreen, with every message box and file dialog
// answered from a script, and a watchdog so that no test can hang.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/control_ids.h"
#include "common/temp_dir.h"
#include "app/window/job_controller.h"
#include "app/window/job_queue_panel.h"
#include "app/window/main_window.h"
#include "app/window/queue_model.h"
#include "app/window/window_prompts.h"

inline QApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "test_window";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: tearing it down among the other static objects at exit
    // crashes inside Qt's own clean-up.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

struct PromptRecord {
    std::string kind;  // "ask", "tell", "file"
    std::string text;  // the box text, or the dialog title
    std::string caption;
    PromptIcon icon = PromptIcon::kQuestion;
    std::string detail;  // a failure's reason, or the dialog's start path
    FileDialogSpec dialog;
};

// Answers questions and dialogs in order; a question nobody scripted is
// answered No, a dialog nobody scripted is cancelled.
class ScriptedPrompts : public IWindowPrompts {
public:
    bool Ask(QWidget*, const std::string& text, const std::string& caption) override {
        records.push_back({"ask", text, caption, PromptIcon::kQuestion, {}, {}});
        if (answers.empty()) return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    void Tell(QWidget*, const std::string& text, const std::string& caption, PromptIcon icon,
              const std::string& detail) override {
        records.push_back({"tell", text, caption, icon, detail, {}});
    }
    std::string ChooseFile(QWidget*, const FileDialogSpec& spec, const std::string& start) override {
        records.push_back({"file", spec.title, {}, PromptIcon::kQuestion, start, spec});
        if (files.empty()) return {};
        const std::string file = files.front();
        files.pop_front();
        return file;
    }

    bool Shown(const std::string& text) const {
        for (const PromptRecord& r : records)
            if (r.text == text) return true;
        return false;
    }

    std::vector<PromptRecord> records;
    std::deque<bool> answers;
    std::deque<std::string> files;
};

// Ends the whole test program when a test runs far too long: a hang would
// otherwise only be caught by the test runner's much later timeout.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit) {
        thread_ = std::thread([this, limit] {
            std::unique_lock<std::mutex> hold(mutex_);
            if (!done_cv_.wait_for(hold, limit, [this] { return done_; })) {
                std::fprintf(stderr, "watchdog: %s did not finish in time (a deadlock?)\n",
                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
                std::_Exit(3);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            done_ = true;
        }
        done_cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::thread thread_;
};

// Runs the event loop until the condition holds; false when time ran out.
inline bool PumpUntil(const std::function<bool()>& condition, int milliseconds = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline void PumpFor(int milliseconds) {
    PumpUntil([] { return false; }, milliseconds);
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        // What the window remembers (the queue, the dialogs' folders) goes
        // to a folder of the test's own, never the user's.
        setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
        window = std::make_unique<CMainWindow>();
        window->SetPrompts(&prompts);
        window->show();
    }
    void TearDown() override {
        window.reset();
        // Events posted to the window that is gone are dropped by Qt.
        QCoreApplication::processEvents();
    }

    QWidget* Control(uint32_t id) const { return window->findChild<QWidget*>(QString::number(id)); }
    QLineEdit* Field(uint32_t id) const { return qobject_cast<QLineEdit*>(Control(id)); }
    QComboBox* List(uint32_t id) const { return qobject_cast<QComboBox*>(Control(id)); }
    QPushButton* Button(uint32_t id) const { return qobject_cast<QPushButton*>(Control(id)); }
    QLabel* Label(uint32_t id) const { return qobject_cast<QLabel*>(Control(id)); }
    QProgressBar* Bar() const { return qobject_cast<QProgressBar*>(Control(kIdProgressBar)); }
    QTabWidget* Tab() const { return qobject_cast<QTabWidget*>(Control(kIdSourceTab)); }
    // What a field, a label or a list shows.
    std::string Text(uint32_t id) const {
        QWidget* control = Control(id);
        if (auto* field = qobject_cast<QLineEdit*>(control)) return field->text().toStdString();
        if (auto* label = qobject_cast<QLabel*>(control)) return label->text().toStdString();
        if (auto* list = qobject_cast<QComboBox*>(control)) return list->currentText().toStdString();
        return std::string();
    }
    void SetText(uint32_t id, const std::string& text) { Field(id)->setText(QString::fromStdString(text)); }

    // The idle state: options, output and create enabled, abort disabled.
    void ExpectIdle() const {
        EXPECT_FALSE(window->IsRunning());
        EXPECT_TRUE(Button(kIdCreate)->isEnabled());
        EXPECT_TRUE(Button(kIdExit)->isEnabled());
        EXPECT_FALSE(Button(kIdAbort)->isEnabled());
        EXPECT_TRUE(Field(kIdOutputFile)->isEnabled());
        EXPECT_TRUE(List(kIdPictureFormat)->isEnabled());
        EXPECT_EQ(Bar()->value(), 0);
        EXPECT_EQ(Text(kIdStatusLine), "");
    }

    TempDir config{"window-config"};
    Watchdog watchdog{std::chrono::seconds(120)};
    ScriptedPrompts prompts;
    std::unique_ptr<CMainWindow> window;
};
