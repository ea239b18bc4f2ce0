#include "jobs/option_tables.h"

#include <cstring>

const OptionRow PictureFormatTable[] = {
    {"YUV411", 0x03},   {"YUV422", 0x02},   {"YUV444", 0x01},   {"RGB888", 0x10},
    {"ARGB8888", 0x50}, {"AYUV4444", 0x41}, {"AYUV4422", 0x42}, {"AYUV4411", 0x43},
    {"", 0},
};

const OptionRow TransformTable[] = {
    {"DCT", 0x2000},
    {"Diff2D", 0x1000},
    {"DCT(NoDEF)", 0x12000},
    {"", 0},
};

const OptionRow FrameRateTable[] = {
    {"デフォルト", 0},
    {"60fps", PackFrameRate(60, 1)},
    {"59.94fps", PackFrameRate(60000, 1001)},
    {"50fps", PackFrameRate(50, 1)},
    {"30fps", PackFrameRate(30, 1)},
    {"29.97fps", PackFrameRate(30000, 1001)},
    {"25fps", PackFrameRate(25, 1)},
    {"24fps", PackFrameRate(24, 1)},
    {"23.976fps", PackFrameRate(24000, 1001)},
    {"15fps", PackFrameRate(15, 1)},
    {"手動設定", 0},
    {"", 0},
};

const OptionRow QuantMatrixTable[] = {
    {"CG動画", 2},
    {"MPEG標準", 1},
    {"", 0},
};

const OptionRow SoundMethodTable[] = {
    {"MDCT-Low", 0x103},
    {"MDCT-Mid", 0x102},
    {"MDCT-High", 0x101},
    {"RawFile", 0},
    {"", 0},
};

uint32_t OptionRowCount(const OptionRow* table) {
    uint32_t n = 0;
    while (table[n].text[0] != '\0') ++n;
    return n;
}

uint32_t OptionRowValue(const OptionRow* table, int32_t row) {
    if (row < 0 || static_cast<uint32_t>(row) >= OptionRowCount(table)) row = 0;
    return table[row].value;
}

int32_t FindOptionRow(const OptionRow* table, const char* text) {
    for (uint32_t i = 0; table[i].text[0] != '\0'; ++i)
        if (std::strcmp(table[i].text, text) == 0) return static_cast<int32_t>(i);
    return -1;
}
