#include "app/option_window.h"

#include "jobs/control_ids.h"
#include "jobs/option_tables.h"

namespace {

void FillList(IOptionWindow& window, uint32_t id, const OptionRow* table) {
    std::vector<std::string> rows;
    for (uint32_t i = 0; table[i].text[0] != '\0'; ++i) rows.emplace_back(table[i].text);
    window.SetListRows(id, rows);
    window.SelectListRow(id, 0);
}

}  // namespace

void ApplyDefaultOptions(IOptionWindow& window) {
    FillList(window, kIdPictureFormat, PictureFormatTable);
    FillList(window, kIdTransform, TransformTable);
    FillList(window, kIdFrameRate, FrameRateTable);
    FillList(window, kIdQuantMatrix, QuantMatrixTable);
    FillList(window, kIdSoundMethod, SoundMethodTable);

    for (const OptionStartValue& v : kOptionStartValues) window.SetControlText(v.control_id, std::to_string(v.value));

    UpdateFrameRateFields(window, true);
}

void UpdateFrameRateFields(IOptionWindow& window, bool reset) {
    if (reset) window.SelectListRow(kIdFrameRate, 0);
    const int32_t row = window.GetListSelection(kIdFrameRate);
    const uint32_t value = OptionRowValue(FrameRateTable, row);
    bool enable = row > 0;
    if (value != 0) {
        window.SetControlText(kIdFrameRateNumerator, std::to_string(value & 0xFFFFu));
        window.SetControlText(kIdFrameRateDenominator, std::to_string(value >> 16));
        enable = false;
    }
    window.EnableControl(kIdFrameRateNumerator, enable);
    window.EnableControl(kIdFrameRateDenominator, enable);
}
