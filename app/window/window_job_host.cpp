#include "app/window/window_job_host.h"

#include <QThread>

#include "app/window/main_window.h"
#include "app/window/source_page.h"

CWindowJobHost::CWindowJobHost(CMainWindow* window, CSourcePage* page, uint64_t serial)
    : window_(window), page_(page), serial_(serial) {}

void CWindowJobHost::SendProgress(const JobProgress& progress) {
    // The window's own thread cannot wait for itself to serve the report.
    if (QThread::currentThread() == window_->thread())
        window_->ShowProgress(progress);
    else
        window_->Relay().Call([&] { window_->ShowProgress(progress); });
}

void CWindowJobHost::PostJobMessage(uint32_t message) {
    CSourcePage* page = page_;
    const uint64_t serial = serial_;
    QMetaObject::invokeMethod(page, [page, message, serial] { page->JobEnded(message, serial); },
                              Qt::QueuedConnection);
}
