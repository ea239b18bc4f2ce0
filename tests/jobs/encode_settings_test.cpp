#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "jobs/encode_settings.h"

namespace {

// Records what reaches the writer's setters.
struct SetterLog {
    void SetFrameRate(uint32_t n, uint32_t d) {
        rate_calls++;
        num = n;
        den = d;
    }
    void SetGopStructure(uint16_t p_count, uint16_t b_count) {
        p = p_count;
        b = b_count;
    }
    void SetQuality(uint16_t* q) {
        for (int i = 0; i < 4; ++i) quality[i] = q[i];
    }
    void SetSceneChange(uint16_t v) { scene = v; }
    void SetPreset(uint8_t p_value, bool aq_value) {
        preset = p_value;
        aq = aq_value;
    }

    int rate_calls = 0;
    uint32_t num = 30, den = 1;
    uint16_t p = 0xAAAA, b = 0xAAAA, scene = 0xAAAA;
    uint16_t quality[4] = {};
    uint8_t preset = 0xAA;
    bool aq = false;
};

}  // namespace

TEST(OptionTables, ManualRowAndOutOfRangeRows) {
    EXPECT_EQ(FindOptionRow(FrameRateTable, "手動設定"), static_cast<int32_t>(kManualFrameRateRow));
    EXPECT_EQ(OptionRowValue(PictureFormatTable, 99), 0x03u);  // outside: row 0
    EXPECT_EQ(OptionRowValue(PictureFormatTable, -1), 0x03u);
}

// The lists the window and rvxenc offer, row for row: files and settings
// remembered by row number rely on their order and values.
TEST(OptionTables, ListTheirRowsInTheirFixedOrder) {
    using Rows = std::vector<std::pair<std::string, uint32_t>>;
    auto rows = [](const OptionRow* table) {
        Rows out;
        for (uint32_t i = 0; i < OptionRowCount(table); ++i) out.emplace_back(table[i].text, table[i].value);
        return out;
    };
    EXPECT_EQ(rows(PictureFormatTable), (Rows{{"YUV411", 0x03}, {"YUV422", 0x02}, {"YUV444", 0x01},
                                              {"RGB888", 0x10}, {"ARGB8888", 0x50}, {"AYUV4444", 0x41},
                                              {"AYUV4422", 0x42}, {"AYUV4411", 0x43}}));
    EXPECT_EQ(rows(TransformTable), (Rows{{"DCT", 0x2000}, {"Diff2D", 0x1000}, {"DCT(NoDEF)", 0x12000}}));
    EXPECT_EQ(rows(SoundMethodTable),
              (Rows{{"MDCT-Low", 0x103}, {"MDCT-Mid", 0x102}, {"MDCT-High", 0x101}, {"RawFile", 0}}));
    EXPECT_EQ(rows(QuantMatrixTable), (Rows{{"CG動画", 2}, {"MPEG標準", 1}}));
    EXPECT_EQ(OptionRowCount(FrameRateTable), 11u);
}

TEST(FieldNumber, DigitsOnlyWithin32Bits) {
    EXPECT_EQ(ParseFieldNumber(""), 0u);
    EXPECT_EQ(ParseFieldNumber(" 42 "), 42u);
    EXPECT_EQ(ParseFieldNumber("12a"), 0u);
    EXPECT_EQ(ParseFieldNumber("-3"), 0u);
    EXPECT_EQ(ParseFieldNumber("4294967295"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseFieldNumber("4294967296"), 0u);
}

TEST(FieldNumber, SixteenBitSettingsKeepTheLowBits) {
    const std::pair<const char*, uint16_t> cases[] = {
        {"65536", 0}, {"65535", 0xFFFF}, {"", 0}, {"70000", 70000 & 0xFFFF}, {"4294967296", 0}, {"8", 8}};
    for (const auto& [text, value] : cases) EXPECT_EQ(FieldSetting16(text), value) << text;
}

TEST(EncodeSettings, StartUpValuesReachTheSetters) {
    const EncodeSettings settings;
    EXPECT_EQ(settings.FormatBits(), 0x2003u);  // YUV411 | DCT
    EXPECT_EQ(settings.sound_method, 0x103u);
    EXPECT_EQ(settings.audio_block_size, 1024u);
    SetterLog w;
    ApplyEncodeSettings(settings, w);
    EXPECT_EQ(w.rate_calls, 0);
    EXPECT_EQ(w.p, 5);
    EXPECT_EQ(w.b, 2);
    EXPECT_EQ(w.scene, 192);
    EXPECT_EQ(w.quality[0], 4);
    EXPECT_EQ(w.quality[1], 6);
    EXPECT_EQ(w.quality[2], 8);
    EXPECT_EQ(w.quality[3], 2);  // CG動画
}

// Which rate the list and the two fields choose, and whether the writer is
// told one at all: a rate with a zero part keeps the source's.
TEST(EncodeSettings, FrameRateFollowsTheListAndNeedsBothParts) {
    const int32_t manual = static_cast<int32_t>(kManualFrameRateRow);
    struct Case {
        int32_t row;
        const char* num;
        const char* den;
        uint32_t want_num, want_den;  // 0/0: the writer is not told a rate
    } cases[] = {
        {FindOptionRow(FrameRateTable, "59.94fps"), "7", "", 60000, 1001},  // stale manual numbers are not used
        {FindOptionRow(FrameRateTable, "15fps"), "", "", 15, 1},
        {0, "24", "1", 0, 0},  // the default row ignores the fields
        {-1, "24", "1", 0, 0},
        {99, "24", "1", 0, 0},
        {manual, "", "", 0, 0},
        {manual, "30000", "0", 0, 0},
        {manual, "0", "1", 0, 0},
        {manual, "30000", "1001", 30000, 1001},
        {manual, "4294967295", "1", 0xFFFFFFFFu, 1},  // not cut to 16 bits
    };
    for (const Case& c : cases) {
        EncodeSettings settings;
        settings.frame_rate = ChosenFrameRate(c.row, c.num, c.den);
        SetterLog w;
        ApplyEncodeSettings(settings, w);
        const bool set = c.want_num != 0;
        EXPECT_EQ(w.rate_calls, set ? 1 : 0) << c.row << " " << c.num << "/" << c.den;
        if (set) {
            EXPECT_EQ(w.num, c.want_num) << c.row;
            EXPECT_EQ(w.den, c.want_den) << c.row;
        }
    }
}

TEST(EncodeSettings, EverySettingReachesItsSetter) {
    EncodeSettings settings;
    settings.p_frames = 7;
    settings.b_frames = 3;
    settings.scene_change = 0xFFFF;
    settings.quality_i = 2;
    settings.quality_p = 40;
    settings.quality_b = 0;
    settings.matrix = 1;
    settings.preset = RVXPreset::kSlow;
    settings.adaptive_quantisation = true;
    SetterLog w;
    ApplyEncodeSettings(settings, w);
    EXPECT_EQ(w.p, 7);
    EXPECT_EQ(w.b, 3);
    EXPECT_EQ(w.scene, 0xFFFF);
    const uint16_t quality[4] = {2, 40, 0, 1};  // the writer clamps, not the settings
    for (int i = 0; i < 4; ++i) EXPECT_EQ(w.quality[i], quality[i]) << i;
    EXPECT_EQ(w.preset, static_cast<uint8_t>(RVXPreset::kSlow));
    EXPECT_TRUE(w.aq);
}
