#pragma once
// Carries a job's requests (its progress reports) to the window's thread
// and waits for them there, so that the job sees the window only from the
// thread that owns it.
//
// The window must never wait for a job that waits for the window: before it
// stops a job (abort, close) it calls Abandon, which releases every pending
// request and makes later ones return at once without running.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class CJobRequestRelay {
public:
    // Job thread: runs request on the window's thread and returns once it has
    // run (true), or at once when the relay is abandoned (false, not run).
    bool Call(std::function<void()> request);

    // Window thread: runs every request waiting now. notify (below) says when.
    void Serve();

    // Window thread: releases every waiting request unrun and refuses later
    // ones, until Reopen.
    void Abandon();
    // Window thread: accepts requests again, for the next job.
    void Reopen();

    // Called on the job's thread whenever a request waits to be served; the
    // window turns it into a queued call that leads to Serve.
    void SetNotify(std::function<void()> notify);

private:
    struct Pending {
        std::function<void()> request;
        bool done = false;
    };

    std::mutex mutex_;
    std::condition_variable served_;
    std::deque<std::shared_ptr<Pending>> queue_;
    std::function<void()> notify_;
    bool abandoned_ = false;
};
