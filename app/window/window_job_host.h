#pragma once
// The window as one job sees it. Progress reports from the job's thread are
// carried to the window's thread by the window's request relay and wait
// there; reports made on the window's thread (the load step) are shown at
// once. Once the window has decided to stop the job, every waiting and later
// report returns unshown. The job's last word goes to its page, queued and
// marked with the job's serial.

#include <cstdint>

#include "jobs/job_host.h"

class CMainWindow;
class CSourcePage;

class CWindowJobHost : public IJobHost {
public:
    CWindowJobHost(CMainWindow* window, CSourcePage* page, uint64_t serial);

    void SendProgress(const JobProgress& progress) override;
    void PostJobMessage(uint32_t message) override;

private:
    CMainWindow* window_;
    CSourcePage* page_;
    uint64_t serial_;
};
