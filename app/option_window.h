#pragma once
// The option controls as the window side sees them: it fills the lists,
// writes the start-up values and keeps the manual frame-rate fields in step
// with the frame-rate list.

#include <cstdint>
#include <string>
#include <vector>

#include "jobs/job_host.h"

class IOptionWindow : public IJobHost {
public:
    virtual void SetListRows(uint32_t control_id, const std::vector<std::string>& rows) = 0;
    virtual void SelectListRow(uint32_t control_id, int32_t row) = 0;
    virtual void SetControlText(uint32_t control_id, const std::string& text) = 0;
    virtual void EnableControl(uint32_t control_id, bool enable) = 0;
};

// Start-up state: every list filled with row 0 selected, the numeric fields
// at their start-up values, the frame-rate fields following the list.
void ApplyDefaultOptions(IOptionWindow& window);

// With reset the frame-rate list returns to row 0 first. A preset writes its
// fraction into the two fields and disables them; the default row disables
// them and the manual row enables them, both leaving their text alone.
void UpdateFrameRateFields(IOptionWindow& window, bool reset);
