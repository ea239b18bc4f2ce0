#pragma once
// One row of the window's queue of jobs: what to encode (the source page it
// came from, its paths and settings as they stood when it was added) and
// how far it got. The window runs the rows one after another.

#include <cstdint>
#include <string>

#include "jobs/encode_settings.h"

// kTargetMissed: written and kept, but too far over its target size.
enum class QueueState : uint8_t { kWaiting, kRunning, kDone, kFailed, kAborted, kTargetMissed };

struct QueueEntry {
    int page = 0;  // the tab the row was added from: 0 movie, 1 image run, 2 AVI
    EncodeRequest request;
    QueueState state = QueueState::kWaiting;
    int percent = 0;     // while running
    std::string reason;  // why it failed
    // A row coded to a target size that missed it: the target and the size
    // written, in bytes.
    uint64_t target_bytes = 0;
    uint64_t written_bytes = 0;
};
