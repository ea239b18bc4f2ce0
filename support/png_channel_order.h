#pragma once
// PNG keeps red first, the bitmap blue first: rows of 3- or 4-byte pixels
// copied with red and blue swapped (alpha, when there is one, kept).

#include <cstdint>

using ChannelSwapRow = void (*)(uint8_t* dst, const uint8_t* src, uint32_t width);

// The routine for pixels of `bytes_per_pixel` (3 or 4) at the processor level
// of `features`; every level gives the portable routine's bytes and touches
// no byte of either row past `width` pixels.
ChannelSwapRow ChannelSwapRowFor(uint32_t features, uint32_t bytes_per_pixel);
