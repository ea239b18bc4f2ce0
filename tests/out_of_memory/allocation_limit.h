#pragma once
// A replacement for the global operator new of this test program alone: once
// armed, one chosen allocation fails (std::bad_alloc, or null from the
// nothrow forms), as if memory ran out just there.

#include <cstddef>

namespace allocation_limit {

// The allocation after `allowed` more allocations of at least
// `min_bytes` bytes fails, once; every other allocation succeeds.
void FailAfter(long allowed, std::size_t min_bytes = 0);
void Disarm();
// Allocations made since the last FailAfter or Disarm (all sizes).
long Count();
// True once the armed failure has happened.
bool Fired();

// Allocations of the thread holding one are never counted nor failed: a
// test's own bookkeeping while it waits for a job.
struct ExemptThisThread {
    ExemptThisThread();
    ~ExemptThisThread();
};

// Disarms when it goes out of scope, even when an assertion returns early.
struct Armed {
    Armed(long allowed, std::size_t min_bytes = 0) { FailAfter(allowed, min_bytes); }
    ~Armed() { Disarm(); }
    Armed(const Armed&) = delete;
    Armed& operator=(const Armed&) = delete;
};

}  // namespace allocation_limit
