// The queue and the finished movie with real jobs: rows run one after
// another past a broken source, an abort in a queue, the queue kept between
// runs, a target size that cannot be reached, and 再生 / フォルダを開く.
#include <QTableView>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "app/window/job_queue_panel.h"
#include "app/window/queue_store.h"
#include "common/test_movies.h"
#include "container/rvx_reader.h"
#include "window_fixture.h"

namespace {

class QueueTest : public WindowTest {
protected:
    void SetUp() override {
        if (!HaveFfmpegProgram()) GTEST_SKIP() << "the ffmpeg program makes the test pictures";
        WindowTest::SetUp();
        setenv("TMPDIR", work.path().c_str(), 1);
        window->SetProgressObserver([this](double) {
            statuses.push_back(Text(kIdStatusLine));
            titles.push_back(window->windowTitle().toStdString());
            if (on_progress) on_progress();
        });
        window->SetUrlOpener([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
    }
    void TearDown() override {
        WindowTest::TearDown();
        unsetenv("TMPDIR");
    }

    // A numbered run of `frames` pictures in its own folder; its first file.
    std::string Run(const std::string& name, int frames, int width = 32, int height = 24) {
        std::filesystem::create_directories(clips.path() / name);
        EXPECT_TRUE(WritePatternPngs(clips / (name + "/f%04d.png"), width, height, "25", frames));
        return clips / (name + "/f0001.png");
    }

    // The image page's paths and the output as a person types them, then
    // キューに追加.
    void AddImageRun(const std::string& first_image, const std::string& out) {
        Tab()->setCurrentIndex(1);
        SetText(kIdImagePath, first_image);
        SetText(kIdOutputFile, out);
        Button("queueAdd")->click();
        PumpFor(10);
    }

    QPushButton* Button(const char* name) const { return window->findChild<QPushButton*>(name); }
    using WindowTest::Button;
    const std::vector<QueueEntry>& Rows() const { return window->Queue()->Entries(); }
    std::string StateText(int row) const {
        auto* view = window->findChild<QTableView*>("queue");
        return view->model()->index(row, CQueueModel::kStateColumn).data().toString().toStdString();
    }
    void Select(int row) const {
        window->findChild<QTableView*>("queue")->selectRow(row);
    }

    TempDir clips{"window-queue"};
    TempDir work{"window-queue-work"};
    std::vector<std::string> statuses;
    std::vector<std::string> titles;
    std::vector<QUrl> opened;
    std::function<void()> on_progress;
};

bool IntactMovie(const std::string& path, uint32_t frames) {
    CRVXReader reader;
    return reader.Open(path) && reader.Verify() && reader.FrameCount() == frames;
}

}  // namespace

TEST_F(QueueTest, ThreeRowsRunPastABrokenSourceAndEndIdle) {
    const std::string first = Run("a", 4), third = Run("c", 6);
    std::filesystem::create_directories(clips.path() / "b");
    std::ofstream(clips / "b/f0001.png") << "not a picture";
    AddImageRun(first, clips / "a.rvx");
    AddImageRun(clips / "b/f0001.png", clips / "b.rvx");
    AddImageRun(third, clips / "c.rvx");
    ASSERT_EQ(Rows().size(), 3u);
    for (int row = 0; row < 3; ++row) EXPECT_EQ(StateText(row), "待機中");
    EXPECT_EQ(Rows()[1].request.source, clips / "b/f0001.png");
    EXPECT_EQ(Rows()[1].page, 1);

    Button("queueStart")->click();
    ASSERT_TRUE(PumpUntil([&] { return window->IsQueueRunning(); }));
    EXPECT_FALSE(Button(kIdCreate)->isEnabled());
    EXPECT_FALSE(Button("queueAdd")->isEnabled());
    EXPECT_TRUE(Button(kIdAbort)->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return !window->IsQueueRunning() && !window->IsRunning(); }, 60000));

    EXPECT_TRUE(IntactMovie(clips / "a.rvx", 4));
    EXPECT_TRUE(IntactMovie(clips / "c.rvx", 6));
    EXPECT_FALSE(std::filesystem::exists(clips / "b.rvx"));
    EXPECT_EQ(StateText(0), "完了");
    EXPECT_EQ(StateText(2), "完了");
    EXPECT_EQ(Rows()[1].state, QueueState::kFailed);
    EXPECT_EQ(StateText(1).rfind("失敗: ファイルのロードに失敗しました。 (", 0), 0u) << StateText(1);
    // The rows report in their rows, not in boxes that would stop the queue.
    EXPECT_TRUE(prompts.records.empty());
    ExpectIdle();
    EXPECT_EQ(window->windowTitle().toStdString(), "RVX Encoder");
    // The title follows the whole queue: the first row's end is a third of it.
    std::vector<int> percents;
    for (const std::string& title : titles) percents.push_back(std::stoi(title));
    ASSERT_FALSE(percents.empty());
    EXPECT_LT(percents.front(), 34);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_NE(std::find(percents.begin(), percents.end(), 33), percents.end());
    EXPECT_EQ(percents.back(), 100);
    EXPECT_FALSE(Button("queueStart")->isEnabled());  // nothing waits any more
}

// 中断 in a queue stops its row and asks about the rest: No goes on with the
// next row, Yes leaves the rest waiting. Closing while it runs asks as
// closing during a job does.
TEST_F(QueueTest, AbortStopsTheRowAndAsksAboutTheRest) {
    const std::string long_run = Run("long", 60, 320, 240), short_run = Run("short", 3);
    AddImageRun(long_run, clips / "1.rvx");
    AddImageRun(long_run, clips / "2.rvx");
    AddImageRun(short_run, clips / "3.rvx");
    AddImageRun(short_run, clips / "4.rvx");
    bool closed_once = false, aborted_once = false;
    on_progress = [&] {
        if (!closed_once) {
            closed_once = true;
            prompts.answers = {false};  // keep running
            window->close();
        } else if (!aborted_once && prompts.Shown("処理を中断し終了します。よろしいですか？")) {
            aborted_once = true;
            prompts.answers = {true, false};  // abort the row, go on
            Button(kIdAbort)->click();
        }
    };
    Button("queueStart")->click();
    ASSERT_TRUE(PumpUntil([&] { return Rows()[1].state == QueueState::kRunning && Rows()[1].percent > 0; }, 60000));
    EXPECT_EQ(StateText(1), "処理中 " + std::to_string(Rows()[1].percent) + "%");
    EXPECT_TRUE(prompts.Shown("処理を中断し終了します。よろしいですか？"));
    EXPECT_EQ(StateText(0), "中断");
    EXPECT_TRUE(prompts.Shown("キューの残りの処理も中止しますか？"));
    EXPECT_FALSE(std::filesystem::exists(clips / "1.rvx"));

    prompts.answers = {true, true};  // abort the row and the rest
    Button(kIdAbort)->click();
    ASSERT_TRUE(PumpUntil([&] { return !window->IsQueueRunning() && !window->IsRunning(); }, 60000));
    PumpFor(50);
    EXPECT_EQ(StateText(1), "中断");
    EXPECT_EQ(StateText(2), "待機中");
    EXPECT_EQ(StateText(3), "待機中");
    EXPECT_FALSE(std::filesystem::exists(clips / "2.rvx"));
    EXPECT_FALSE(std::filesystem::exists(clips / "3.rvx"));
    ExpectIdle();
    EXPECT_TRUE(Button("queueStart")->isEnabled());
}

// Waiting rows can be reordered and removed; the queue as it stands comes
// back with the next window, a row that was running waits again, and a
// damaged file gives an empty queue.
TEST_F(QueueTest, TheQueueIsSavedAndRestored) {
    const std::string run = Run("r", 2);
    AddImageRun(run, clips / "x.rvx");
    AddImageRun(run, clips / "y.rvx");
    AddImageRun(run, clips / "z.rvx");
    // A second row for the output of a waiting one asks first.
    AddImageRun(run, clips / "y.rvx");
    ASSERT_EQ(prompts.records.size(), 1u);
    EXPECT_EQ(prompts.records[0].text, "ファイル[" + clips / "y.rvx" + "]はキューの待機中の行も出力します。上書きしてもよろしいですか？");
    EXPECT_EQ(prompts.records[0].caption, "上書き確認");
    ASSERT_EQ(Rows().size(), 3u);
    Select(2);
    Button("queueUp")->click();  // x z y
    Select(0);
    Button("queueRemove")->click();  // z y
    ASSERT_EQ(Rows().size(), 2u);

    window.reset();
    window = std::make_unique<CMainWindow>();
    window->SetPrompts(&prompts);
    ASSERT_EQ(Rows().size(), 2u);
    EXPECT_EQ(Rows()[0].request.output, clips / "z.rvx");
    EXPECT_EQ(Rows()[1].request.output, clips / "y.rvx");
    EXPECT_EQ(Rows()[0].request.source, run);
    EXPECT_EQ(Rows()[0].page, 1);
    EXPECT_EQ(StateText(0), "待機中");

    const std::string file = config / "test_window/queue.json";
    ASSERT_TRUE(std::filesystem::exists(file));
    std::vector<QueueEntry> entries = LoadQueue(QString::fromStdString(file));
    entries[0].state = QueueState::kRunning;
    entries[0].request.settings.preset = RVXPreset::kSlow;
    entries[0].request.settings.target_bytes = 123456789012345ull;
    entries[1].state = QueueState::kFailed;
    entries[1].reason = "壊れた画像";
    ASSERT_TRUE(SaveQueue(QString::fromStdString(file), entries));
    std::vector<QueueEntry> back = LoadQueue(QString::fromStdString(file));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].state, QueueState::kWaiting);
    EXPECT_TRUE(back[0].request.settings == entries[0].request.settings);
    EXPECT_EQ(back[1].state, QueueState::kFailed);
    EXPECT_EQ(back[1].reason, "壊れた画像");

    const std::string damaged[] = {"{\"queue\": [{\"page\": 7, \"source\": \"a\", \"output\": \"b\"}]}",
                                   "{\"queue\": [{\"page\": 1e300}]}", "not json", ""};
    for (const std::string& text : damaged) {
        std::ofstream(file, std::ios::trunc) << text;
        EXPECT_TRUE(LoadQueue(QString::fromStdString(file)).empty()) << text;
    }
    window.reset();
    window = std::make_unique<CMainWindow>();
    EXPECT_TRUE(Rows().empty());
}

TEST_F(QueueTest, AnUnreachableSizeIsRefusedBeforeAnyJob) {
    const std::string run = Run("small", 4);
    Tab()->setCurrentIndex(1);
    SetText(kIdImagePath, run);
    SetText(kIdOutputFile, clips / "small.rvx");
    window->findChild<QAbstractButton*>("rateSize")->click();
    window->findChild<QLineEdit*>("targetSize")->setText("0.0001");  // 100 bytes

    // The source is asked off the window's thread; the window waits,
    // painted but taking no input.
    Button("queueAdd")->click();
    EXPECT_FALSE(window->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return !prompts.records.empty(); }));
    EXPECT_TRUE(window->isEnabled());
    EXPECT_TRUE(Rows().empty());
    ASSERT_EQ(prompts.records.size(), 1u);
    const std::string refusal = prompts.records[0].text;
    const std::string smallest = "最小のサイズは 0.00 MB (";
    EXPECT_EQ(refusal.rfind("目標サイズ 0.00 MB (100 bytes) ではこの動画を作成できません。" + smallest, 0), 0u) << refusal;
    // The size named lies above the target.
    const size_t bytes_at = refusal.find(smallest) + smallest.size();
    EXPECT_GT(std::stoull(refusal.substr(bytes_at)), 100u) << refusal;
    EXPECT_EQ(refusal.substr(refusal.size() - std::string(" bytes) です。").size()), " bytes) です。");
    EXPECT_EQ(prompts.records[0].caption, "エラー");

    // 作成 refuses it the same way, before any job starts.
    prompts.records.clear();
    statuses.clear();
    Button(kIdCreate)->click();
    ASSERT_TRUE(PumpUntil([&] { return !prompts.records.empty(); }));
    ASSERT_EQ(prompts.records.size(), 1u);
    EXPECT_FALSE(window->IsRunning());
    EXPECT_EQ(prompts.records[0].text, refusal);
    PumpFor(20);
    EXPECT_FALSE(window->IsRunning());
    EXPECT_TRUE(statuses.empty());

    EXPECT_FALSE(std::filesystem::exists(clips / "small.rvx"));
    ExpectIdle();

    // A size it can reach is coded; the last text shown is the movie's.
    window->findChild<QLineEdit*>("targetSize")->setText("1");
    prompts.records.clear();
    Button(kIdCreate)->click();
    ASSERT_TRUE(PumpUntil([&] { return prompts.Shown("処理が完了しました。"); }, 60000));
    EXPECT_NE(statuses.back().find("を出力中..."), std::string::npos) << statuses.back();
    EXPECT_TRUE(IntactMovie(clips / "small.rvx", 4));

    // The queue takes a size the movie can reach; finding that out leaves
    // neither a movie nor a work directory behind.
    std::filesystem::remove(clips / "small.rvx");
    Button("queueAdd")->click();
    ASSERT_TRUE(PumpUntil([&] { return Rows().size() == 1u; }));
    EXPECT_EQ(Rows()[0].request.settings.target_bytes, 1000000u);
    EXPECT_FALSE(std::filesystem::exists(clips / "small.rvx"));
    for (const auto& entry : std::filesystem::directory_iterator(work.path()))
        EXPECT_NE(entry.path().filename().string().rfind("rvx", 0), 0u) << entry.path();
}

// 再生 asks the desktop for exactly the movie written, フォルダを開く for its
// folder; a finished queue row offers its own movie, a failed one nothing.
TEST_F(QueueTest, PlayAndOpenFolderHandTheMovieToTheDesktop) {
    EXPECT_FALSE(Button("play")->isEnabled());
    EXPECT_FALSE(Button("openFolder")->isEnabled());
    const std::string run = Run("p", 2);
    Tab()->setCurrentIndex(1);
    SetText(kIdImagePath, run);
    SetText(kIdOutputFile, clips / "played.rvx");
    Button(kIdCreate)->click();
    ASSERT_TRUE(PumpUntil([&] { return prompts.Shown("処理が完了しました。") && !window->IsRunning(); }, 60000));
    ASSERT_TRUE(Button("play")->isEnabled());
    Button("play")->click();
    Button("openFolder")->click();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(clips / "played.rvx")));
    EXPECT_EQ(opened[1], QUrl::fromLocalFile(QString::fromStdString(clips.path().string())));

    AddImageRun(run, clips / "row.rvx");
    AddImageRun(clips / "missing0001.png", clips / "never.rvx");
    Button("queueStart")->click();
    ASSERT_TRUE(PumpUntil([&] { return Rows()[1].state == QueueState::kFailed && !window->IsQueueRunning(); },
                          60000));
    Select(0);
    Button("play")->click();
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[2], QUrl::fromLocalFile(QString::fromStdString(clips / "row.rvx")));
    Select(1);
    EXPECT_EQ(window->QueuePanel()->SelectedRow(), 1);
    EXPECT_FALSE(Button("play")->isEnabled());
    EXPECT_FALSE(Button("openFolder")->isEnabled());
}

// A dialog whose field is empty opens in the folder last used for its kind
// of file, in this window and the next.
TEST_F(QueueTest, FileDialogsStartInTheFolderLastUsed) {
    std::filesystem::create_directories(clips.path() / "in");
    std::filesystem::create_directories(clips.path() / "out");
    prompts.files = {clips / "out/m.rvx", clips / "in/f0001.png"};
    Button(kIdOutputBrowse)->click();
    Tab()->setCurrentIndex(1);
    Button(kIdImageBrowse)->click();

    window.reset();
    window = std::make_unique<CMainWindow>();
    window->SetPrompts(&prompts);
    prompts.records.clear();
    Button(kIdOutputBrowse)->click();
    Button(kIdImageBrowse)->click();
    Button(kIdWaveBrowse)->click();
    ASSERT_EQ(prompts.records.size(), 3u);
    EXPECT_EQ(prompts.records[0].detail, clips / "out/");
    EXPECT_EQ(prompts.records[1].detail, clips / "in/");
    EXPECT_EQ(prompts.records[2].detail, "");  // no sound file was ever chosen
    // The options still start from their defaults.
    EXPECT_EQ(Text(kIdQualityI), "4");
    EXPECT_EQ(window->findChild<QComboBox*>("preset")->currentIndex(), 0);
}

// Noise coded at the coarsest qualities is as small as it gets: a target a
// tenth below that is missed, and the row keeps the movie but says 目標超過
// with both sizes instead of 完了.
TEST_F(QueueTest, ARowThatMissesItsTargetSaysSoWithBothSizes) {
    std::filesystem::create_directories(clips.path() / "noise");
    ASSERT_TRUE(RunFfmpeg("-f lavfi -i " + ShellQuoted("nullsrc=s=160x120:r=25,geq=random(1)*255:128:128") +
                          " -frames:v 12 " + ShellQuoted(clips / "noise/n%04d.png")));
    Tab()->setCurrentIndex(1);
    SetText(kIdImagePath, clips / "noise/n0001.png");
    SetText(kIdOutputFile, clips / "coarsest.rvx");
    for (uint32_t id : {kIdQualityI, kIdQualityP, kIdQualityB}) SetText(id, "32");
    Button(kIdCreate)->click();
    ASSERT_TRUE(PumpUntil([&] { return prompts.Shown("処理が完了しました。") && !window->IsRunning(); }, 60000));
    const uint64_t target = std::filesystem::file_size(clips / "coarsest.rvx") * 9 / 10 / 1000 * 1000;

    window->findChild<QAbstractButton*>("rateSize")->click();
    window->findChild<QLineEdit*>("targetSize")->setText(QString::number(target / 1e6, 'f', 3));
    SetText(kIdOutputFile, clips / "missed.rvx");
    Button("queueAdd")->click();
    ASSERT_TRUE(PumpUntil([&] { return Rows().size() == 1u; }));
    Button("queueStart")->click();
    ASSERT_TRUE(PumpUntil([&] { return !window->IsQueueRunning() && !window->IsRunning(); }, 60000));
    ASSERT_EQ(Rows()[0].state, QueueState::kTargetMissed) << StateText(0);
    const uint64_t written = std::filesystem::file_size(clips / "missed.rvx");
    EXPECT_EQ(StateText(0).rfind("目標超過: 目標 " + std::to_string(target) + " バイト、実際 " +
                                     std::to_string(written) + " バイト (+", 0),
              0u)
        << StateText(0);
    EXPECT_TRUE(IntactMovie(clips / "missed.rvx", 12));
    // The kept movie can be played, and the row comes back as it was.
    Select(0);
    EXPECT_TRUE(Button("play")->isEnabled());
    window.reset();
    window = std::make_unique<CMainWindow>();
    EXPECT_EQ(StateText(0).rfind("目標超過: ", 0), 0u) << StateText(0);
}
