#pragma once
// One source page of the tab: its path fields with their browse buttons, and
// the job it creates, runs and releases for the main window.

#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/window/page_job.h"
#include "app/window/window_prompts.h"

class CMainWindow;
class CPathField;
class CWindowJobHost;
class QGridLayout;

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
public:
    CSourcePage(CMainWindow* window, std::vector<PathSpec> paths, PageJobFactory factory);
    ~CSourcePage() override;

    void SetJobFactory(PageJobFactory factory) { factory_ = std::move(factory); }
    bool HasJob() const { return job_ != nullptr; }

    // MSG_PAGE_ABORT: returns once the job's thread has ended. The window
    // must have abandoned the job's requests first.
    void Abort();
    // MSG_PAGE_RELEASE.
    void ReleaseJob();
    // Puts a dropped file into the field it belongs to.
    void DropFile(const QString& path);

protected:
    bool event(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // A field's text was replaced by a browse button or a drop.
    virtual void PathChosen(uint32_t /*field_id*/) {}

    CPathField* Field(uint32_t id) const;
    QGridLayout* Grid() const { return grid_; }

private:
    void CreateJob();
    void JobDone(uint64_t serial);
    void JobFailed(uint64_t serial);
    void EnableOwnControls(bool enable);
    void Browse(const PathSpec& spec);
    void SetPath(uint32_t field_id, const QString& path);

    CMainWindow* window_;
    std::vector<PathSpec> paths_;
    PageJobFactory factory_;
    QGridLayout* grid_;
    // The host outlives its job: the job is released first.
    std::unique_ptr<CWindowJobHost> host_;
    std::unique_ptr<IPageJob> job_;
    uint64_t serial_ = 0;
};

// The three pages in tab order.
CSourcePage* CreateMoviePage(CMainWindow* window);
CSourcePage* CreateImagePage(CMainWindow* window);
CSourcePage* CreateAviPage(CMainWindow* window);

// Every dialog's own filters followed by "すべてのファイル (*.*)" for "*".
FileDialogSpec WithAllFilesFilter(FileDialogSpec spec);
