#pragma once
// The queue below the dialog's controls: a row per job with its source,
// output and state, the button that starts the queue, and the buttons that
// move and remove rows that are not running. The window runs the rows; the
// panel only keeps and shows them, and says when they changed.

#include <QGroupBox>
#include <functional>
#include <vector>

#include "app/queue_entry.h"

class QPushButton;
class QTreeWidget;

class CJobQueuePanel : public QGroupBox {
public:
    explicit CJobQueuePanel(QWidget* parent);

    const std::vector<QueueEntry>& Entries() const { return entries_; }
    void SetEntries(std::vector<QueueEntry> entries);
    void Append(QueueEntry entry);
    // Shows the row's new state; the row must exist. A change of the running
    // percentage alone is not worth saving.
    void Update(int row, const QueueEntry& entry, bool save = true);
    // The first waiting row, or -1.
    int NextWaiting() const;
    int WaitingRows() const;
    // The selected row, or -1.
    int SelectedRow() const;
    // While the queue runs nothing starts it again; rows that wait can
    // still be moved and removed.
    void SetQueueRunning(bool running);

    // Called after every change of the rows (to save them), on the start
    // button, and when the selection changes.
    void SetOnChanged(std::function<void()> changed) { on_changed_ = std::move(changed); }
    void SetOnStart(std::function<void()> start) { on_start_ = std::move(start); }
    void SetOnSelection(std::function<void()> selection) { on_selection_ = std::move(selection); }

private:
    void Refresh();
    void RefreshButtons();
    void MoveSelected(int step);
    void RemoveSelected();
    void Changed();

    std::vector<QueueEntry> entries_;
    QTreeWidget* list_;
    QPushButton* start_;
    QPushButton* up_;
    QPushButton* down_;
    QPushButton* remove_;
    bool running_ = false;
    std::function<void()> on_changed_;
    std::function<void()> on_start_;
    std::function<void()> on_selection_;
};
