#pragma once
// Zig-zag scans over the interleaved four-channel coefficient block, where
// row r, column c, channel k sits at index 32 * r + 4 * c + k.

#include <cstdint>

namespace _pqxlib_ {

// tables[k][j] = 4 * kZigZag[j] + k: the block index of the j-th coefficient
// of channel k in scan order.
void BuildInterleavedScanTables(uint8_t tables[4][64]);

}  // namespace _pqxlib_
