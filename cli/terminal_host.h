#pragma once
// The terminal as a job's host: progress drawn on stderr as a bar or as JSON
// lines, the job's last message handed to the main thread.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "jobs/job_host.h"
#include "support/sync.h"

enum class ProgressStyle {
    kNone,
    kBar,   // one line redrawn in place: status text, bar, percent, fps, time left
    kJson,  // one JSON object per report, for scripts
};

// What one encoding came to, for the final report.
struct JobOutcome {
    std::string result;  // "ok", "failed" or "interrupted"
    std::string output;
    uint64_t size = 0;   // bytes of the written movie
    std::string reason;
    uint32_t frames = 0;
    double seconds = 0;
    bool target_refused = false;    // the target size lies below the smallest movie
    bool settings_refused = false;  // a source setting the source cannot take; nothing was coded
    std::string notice;             // said of a written movie (smaller or larger than asked)
    // A movie coded to a target size: the target in bytes (0 without one),
    // and whether the movie, kept, came out too far over it.
    uint64_t target = 0;
    bool target_missed = false;
};

class TerminalHost : public IJobHost {
public:
    void SetProgressStyle(ProgressStyle style) { style_ = style; }
    // Starts the clock and the counters for the next job of a batch.
    void BeginJob(const std::string& source);
    // The final JSON object of a job (nothing in the other styles).
    void ReportOutcome(const JobOutcome& outcome);

    void SendProgress(const JobProgress& progress) override;
    void PostJobMessage(uint32_t message) override;

    // Waits up to the time for the job's last message; 0 while none came.
    uint32_t WaitForEnd(uint32_t milliseconds);
    void EndProgressLine();
    double Seconds();

private:
    void DrawBar(const std::string& text, double fraction, double remaining);
    void PrintJson(const JobProgress& progress, const std::string& text, double fraction, double seconds,
                   double remaining);

    ProgressStyle style_ = ProgressStyle::kNone;
    std::string source_;
    std::mutex mutex_;
    CEvent ended_{true};
    uint32_t last_message_ = 0;
    bool started_ = false;
    bool drew_ = false;
    double last_fps_ = 0.0;
    double last_percent_ = 0.0;
    std::chrono::steady_clock::time_point start_;
    uint8_t pass_ = 0;
    std::chrono::steady_clock::time_point pass_start_;
};
