#pragma once
// Root of every video codec object. The codec set-up owns each object through
// this interface and hands every one the same processor feature word.

#include <cstdint>

namespace _rvxlib_ {

class IRVXInterface {
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
