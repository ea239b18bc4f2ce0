#pragma once
// The option controls as the window side sees them: it fills the lists,
// writes the start-up values, keeps the manual frame-rate fields in step
// with the frame-rate list, and reads everything into the settings a job is
// made with when the user presses 作成.

#include <cstdint>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "jobs/encode_settings.h"

class IOptionWindow {
public:
    virtual ~IOptionWindow() = default;
    virtual void SetListRows(uint32_t control_id, const std::vector<std::string>& rows) = 0;
    virtual void SelectListRow(uint32_t control_id, int32_t row) = 0;
    virtual void SetControlText(uint32_t control_id, const std::string& text) = 0;
    virtual void EnableControl(uint32_t control_id, bool enable) = 0;
    // Selected row of a list, -1 when nothing is selected.
    virtual int32_t GetListSelection(uint32_t control_id) = 0;
    // Text of a field (UTF-8).
    virtual std::string GetControlText(uint32_t control_id) = 0;
};

// The values the option fields start with: the writer's own defaults.
struct OptionStartValue {
    uint32_t control_id;
    uint32_t value;
};
inline constexpr OptionStartValue kOptionStartValues[] = {
    {kIdPFrames, kDefaultPFrames},         {kIdBFrames, kDefaultBFrames},   {kIdSceneChange, kDefaultSceneChange},
    {kIdQualityI, kDefaultQualityI},       {kIdQualityP, kDefaultQualityP}, {kIdQualityB, kDefaultQualityB},
    {kIdAudioBlockSize, kDefaultAudioBlockSize},
};

// Start-up state: every list filled with row 0 selected, the numeric fields
// at their start-up values, the frame-rate fields following the list.
void ApplyDefaultOptions(IOptionWindow& window);

// With reset the frame-rate list returns to row 0 first. A preset writes its
// fraction into the two fields and disables them; the default row disables
// them and the manual row enables them, both leaving their text alone.
void UpdateFrameRateFields(IOptionWindow& window, bool reset);

// Every option as the controls show it: a list gives its row's value (row 0
// when nothing is selected), a field its number (FieldSetting16 for the
// 16-bit ones), the frame rate follows its list (ChosenFrameRate).
EncodeSettings ReadEncodeSettings(IOptionWindow& window);
