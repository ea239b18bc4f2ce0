#include "allocation_limit.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> g_armed{false};
std::atomic<long> g_left{0};
std::atomic<std::size_t> g_min_bytes{0};
std::atomic<long> g_count{0};
std::atomic<bool> g_fired{false};
thread_local bool t_exempt = false;

void* AllocateRaw(std::size_t size, std::size_t alignment) noexcept {
    if (size == 0) size = 1;
    return alignment <= alignof(std::max_align_t)
               ? std::malloc(size)
               : std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}

// True for the one allocation the armed limit picks.
bool PickedToFail(std::size_t size) noexcept {
    if (t_exempt) return false;
    g_count.fetch_add(1, std::memory_order_relaxed);
    if (g_armed.load(std::memory_order_relaxed) && size >= g_min_bytes.load(std::memory_order_relaxed) &&
        g_left.fetch_sub(1) == 0) {
        g_fired.store(true);
        return true;
    }
    return false;
}

void* Allocate(std::size_t size, std::size_t alignment) {
    void* p = PickedToFail(size) ? nullptr : AllocateRaw(size, alignment);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void* AllocateNoThrow(std::size_t size, std::size_t alignment) noexcept {
    return PickedToFail(size) ? nullptr : AllocateRaw(size, alignment);
}

}  // namespace

namespace allocation_limit {

void FailAfter(long allowed, std::size_t min_bytes) {
    g_min_bytes.store(min_bytes);
    g_left.store(allowed);
    g_count.store(0);
    g_fired.store(false);
    g_armed.store(true);
}

void Disarm() {
    g_armed.store(false);
    g_count.store(0);
}

long Count() { return g_count.load(); }

ExemptThisThread::ExemptThisThread() { t_exempt = true; }
ExemptThisThread::~ExemptThisThread() { t_exempt = false; }
bool Fired() { return g_fired.load(); }

}  // namespace allocation_limit

void* operator new(std::size_t size) { return Allocate(size, 0); }
void* operator new[](std::size_t size) { return Allocate(size, 0); }
void* operator new(std::size_t size, std::align_val_t a) { return Allocate(size, std::size_t(a)); }
void* operator new[](std::size_t size, std::align_val_t a) { return Allocate(size, std::size_t(a)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateNoThrow(size, 0); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateNoThrow(size, 0); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return AllocateNoThrow(size, std::size_t(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return AllocateNoThrow(size, std::size_t(a));
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
