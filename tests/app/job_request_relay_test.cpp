#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/job_request_relay.h"
#include "support/thread.h"

using namespace std::chrono_literals;

namespace {

// A job that reports progress through the relay as fast as it can.
class ReportingJob : public CThread {
public:
    explicit ReportingJob(CJobRequestRelay& relay) : relay_(relay) {}
    ~ReportingJob() override { Stop(); }
    int32_t Run() override {
        while (CanContinue()) {
            if (relay_.Call([this] { shown.fetch_add(1); })) calls.fetch_add(1);
        }
        return 0;
    }
    std::atomic<int> shown{0};
    std::atomic<int> calls{0};

private:
    CJobRequestRelay& relay_;
};

}  // namespace

TEST(JobRequestRelay, RequestsRunOnTheServingThreadAndTheCallerWaits) {
    CJobRequestRelay relay;
    std::thread::id ran_on;
    std::atomic<bool> returned{false};
    std::thread job([&] {
        relay.Call([&] { ran_on = std::this_thread::get_id(); });
        returned = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(returned.load());  // nothing served yet
    while (!returned.load()) {
        relay.Serve();
        std::this_thread::sleep_for(1ms);
    }
    job.join();
    EXPECT_EQ(ran_on, std::this_thread::get_id());
}

TEST(JobRequestRelay, AbandonLetsTheWindowStopAJobThatWaitsForIt) {
    CJobRequestRelay relay;
    std::atomic<int> notified{0};
    relay.SetNotify([&] { notified.fetch_add(1); });
    ReportingJob job(relay);
    ASSERT_EQ(job.Start(), 1);
    for (int i = 0; i < 50; ++i) {
        relay.Serve();
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_GT(job.shown.load(), 0);
    EXPECT_GT(notified.load(), 0);
    // The window stops serving and waits for the job: without Abandon the
    // job's pending Call would never return and Stop would hang.
    relay.Abandon();
    EXPECT_EQ(job.Stop(), 1);
    EXPECT_EQ(job.shown.load(), job.calls.load());  // every true Call ran exactly once

    EXPECT_FALSE(relay.Call([] { FAIL() << "an abandoned relay runs nothing"; }));
    relay.Reopen();
    std::atomic<bool> served_again{false};
    std::thread later([&] { served_again = relay.Call([] {}); });
    while (!served_again.load()) {
        relay.Serve();
        std::this_thread::sleep_for(1ms);
    }
    later.join();
}
