#pragma once
// What a job sees of the front end that made it: somewhere to report
// progress and its end. The Qt window, the terminal encoder and the tests
// each implement it. Everything else a job needs it is given when it is made.
//
// Deadlock rule: a job may wait in SendProgress while the host waits for the
// job to end (abort, close). A host must therefore either keep serving these
// calls while it waits for the job, or make every pending and later call
// return at once after it has decided to end the job.

#include <cstdint>

#include "jobs/job_progress.h"

class IJobHost {
public:
    virtual ~IJobHost() = default;

    // Shows the progress and returns once it is shown, so the value may live
    // on the caller's stack.
    virtual void SendProgress(const JobProgress& progress) = 0;
    // Posts the job's last word (MSG_JOB_DONE, MSG_JOB_FAILED).
    virtual void PostJobMessage(uint32_t message) = 0;
};
