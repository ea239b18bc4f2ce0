#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "rvxlib/encoder/row_workers.h"

using namespace _rvxlib_;

// Every item is handed out exactly once per run, each lane only to its own
// thread, and the pool can be used for run after run.
TEST(RowWorkers, EveryItemOnceInEveryRun) {
    CRowWorkers workers(3);
    ASSERT_EQ(workers.Lanes(), 4u);
    for (uint32_t count : {0u, 1u, 2u, 7u, 30u, 500u}) {
        std::vector<std::atomic<int>> seen(count);
        std::vector<std::atomic<int>> busy(workers.Lanes());
        std::atomic<bool> shared_lane{false};
        workers.Run(count, [&](uint32_t lane, uint32_t item) {
            if (busy[lane].fetch_add(1) != 0) shared_lane = true;
            seen[item].fetch_add(1);
            busy[lane].fetch_sub(1);
        });
        for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(seen[i].load(), 1) << count << " " << i;
        EXPECT_FALSE(shared_lane);
    }
}

// An item that runs out of memory fails the whole run on the caller's
// thread, after the other threads stopped, and the pool stays usable.
TEST(RowWorkers, AFailingItemIsRethrownToTheCaller) {
    CRowWorkers workers(2);
    std::atomic<int> running{0};
    EXPECT_THROW(workers.Run(40,
                             [&](uint32_t, uint32_t item) {
                                 running.fetch_add(1);
                                 if (item == 5) {
                                     running.fetch_sub(1);
                                     throw std::bad_alloc();
                                 }
                                 running.fetch_sub(1);
                             }),
                 std::bad_alloc);
    EXPECT_EQ(running.load(), 0);
    std::atomic<int> done{0};
    workers.Run(10, [&](uint32_t, uint32_t) { done.fetch_add(1); });
    EXPECT_EQ(done.load(), 10);
}

TEST(RowWorkers, ThreadCountFollowsRvxThreadsWhenItIsUsable) {
    ::setenv("RVX_THREADS", "1", 1);
    EXPECT_EQ(WorkerThreadCount(), 1u);
    ::setenv("RVX_THREADS", "5", 1);
    EXPECT_EQ(WorkerThreadCount(), 5u);
    ::unsetenv("RVX_THREADS");
    const uint32_t fallback = WorkerThreadCount();
    EXPECT_GE(fallback, 1u);
    for (const char* unusable : {"0", "65", "-2", "two", "3x", ""}) {
        ::setenv("RVX_THREADS", unusable, 1);
        EXPECT_EQ(WorkerThreadCount(), fallback) << unusable;
    }
    ::unsetenv("RVX_THREADS");
}

// The caller does not wait for helpers that have not woken: they join a job
// only while it is open. Many short runs in a row, with each run's task gone
// when Run returns, catch a late helper that would still call it.
TEST(RowWorkers, ManyShortRunsNeverReachAFinishedTask) {
    CRowWorkers workers(3);
    for (int run = 0; run < 3000; ++run) {
        std::vector<std::atomic<int>> seen(3);
        auto task = std::make_unique<CRowWorkers::Task>(
            [&seen](uint32_t, uint32_t item) { seen[item].fetch_add(1); });
        workers.Run(3, *task);
        task.reset();
        for (int i = 0; i < 3; ++i) ASSERT_EQ(seen[i].load(), 1) << run;
    }
}
