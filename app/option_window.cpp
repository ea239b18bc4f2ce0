#include "app/option_window.h"

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

EncodeSettings ReadEncodeSettings(IOptionWindow& window) {
    auto row = [&](uint32_t id) { return window.GetListSelection(id); };
    auto text = [&](uint32_t id) { return window.GetControlText(id); };
    EncodeSettings settings;
    settings.picture_format = OptionRowValue(PictureFormatTable, row(kIdPictureFormat));
    settings.transform = OptionRowValue(TransformTable, row(kIdTransform));
    settings.frame_rate =
        ChosenFrameRate(row(kIdFrameRate), text(kIdFrameRateNumerator), text(kIdFrameRateDenominator));
    settings.p_frames = FieldSetting16(text(kIdPFrames));
    settings.b_frames = FieldSetting16(text(kIdBFrames));
    settings.scene_change = FieldSetting16(text(kIdSceneChange));
    settings.matrix = static_cast<uint16_t>(OptionRowValue(QuantMatrixTable, row(kIdQuantMatrix)));
    settings.quality_i = FieldSetting16(text(kIdQualityI));
    settings.quality_p = FieldSetting16(text(kIdQualityP));
    settings.quality_b = FieldSetting16(text(kIdQualityB));
    settings.sound_method = OptionRowValue(SoundMethodTable, row(kIdSoundMethod));
    settings.audio_block_size = ParseFieldNumber(text(kIdAudioBlockSize));
    return settings;
}
