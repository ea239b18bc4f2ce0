#pragma once
// One source page of the tab: its path fields with their browse buttons.
// What it knows of a job is the part of the request its fields hold; the
// job controller makes and runs the jobs.

#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "app/window/page_job.h"
#include "app/window/window_prompts.h"

class CPathField;
class QGridLayout;
class QPushButton;

// A page's first path is its job's source; a second one is the sound of an
// image run.
struct PathSpec {
    uint32_t field_id;
    uint32_t button_id;
    std::string label;        // above the field
    std::string button_text;  // "参照(&I)"
    FileDialogSpec dialog;    // without the all-files filter, which every dialog adds
    // A dropped file whose name ends so goes into this field; the field with
    // no endings takes every other file.
    std::vector<std::string> drop_endings;
};

class CSourcePage : public QWidget {
    Q_OBJECT

public:
    CSourcePage(QWidget* parent, std::vector<PathSpec> paths);

    // The file dialogs of the browse buttons go through these prompts.
    void SetPrompts(IWindowPrompts* prompts) { prompts_ = prompts; }
    // The page's paths as the fields show them: the source and an image
    // run's sound.
    void AddPaths(EncodeRequest& request) const;
    // While a job runs the fields, their buttons and drops are off.
    void SetLocked(bool locked);
    // Puts a dropped file into the field it belongs to.
    void DropFile(const QString& path);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // A field's text was replaced by a browse button or a drop.
    virtual void PathChosen(uint32_t /*field_id*/) {}

    CPathField* Field(uint32_t id) const;
    QGridLayout* Grid() const { return grid_; }

private:
    struct PathRow {
        PathSpec spec;
        CPathField* field;
        QPushButton* button;
    };

    void AddPathRow(PathSpec spec);
    void Browse(const PathRow& row);
    void SetPath(const PathRow& row, const QString& path);

    std::vector<PathRow> rows_;
    QGridLayout* grid_;
    IWindowPrompts* prompts_ = nullptr;
    bool locked_ = false;
};

// The three pages in tab order.
CSourcePage* CreateMoviePage(QWidget* parent);
CSourcePage* CreateImagePage(QWidget* parent);
CSourcePage* CreateAviPage(QWidget* parent);

// The jobs the three pages' requests become, in tab order.
PageJobFactory PageJobFactoryFor(int page);

// Every dialog's own filters followed by "すべてのファイル (*.*)" for "*".
FileDialogSpec WithAllFilesFilter(FileDialogSpec spec);
