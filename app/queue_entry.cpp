#include "app/queue_entry.h"

#include "jobs/target_miss.h"

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
    case QueueState::kTargetMissed: {
        // "目標超過" and the sentence's sizes, without its first words.
        const std::string miss = TargetMissText(entry.target_bytes, entry.written_bytes);
        return "目標超過: " + miss.substr(miss.find("目標 "));
    }
    }
    return std::string();
}
