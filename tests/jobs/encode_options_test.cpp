#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/memory_host.h"
#include "jobs/encode_options.h"

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

    int rate_calls = 0;
    uint32_t num = 30, den = 1;
    uint16_t p = 0xAAAA, b = 0xAAAA, scene = 0xAAAA;
    uint16_t quality[4] = {};
};

// The fields as the window shows them at start-up.
struct StartUpHost : MemoryHost {
    StartUpHost() {
    texts = {{kIdPFrames, "5"},  {kIdBFrames, "2"},  {kIdSceneChange, "192"}, {kIdQualityI, "4"},
                  {kIdQualityP, "6"}, {kIdQualityB, "8"}, {kIdAudioBlockSize, "1024"}};
    }
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

TEST(ReadEncodeOptions, StartUpValuesReachTheSetters) {
    StartUpHost host;
    SetterLog w;
    const EncodeOptionResult r = ReadEncodeOptions(host, w);
    EXPECT_EQ(r.format_bits, 0x2003u);  // YUV411 | DCT
    EXPECT_EQ(r.sound_method, 0x103u);
    EXPECT_EQ(r.audio_block_size, 1024u);
    EXPECT_EQ(w.rate_calls, 0);
    EXPECT_EQ(w.p, 5);
    EXPECT_EQ(w.b, 2);
    EXPECT_EQ(w.scene, 192);
    EXPECT_EQ(w.quality[0], 4);
    EXPECT_EQ(w.quality[1], 6);
    EXPECT_EQ(w.quality[2], 8);
    EXPECT_EQ(w.quality[3], 2);  // CG動画
}

TEST(ReadEncodeOptions, PresetRateIsSetAsItsFraction) {
    StartUpHost host;
    host.selections[kIdFrameRate] = FindOptionRow(FrameRateTable, "59.94fps");
    host.texts[kIdFrameRateNumerator] = std::string("7");  // stale manual numbers are not used
    SetterLog w;
    ReadEncodeOptions(host, w);
    EXPECT_EQ(w.rate_calls, 1);
    EXPECT_EQ(w.num, 60000u);
    EXPECT_EQ(w.den, 1001u);
}

TEST(ReadEncodeOptions, ManualRateNeedsBothParts) {
    struct Case {
        const char* num;
        const char* den;
        bool set;
    } cases[] = {{"", "", false}, {"30000", "0", false}, {"0", "1", false}, {"30000", "1001", true}};
    for (const Case& c : cases) {
        StartUpHost host;
        host.selections[kIdFrameRate] = kManualFrameRateRow;
        host.texts[kIdFrameRateNumerator] = std::string(c.num);
        host.texts[kIdFrameRateDenominator] = std::string(c.den);
        SetterLog w;
        ReadEncodeOptions(host, w);
        EXPECT_EQ(w.rate_calls, c.set ? 1 : 0) << c.num << "/" << c.den;
        if (c.set) {
            EXPECT_EQ(w.num, 30000u);
            EXPECT_EQ(w.den, 1001u);
        }
    }
}

TEST(ReadEncodeOptions, DefaultRowIgnoresTheManualFields) {
    StartUpHost host;
    host.texts[kIdFrameRateNumerator] = std::string("24");
    host.texts[kIdFrameRateDenominator] = std::string("1");
    SetterLog w;
    ReadEncodeOptions(host, w);
    EXPECT_EQ(w.rate_calls, 0);
}

TEST(ReadEncodeOptions, SixteenBitSettersKeepTheLowBits) {
    StartUpHost host;
    host.texts[kIdPFrames] = std::string("65536");
    host.texts[kIdBFrames] = std::string("65535");
    host.texts[kIdQualityB] = std::string("");
    host.texts[kIdSceneChange] = std::string("70000");
    SetterLog w;
    ReadEncodeOptions(host, w);
    EXPECT_EQ(w.p, 0);
    EXPECT_EQ(w.b, 0xFFFF);
    EXPECT_EQ(w.quality[2], 0);
    EXPECT_EQ(w.scene, 70000 & 0xFFFF);
}

TEST(ReadEncodeOptions, ListSelectionsGiveTheirValues) {
    StartUpHost host;
    host.selections[kIdQuantMatrix] = FindOptionRow(QuantMatrixTable, "MPEG標準");
    host.selections[kIdPictureFormat] = FindOptionRow(PictureFormatTable, "AYUV4422");
    host.selections[kIdTransform] = FindOptionRow(TransformTable, "DCT(NoDEF)");
    host.selections[kIdSoundMethod] = FindOptionRow(SoundMethodTable, "RawFile");
    host.texts[kIdAudioBlockSize] = std::string("5000000");  // not clamped here
    SetterLog w;
    const EncodeOptionResult r = ReadEncodeOptions(host, w);
    EXPECT_EQ(w.quality[3], 1);
    EXPECT_EQ(r.format_bits, 0x12042u);
    EXPECT_EQ(r.sound_method, 0u);
    EXPECT_EQ(r.audio_block_size, 5000000u);
}
