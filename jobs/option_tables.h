#pragma once
// The constant option tables behind the five drop-down lists. Each table is
// closed by a row with an empty text; row 0 is the default selection.

#include <cstdint>

struct OptionRow {
    const char* text;  // UTF-8, shown as the list entry
    uint32_t value;
};

// Picture layout and alpha: the low byte of the format word. The rows of the
// picture format, transform and sound method lists are the codec's own
// named values (rvxlib/format/format_word.h, snxlib/snx_format.h), in their order.
extern const OptionRow* const PictureFormatTable;
// Transform bits, ORed into the format word.
extern const OptionRow* const TransformTable;
// Frame rate as numerator (low 16 bits) and denominator (high 16 bits);
// 0 keeps the source's rate, or for the manual row takes the two fields.
extern const OptionRow FrameRateTable[];
extern const OptionRow QuantMatrixTable[];
// Sound method value, passed unchanged to the audio encoder.
extern const OptionRow* const SoundMethodTable;

constexpr uint32_t kManualFrameRateRow = 10;

// Rows before the closing empty row.
uint32_t OptionRowCount(const OptionRow* table);
// Value of a row; a row outside the table reads as row 0.
uint32_t OptionRowValue(const OptionRow* table, int32_t row);
// Row whose text equals the given one, -1 when none does.
int32_t FindOptionRow(const OptionRow* table, const char* text);

constexpr uint32_t PackFrameRate(uint32_t numerator, uint32_t denominator) {
    return (numerator & 0xFFFFu) | ((denominator & 0xFFFFu) << 16);
}
