#pragma once
// Whether a job can reach its target size, learnt before the job is queued:
// the page's own job runs just until it either refuses the target (its
// first step, before any picture is coded) or starts measuring the first
// pass's pictures, and is then released. The window waits for it.

#include <QString>
#include <cstdint>

#include "app/window/page_job.h"

struct TargetProbe {
    bool refused = false;
    uint64_t target_bytes = 0;
    uint64_t smallest_bytes = 0;
};

// A job without a target, or one whose source cannot even be loaded, is not
// refused here: its run says what is wrong with it.
TargetProbe ProbeTarget(const PageJobFactory& factory, const EncodeRequest& request);

// The message box text that refuses a target and names the smallest size.
QString TargetRefusalText(uint64_t target_bytes, uint64_t smallest_bytes);
