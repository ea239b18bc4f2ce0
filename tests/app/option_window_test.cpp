#include <gtest/gtest.h>

#include <map>

#include "app/control_ids.h"
#include "app/option_window.h"
#include "jobs/option_tables.h"

namespace {

class MemoryWindow : public IOptionWindow {
public:
    int32_t GetListSelection(uint32_t id) override { return selection.count(id) ? selection[id] : -1; }
    std::string GetControlText(uint32_t id) override { return text[id]; }
    void SetListRows(uint32_t id, const std::vector<std::string>& r) override { rows[id] = r; }
    void SelectListRow(uint32_t id, int32_t row) override { selection[id] = row; }
    void SetControlText(uint32_t id, const std::string& t) override { text[id] = t; }
    void EnableControl(uint32_t id, bool e) override { enabled[id] = e; }

    std::map<uint32_t, std::vector<std::string>> rows;
    std::map<uint32_t, int32_t> selection;
    std::map<uint32_t, std::string> text;
    std::map<uint32_t, bool> enabled;
};

}  // namespace

TEST(OptionWindow, StartUpFillsListsAndFields) {
    MemoryWindow w;
    ApplyDefaultOptions(w);
    ASSERT_EQ(w.rows[kIdFrameRate].size(), 11u);
    EXPECT_EQ(w.rows[kIdFrameRate][0], "デフォルト");
    EXPECT_EQ(w.rows[kIdQuantMatrix][1], "MPEG標準");
    EXPECT_EQ(w.rows[kIdPictureFormat].back(), "AYUV4411");
    for (uint32_t id : {kIdPictureFormat, kIdTransform, kIdFrameRate, kIdQuantMatrix, kIdSoundMethod})
        EXPECT_EQ(w.selection[id], 0) << id;
    EXPECT_EQ(w.text[kIdSceneChange], "192");
    EXPECT_EQ(w.text[kIdAudioBlockSize], "1024");
    EXPECT_EQ(w.text[kIdFrameRateNumerator], "");
    EXPECT_FALSE(w.enabled[kIdFrameRateNumerator]);
    EXPECT_FALSE(w.enabled[kIdFrameRateDenominator]);
}

TEST(OptionWindow, FrameRateFieldsFollowTheList) {
    MemoryWindow w;
    ApplyDefaultOptions(w);

    w.selection[kIdFrameRate] = FindOptionRow(FrameRateTable, "59.94fps");
    UpdateFrameRateFields(w, false);
    EXPECT_EQ(w.text[kIdFrameRateNumerator], "60000");
    EXPECT_EQ(w.text[kIdFrameRateDenominator], "1001");
    EXPECT_FALSE(w.enabled[kIdFrameRateNumerator]);

    // Back to the default row: disabled, the preset's numbers stay visible.
    w.selection[kIdFrameRate] = 0;
    UpdateFrameRateFields(w, false);
    EXPECT_EQ(w.text[kIdFrameRateNumerator], "60000");
    EXPECT_FALSE(w.enabled[kIdFrameRateDenominator]);

    w.selection[kIdFrameRate] = kManualFrameRateRow;
    UpdateFrameRateFields(w, false);
    EXPECT_TRUE(w.enabled[kIdFrameRateNumerator]);
    EXPECT_TRUE(w.enabled[kIdFrameRateDenominator]);
    EXPECT_EQ(w.text[kIdFrameRateDenominator], "1001");

    UpdateFrameRateFields(w, true);
    EXPECT_EQ(w.selection[kIdFrameRate], 0);
    EXPECT_FALSE(w.enabled[kIdFrameRateNumerator]);
}

// What 作成 hands the job: the controls read the way they always were, the
// fields through the 16-bit rule and the frame rate through its list.
TEST(OptionWindow, SettingsAreReadFromTheControls) {
    MemoryWindow w;
    ApplyDefaultOptions(w);
    const EncodeSettings start = ReadEncodeSettings(w);
    EXPECT_EQ(start.FormatBits(), 0x2003u);  // YUV411 | DCT
    EXPECT_TRUE(start.frame_rate.IsSourceRate());
    EXPECT_EQ(start.p_frames, 5);
    EXPECT_EQ(start.b_frames, 2);
    EXPECT_EQ(start.scene_change, 192);
    EXPECT_EQ(start.matrix, 2);  // CG動画
    EXPECT_EQ(start.quality_i, 4);
    EXPECT_EQ(start.quality_p, 6);
    EXPECT_EQ(start.quality_b, 8);
    EXPECT_EQ(start.sound_method, 0x103u);
    EXPECT_EQ(start.audio_block_size, 1024u);

    w.selection[kIdPictureFormat] = FindOptionRow(PictureFormatTable, "AYUV4422");
    w.selection[kIdTransform] = FindOptionRow(TransformTable, "DCT(NoDEF)");
    w.selection[kIdQuantMatrix] = FindOptionRow(QuantMatrixTable, "MPEG標準");
    w.selection[kIdSoundMethod] = -1;  // nothing selected reads as row 0
    w.selection[kIdFrameRate] = kManualFrameRateRow;
    w.text[kIdFrameRateNumerator] = "30000";
    w.text[kIdFrameRateDenominator] = "1001";
    w.text[kIdPFrames] = "65536";
    w.text[kIdBFrames] = "65535";
    w.text[kIdQualityB] = "";
    w.text[kIdSceneChange] = "70000";
    w.text[kIdAudioBlockSize] = "5000000";  // not clamped here
    const EncodeSettings s = ReadEncodeSettings(w);
    EXPECT_EQ(s.FormatBits(), 0x12042u);
    EXPECT_EQ(s.matrix, 1);
    EXPECT_EQ(s.sound_method, 0x103u);
    EXPECT_EQ(s.frame_rate.numerator, 30000u);
    EXPECT_EQ(s.frame_rate.denominator, 1001u);
    EXPECT_EQ(s.p_frames, 0);
    EXPECT_EQ(s.b_frames, 0xFFFF);
    EXPECT_EQ(s.quality_b, 0);
    EXPECT_EQ(s.scene_change, 70000 & 0xFFFF);
    EXPECT_EQ(s.audio_block_size, 5000000u);
}
