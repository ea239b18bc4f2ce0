#include "app/window/source_page.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>

#include "app/window/dialog_folders.h"
#include "app/window/path_field.h"

FileDialogSpec WithAllFilesFilter(FileDialogSpec spec) {
    spec.filters.push_back({U(CSourcePage::tr("すべてのファイル (*.*)")), "*"});
    return spec;
}

CSourcePage::CSourcePage(QWidget* parent, std::vector<PathSpec> paths)
    : QWidget(parent), grid_(new QGridLayout(this)) {
    setAcceptDrops(true);
    grid_->setVerticalSpacing(2);
    rows_.reserve(paths.size());
    for (PathSpec& spec : paths) AddPathRow(std::move(spec));
    grid_->setColumnStretch(0, 1);
}
void CSourcePage::AddPathRow(PathSpec spec) {
    // Two grid rows a path: its label, then its field and button.
    const int row = 2 * static_cast<int>(rows_.size());
    grid_->addWidget(new QLabel(Q(spec.label), this), row, 0, 1, 2);
    auto* field = new CPathField(this);
    field->setObjectName(QString::number(spec.field_id));
    field->SetDropHandler([this](const QString& path) { DropFile(path); });
    auto* button = new QPushButton(Q(spec.button_text), this);
    button->setObjectName(QString::number(spec.button_id));
    button->setAutoDefault(false);
    const size_t index = rows_.size();
    connect(button, &QPushButton::clicked, this, [this, index] { Browse(rows_[index]); });
    grid_->addWidget(field, row + 1, 0);
    grid_->addWidget(button, row + 1, 1);
    rows_.push_back({std::move(spec), field, button});
}

CPathField* CSourcePage::Field(uint32_t id) const {
    for (const PathRow& row : rows_)
        if (row.spec.field_id == id) return row.field;
    return nullptr;
}

void CSourcePage::AddPaths(EncodeRequest& request) const {
    if (!rows_.empty()) request.source = U(rows_[0].field->text());
    if (rows_.size() > 1) request.wave = U(rows_[1].field->text());
}

void CSourcePage::SetLocked(bool locked) {
    locked_ = locked;
    for (const PathRow& row : rows_) {
        row.field->setEnabled(!locked);
        row.button->setEnabled(!locked);
    }
}

void CSourcePage::Browse(const PathRow& row) {
    if (!prompts_) return;
    const std::string chosen = prompts_->ChooseFile(this, WithAllFilesFilter(row.spec.dialog),
                                                    DialogStart(row.spec.field_id, U(row.field->text())));
    if (!chosen.empty()) {
        RememberDialogFolder(row.spec.field_id, chosen);
        SetPath(row, Q(chosen));
    }
    update();
}

void CSourcePage::SetPath(const PathRow& row, const QString& path) {
    row.field->setText(path);
    PathChosen(row.spec.field_id);
}

void CSourcePage::DropFile(const QString& path) {
    if (locked_ || rows_.empty()) return;
    const std::string name = U(path.toLower());
    const PathRow* target = nullptr;
    for (const PathRow& row : rows_)
        for (const std::string& ending : row.spec.drop_endings)
            if (!target && name.size() >= ending.size() &&
                name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
                target = &row;
    if (!target)
        for (const PathRow& row : rows_)
            if (row.spec.drop_endings.empty()) {
                target = &row;
                break;
            }
    if (target) SetPath(*target, path);
}

void CSourcePage::dragEnterEvent(QDragEnterEvent* event) {
    if (!locked_ && !DroppedFilePath(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CSourcePage::dropEvent(QDropEvent* event) {
    const QString path = DroppedFilePath(event->mimeData());
    if (path.isEmpty() || locked_) return;
    DropFile(path);
    event->acceptProposedAction();
}
