// The source row (start, length, crop, size): what reaches the job's
// settings, what is refused before any job, and what the queue keeps.
#include <filesystem>
#include <fstream>

#include "app/window/job_queue_panel.h"
#include "app/window/queue_store.h"
#include "app/window/source_page.h"
#include "common/test_movies.h"
#include "window_fixture.h"

namespace {

constexpr auto kUs = SourceTime::Unit::kMicroseconds;

// Records the request of every job the movie page is asked for, and loads
// none.
class SourceOptionsTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        window->Controller().SetJobFactory(0, [this](IJobHost*, const EncodeRequest& request) {
            requests.push_back(request);
            return std::unique_ptr<IPageJob>();
        });
        SetText(kIdOutputFile, dir / "out.rvx");
        SetText(kIdMoviePath, "/clips/movie.mkv");
    }

    QLineEdit* Named(const char* name) const { return window->findChild<QLineEdit*>(name); }
    QComboBox* Crop() const { return window->findChild<QComboBox*>("crop"); }

    // The row as a person fills it.
    void FillRow(const char* start, const char* duration, int crop, const char* width, const char* height) {
        Named("sourceStart")->setText(QString::fromUtf8(start));
        Named("sourceDuration")->setText(QString::fromUtf8(duration));
        Crop()->setCurrentIndex(crop);
        Named("scaleWidth")->setText(QString::fromUtf8(width));
        Named("scaleHeight")->setText(QString::fromUtf8(height));
    }

    // The source settings 作成 hands the page; false when no job was asked for.
    bool Create(SourceSettings* source) {
        requests.clear();
        Button(kIdCreate)->click();
        PumpFor(30);
        if (requests.empty()) return false;
        *source = requests.back().settings.source;
        return true;
    }

    const std::vector<QueueEntry>& Rows() const { return window->Queue()->Entries(); }

    TempDir dir{"window-source"};
    std::vector<EncodeRequest> requests;
};

}  // namespace

TEST_F(SourceOptionsTest, TheRowReachesTheJobsSettings) {
    ASSERT_NE(Crop(), nullptr);
    ASSERT_EQ(Crop()->count(), 2);
    EXPECT_EQ(Crop()->itemText(0).toStdString(), "なし");
    EXPECT_EQ(Crop()->itemText(1).toStdString(), "自動");

    // Empty fields and なし change nothing; rotation and deinterlacing
    // always follow the source.
    const struct {
        const char* start;
        const char* duration;
        int crop;
        const char* width;
        const char* height;
        SourceTime want_start, want_duration;
        uint32_t want_width, want_height;
    } cases[] = {
        {"", "", 0, "", "", {}, {}, 0, 0},
        {"0", "", 0, "", "", {}, {}, 0, 0},
        {"1.5", "10", 1, "640", "", {kUs, 1500000}, {kUs, 10000000}, 640, 0},
        {"", "0.25", 0, "", "16384", {}, {kUs, 250000}, 0, 16384},
    };
    for (const auto& c : cases) {
        FillRow(c.start, c.duration, c.crop, c.width, c.height);
        SourceSettings want;
        want.start = c.want_start;
        want.duration = c.want_duration;
        want.crop = c.crop ? CropMode::kAuto : CropMode::kNone;
        want.scale_width = c.want_width;
        want.scale_height = c.want_height;
        SourceSettings source;
        ASSERT_TRUE(Create(&source)) << c.start << " " << c.duration;
        EXPECT_TRUE(source == want) << c.start << " " << c.duration << " " << c.width << "x" << c.height;
    }
    // The page's only message is its job's (none loads here), never a refusal of the row.
    for (const PromptRecord& r : prompts.records) EXPECT_EQ(r.text, "ファイルのロードに失敗しました。");
    ExpectIdle();

    // Like every option, the row is locked while a job runs.
    QWidget* row[] = {Named("sourceStart"), Named("sourceDuration"), Crop(), Named("scaleWidth"), Named("scaleHeight")};
    window->JobStarted(0);
    for (QWidget* control : row) EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    window->JobIdle();
    for (QWidget* control : row) EXPECT_TRUE(control->isEnabled()) << control->objectName().toStdString();
}

TEST_F(SourceOptionsTest, InvalidTimesAndSizesAreRefusedBeforeAnyJob) {
    // What the fields hold but names no valid value is refused with a
    // message, the way the other options are.
    const struct {
        const char* start;
        const char* duration;
        const char* width;
        const char* height;
    } refused[] = {
        {"", "", "0", ""}, {"", "", "", "16385"}, {"", "", "99999", "10"}, {"", "0", "", ""},
        {"", "0.000", "", ""}, {".", "", "", ""}, {"", ".", "", ""}, {"-1", "", "", ""}, {"", "", "-5", ""},
    };
    for (const auto& c : refused) {
        FillRow(c.start, c.duration, 0, c.width, c.height);
        prompts.records.clear();
        SourceSettings source;
        EXPECT_FALSE(Create(&source)) << c.start << " " << c.duration << " " << c.width << "x" << c.height;
        ASSERT_EQ(prompts.records.size(), 1u);
        EXPECT_EQ(prompts.records[0].caption, "エラー");
        EXPECT_EQ(prompts.records[0].icon, PromptIcon::kError);
        // キューに追加 takes the same settings and refuses the same way.
        window->findChild<QPushButton*>("queueAdd")->click();
        PumpFor(10);
        EXPECT_TRUE(Rows().empty());
    }
    ExpectIdle();
}

// A setting the source cannot take is the job's to find; the window says
// the job's reason itself, not that the file failed to load, both for 作成
// and for a queued row, and writes nothing.
TEST_F(SourceOptionsTest, AStartPastTheEndIsToldAsItIs) {
    if (!HaveFfmpegProgram()) GTEST_SKIP() << "the ffmpeg program makes the test pictures";
    ASSERT_TRUE(WritePatternPngs(dir / "f%04d.png", 32, 24, "25", 3));
    Tab()->setCurrentIndex(1);
    SetText(kIdImagePath, dir / "f0001.png");
    FillRow("100", "", 0, "", "");

    Button(kIdCreate)->click();
    ASSERT_TRUE(PumpUntil([&] { return !prompts.records.empty() && !window->IsRunning(); }));
    PumpFor(20);
    ASSERT_EQ(prompts.records.size(), 1u);
    const std::string reason = prompts.records[0].text;
    EXPECT_EQ(prompts.records[0].caption, "エラー");
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(reason.find("ファイルのロードに失敗しました。"), std::string::npos) << reason;
    EXPECT_NE(reason, "処理に失敗しました。");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.rvx"));
    ExpectIdle();

    window->findChild<QPushButton*>("queueAdd")->click();
    PumpFor(10);
    ASSERT_EQ(Rows().size(), 1u);
    window->findChild<QPushButton*>("queueStart")->click();
    ASSERT_TRUE(PumpUntil([&] { return !window->IsQueueRunning() && Rows()[0].state == QueueState::kFailed; }));
    EXPECT_EQ(Rows()[0].reason, reason);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.rvx"));
}

// A row keeps its source settings through the queue file; a file written
// before they existed still loads, with the defaults.
TEST_F(SourceOptionsTest, TheQueueKeepsTheSourceSettings) {
    FillRow("2.5", "3", 1, "", "360");
    window->findChild<QPushButton*>("queueAdd")->click();
    PumpFor(10);
    ASSERT_EQ(Rows().size(), 1u);
    SourceSettings want;
    want.start = {kUs, 2500000};
    want.duration = {kUs, 3000000};
    want.crop = CropMode::kAuto;
    want.scale_height = 360;
    EXPECT_TRUE(Rows()[0].request.settings.source == want);

    window.reset();
    window = std::make_unique<CMainWindow>();
    window->SetPrompts(&prompts);
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_TRUE(Rows()[0].request.settings.source == want);

    // Every field, as rvxenc would fill them, comes back the same.
    const std::string file = config / "test_window/queue.json";
    std::vector<QueueEntry> entries = LoadQueue(QString::fromStdString(file));
    ASSERT_EQ(entries.size(), 1u);
    SourceSettings& full = entries[0].request.settings.source;
    full.deinterlace = Deinterlace::kOff;
    full.extra_rotation = 270;
    full.crop = CropMode::kEdges;
    full.crop_edges = {1, 2, 3, 4000000000u};
    full.scale_width = 16384;
    full.start = {SourceTime::Unit::kFrames, 12345678901234567ull};
    full.duration = {kUs, 1};
    full.audio_track = 65535;
    ASSERT_TRUE(SaveQueue(QString::fromStdString(file), entries));
    std::vector<QueueEntry> back = LoadQueue(QString::fromStdString(file));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_TRUE(back[0].request.settings == entries[0].request.settings);

    // No source object, or values out of their ranges: the defaults.
    const char* objects[] = {
        "",
        R"(, "source": {"deinterlace": 9, "extra_rotation": 45, "crop": 7, "crop_left": 5, "scale_width": 20000,
             "scale_height": -1, "start_unit": 5, "start": "10", "duration_unit": 1, "duration": "x",
             "audio_track": 1e9})",
    };
    for (const char* object : objects) {
        std::ofstream(file, std::ios::trunc)
            << R"({"queue": [{"page": 0, "source": "/clips/a.mkv", "output": "/clips/a.rvx", "settings": {"p_frames": 3)"
            << object << "}}]}";
        const std::vector<QueueEntry> rows = LoadQueue(QString::fromStdString(file));
        ASSERT_EQ(rows.size(), 1u) << object;
        EXPECT_EQ(rows[0].request.settings.p_frames, 3);
        EXPECT_TRUE(rows[0].request.settings.source == SourceSettings()) << object;
    }
}
