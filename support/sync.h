#pragma once
// Events and critical sections over the C++ standard primitives. Operations
// return 1 when they did something and 0 otherwise.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

// The calling thread's kernel id: small, non-zero, and comparable across the
// process, which is what the owner fields below need.
uint32_t CurrentThreadId();

class IEvent {
public:
    virtual int32_t Set() = 0;
    virtual int32_t Reset() = 0;
    // True when the event was signalled within the time (milliseconds;
    // kInfinite waits without limit).
    virtual int32_t Wait(uint32_t milliseconds) = 0;
    virtual int32_t IsSet() = 0;
    virtual void* GetHandle() = 0;

    static constexpr uint32_t kInfinite = 0xFFFFFFFFu;

protected:
    ~IEvent() = default;
};

class CEvent : public IEvent {
public:
    explicit CEvent(bool manualReset);
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    int32_t Set() override;
    int32_t Reset() override;
    int32_t Wait(uint32_t milliseconds) override;
    int32_t IsSet() override;
    void* GetHandle() override;
    virtual ~CEvent();

private:
    const bool manual_;
    std::mutex mutex_;
    std::condition_variable cond_;
    bool signalled_ = false;        // state consumed by waits on an auto-reset event
    std::atomic<uint32_t> flag_{0}; // answers IsSet; a wait never clears it
};

class ICriticalSection {
public:
    virtual ~ICriticalSection() = default;
    virtual int32_t Lock() = 0;
    virtual int32_t Unlock() = 0;
    virtual int32_t TryLock() = 0;
    virtual int32_t IsOwner() = 0;
};

class CCriticalSection : public ICriticalSection {
public:
    CCriticalSection() = default;
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;
    ~CCriticalSection() override;

    int32_t Lock() override;
    // 0 when the calling thread does not hold the section (unlocking a mutex
    // that another thread holds would corrupt it).
    int32_t Unlock() override;
    // Never blocks: 0 when another thread holds the section.
    int32_t TryLock() override;
    int32_t IsOwner() override;

private:
    std::recursive_mutex mutex_;
    // Thread that took the section last; cleared by every Unlock, even one
    // that leaves it held (IsOwner reports exactly that).
    std::atomic<uint32_t> owner_{0};
    // Thread that actually holds the mutex, and how often.
    std::atomic<uint32_t> holder_{0};
    uint32_t count_ = 0;
};

// Holds an ICriticalSection for one scope.
class CScopedLock {
public:
    explicit CScopedLock(ICriticalSection& section) : section_(section) { section_.Lock(); }
    ~CScopedLock() { section_.Unlock(); }
    CScopedLock(const CScopedLock&) = delete;
    CScopedLock& operator=(const CScopedLock&) = delete;

private:
    ICriticalSection& section_;
};

// Holds a bare mutex for one scope; used where a lock is shared with code
// that does not know the ICriticalSection interface.
class CScopedMutexLock {
public:
    explicit CScopedMutexLock(std::mutex& mutex) : mutex_(mutex) { mutex_.lock(); }
    ~CScopedMutexLock() { mutex_.unlock(); }
    CScopedMutexLock(const CScopedMutexLock&) = delete;
    CScopedMutexLock& operator=(const CScopedMutexLock&) = delete;

private:
    std::mutex& mutex_;
};
