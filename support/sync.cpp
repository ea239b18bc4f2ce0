#include "support/sync.h"

#include <atomic>
#include <chrono>
#include <sys/syscall.h>
#include <unistd.h>

uint32_t CurrentThreadId() {
#if defined(SYS_gettid)
    thread_local const uint32_t id = static_cast<uint32_t>(::syscall(SYS_gettid));
#else
    // A system without thread numbers (the browser build): each thread that
    // asks takes the next one.
    static std::atomic<uint32_t> next{1};
    thread_local const uint32_t id = next.fetch_add(1);
#endif
    return id;
}

CEvent::CEvent(bool manualReset) : manual_(manualReset) {}

CEvent::~CEvent() {
    if (flag_.load()) Reset();
}

int32_t CEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
        flag_.store(1);
    }
    if (manual_)
        cond_.notify_all();
    else
        cond_.notify_one();
    return 1;
}

int32_t CEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
    flag_.store(0);
    return 1;
}

int32_t CEvent::Wait(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [this] { return signalled_; };
    bool got;
    if (milliseconds == kInfinite) {
        cond_.wait(lock, ready);
        got = true;
    } else {
        got = cond_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
    }
    if (got && !manual_) signalled_ = false;
    return got ? 1 : 0;
}

int32_t CEvent::IsSet() { return static_cast<int32_t>(flag_.load()); }

void* CEvent::GetHandle() { return this; }

CCriticalSection::~CCriticalSection() {
    // A section destroyed while its owner still holds it is released first, so
    // the mutex is never destroyed locked.
    if (holder_.load() == CurrentThreadId()) {
        while (count_ > 0) {
            --count_;
            mutex_.unlock();
        }
    }
}

int32_t CCriticalSection::Lock() {
    mutex_.lock();
    ++count_;
    holder_.store(CurrentThreadId());
    owner_.store(CurrentThreadId());
    return 1;
}

int32_t CCriticalSection::Unlock() {
    const uint32_t me = CurrentThreadId();
    if (holder_.load() != me || count_ == 0) return 0;
    owner_.store(0);
    if (--count_ == 0) holder_.store(0);
    mutex_.unlock();
    return 1;
}

int32_t CCriticalSection::TryLock() {
    if (!mutex_.try_lock()) return 0;
    ++count_;
    holder_.store(CurrentThreadId());
    owner_.store(CurrentThreadId());
    return 1;
}

int32_t CCriticalSection::IsOwner() { return owner_.load() == CurrentThreadId() ? 1 : 0; }
