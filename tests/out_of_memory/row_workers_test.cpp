#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <system_error>

#include "allocation_limit.h"
#include "rvxlib/encoder/row_workers.h"

using _rvxlib_::CRowWorkers;

// Each step of building a pool of four helpers runs out of memory in turn
// (the thread list, each thread's state): the constructor throws after
// joining the helpers already started, and the program goes on.
TEST(RowWorkersOutOfMemory, APoolThatCannotStartEveryThreadEndsTheOthersAndThrows) {
    int failures = 0;
    for (long allowed = 0; allowed < 12; ++allowed) {
        bool threw = false;
        {
            allocation_limit::Armed armed(allowed);
            try {
                CRowWorkers workers(4);
                std::atomic<int> done{0};
                workers.Run(20, [&](uint32_t, uint32_t) { done.fetch_add(1); });
            } catch (const std::bad_alloc&) {
                threw = true;
            }
        }
        failures += threw;
    }
    EXPECT_GE(failures, 4);
    // Whatever happened before, a pool still works.
    CRowWorkers workers(3);
    std::atomic<int> done{0};
    workers.Run(30, [&](uint32_t, uint32_t) { done.fetch_add(1); });
    EXPECT_EQ(done.load(), 30);
}
