#include "app/job_request_relay.h"

bool CJobRequestRelay::Call(std::function<void()> request) {
    auto pending = std::make_shared<Pending>();
    pending->request = std::move(request);
    std::function<void()> notify;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (abandoned_) return false;
        queue_.push_back(pending);
        notify = notify_;
    }
    if (notify) notify();
    std::unique_lock<std::mutex> hold(mutex_);
    served_.wait(hold, [&] { return pending->done || abandoned_; });
    return pending->done;
}

void CJobRequestRelay::Serve() {
    for (;;) {
        std::shared_ptr<Pending> next;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (queue_.empty() || abandoned_) return;
            next = queue_.front();
            queue_.pop_front();
        }
        // Run without the lock: a request may take its time on the window.
        next->request();
        {
            std::lock_guard<std::mutex> hold(mutex_);
            next->done = true;
        }
        served_.notify_all();
    }
}

void CJobRequestRelay::Abandon() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        abandoned_ = true;
        queue_.clear();
    }
    served_.notify_all();
}

void CJobRequestRelay::Reopen() {
    std::lock_guard<std::mutex> hold(mutex_);
    abandoned_ = false;
}

void CJobRequestRelay::SetNotify(std::function<void()> notify) {
    std::lock_guard<std::mutex> hold(mutex_);
    notify_ = std::move(notify);
}
