#pragma once
// A window held in memory: lists, fields and enabled states by control id,
// plus everything a job sent or posted.

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "jobs/job_host.h"

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
