#include "app/queue_entry.h"

std::string QueueStateText(const QueueEntry& entry) {
    switch (entry.state) {
    case QueueState::kWaiting:
        return "待機中";
    case QueueState::kRunning:
        return "処理中 " + std::to_string(entry.percent) + "%";
    case QueueState::kDone:
        return "完了";
    case QueueState::kFailed:
        return "失敗: " + entry.reason;
    case QueueState::kAborted:
        return "中断";
    }
    return std::string();
}
