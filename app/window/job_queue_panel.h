#pragma once
// The queue below the dialog's controls: the controller's queue model in a
// table, the button that starts the queue, and the buttons that move and
// remove rows that are not running.

#include <QGroupBox>

class CQueueModel;
class QPushButton;
class QTableView;

class CJobQueuePanel : public QGroupBox {
    Q_OBJECT

public:
    CJobQueuePanel(QWidget* parent, CQueueModel* model);

    // The selected row, or -1.
    int SelectedRow() const;
    // While the queue runs nothing starts it again; rows that wait can
    // still be moved and removed.
    void SetQueueRunning(bool running);

signals:
    void startRequested();
    void selectionChanged();

private:
    void RefreshButtons();
    void MoveSelected(int step);
    void RemoveSelected();

    CQueueModel* model_;
    QTableView* view_;
    QPushButton* start_;
    QPushButton* up_;
    QPushButton* down_;
    QPushButton* remove_;
    bool running_ = false;
};
