#pragma once
// Root of every video codec object. The codec set-up owns each object through
// this interface and hands every one the same processor feature word.

#include <cstdint>

namespace _rvxlib_ {

// Each object starts on a cache line of its own: the coding lanes of
// different threads are made one after another, and an object sharing a
// line with another thread's would bounce it between cores on every write.
class alignas(64) IRVXInterface {
public:
    virtual ~IRVXInterface() = default;

    // Chooses among implementations that give identical results; the
    // portable routines are used when features is 0. Returns 1 on success
    // (the frame store, whose operations return error codes, returns 0).
    virtual int32_t Init(uint32_t features) = 0;

    // Spare operation kept for every codec object; does nothing.
    virtual int32_t Reserved() { return 1; }
};

}  // namespace _rvxlib_
