#pragma once
// What a job sees of the window that owns it. The Qt window, the terminal
// encoder and the tests each implement it.
//
// Deadlock rule: a job may wait in SendProgress or a control read while the
// host waits for the job to end (abort, close). A host must therefore either
// keep serving these calls while it waits for the job, or make every pending
// and later call return at once after it has decided to end the job.

#include <cstdint>
#include <string>

class IJobHost {
public:
    virtual ~IJobHost() = default;

    // Shows the status text and the progress fraction (0..1) and returns once
    // they are shown, so both may live on the caller's stack.
    virtual void SendProgress(const std::string& text, double fraction) = 0;
    // Posts a message (MSG_JOB_DONE, MSG_JOB_FAILED) to the job's source page.
    virtual void PostJobMessage(uint32_t message) = 0;
    // Selected row of a drop-down list, -1 when nothing is selected.
    virtual int32_t GetListSelection(uint32_t control_id) = 0;
    // Text of a field (UTF-8).
    virtual std::string GetControlText(uint32_t control_id) = 0;
};
