#pragma once
// The window as one job sees it. Calls from the job's thread are carried to
// the window's thread by the window's request relay and wait there; calls made
// on the window's thread (the load step) run at once. Once the window has
// decided to stop the job, every waiting and later call returns unrun.

#include <QObject>
#include <cstdint>
#include <string>

#include "jobs/job_host.h"

class CMainWindow;

class CWindowJobHost : public IJobHost {
public:
    // page receives the job's posted messages, marked with the serial.
    CWindowJobHost(CMainWindow* window, QObject* page, uint64_t serial);

    void SendProgress(const std::string& text, double fraction) override;
    void PostJobMessage(uint32_t message) override;
    int32_t GetListSelection(uint32_t control_id) override;
    std::string GetControlText(uint32_t control_id) override;

private:
    template <class Request>
    void OnWindowThread(Request&& request);

    CMainWindow* window_;
    QObject* page_;
    uint64_t serial_;
};
