#pragma once
// A host held in memory: everything a job reported or posted, and the
// requests a front end makes with the window's start-up options.

#include <chrono>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "jobs/encode_settings.h"
#include "jobs/job_host.h"
#include "jobs/job_messages.h"

class MemoryHost : public IJobHost {
public:
    void SendProgress(const JobProgress& report) override {
        std::lock_guard<std::mutex> hold(mutex);
        progress.push_back(report);
    }
    void PostJobMessage(uint32_t message) override {
        std::lock_guard<std::mutex> hold(mutex);
        messages.push_back(message);
    }

    // The job's last word, MSG_JOB_DONE or MSG_JOB_FAILED; 0 when none came
    // in time.
    uint32_t WaitForJobEnd(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
            for (uint32_t m : Messages())
                if (m == MSG_JOB_DONE || m == MSG_JOB_FAILED) return m;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return 0;
    }

    std::vector<uint32_t> Messages() {
        std::lock_guard<std::mutex> hold(mutex);
        return messages;
    }

    std::mutex mutex;
    std::vector<JobProgress> progress;
    std::vector<uint32_t> messages;
};

// What the window hands a job when 作成 is pressed at start-up: the paths,
// and every option as the window starts.
inline EncodeRequest StartUpRequest(const std::string& source, const std::string& output,
                                    const std::string& wave = std::string()) {
    return {source, wave, output, EncodeSettings()};
}

inline JobProgress FrameReport(const std::string& name, uint32_t frame, uint32_t total) {
    return {JobStage::kFrames, frame, total, name};
}

inline void PrintTo(const JobProgress& progress, std::ostream* out) {
    static const char* const kStages[] = {"load", "frames", "sound", "writing"};
    *out << kStages[static_cast<int>(progress.stage)] << " " << progress.frame << "/" << progress.total << " "
         << progress.name;
}
