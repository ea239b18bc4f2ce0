#include "rvxlib/encoder/row_workers.h"

#include <algorithm>
#include <cstdlib>

namespace _rvxlib_ {

uint32_t WorkerThreadCount() {
    if (const char* value = std::getenv("RVX_THREADS")) {
        char* end = nullptr;
        const long n = std::strtol(value, &end, 10);
        if (end != value && *end == '\0' && n >= 1 && n <= 64) return uint32_t(n);
    }
    const uint32_t available = std::thread::hardware_concurrency();
    return std::clamp<uint32_t>(available, 1, 16);
}

CRowWorkers::CRowWorkers(uint32_t helpers) {
    // A thread that cannot be created (no memory, a process limit) must not
    // leave the ones already running unjoined: that would end the program.
    try {
        threads_.reserve(helpers);
        for (uint32_t k = 0; k < helpers; ++k) threads_.emplace_back([this, k] { HelperLoop(k + 1); });
    } catch (...) {
        StopHelpers();
        throw;
    }
}

CRowWorkers::~CRowWorkers() { StopHelpers(); }

void CRowWorkers::StopHelpers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_) thread.join();
    threads_.clear();
}

// Items are claimed one at a time: a single macroblock's search is already
// far longer than the claim.
void CRowWorkers::Drain(uint32_t lane, const Task& task) {
    while (!failed_.load(std::memory_order_relaxed)) {
        const uint32_t item = next_.fetch_add(1, std::memory_order_relaxed);
        if (item >= count_) return;
        try {
            task(lane, item);
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!failure_) failure_ = std::current_exception();
            failed_ = true;
        }
    }
}

// A helper joins a job only while it is open (task_ set); one that wakes
// after the caller has finished the job waits for the next. So the caller
// never waits for a helper the system has not yet run, only for the items
// helpers have claimed.
void CRowWorkers::HelperLoop(uint32_t lane) {
    uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || (generation_ != seen && task_ != nullptr); });
        if (stopping_) return;
        seen = generation_;
        const Task* task = task_;
        ++busy_;
        lock.unlock();
        Drain(lane, *task);
        lock.lock();
        if (--busy_ == 0) done_.notify_one();
    }
}

void CRowWorkers::Run(uint32_t count, const Task& task) {
    if (count == 0) return;
    if (threads_.empty() || count == 1) {
        for (uint32_t item = 0; item < count; ++item) task(0, item);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        task_ = &task;
        count_ = count;
        next_ = 0;
        failed_ = false;
        failure_ = nullptr;
        ++generation_;
    }
    wake_.notify_all();
    Drain(0, task);
    // Every item is claimed now; the helpers inside the job finish theirs.
    std::exception_ptr failure;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return busy_ == 0; });
        task_ = nullptr;
        failure = failure_;
        failure_ = nullptr;
    }
    if (failure) std::rethrow_exception(failure);
}

}  // namespace _rvxlib_
