#pragma once
// Root of the reference-counted support objects. The count starts at 1; the
// final release runs OnFinalRelease, which for most objects destroys them and
// for surfaces only gives up their pixels (their owner destroys the object).

#include <atomic>
#include <cstdint>

constexpr int32_t kSOk = 0;
constexpr int32_t kENoInterface = static_cast<int32_t>(0x80004002u);
constexpr int32_t kEPointer = static_cast<int32_t>(0x80004003u);

constexpr uint32_t kIidObjectInterface = 1;

class IObjectInterface {
public:
    IObjectInterface() = default;
    IObjectInterface(const IObjectInterface&) = delete;
    IObjectInterface& operator=(const IObjectInterface&) = delete;
    virtual ~IObjectInterface() = default;

    virtual int32_t AddRef() { return refs_.fetch_add(1) + 1; }

    virtual int32_t ReleaseRef() {
        const int32_t count = refs_.fetch_sub(1) - 1;
        if (count > 0) return count;
        // A release past zero is a caller's mistake; the count must not stay
        // negative or a later AddRef would revive an object that is gone.
        if (count < 0) refs_.exchange(0);
        OnFinalRelease();
        return 0;
    }

    virtual int32_t QueryInterface(uint32_t iid, void** out) {
        if (out == nullptr) return kEPointer;
        if (iid == kIidObjectInterface) {
            AddRef();
            *out = this;
            return kSOk;
        }
        return kENoInterface;
    }

    int32_t RefCount() const { return refs_.load(); }

protected:
    virtual void OnFinalRelease() { delete this; }

private:
    std::atomic<int32_t> refs_{1};
};
