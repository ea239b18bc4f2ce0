#pragma once
// One worker thread with a stop request that the worker polls between units of
// work. Suspension is cooperative: a suspended worker parks at its next
// CanContinue or Sleep and carries on when resumed or asked to stop.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "support/sync.h"

using ThreadProcedure = uint32_t (*)(uintptr_t data);

class IThread {
public:
    virtual ~IThread() = default;
    // Ends any earlier thread, then starts a new one; returns once it runs.
    virtual int32_t Start() = 0;
    virtual int32_t SetProcedure(ThreadProcedure procedure, uintptr_t data) = 0;
    // Raises the stop request and waits for the worker to end. 0 when called
    // by the worker itself (it cannot wait for itself).
    virtual int32_t Stop() = 0;
    virtual int32_t CanContinue() = 0;
    virtual int32_t RequestStop() = 0;
    virtual int32_t Suspend() = 0;
    virtual int32_t Resume() = 0;
    // Waits for Wake or a stop request, at most the given time; true when the
    // time ran out.
    virtual int32_t Sleep(uint32_t milliseconds) = 0;
    virtual int32_t Wake() = 0;
    virtual int32_t TakeWake() = 0;
    virtual uint32_t GetThreadId() = 0;
    virtual void* GetHandle() = 0;
};

class CThread : public IThread {
public:
    CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;
    ~CThread() override;

    int32_t Start() override;
    int32_t SetProcedure(ThreadProcedure procedure, uintptr_t data) override;
    int32_t Stop() override;
    int32_t CanContinue() override;
    int32_t RequestStop() override;
    int32_t Suspend() override;
    int32_t Resume() override;
    int32_t Sleep(uint32_t milliseconds) override;
    int32_t Wake() override;
    int32_t TakeWake() override;
    uint32_t GetThreadId() override;
    void* GetHandle() override;

    // The worker's job; a job class overrides it.
    virtual int32_t Run();
    int32_t SetCProcedure(ThreadProcedure procedure, uintptr_t data);
    // Body entered on the new thread; its result is the thread's exit code.
    virtual int32_t ThreadMain();

    // Exit code of the last thread that ended (0 before any).
    int32_t GetExitCode() const { return exit_code_; }

private:
    bool IsRunning() const;
    // Ends the current worker, if any; the caller holds control_mutex_.
    void JoinWorker();
    bool OnWorkerThread() const;
    // Blocks the worker while it is suspended and no stop is requested.
    void ParkWhileSuspended();

    std::thread thread_;  // replaced only under lock_
    std::atomic<bool> running_{false};
    std::atomic<uint32_t> thread_id_{0};
    std::atomic<bool> suspended_{false};
    CCriticalSection lock_;
    CEvent started_{false};
    CEvent stop_{false};
    CEvent wake_{true};
    ThreadProcedure procedure_ = nullptr;
    uintptr_t procedure_data_ = 0;
    int mode_ = 0;
    int32_t exit_code_ = 0;

    // Serialises Start and Stop, so one cannot start a worker while the
    // other is still joining the last one.
    std::mutex control_mutex_;
    std::mutex park_mutex_;
    std::condition_variable park_cond_;
};
