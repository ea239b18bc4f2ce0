// Start, Suspend, Resume, Wake and Stop from two controlling threads at once,
// against a worker that sleeps and resumes itself; meant to run under
// ThreadSanitizer as well.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

#include "support/thread.h"

namespace {

using namespace std::chrono_literals;

// A deadlock cannot be unwound: past the deadline the whole program ends
// with a failure instead of hanging the test run.
void RunWithDeadline(std::chrono::seconds deadline, const std::function<void()>& body) {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread runner([&] {
        body();
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        finished.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex);
    if (!finished.wait_for(lock, deadline, [&] { return done; })) {
        std::fprintf(stderr, "deadlock: the threads did not finish within %lld s\n",
                     static_cast<long long>(deadline.count()));
        std::fflush(stderr);
        std::_Exit(1);
    }
    lock.unlock();
    runner.join();
}

// Sleeps in short slices, as a job waiting for its window does; a Wake seen
// while suspended makes Sleep resume the worker from its own thread.
class SleepingThread : public CThread {
public:
    ~SleepingThread() override { Stop(); }
    int32_t Run() override {
        while (CanContinue()) {
            Sleep(1);
            cycles.fetch_add(1, std::memory_order_relaxed);
        }
        return 3;
    }
    std::atomic<int> cycles{0};
};

}  // namespace

TEST(ThreadStress, StartStopRacingSuspendResumeAndWakeNeverDeadlocks) {
    SleepingThread worker;
    RunWithDeadline(120s, [&] {
        std::atomic<bool> controlling{true};
        std::thread other([&] {
            while (controlling.load()) {
                worker.Suspend();
                worker.Wake();
                if (worker.GetHandle() != nullptr) worker.GetThreadId();
                worker.Resume();
                std::this_thread::yield();
            }
        });
        for (int i = 0; i < 3000; ++i) {
            ASSERT_EQ(worker.Start(), 1);
            if (i % 3 == 0) worker.Suspend();
            if (i % 5 == 0) worker.Wake();
            if (i % 7 == 0) std::this_thread::sleep_for(100us);
            ASSERT_EQ(worker.Stop(), 1);
            ASSERT_EQ(worker.GetExitCode(), 3);
        }
        controlling.store(false);
        other.join();
    });
    EXPECT_EQ(worker.GetThreadId(), 0u);
}
