#include "app/window/window_job_host.h"

#include <QThread>

#include "app/window/main_window.h"
#include "app/window/window_messages.h"

CWindowJobHost::CWindowJobHost(CMainWindow* window, QObject* page, uint64_t serial)
    : window_(window), page_(page), serial_(serial) {}

template <class Request>
void CWindowJobHost::OnWindowThread(Request&& request) {
    // The window's own thread cannot wait for itself to serve the request.
    if (QThread::currentThread() == window_->thread())
        request();
    else
        window_->Relay().Call(std::forward<Request>(request));
}

void CWindowJobHost::SendProgress(const std::string& text, double fraction) {
    OnWindowThread([&] { window_->ShowProgress(text, fraction); });
}

void CWindowJobHost::PostJobMessage(uint32_t message) { PostWindowMessage(page_, message, 0, nullptr, serial_); }

int32_t CWindowJobHost::GetListSelection(uint32_t control_id) {
    int32_t row = -1;
    OnWindowThread([&] { row = window_->GetListSelection(control_id); });
    return row;
}

std::string CWindowJobHost::GetControlText(uint32_t control_id) {
    std::string text;
    OnWindowThread([&] { text = window_->GetControlText(control_id); });
    return text;
}
