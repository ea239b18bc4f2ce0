#pragma once
// One row of the window's queue of jobs: what to encode (the source page it
// came from, its paths and settings as they stood when it was added) and
// how far it got. The window runs the rows one after another.

#include <cstdint>
#include <string>

#include "jobs/encode_settings.h"

enum class QueueState : uint8_t { kWaiting, kRunning, kDone, kFailed, kAborted };

struct QueueEntry {
    int page = 0;  // the tab the row was added from: 0 movie, 1 image run, 2 AVI
    EncodeRequest request;
    QueueState state = QueueState::kWaiting;
    int percent = 0;     // while running
    std::string reason;  // why it failed
};

// "待機中", "処理中 42%", "完了", "失敗: reason", "中断".
std::string QueueStateText(const QueueEntry& entry);
