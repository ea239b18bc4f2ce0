#include "app/window/option_controls.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <initializer_list>
#include <iterator>

#include "app/control_ids.h"
#include "app/source_options.h"
#include "app/window/window_prompts.h"

namespace {

struct PresetRow {
    const char* text;
    RVXPreset preset;
};
// The first row makes the decisions every earlier movie was made with.
constexpr PresetRow kPresetRows[] = {
    {QT_TRANSLATE_NOOP("COptionControls", "従来互換"), RVXPreset::kClassic},
    {QT_TRANSLATE_NOOP("COptionControls", "高速"), RVXPreset::kFast},
    {QT_TRANSLATE_NOOP("COptionControls", "標準"), RVXPreset::kMedium},
    {QT_TRANSLATE_NOOP("COptionControls", "高画質"), RVXPreset::kSlow},
};

// The option lists' rows that are words rather than names of formats or
// numbers; every other row reads the same in every language.
[[maybe_unused]] constexpr const char* kTranslatedListRows[] = {
    QT_TRANSLATE_NOOP("COptionControls", "デフォルト"),
    QT_TRANSLATE_NOOP("COptionControls", "手動設定"),
    QT_TRANSLATE_NOOP("COptionControls", "CG動画"),
    QT_TRANSLATE_NOOP("COptionControls", "MPEG標準"),
};

QString Translated(const char* text) { return QCoreApplication::translate("COptionControls", text); }

}  // namespace

void COptionControls::SetEnabled(bool enable) {
    for (QWidget* control : std::initializer_list<QWidget*>{
             picture_format, transform, frame_rate, rate_numerator, rate_denominator, p_frames, b_frames,
             scene_change, matrix, quality_i, quality_p, quality_b, sound_method, block_size, preset,
             rate_quality, rate_size, target_size, source_start, source_duration, crop, scale_width, scale_height})
        control->setEnabled(enable);
    if (enable) FollowRateChoice();
}

void COptionControls::ApplyDefaultRateOptions() {
    preset->clear();
    for (const PresetRow& row : kPresetRows) preset->addItem(Translated(row.text));
    preset->setCurrentIndex(0);
    rate_quality->setChecked(true);
    FollowRateChoice();
}

void COptionControls::ApplyDefaultSourceOptions() {
    crop->clear();
    crop->addItem(Translated(QT_TRANSLATE_NOOP("COptionControls", "なし")));
    crop->addItem(Translated(QT_TRANSLATE_NOOP("COptionControls", "自動")));
    crop->setCurrentIndex(0);
    for (QLineEdit* field : {source_start, source_duration, scale_width, scale_height}) field->clear();
}

bool COptionControls::ReadSourceOptions(SourceSettings& source, std::string* refusal) const {
    if (!ParseSourceStart(U(source_start->text()), &source.start)) {
        *refusal = U(Translated(QT_TRANSLATE_NOOP("COptionControls", "開始の時間が正しくありません。")));
        return false;
    }
    if (!ParseSourceDuration(U(source_duration->text()), &source.duration)) {
        *refusal = U(Translated(QT_TRANSLATE_NOOP("COptionControls", "長さには0より長い時間を秒で入力してください。")));
        return false;
    }
    if (!ParseScaleSide(U(scale_width->text()), &source.scale_width) ||
        !ParseScaleSide(U(scale_height->text()), &source.scale_height)) {
        *refusal = U(Translated(QT_TRANSLATE_NOOP("COptionControls", "幅と高さには1から%1までの値を入力してください。"))
                         .arg(kMaxScaleDimension));
        return false;
    }
    source.crop = crop->currentIndex() == 1 ? CropMode::kAuto : CropMode::kNone;
    source.crop_edges = CropEdges();
    return true;
}

void COptionControls::FollowRateChoice() {
    const bool size = SizeChosen();
    for (QWidget* field : std::initializer_list<QWidget*>{quality_i, quality_p, quality_b}) field->setEnabled(!size);
    target_size->setEnabled(size);
}

RVXPreset COptionControls::ChosenPreset() const {
    const int row = preset->currentIndex();
    return row > 0 && row < int(std::size(kPresetRows)) ? kPresetRows[row].preset : RVXPreset::kClassic;
}

bool COptionControls::SizeChosen() const { return rate_size->isChecked(); }

QComboBox* COptionControls::List(uint32_t control_id) const {
    switch (control_id) {
    case kIdPictureFormat:
        return picture_format;
    case kIdTransform:
        return transform;
    case kIdFrameRate:
        return frame_rate;
    case kIdQuantMatrix:
        return matrix;
    case kIdSoundMethod:
        return sound_method;
    default:
        return nullptr;
    }
}

QLineEdit* COptionControls::Field(uint32_t control_id) const {
    switch (control_id) {
    case kIdFrameRateNumerator:
        return rate_numerator;
    case kIdFrameRateDenominator:
        return rate_denominator;
    case kIdPFrames:
        return p_frames;
    case kIdBFrames:
        return b_frames;
    case kIdSceneChange:
        return scene_change;
    case kIdQualityI:
        return quality_i;
    case kIdQualityP:
        return quality_p;
    case kIdQualityB:
        return quality_b;
    case kIdAudioBlockSize:
        return block_size;
    default:
        return nullptr;
    }
}

void COptionControls::SetListRows(uint32_t control_id, const std::vector<std::string>& rows) {
    QComboBox* list = List(control_id);
    if (!list) return;
    list->clear();
    for (const std::string& row : rows) list->addItem(Translated(row.c_str()));
}

void COptionControls::SelectListRow(uint32_t control_id, int32_t row) {
    if (QComboBox* list = List(control_id)) list->setCurrentIndex(row);
}

void COptionControls::SetControlText(uint32_t control_id, const std::string& text) {
    if (QLineEdit* field = Field(control_id)) field->setText(Q(text));
}

void COptionControls::EnableControl(uint32_t control_id, bool enable) {
    if (QWidget* control = List(control_id)) control->setEnabled(enable);
    if (QWidget* control = Field(control_id)) control->setEnabled(enable);
}

int32_t COptionControls::GetListSelection(uint32_t control_id) {
    const QComboBox* list = List(control_id);
    return list ? list->currentIndex() : -1;
}

std::string COptionControls::GetControlText(uint32_t control_id) {
    if (const QLineEdit* field = Field(control_id)) return U(field->text());
    if (const QComboBox* list = List(control_id)) return U(list->currentText());
    return std::string();
}
