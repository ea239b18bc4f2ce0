#pragma once
// The zig-zag scan of ITU-T T.81 over an 8 x 8 block.

#include <cstdint>

namespace _pqxlib_ {

// kZigZag[i] is the raster index (8 * row + column) of the i-th coefficient
// in scan order; kZigZagInverse[raster] is its scan position.
extern const uint8_t kZigZag[64];
extern const uint8_t kZigZagInverse[64];

}  // namespace _pqxlib_
