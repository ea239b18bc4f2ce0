#pragma once
// The trellis that chooses a block's AC levels by cost: among the nearest
// level, the one below and zero for every value, the levels whose squared
// error plus lambda times bits (runs and end of block) is smallest.

#include <cstdint>

#include "rvxlib/encoder/rate_distortion.h"

namespace _rvxlib_ {

// magnitude[i] is the size of AC value i (1..63, zigzag order) in units of
// its step, magnitude[0] 0; weight[i] the squared size in sample units of
// one step of coefficient i. Writes the chosen level sizes (0..2047) to
// levels[1..63]; levels[0] is left alone. `reach` (at least 1) is how many
// non-zero values back a run may start.
void TrellisMagnitudes(const float magnitude[64], const float weight[64], float lambda,
                       const RVXSymbolCosts& costs, int reach, int16_t levels[64]);

}  // namespace _rvxlib_
