#include "support/thread.h"

#include <chrono>
#include <new>
#include <system_error>

namespace {

enum : int { kModeRun = 0, kModeStdCall = 1, kModeCCall = 2, kModeStdCallAlt = 3 };

}  // namespace

CThread::CThread() = default;

CThread::~CThread() { Stop(); }

// The flag mirrors whether thread_ holds a thread, so that callers on any
// thread can ask without touching the thread object Start and Stop replace.
bool CThread::IsRunning() const { return running_.load(); }

bool CThread::OnWorkerThread() const {
    const uint32_t id = thread_id_.load();
    return id != 0 && id == CurrentThreadId();
}

int32_t CThread::Start() {
    // The worker cannot end itself to start again.
    if (OnWorkerThread()) return 0;
    std::lock_guard<std::mutex> control(control_mutex_);
    RequestStop();
    JoinWorker();
    started_.Reset();
    suspended_.store(false);
    stop_.Reset();
    wake_.Reset();

    {
        CScopedLock hold(lock_);
        try {
            thread_ = std::thread([this] { exit_code_ = ThreadMain(); });
        } catch (const std::system_error&) {
            // No thread, so no started signal will ever come.
            return 0;
        } catch (const std::bad_alloc&) {
            return 0;
        }
        running_.store(true);
    }
    return started_.Wait(IEvent::kInfinite);
}

int32_t CThread::SetProcedure(ThreadProcedure procedure, uintptr_t data) {
    if (IsRunning()) return 0;
    CScopedLock hold(lock_);
    if (procedure) {
        procedure_ = procedure;
        procedure_data_ = data;
    }
    mode_ = procedure ? kModeStdCall : kModeRun;
    return 1;
}

int32_t CThread::SetCProcedure(ThreadProcedure procedure, uintptr_t data) {
    if (IsRunning()) return 0;
    CScopedLock hold(lock_);
    if (procedure) {
        procedure_ = procedure;
        procedure_data_ = data;
    }
    mode_ = procedure ? kModeCCall : kModeRun;
    return 1;
}

int32_t CThread::ThreadMain() {
    thread_id_.store(CurrentThreadId());
    started_.Set();
    switch (mode_) {
    case kModeRun:
        return Run();
    case kModeStdCall:
    case kModeCCall:
    case kModeStdCallAlt:
        return static_cast<int32_t>(procedure_(procedure_data_));
    default:
        return -1;
    }
}

int32_t CThread::Run() { return 0; }

int32_t CThread::Stop() {
    RequestStop();
    // Asked first: the worker may run before Start has finished storing the
    // thread object, so only its own id tells it who it is.
    if (OnWorkerThread()) return 0;
    std::lock_guard<std::mutex> control(control_mutex_);
    JoinWorker();
    return 1;
}

void CThread::JoinWorker() {
    if (!IsRunning()) return;
    if (suspended_.load()) Resume();
    std::thread worker;
    {
        CScopedLock hold(lock_);
        worker = std::move(thread_);
        running_.store(false);
    }
    // Joined without the lock: the worker's last Sleep may still Resume,
    // which takes it.
    if (worker.joinable()) worker.join();
    thread_id_.store(0);
    suspended_.store(false);
}

int32_t CThread::CanContinue() {
    if (OnWorkerThread()) ParkWhileSuspended();
    return stop_.IsSet() ? 0 : 1;
}

int32_t CThread::RequestStop() {
    stop_.Set();
    if (suspended_.load()) Resume();
    // A parked worker must see the request even if Resume lost a race.
    std::lock_guard<std::mutex> guard(park_mutex_);
    park_cond_.notify_all();
    return 1;
}

int32_t CThread::Suspend() {
    CScopedLock hold(lock_);
    if (!IsRunning() || suspended_.load()) return 0;
    suspended_.store(true);
    return 1;
}

int32_t CThread::Resume() {
    CScopedLock hold(lock_);
    if (!IsRunning() || !suspended_.load()) return 0;
    {
        std::lock_guard<std::mutex> guard(park_mutex_);
        suspended_.store(false);
    }
    park_cond_.notify_all();
    return 1;
}

void CThread::ParkWhileSuspended() {
    std::unique_lock<std::mutex> guard(park_mutex_);
    park_cond_.wait(guard, [this] { return !suspended_.load() || stop_.IsSet(); });
}

int32_t CThread::Sleep(uint32_t milliseconds) {
    if (OnWorkerThread()) ParkWhileSuspended();
    // Wait in slices so that a stop request ends the sleep promptly; the two
    // events cannot be waited on together.
    using Clock = std::chrono::steady_clock;
    const bool forever = milliseconds == IEvent::kInfinite;
    const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
    bool timed_out = false;
    for (;;) {
        if (wake_.IsSet() || stop_.IsSet()) break;
        uint32_t slice = 10;
        if (!forever) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                timed_out = true;
                break;
            }
            if (left < slice) slice = static_cast<uint32_t>(left);
        }
        if (wake_.Wait(slice)) break;  // manual reset: stays raised for TakeWake
    }
    if (TakeWake() && suspended_.load()) Resume();
    return timed_out ? 1 : 0;
}

int32_t CThread::Wake() { return wake_.Set(); }

int32_t CThread::TakeWake() {
    const int32_t was = wake_.IsSet();
    wake_.Reset();
    return was;
}

uint32_t CThread::GetThreadId() { return thread_id_.load(); }

void* CThread::GetHandle() { return IsRunning() ? static_cast<void*>(&thread_) : nullptr; }
