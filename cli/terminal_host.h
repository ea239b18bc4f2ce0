#pragma once
// The terminal as a job's window: option controls held in memory, progress
// drawn on stderr, the job's last message handed to the main thread.

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "jobs/job_host.h"
#include "support/sync.h"

class TerminalHost : public IJobHost {
public:
    void SetShowProgress(bool show) { show_progress_ = show; }

    void SendProgress(const std::string& text, double fraction) override;
    void PostJobMessage(uint32_t message) override;
    int32_t GetListSelection(uint32_t id) override;
    std::string GetControlText(uint32_t id) override;

    void Select(uint32_t id, int32_t row);
    void SetText(uint32_t id, const std::string& text);

    // Waits up to the time for the job's last message; 0 while none came.
    uint32_t WaitForEnd(uint32_t milliseconds);
    void EndProgressLine();
    double Seconds();

private:
    bool show_progress_ = false;
    std::mutex mutex_;
    std::map<uint32_t, int32_t> selections_;
    std::map<uint32_t, std::string> texts_;
    CEvent ended_{true};
    uint32_t last_message_ = 0;
    bool started_ = false;
    bool drew_ = false;
    double last_fps_ = 0.0;
    std::chrono::steady_clock::time_point start_;
};

// Lower-case ASCII letters; other bytes unchanged.
std::string Lower(std::string s);
bool IsDigits(const std::string& s);
