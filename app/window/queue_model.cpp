#include "app/window/queue_model.h"

#include <algorithm>

#include "app/window/window_prompts.h"
#include "jobs/target_miss.h"

CQueueModel::CQueueModel(QObject* parent) : QAbstractTableModel(parent) {}

int CQueueModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(entries_.size()); }

int CQueueModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant CQueueModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(entries_.size())) return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    const QueueEntry& entry = entries_[size_t(index.row())];
    switch (index.column()) {
    case kSourceColumn:
        return Q(entry.request.source);
    case kOutputColumn:
        return Q(entry.request.output);
    case kStateColumn:
        return StateText(entry);
    }
    return {};
}

QVariant CQueueModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case kSourceColumn:
        return tr("ソース");
    case kOutputColumn:
        return tr("出力");
    case kStateColumn:
        return tr("状態");
    }
    return {};
}

QString CQueueModel::StateText(const QueueEntry& entry) {
    switch (entry.state) {
    case QueueState::kWaiting:
        return tr("待機中");
    case QueueState::kRunning:
        return tr("処理中 %1%").arg(entry.percent);
    case QueueState::kDone:
        return tr("完了");
    case QueueState::kFailed:
        return tr("失敗: %1").arg(Q(entry.reason));
    case QueueState::kAborted:
        return tr("中断");
    case QueueState::kTargetMissed: {
        const double over = TargetOverPercent(entry.target_bytes, entry.written_bytes);
        return tr("目標超過: 目標 %1 バイト、実際 %2 バイト (%3 %)")
            .arg(QString::number(entry.target_bytes), QString::number(entry.written_bytes),
                 QString::asprintf("%+.1f", over));
    }
    }
    return {};
}

void CQueueModel::SetEntries(std::vector<QueueEntry> entries) {
    beginResetModel();
    entries_ = std::move(entries);
    endResetModel();
}

void CQueueModel::Append(QueueEntry entry) {
    const int row = int(entries_.size());
    beginInsertRows(QModelIndex(), row, row);
    entries_.push_back(std::move(entry));
    endInsertRows();
    emit rowsChanged();
}

void CQueueModel::Update(int row, const QueueEntry& entry) {
    QueueEntry& kept = entries_[size_t(row)];
    const bool percent_only = kept.state == entry.state && kept.state == QueueState::kRunning;
    kept = entry;
    emit dataChanged(index(row, kStateColumn), index(row, kStateColumn));
    if (!percent_only) emit rowsChanged();
}

bool CQueueModel::Movable(int row) const {
    return row >= 0 && row < int(entries_.size()) && entries_[size_t(row)].state != QueueState::kRunning;
}

bool CQueueModel::Move(int row, int step) {
    const int other = row + step;
    if (step == 0 || !Movable(row) || !Movable(other)) return false;
    const int first = std::min(row, other), second = std::max(row, other);
    // Moving the first row below the second one is the same swap.
    beginMoveRows(QModelIndex(), first, first, QModelIndex(), second + 1);
    std::swap(entries_[size_t(first)], entries_[size_t(second)]);
    endMoveRows();
    emit rowsChanged();
    return true;
}

bool CQueueModel::Remove(int row) {
    if (!Movable(row)) return false;
    beginRemoveRows(QModelIndex(), row, row);
    entries_.erase(entries_.begin() + row);
    endRemoveRows();
    emit rowsChanged();
    return true;
}

int CQueueModel::NextWaiting() const {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].state == QueueState::kWaiting) return int(i);
    return -1;
}

int CQueueModel::WaitingRows() const {
    return int(std::count_if(entries_.begin(), entries_.end(),
                             [](const QueueEntry& e) { return e.state == QueueState::kWaiting; }));
}

int CQueueModel::RunningRow() const {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].state == QueueState::kRunning) return int(i);
    return -1;
}
