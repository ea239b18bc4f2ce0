#pragma once
// The main window's option controls as typed members, and the id-keyed view
// of them through which the shared option logic (app/option_window.h) fills,
// follows and reads them.

#include <cstdint>
#include <string>
#include <vector>

#include "app/option_window.h"

class QComboBox;
class QLineEdit;
class QRadioButton;
class QWidget;

class COptionControls : public IOptionWindow {
public:
    QComboBox* picture_format = nullptr;
    QComboBox* transform = nullptr;
    QComboBox* frame_rate = nullptr;
    QLineEdit* rate_numerator = nullptr;
    QLineEdit* rate_denominator = nullptr;
    QLineEdit* p_frames = nullptr;
    QLineEdit* b_frames = nullptr;
    QLineEdit* scene_change = nullptr;
    QComboBox* matrix = nullptr;
    QLineEdit* quality_i = nullptr;
    QLineEdit* quality_p = nullptr;
    QLineEdit* quality_b = nullptr;
    QComboBox* sound_method = nullptr;
    QLineEdit* block_size = nullptr;
    // Controls without an id of their own: the encoder's preset and the
    // choice between the three qualities and a target size in MB.
    QComboBox* preset = nullptr;
    QRadioButton* rate_quality = nullptr;
    QRadioButton* rate_size = nullptr;
    QLineEdit* target_size = nullptr;
    // The part of the source and the picture steps before the codec; the
    // rotation and deinterlacing follow the source by themselves.
    QLineEdit* source_start = nullptr;     // seconds, empty: the first frame
    QLineEdit* source_duration = nullptr;  // seconds, empty: to the end
    QComboBox* crop = nullptr;             // なし or 自動
    QLineEdit* scale_width = nullptr;      // empty: the source's, or the shape's
    QLineEdit* scale_height = nullptr;

    // Every option control at once (the window disables them while a job runs).
    void SetEnabled(bool enable);
    // Fills the preset list and selects its first row and the quality choice.
    void ApplyDefaultRateOptions();
    // With a target size the plan chooses the qualities: their fields are
    // off and the size field on, and the other way round.
    void FollowRateChoice();
    // Fills the crop list and empties the source row.
    void ApplyDefaultSourceOptions();
    // The source row into the settings; false, with the message the user is
    // shown, when a time or a size names no valid value.
    bool ReadSourceOptions(SourceSettings& source, std::string* refusal) const;
    RVXPreset ChosenPreset() const;
    bool SizeChosen() const;

    void SetListRows(uint32_t control_id, const std::vector<std::string>& rows) override;
    void SelectListRow(uint32_t control_id, int32_t row) override;
    void SetControlText(uint32_t control_id, const std::string& text) override;
    void EnableControl(uint32_t control_id, bool enable) override;
    int32_t GetListSelection(uint32_t control_id) override;
    std::string GetControlText(uint32_t control_id) override;

private:
    // The control with the id; null for an id that is not an option of the
    // kind asked for.
    QComboBox* List(uint32_t control_id) const;
    QLineEdit* Field(uint32_t control_id) const;
};
