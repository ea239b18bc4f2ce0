// The window at rest: what it shows at start-up, how the frame-rate fields
// follow their list, the output check, the file dialogs and dropped files.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "app/window/source_page.h"
#include "common/temp_dir.h"
#include "jobs/option_tables.h"
#include "window_fixture.h"

namespace {

std::vector<std::string> Rows(QComboBox* list) {
    std::vector<std::string> rows;
    for (int i = 0; i < list->count(); ++i) rows.push_back(list->itemText(i).toStdString());
    return rows;
}

// A page that creates nothing but counts how often it was asked to.
struct CountingJob : IPageJob {
    int32_t Load() override { return -1; }
    bool Start() override { return false; }
    std::string FailureReason() const override { return "counted"; }
};

}  // namespace

TEST_F(WindowTest, StartsWithTheDefaultOfEveryControl) {
    EXPECT_EQ(window->windowTitle().toStdString(), "RVX Encoder");
    ASSERT_EQ(Tab()->count(), 3);
    EXPECT_EQ(Tab()->tabText(0).toStdString(), "DirectShowからのエンコード");
    EXPECT_EQ(Tab()->tabText(1).toStdString(), "連番ファイルからのエンコード");
    EXPECT_EQ(Tab()->tabText(2).toStdString(), "AVIファイルからのエンコード");
    EXPECT_EQ(Tab()->currentIndex(), 0);
    EXPECT_EQ(Tab()->widget(1)->findChild<QWidget*>("1051") != nullptr, true);
    EXPECT_EQ(Tab()->widget(2)->findChild<QWidget*>("1043") != nullptr, true);

    EXPECT_EQ(Rows(List(kIdPictureFormat)), (std::vector<std::string>{"YUV411", "YUV422", "YUV444", "RGB888",
                                                                     "ARGB8888", "AYUV4444", "AYUV4422",
                                                                     "AYUV4411"}));
    EXPECT_EQ(Rows(List(kIdTransform)), (std::vector<std::string>{"DCT", "Diff2D", "DCT(NoDEF)"}));
    EXPECT_EQ(List(kIdFrameRate)->count(), 11);
    EXPECT_EQ(List(kIdFrameRate)->itemText(10).toStdString(), "手動設定");
    EXPECT_EQ(Rows(List(kIdQuantMatrix)), (std::vector<std::string>{"CG動画", "MPEG標準"}));
    EXPECT_EQ(Rows(List(kIdSoundMethod)), (std::vector<std::string>{"MDCT-Low", "MDCT-Mid", "MDCT-High", "RawFile"}));
    for (uint32_t id : {kIdPictureFormat, kIdTransform, kIdFrameRate, kIdQuantMatrix, kIdSoundMethod})
        EXPECT_EQ(List(id)->currentIndex(), 0) << id;

    const std::pair<uint32_t, const char*> numbers[] = {
        {kIdPFrames, "5"}, {kIdBFrames, "2"}, {kIdSceneChange, "192"}, {kIdQualityI, "4"},
        {kIdQualityP, "6"}, {kIdQualityB, "8"}, {kIdAudioBlockSize, "1024"}, {kIdFrameRateNumerator, ""},
        {kIdFrameRateDenominator, ""}, {kIdOutputFile, ""}};
    for (const auto& [id, text] : numbers) EXPECT_EQ(Text(id), text) << id;
    EXPECT_FALSE(Field(kIdFrameRateNumerator)->isEnabled());
    EXPECT_FALSE(Field(kIdFrameRateDenominator)->isEnabled());
    // Digits only: the letter typed among them is refused.
    QTest::keyClicks(Field(kIdPFrames), "7a8");
    EXPECT_EQ(Text(kIdPFrames), "578");

    EXPECT_EQ(Bar()->minimum(), 0);
    EXPECT_EQ(Bar()->maximum(), 10000);
    EXPECT_EQ(Button(kIdCreate)->text().toStdString(), "作成(&C)");
    EXPECT_EQ(Button(kIdAbort)->text().toStdString(), "中断(&A)");
    EXPECT_EQ(Button(kIdExit)->text().toStdString(), "終了(&X)");
    EXPECT_EQ(Button(kIdOutputBrowse)->text().toStdString(), "参照(&O)");
    ExpectIdle();
}

TEST_F(WindowTest, FrameRateFieldsFollowTheList) {
    List(kIdFrameRate)->setCurrentIndex(2);  // 59.94fps
    EXPECT_EQ(Text(kIdFrameRateNumerator), "60000");
    EXPECT_EQ(Text(kIdFrameRateDenominator), "1001");
    EXPECT_FALSE(Field(kIdFrameRateNumerator)->isEnabled());
    EXPECT_FALSE(Field(kIdFrameRateDenominator)->isEnabled());

    List(kIdFrameRate)->setCurrentIndex(10);  // manual: editable, the preset's numbers kept
    EXPECT_TRUE(Field(kIdFrameRateNumerator)->isEnabled());
    EXPECT_EQ(Text(kIdFrameRateNumerator), "60000");

    List(kIdFrameRate)->setCurrentIndex(0);  // default: disabled, numbers still visible
    EXPECT_FALSE(Field(kIdFrameRateDenominator)->isEnabled());
    EXPECT_EQ(Text(kIdFrameRateDenominator), "1001");
}

TEST_F(WindowTest, OutputCheckRefusesOrAsksBeforeAnyJobIsCreated) {
    TempDir dir("window-output");
    int created = 0;
    window->Controller().SetJobFactory(0, [&](IJobHost*, const EncodeRequest&) {
        ++created;
        return std::make_unique<CountingJob>();
    });

    Button(kIdCreate)->click();
    PumpFor(30);
    ASSERT_EQ(prompts.records.size(), 1u);
    EXPECT_EQ(prompts.records[0].text, "ファイル名が入力されていません。");
    EXPECT_EQ(prompts.records[0].caption, "エラー");
    EXPECT_EQ(prompts.records[0].icon, PromptIcon::kError);

    const std::string existing = dir / "old.rvx";
    std::ofstream(existing) << "old";
    SetText(kIdOutputFile, existing);
    prompts.answers = {false};
    Button(kIdCreate)->click();
    PumpFor(30);
    ASSERT_EQ(prompts.records.size(), 2u);
    EXPECT_EQ(prompts.records[1].text, "ファイル[" + existing + "]はすでに存在します。上書きしてもよろしいですか？");
    EXPECT_EQ(prompts.records[1].caption, "上書き確認");
    EXPECT_EQ(created, 0);

    prompts.answers = {true};
    Button(kIdCreate)->click();
    PumpFor(30);
    EXPECT_EQ(created, 1);  // the page was asked (its job then failed to load)
    EXPECT_TRUE(prompts.Shown("ファイルのロードに失敗しました。"));
    EXPECT_EQ(prompts.records.back().detail, "counted");
    EXPECT_TRUE(std::filesystem::exists(existing));  // nothing replaced it yet

    SetText(kIdOutputFile, dir / "missing-folder/new.rvx");
    Button(kIdCreate)->click();
    PumpFor(30);
    EXPECT_EQ(prompts.records.back().text, "指定したファイル名で作成できません、");
    EXPECT_EQ(prompts.records.back().icon, PromptIcon::kError);
    EXPECT_EQ(created, 1);
    SetText(kIdOutputFile, dir.path().string());  // a folder is no file either
    Button(kIdCreate)->click();
    PumpFor(30);
    EXPECT_EQ(prompts.records.back().text, "指定したファイル名で作成できません、");
    EXPECT_EQ(created, 1);
    ExpectIdle();
}

// 作成 hands the page's job everything it needs: the page's paths, the
// output, and the options as the controls show them at that moment.
TEST_F(WindowTest, CreateHandsTheJobItsPathsOutputAndSettings) {
    TempDir dir("window-request");
    std::vector<EncodeRequest> requests;
    window->Controller().SetJobFactory(1, [&](IJobHost*, const EncodeRequest& request) {
        requests.push_back(request);
        return std::make_unique<CountingJob>();
    });
    Tab()->setCurrentIndex(1);
    SetText(kIdImagePath, "/clips/f0001.png");
    SetText(kIdWavePath, "/clips/sound.wav");
    SetText(kIdOutputFile, dir / "out.rvx");
    List(kIdPictureFormat)->setCurrentIndex(FindOptionRow(PictureFormatTable, "AYUV4444"));
    List(kIdFrameRate)->setCurrentIndex(kManualFrameRateRow);
    SetText(kIdFrameRateNumerator, "24000");
    SetText(kIdFrameRateDenominator, "1001");
    SetText(kIdPFrames, "70000");
    List(kIdSoundMethod)->setCurrentIndex(FindOptionRow(SoundMethodTable, "RawFile"));
    Button(kIdCreate)->click();
    // Changed after 作成, before the page makes its job: not the user's choice.
    SetText(kIdBFrames, "7");
    PumpFor(30);
    ASSERT_EQ(requests.size(), 1u);
    const EncodeRequest& r = requests[0];
    EXPECT_EQ(r.source, "/clips/f0001.png");
    EXPECT_EQ(r.wave, "/clips/sound.wav");
    EXPECT_EQ(r.output, dir / "out.rvx");
    EncodeSettings want;  // the start-up options but for those changed before 作成
    want.picture_format = 0x41;  // AYUV4444
    want.frame_rate = {24000, 1001};
    want.p_frames = 70000 & 0xFFFF;
    want.sound_method = 0;  // RawFile
    EXPECT_TRUE(r.settings == want);
}

TEST_F(WindowTest, FileDialogsHaveTheirTitlesFiltersAndTargets) {
    SetText(kIdOutputFile, "/tmp/start.rvx");
    prompts.files = {"/tmp/chosen.rvx"};
    Button(kIdOutputBrowse)->click();
    ASSERT_EQ(prompts.records.size(), 1u);
    const PromptRecord save = prompts.records[0];
    EXPECT_EQ(save.text, "出力するファイルを選択する");
    EXPECT_TRUE(save.dialog.save);
    EXPECT_EQ(save.detail, "/tmp/start.rvx");
    ASSERT_EQ(save.dialog.filters.size(), 2u);
    EXPECT_EQ(save.dialog.filters[0].text, "rvx file (*.rvx)");
    EXPECT_EQ(save.dialog.filters[1].text, "すべてのファイル (*.*)");
    EXPECT_EQ(save.dialog.filters[1].pattern, "*");
    EXPECT_EQ(Text(kIdOutputFile), "/tmp/chosen.rvx");

    // Cancelling keeps the text.
    Button(kIdImageBrowse)->click();
    EXPECT_EQ(prompts.records.back().text, "連番画像ファイルを選択する");
    EXPECT_FALSE(prompts.records.back().dialog.save);
    EXPECT_EQ(prompts.records.back().dialog.filters.size(), 3u);
    EXPECT_EQ(prompts.records.back().dialog.filters[1].pattern, "*.png");

    const std::pair<uint32_t, std::string> dialogs[] = {
        {kIdMovieBrowse, "動画ファイルを選択する"}, {kIdWaveBrowse, "音楽ファイルを選択する"},
        {kIdAviBrowse, "AVIファイルを選択する"}};
    for (const auto& [button, title] : dialogs) {
        prompts.files = {"/tmp/picked-" + std::to_string(button)};
        Button(button)->click();
        EXPECT_EQ(prompts.records.back().text, title);
        EXPECT_EQ(prompts.records.back().dialog.filters.back().pattern, "*");
    }
    EXPECT_EQ(Text(kIdMoviePath), "/tmp/picked-1047");
    EXPECT_EQ(Text(kIdWavePath), "/tmp/picked-1054");
    EXPECT_EQ(Text(kIdAviPath), "/tmp/picked-1042");

    // Qt shows the text and filters by the pattern: the all-files entry must
    // match names without a dot.
    const QStringList filters = QtNameFilters(save.dialog);
    EXPECT_EQ(filters.back().toStdString(), "すべてのファイル (*.*) (*)");
}

namespace {

void Drop(QWidget* target, const QString& path, bool* entered = nullptr) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (entered) *entered = enter.isAccepted();
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}

}  // namespace

TEST_F(WindowTest, DroppedFilesFillThePathTheyBelongTo) {
    bool entered = false;
    Drop(window->Page(1), "/clips/take 1/f0001.png", &entered);
    EXPECT_TRUE(entered);
    EXPECT_EQ(Text(kIdImagePath), "/clips/take 1/f0001.png");
    Drop(window->Page(1), "/clips/Sound.WAV");
    EXPECT_EQ(Text(kIdWavePath), "/clips/Sound.WAV");
    EXPECT_EQ(Text(kIdImagePath), "/clips/take 1/f0001.png");
    // A wave file dropped on the image field still goes to the sound field.
    Drop(Field(kIdImagePath), "/clips/other.wav");
    EXPECT_EQ(Text(kIdWavePath), "/clips/other.wav");
    EXPECT_EQ(Text(kIdImagePath), "/clips/take 1/f0001.png");

    SetText(kIdOutputFile, "/half/typed");
    Drop(Field(kIdOutputFile), "/out/movie.rvx");
    EXPECT_EQ(Text(kIdOutputFile), "/out/movie.rvx");  // replaced, not inserted
    Drop(window->Page(0), "/movies/a.mpg");
    EXPECT_EQ(Text(kIdMoviePath), "/movies/a.mpg");
    Drop(window->Page(2), "/movies/b.avi");
    EXPECT_EQ(Text(kIdAviPath), "/movies/b.avi");
}
