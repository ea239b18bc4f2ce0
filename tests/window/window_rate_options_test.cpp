// The preset list and the choice between three qualities and a target size:
// what reaches the job's settings, and which fields the choice turns off.
#include <QRadioButton>
#include <filesystem>

#include "app/window/source_page.h"
#include "jobs/option_tables.h"
#include "window_fixture.h"

namespace {

// Records the request of every job the page is asked for, and loads none.
class RateOptionsTest : public WindowTest {
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

    // The settings 作成 hands the page (last: with a target size the source
    // is first asked whether it can reach it); false when none was asked for.
    bool Create(EncodeSettings* settings) {
        requests.clear();
        Button(kIdCreate)->click();
        PumpUntil([&] { return !window->Controller().IsCheckingTarget(); });
        PumpFor(30);
        if (requests.empty()) return false;
        *settings = requests.back().settings;
        return true;
    }

    QComboBox* Preset() const { return window->findChild<QComboBox*>("preset"); }
    QRadioButton* Radio(const char* name) const { return window->findChild<QRadioButton*>(name); }

    TempDir dir{"window-rate"};
    std::vector<EncodeRequest> requests;
};

}  // namespace

TEST_F(RateOptionsTest, EachPresetAndTheTargetSizeReachTheJob) {
    ASSERT_NE(Preset(), nullptr);
    ASSERT_EQ(Preset()->count(), 4);
    EXPECT_EQ(Preset()->currentIndex(), 0);
    const std::pair<const char*, RVXPreset> presets[] = {
        {"従来互換", RVXPreset::kClassic},
        {"高速", RVXPreset::kFast},
        {"標準", RVXPreset::kMedium},
        {"高画質", RVXPreset::kSlow},
    };
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(Preset()->itemText(row).toStdString(), presets[row].first);
        Preset()->setCurrentIndex(row);
        EncodeSettings settings;
        ASSERT_TRUE(Create(&settings)) << presets[row].first;
        EXPECT_EQ(settings.preset, presets[row].second) << presets[row].first;
        EXPECT_EQ(settings.target_bytes, 0u);
    }

    // The size is in MB (10^6 bytes); the qualities typed stay as they are
    // but are the plan's to choose.
    Radio("rateSize")->setChecked(true);
    SetText(kIdQualityI, "9");
    window->findChild<QLineEdit*>("targetSize")->setText("1.5");
    EncodeSettings settings;
    ASSERT_TRUE(Create(&settings));
    EXPECT_EQ(settings.target_bytes, 1500000u);
    EXPECT_EQ(settings.target_bits_per_second, 0u);
    EXPECT_EQ(settings.preset, RVXPreset::kSlow);

    // No size, or a transform without a quantiser, starts nothing.
    const std::pair<const char*, const char*> refused[] = {{"", "DCT"}, {"0", "DCT"}, {"5", "Diff2D"}};
    for (const auto& [size, transform] : refused) {
        window->findChild<QLineEdit*>("targetSize")->setText(size);
        List(kIdTransform)->setCurrentIndex(FindOptionRow(TransformTable, transform));
        prompts.records.clear();
        EXPECT_FALSE(Create(&settings)) << size << " " << transform;
        ASSERT_EQ(prompts.records.size(), 1u);
        EXPECT_EQ(prompts.records[0].caption, "エラー");
        EXPECT_EQ(prompts.records[0].icon, PromptIcon::kError);
    }
    ExpectIdle();
}

TEST_F(RateOptionsTest, QualityFieldsFollowTheRateChoiceAcrossAJob) {
    QLineEdit* target = window->findChild<QLineEdit*>("targetSize");
    auto expect_quality_fields = [&](bool enabled) {
        for (uint32_t id : {kIdQualityI, kIdQualityP, kIdQualityB}) EXPECT_EQ(Field(id)->isEnabled(), enabled) << id;
        EXPECT_EQ(target->isEnabled(), !enabled);
        EXPECT_TRUE(Field(kIdPFrames)->isEnabled());
        EXPECT_TRUE(List(kIdQuantMatrix)->isEnabled());
    };
    EXPECT_TRUE(Radio("rateQuality")->isChecked());
    expect_quality_fields(true);
    Radio("rateSize")->setChecked(true);
    expect_quality_fields(false);
    Radio("rateQuality")->setChecked(true);
    expect_quality_fields(true);

    // Re-enabling the options after a job keeps the choice's fields off.
    Radio("rateSize")->setChecked(true);
    target->setText("2");
    window->JobStarted(0);
    EXPECT_FALSE(target->isEnabled());
    EXPECT_FALSE(Preset()->isEnabled());
    window->JobIdle();
    expect_quality_fields(false);
}
