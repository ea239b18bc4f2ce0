#include "app/window/avi_info_reader.h"

#include <new>
#include <system_error>
#include <utility>

CAviInfoReader::CAviInfoReader(QObject* receiver, Answer answer)
    : receiver_(receiver), answer_(std::move(answer)) {}

CAviInfoReader::~CAviInfoReader() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
    }
    asked_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void CAviInfoReader::Ask(uint64_t question, const std::string& path) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        waiting_ = true;
        question_ = question;
        path_ = path;
    }
    asked_.notify_all();
    if (thread_.joinable()) return;
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread to spare: the lines are read on the caller's thread.
        {
            std::lock_guard<std::mutex> hold(mutex_);
            waiting_ = false;
        }
        Deliver(question, path);
    }
}

void CAviInfoReader::Run() {
    for (;;) {
        uint64_t question = 0;
        std::string path;
        {
            std::unique_lock<std::mutex> hold(mutex_);
            asked_.wait(hold, [this] { return stopping_ || waiting_; });
            if (stopping_) return;
            waiting_ = false;
            question = question_;
            path = std::move(path_);
        }
        Deliver(question, path);
    }
}

void CAviInfoReader::Deliver(uint64_t question, const std::string& path) {
    AviInfoLines lines;
    // A file whose lines cannot be made shows none, like one that does not open.
    try {
        lines = ReadAviInfoLines(path);
    } catch (const std::bad_alloc&) {
        lines = AviInfoLines();
    }
    QMetaObject::invokeMethod(
        receiver_, [answer = answer_, question, lines = std::move(lines)] { answer(question, lines); },
        Qt::QueuedConnection);
}
