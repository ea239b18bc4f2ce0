#include "app/window/job_queue_panel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "app/window/queue_model.h"

namespace {

QPushButton* PanelButton(QWidget* parent, const QString& text, const char* name) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromUtf8(name));
    button->setAutoDefault(false);
    return button;
}

}  // namespace

CJobQueuePanel::CJobQueuePanel(QWidget* parent, CQueueModel* model)
    : QGroupBox(tr("キュー"), parent), model_(model) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 4, 6, 6);
    view_ = new QTableView(this);
    view_->setObjectName(QStringLiteral("queue"));
    view_->setModel(model_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setShowGrid(false);
    view_->setWordWrap(false);
    view_->verticalHeader()->hide();
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
    view_->horizontalHeader()->setStretchLastSection(true);
    view_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view_->setTextElideMode(Qt::ElideLeft);  // the file name matters more than its folders
    const int letter = view_->fontMetrics().horizontalAdvance(QLatin1Char('x'));
    view_->setColumnWidth(CQueueModel::kSourceColumn, 30 * letter);
    view_->setColumnWidth(CQueueModel::kOutputColumn, 26 * letter);
    row->addWidget(view_, 1);

    auto* buttons = new QVBoxLayout;
    start_ = PanelButton(this, tr("キューを開始(&S)"), "queueStart");
    up_ = PanelButton(this, tr("上へ"), "queueUp");
    down_ = PanelButton(this, tr("下へ"), "queueDown");
    remove_ = PanelButton(this, tr("削除"), "queueRemove");
    for (QPushButton* b : {start_, up_, down_, remove_}) buttons->addWidget(b);
    buttons->addStretch(1);
    row->addLayout(buttons);

    connect(start_, &QPushButton::clicked, this, &CJobQueuePanel::startRequested);
    connect(up_, &QPushButton::clicked, this, [this] { MoveSelected(-1); });
    connect(down_, &QPushButton::clicked, this, [this] { MoveSelected(1); });
    connect(remove_, &QPushButton::clicked, this, [this] { RemoveSelected(); });
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        RefreshButtons();
        emit selectionChanged();
    });
    // A row that starts or ends running changes what may move.
    connect(model_, &QAbstractItemModel::dataChanged, this, &CJobQueuePanel::RefreshButtons);
    connect(model_, &QAbstractItemModel::rowsInserted, this, &CJobQueuePanel::RefreshButtons);
    connect(model_, &QAbstractItemModel::rowsRemoved, this, &CJobQueuePanel::RefreshButtons);
    connect(model_, &QAbstractItemModel::modelReset, this, &CJobQueuePanel::RefreshButtons);
    RefreshButtons();
}

int CJobQueuePanel::SelectedRow() const {
    const QModelIndexList rows = view_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void CJobQueuePanel::SetQueueRunning(bool running) {
    running_ = running;
    RefreshButtons();
}

void CJobQueuePanel::RefreshButtons() {
    const int row = SelectedRow();
    const bool movable = model_->Movable(row);
    start_->setEnabled(!running_ && model_->NextWaiting() >= 0);
    remove_->setEnabled(movable);
    up_->setEnabled(movable && model_->Movable(row - 1));
    down_->setEnabled(movable && model_->Movable(row + 1));
}

void CJobQueuePanel::MoveSelected(int step) {
    const int row = SelectedRow();
    if (!model_->Move(row, step)) return;
    view_->selectRow(row + step);
    RefreshButtons();
}

void CJobQueuePanel::RemoveSelected() {
    if (!model_->Remove(SelectedRow())) return;
    view_->clearSelection();
    RefreshButtons();
}
