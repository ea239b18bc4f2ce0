#pragma once
// A window held in memory: lists, fields and enabled states by control id,
// plus everything a job sent or posted.

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "jobs/control_ids.h"
#include "jobs/job_host.h"
#include "jobs/job_messages.h"
#include "jobs/option_tables.h"

class MemoryHost : public IJobHost {
public:
    void SendProgress(const std::string& text, double fraction) override {
        std::lock_guard<std::mutex> hold(mutex);
        progress_texts.push_back(text);
        fractions.push_back(fraction);
    }
    void PostJobMessage(uint32_t message) override {
        std::lock_guard<std::mutex> hold(mutex);
        messages.push_back(message);
    }
    int32_t GetListSelection(uint32_t id) override {
        std::lock_guard<std::mutex> hold(mutex);
        auto it = selections.find(id);
        return it == selections.end() ? 0 : it->second;
    }
    std::string GetControlText(uint32_t id) override {
        std::lock_guard<std::mutex> hold(mutex);
        auto it = texts.find(id);
        return it == texts.end() ? std::string() : it->second;
    }

    // As the window starts: every option field at its start-up value, one
    // source path and the output.
    void UseStartValues(uint32_t source_id, const std::string& source, const std::string& output) {
        std::lock_guard<std::mutex> hold(mutex);
        for (const OptionStartValue& start : kOptionStartValues) texts[start.control_id] = std::to_string(start.value);
        texts[source_id] = source;
        texts[kIdOutputFile] = output;
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
    std::map<uint32_t, int32_t> selections;
    std::map<uint32_t, std::string> texts;
    std::vector<std::string> progress_texts;
    std::vector<double> fractions;
    std::vector<uint32_t> messages;
};
