// rvx-encoder: the encoder's window.
//
// Hidden options for the documentation pictures and start-up timing:
//   --grab FILE            saves the window as FILE once it is shown, then quits
//   --grab-at PERCENT      with --encode: grabs when the job reaches PERCENT
//   --encode IMAGE OUTPUT  starts an encode of the numbered run IMAGE at once
//   --wave FILE            with --encode: the run's sound
//   --queue N              with --encode: queues N rows of the run (OUTPUT
//                          becomes OUTPUT-1.rvx ...) and starts the queue
//   --page N               shows page N (0..2) of the tab first
//   --quit-when-done       with --encode: quits once the job or the queue has
//                          ended (for timing the window against rvxenc)
//   --stir                 with --encode: moves the window and repaints it at
//                          once every 10 ms, as a window dragged about is
//                          (for timing the encoder beside a busy window)
//   --startup-time         prints the milliseconds from process start to the
//                          window being shown, then quits
#include <QApplication>
#include <QFont>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <functional>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "app/control_ids.h"
#include "app/window/main_window.h"
#include "app/window/source_page.h"
#include "app/window/window_language.h"

namespace {

// Milliseconds since the process started, from the kernel's record of it.
double MillisecondsSinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos) return -1.0;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    // Field 22 (start time in clock ticks since boot); fields 1 and 2 were
    // the pid and the name in parentheses.
    for (int i = 3; i <= 22 && fields >> field; ++i) {}
    const double start_ticks = std::stod(field);
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double now_ms = now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
    return now_ms - start_ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Answers Yes to every question and shows nothing, so an unattended encode
// cannot stop at a box.
class CSilentPrompts : public IWindowPrompts {
public:
    bool Ask(QWidget*, const std::string&, const std::string&) override { return true; }
    void Tell(QWidget*, const std::string& text, const std::string&, PromptIcon, const std::string& detail) override {
        std::fprintf(stderr, "rvx-encoder: %s %s\n", text.c_str(), detail.c_str());
    }
    std::string ChooseFile(QWidget*, const FileDialogSpec&, const std::string&) override { return {}; }
};

// Calls back once, on the first paint of the widget it filters.
class CFirstPaint : public QObject {
public:
    explicit CFirstPaint(std::function<void()> done) : done_(std::move(done)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && done_) {
            auto done = std::move(done_);
            done_ = nullptr;
            done();
        }
        return false;
    }

private:
    std::function<void()> done_;
};

struct HiddenOptions {
    std::string grab, image, output, wave;
    int grab_at = -1;
    int page = 0;
    int queue_rows = 0;
    bool startup_time = false;
    bool quit_when_done = false;
    bool stir = false;
};

// False, after saying why, for an argument that is none of them.
bool ReadHiddenOptions(int argc, char** argv, HiddenOptions& options) {
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--grab") && i + 1 < argc) {
            options.grab = argv[++i];
        } else if (!std::strcmp(argv[i], "--grab-at") && i + 1 < argc) {
            options.grab_at = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--encode") && i + 2 < argc) {
            options.image = argv[++i];
            options.output = argv[++i];
        } else if (!std::strcmp(argv[i], "--page") && i + 1 < argc) {
            options.page = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--queue") && i + 1 < argc) {
            options.queue_rows = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--wave") && i + 1 < argc) {
            options.wave = argv[++i];
        } else if (!std::strcmp(argv[i], "--stir")) {
            options.stir = true;
        } else if (!std::strcmp(argv[i], "--quit-when-done")) {
            options.quit_when_done = true;
        } else if (!std::strcmp(argv[i], "--startup-time")) {
            options.startup_time = true;
        } else {
            std::fprintf(stderr, "rvx-encoder: unknown argument %s\n", argv[i]);
            return false;
        }
    }
    return true;
}

// Starts an encode of the numbered run on the image page, as a person would
// by typing the paths and pressing 作成, and grabs the window once the job
// is grab_at percent through.
// With queue_rows, the run goes into the queue that many times instead, and
// the queue starts.
void StartEncode(CMainWindow& window, const std::string& image, const std::string& wave, const std::string& output,
                 int queue_rows, const std::string& grab, int grab_at) {
    window.findChild<QTabWidget*>(QString::number(kIdSourceTab))->setCurrentIndex(1);
    auto set_text = [&window](uint32_t id, const std::string& text) {
        static_cast<QLineEdit*>(window.Control(id))->setText(QString::fromStdString(text));
    };
    set_text(kIdImagePath, image);
    set_text(kIdWavePath, wave);
    if (queue_rows > 0) {
        const std::string stem = output.size() > 4 && output.ends_with(".rvx") ? output.substr(0, output.size() - 4)
                                                                                : output;
        for (int row = 1; row <= queue_rows; ++row) {
            set_text(kIdOutputFile, stem + "-" + std::to_string(row) + ".rvx");
            window.findChild<QPushButton*>("queueAdd")->click();
        }
        window.findChild<QPushButton*>("queueStart")->click();
    } else {
        set_text(kIdOutputFile, output);
        static_cast<QPushButton*>(window.Control(kIdCreate))->click();
    }
    window.SetProgressObserver([&window, grab, grab_at, grabbed = false](double fraction) mutable {
        if (grabbed || grab.empty() || grab_at < 0 || fraction * 100.0 < grab_at) return;
        grabbed = true;
        window.grab().save(QString::fromStdString(grab));
        QTimer::singleShot(0, qApp, [] { QApplication::exit(0); });
    });
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt looks for a display, so it works anywhere.
    if (argc == 2 && !std::strcmp(argv[1], "--version")) {
        std::printf("rvx-encoder %s\n", RVX_VERSION);
        return 0;
    }
    QApplication app(argc, argv);
    // Names the configuration folder that keeps the queue and the dialogs'
    // folders.
    QApplication::setApplicationName(QStringLiteral("rvx-encoder"));
    app.setFont(QFont(QString::fromUtf8("Noto Sans CJK JP"), 9));
    QTranslator translator;
    if (LoadWindowTranslation(translator, WindowLanguage(qEnvironmentVariable("RVX_LANG"), QLocale::system())))
        QApplication::installTranslator(&translator);

    HiddenOptions options;
    if (!ReadHiddenOptions(argc, argv, options)) return 2;
    const std::string& grab = options.grab;

    CMainWindow window;
    CSilentPrompts silent;
    window.findChild<QTabWidget*>(QString::number(kIdSourceTab))->setCurrentIndex(options.page);
    window.show();

    if (options.startup_time) {
        // Shown means painted on the screen: the first paint of the window.
        CFirstPaint painted([] {
            std::printf("window shown after %.0f ms\n", MillisecondsSinceProcessStart());
            std::fflush(stdout);
            QTimer::singleShot(0, [] { QApplication::exit(0); });
        });
        window.installEventFilter(&painted);
        return app.exec();
    }
    if (!options.image.empty()) {
        window.SetPrompts(&silent);
        StartEncode(window, options.image, options.wave, options.output, options.queue_rows, grab, options.grab_at);
        QTimer stir;
        if (options.stir) {
            QObject::connect(&stir, &QTimer::timeout, &window, [&window, step = 0]() mutable {
                window.move(40 + step % 50, 40 + step % 30);
                ++step;
                window.repaint();
            });
            stir.start(10);
        }
        QTimer idle_check;
        if (options.quit_when_done) {
            QObject::connect(&idle_check, &QTimer::timeout, &app, [&window] {
                if (!window.IsRunning() && !window.IsQueueRunning()) QApplication::exit(0);
            });
            // Started after the first job has had its turn to begin.
            QTimer::singleShot(100, &idle_check, [&idle_check] { idle_check.start(10); });
        }
        return app.exec();
    }
    if (!grab.empty()) {
        QTimer::singleShot(300, &app, [&] {
            window.grab().save(QString::fromStdString(grab));
            QApplication::exit(0);
        });
    }
    return app.exec();
}
