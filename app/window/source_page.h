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
public:
    CSourcePage(CMainWindow* window, std::vector<PathSpec> paths, PageJobFactory factory);
    ~CSourcePage() override;

    void SetJobFactory(PageJobFactory factory) { factory_ = std::move(factory); }
    const PageJobFactory& Factory() const { return factory_; }
    bool HasJob() const { return job_ != nullptr; }

    // The page's paths as the fields show them: the source and an image
    // run's sound.
    void AddPaths(EncodeRequest& request) const;
    // 作成 on this page: the request holds the output and the settings, the
    // page adds its paths, loads the job and starts it.
    void CreateJob(EncodeRequest request);
    // A row of the queue, with its own paths. Its end is the window's to
    // show in the row (no message box), load failures included.
    void RunQueuedJob(EncodeRequest request);
    // A job's last word (MSG_JOB_DONE, MSG_JOB_FAILED); a released job's is
    // ignored by its serial.
    void JobEnded(uint32_t message, uint64_t serial);
    // Returns once the job's thread has ended. The window must have
    // abandoned the job's requests first.
    void Abort();
    void ReleaseJob();
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
    void Launch(EncodeRequest request);
    void JobDone();
    void JobFailed();
    void EnableOwnControls(bool enable);
    void Browse(const PathRow& row);
    void SetPath(const PathRow& row, const QString& path);

    CMainWindow* window_;
    std::vector<PathRow> rows_;
    PageJobFactory factory_;
    QGridLayout* grid_;
    // The host outlives its job: the job is released first.
    std::unique_ptr<CWindowJobHost> host_;
    std::unique_ptr<IPageJob> job_;
    uint64_t serial_ = 0;
    bool queued_job_ = false;
    std::string job_output_;
};

// The three pages in tab order.
CSourcePage* CreateMoviePage(CMainWindow* window);
CSourcePage* CreateImagePage(CMainWindow* window);
CSourcePage* CreateAviPage(CMainWindow* window);

// Every dialog's own filters followed by "すべてのファイル (*.*)" for "*".
FileDialogSpec WithAllFilesFilter(FileDialogSpec spec);
