#include "jobs/encode_settings.h"

uint32_t ParseFieldNumber(const std::string& text) {
    size_t i = 0, end = text.size();
    while (i < end && (text[i] == ' ' || text[i] == '\t')) ++i;
    while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    if (i == end) return 0;
    uint64_t value = 0;
    for (; i < end; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > 0xFFFFFFFFull) return 0;
    }
    return static_cast<uint32_t>(value);
}

uint16_t FieldSetting16(const std::string& text) { return static_cast<uint16_t>(ParseFieldNumber(text) & 0xFFFFu); }

FrameRate ChosenFrameRate(int32_t row, const std::string& numerator, const std::string& denominator) {
    const uint32_t rate = OptionRowValue(FrameRateTable, row);
    if (rate != 0) return {rate & 0xFFFFu, rate >> 16};
    if (row > 0 && static_cast<uint32_t>(row) < OptionRowCount(FrameRateTable))
        return {ParseFieldNumber(numerator), ParseFieldNumber(denominator)};
    return {};
}
