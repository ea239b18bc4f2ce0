#include "jobs/option_tables.h"

#include <array>
#include <cstring>
#include <utility>

#include "rvxlib/format/format_word.h"
#include "snxlib/snx_format.h"

namespace {

// A named-value list as option rows, closed by the empty row.
template <typename Entry, std::size_t N, std::size_t... I>
constexpr std::array<OptionRow, N + 1> RowsOf(const Entry (&names)[N], std::index_sequence<I...>) {
    return {{{names[I].text, names[I].value}..., {"", 0}}};
}
template <typename Entry, std::size_t N>
constexpr std::array<OptionRow, N + 1> RowsOf(const Entry (&names)[N]) {
    return RowsOf(names, std::make_index_sequence<N>());
}

constexpr auto kPictureFormatRows = RowsOf(_rvxlib_::kPictureFormatNames);
constexpr auto kTransformRows = RowsOf(_rvxlib_::kTransformNames);
constexpr auto kSoundMethodRows = RowsOf(_snxlib_::kSoundMethodNames);

}  // namespace

constinit const OptionRow* const PictureFormatTable = kPictureFormatRows.data();
constinit const OptionRow* const TransformTable = kTransformRows.data();
constinit const OptionRow* const SoundMethodTable = kSoundMethodRows.data();

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
