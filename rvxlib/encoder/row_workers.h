#pragma once
// A small pool of helper threads that share out the items of one job (the
// macroblock rows of a frame). Each thread works with its own lane of codec
// objects: lane 0 is the calling thread, lane k helper k. Which lane takes
// which item varies from run to run, so a job must give the same result
// whatever the assignment.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace _rvxlib_ {

// Threads the encoder may use: RVX_THREADS when set to 1..64 (1 forces the
// single-threaded path), else the processors available, at most 16.
uint32_t WorkerThreadCount();

class CRowWorkers {
public:
    using Task = std::function<void(uint32_t lane, uint32_t item)>;

    // Starts `helpers` threads that sleep until Run hands them work. Throws
    // (std::bad_alloc, std::system_error) when they cannot all be started,
    // after ending those that were.
    explicit CRowWorkers(uint32_t helpers);
    ~CRowWorkers();
    CRowWorkers(const CRowWorkers&) = delete;
    CRowWorkers& operator=(const CRowWorkers&) = delete;

    uint32_t Lanes() const { return uint32_t(threads_.size()) + 1; }

    // Calls task once for every item in [0, count) and returns when all calls
    // have returned. An exception thrown by a task (out of memory) is
    // rethrown here once every thread has stopped.
    void Run(uint32_t count, const Task& task);

private:
    void HelperLoop(uint32_t lane);
    void StopHelpers();
    void Drain(uint32_t lane, const Task& task);

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    // Set under the lock before a job's generation is bumped and cleared
    // when the job ends; a helper reads it under the lock to join.
    const Task* task_ = nullptr;
    uint32_t count_ = 0;
    std::atomic<uint32_t> next_{0};     // next unclaimed item
    std::atomic<bool> failed_{false};   // an item threw; stop claiming
    uint32_t busy_ = 0;       // helpers inside the current job
    uint64_t generation_ = 0; // bumped for every job so a helper takes each once
    bool stopping_ = false;
    std::exception_ptr failure_;
};

}  // namespace _rvxlib_
