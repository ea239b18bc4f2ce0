#include <gtest/gtest.h>

#include <map>

#include "app/option_window.h"
#include "jobs/control_ids.h"
#include "jobs/option_tables.h"

namespace {

class MemoryWindow : public IOptionWindow {
public:
    void SendProgress(const std::string&, double) override {}
    void PostJobMessage(uint32_t) override {}
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
