#pragma once
// The queue of jobs as a table: one row per job with its source, its output
// and its state. The controller runs the rows and changes their states; the
// view only shows them and asks for rows to be moved or removed.

#include <QAbstractTableModel>
#include <vector>

#include "app/queue_entry.h"

class CQueueModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { kSourceColumn, kOutputColumn, kStateColumn, kColumnCount };

    explicit CQueueModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const std::vector<QueueEntry>& Entries() const { return entries_; }
    const QueueEntry& Entry(int row) const { return entries_[size_t(row)]; }
    void SetEntries(std::vector<QueueEntry> entries);
    void Append(QueueEntry entry);
    // Replaces the row (which must exist) and shows its new state.
    void Update(int row, const QueueEntry& entry);
    // A running row stays where it is: false when either row is running or
    // out of range.
    bool Move(int row, int step);
    bool Remove(int row);
    // Whether the row may be moved or removed: every row but a running one.
    bool Movable(int row) const;

    // The first waiting row, the waiting rows, and the running row (-1 for none).
    int NextWaiting() const;
    int WaitingRows() const;
    int RunningRow() const;

    // The state column's words: "待機中", "処理中 42%", "完了", "失敗: …",
    // "中断", "目標超過: 目標 N バイト、実際 M バイト (+x.x %)".
    static QString StateText(const QueueEntry& entry);

signals:
    // Rows were added, moved or removed, or a row's state changed; not sent
    // for a running row's percentage alone.
    void rowsChanged();

private:
    std::vector<QueueEntry> entries_;
};
