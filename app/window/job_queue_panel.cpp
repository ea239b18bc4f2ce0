#include "app/window/job_queue_panel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/window/window_prompts.h"

namespace {

enum Column { kSourceColumn, kOutputColumn, kStateColumn };

QPushButton* PanelButton(QWidget* parent, const char* text, const char* name) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromUtf8(name));
    button->setAutoDefault(false);
    return button;
}

// A running row is the window's; everything else may be moved or removed.
bool Movable(const QueueEntry& entry) { return entry.state != QueueState::kRunning; }

}  // namespace

CJobQueuePanel::CJobQueuePanel(QWidget* parent) : QGroupBox(QString::fromUtf8("キュー"), parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 4, 6, 6);
    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("queue"));
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setHeaderLabels({QString::fromUtf8("ソース"), QString::fromUtf8("出力"), QString::fromUtf8("状態")});
    list_->header()->setStretchLastSection(true);
    list_->setTextElideMode(Qt::ElideLeft);  // the file name matters more than its folders
    const int letter = list_->fontMetrics().horizontalAdvance(QLatin1Char('x'));
    list_->setColumnWidth(kSourceColumn, 30 * letter);
    list_->setColumnWidth(kOutputColumn, 26 * letter);
    row->addWidget(list_, 1);

    auto* buttons = new QVBoxLayout;
    start_ = PanelButton(this, "キューを開始(&S)", "queueStart");
    up_ = PanelButton(this, "上へ", "queueUp");
    down_ = PanelButton(this, "下へ", "queueDown");
    remove_ = PanelButton(this, "削除", "queueRemove");
    for (QPushButton* b : {start_, up_, down_, remove_}) buttons->addWidget(b);
    buttons->addStretch(1);
    row->addLayout(buttons);

    connect(start_, &QPushButton::clicked, this, [this] {
        if (on_start_) on_start_();
    });
    connect(up_, &QPushButton::clicked, this, [this] { MoveSelected(-1); });
    connect(down_, &QPushButton::clicked, this, [this] { MoveSelected(1); });
    connect(remove_, &QPushButton::clicked, this, [this] { RemoveSelected(); });
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] {
        RefreshButtons();
        if (on_selection_) on_selection_();
    });
    Refresh();
}

void CJobQueuePanel::SetEntries(std::vector<QueueEntry> entries) {
    entries_ = std::move(entries);
    Refresh();
}

void CJobQueuePanel::Append(QueueEntry entry) {
    entries_.push_back(std::move(entry));
    Refresh();
    Changed();
}

void CJobQueuePanel::Update(int row, const QueueEntry& entry, bool save) {
    entries_[size_t(row)] = entry;
    if (QTreeWidgetItem* item = list_->topLevelItem(row)) item->setText(kStateColumn, Q(QueueStateText(entry)));
    if (save)
        Changed();
    else
        RefreshButtons();
}

int CJobQueuePanel::NextWaiting() const {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].state == QueueState::kWaiting) return int(i);
    return -1;
}

int CJobQueuePanel::WaitingRows() const {
    return int(std::count_if(entries_.begin(), entries_.end(),
                             [](const QueueEntry& e) { return e.state == QueueState::kWaiting; }));
}

int CJobQueuePanel::SelectedRow() const {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    return selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.front());
}

void CJobQueuePanel::SetQueueRunning(bool running) {
    running_ = running;
    RefreshButtons();
}

void CJobQueuePanel::Refresh() {
    const int selected = SelectedRow();
    list_->clear();
    for (const QueueEntry& entry : entries_) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(kSourceColumn, Q(entry.request.source));
        item->setText(kOutputColumn, Q(entry.request.output));
        item->setText(kStateColumn, Q(QueueStateText(entry)));
        item->setToolTip(kSourceColumn, Q(entry.request.source));
        item->setToolTip(kOutputColumn, Q(entry.request.output));
    }
    if (selected >= 0 && selected < list_->topLevelItemCount()) list_->topLevelItem(selected)->setSelected(true);
    RefreshButtons();
}

void CJobQueuePanel::RefreshButtons() {
    const int row = SelectedRow();
    const bool movable = row >= 0 && Movable(entries_[size_t(row)]);
    start_->setEnabled(!running_ && NextWaiting() >= 0);
    remove_->setEnabled(movable);
    up_->setEnabled(movable && row > 0 && Movable(entries_[size_t(row - 1)]));
    down_->setEnabled(movable && row + 1 < int(entries_.size()) && Movable(entries_[size_t(row + 1)]));
}

void CJobQueuePanel::MoveSelected(int step) {
    const int row = SelectedRow();
    const int other = row + step;
    if (row < 0 || other < 0 || other >= int(entries_.size())) return;
    if (!Movable(entries_[size_t(row)]) || !Movable(entries_[size_t(other)])) return;
    std::swap(entries_[size_t(row)], entries_[size_t(other)]);
    list_->clearSelection();
    Refresh();
    list_->topLevelItem(other)->setSelected(true);
    Changed();
}

void CJobQueuePanel::RemoveSelected() {
    const int row = SelectedRow();
    if (row < 0 || !Movable(entries_[size_t(row)])) return;
    entries_.erase(entries_.begin() + row);
    list_->clearSelection();
    Refresh();
    Changed();
}

void CJobQueuePanel::Changed() {
    RefreshButtons();
    if (on_changed_) on_changed_();
}
