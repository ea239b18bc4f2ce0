#pragma once
// Reads an AVI file's two information lines on a thread of its own, so that
// a slow disk or a large file never holds up the window. Questions are
// numbered; while one is read, only the latest that came in after it waits,
// and each answer is delivered on the receiver's thread with its number, so
// the receiver can keep only the answer to its last question.

#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "jobs/avi_info_lines.h"

class CAviInfoReader {
public:
    using Answer = std::function<void(uint64_t question, const AviInfoLines& lines)>;

    // answer runs on receiver's thread, from its event loop; an answer still
    // on its way when the receiver goes is dropped.
    CAviInfoReader(QObject* receiver, Answer answer);
    // Waits for a read in progress: the reader must not outlive the receiver.
    ~CAviInfoReader();
    CAviInfoReader(const CAviInfoReader&) = delete;
    CAviInfoReader& operator=(const CAviInfoReader&) = delete;

    void Ask(uint64_t question, const std::string& path);

private:
    void Run();
    void Deliver(uint64_t question, const std::string& path);

    QObject* receiver_;
    Answer answer_;
    std::mutex mutex_;
    std::condition_variable asked_;
    bool waiting_ = false;  // a question waits for the thread
    uint64_t question_ = 0;
    std::string path_;
    bool stopping_ = false;
    std::thread thread_;  // started with the first question
};
