#pragma once
// PNG keeps red first, the bitmap and the 32-bit surfaces blue first: rows of
// 3- or 4-byte pixels copied with red and blue swapped (alpha, when there is
// one, kept), either as they are or widened to four bytes each.

#include <cstdint>

using ChannelSwapRow = void (*)(uint8_t* dst, const uint8_t* src, uint32_t width);

// The routine for pixels of `bytes_per_pixel` (3 or 4) at the processor level
// of `features`; every level gives the portable routine's bytes and touches
// no byte of either row past `width` pixels.
ChannelSwapRow ChannelSwapRowFor(uint32_t features, uint32_t bytes_per_pixel);

// PNG pixels of `bytes_per_pixel` (3 or 4) straight into a 32-bit row, blue,
// green, red, then alpha: 0xFF for 3-byte pixels, the pixel's own otherwise.
// The bytes are those of a swap into a bitmap row followed by the bitmap's
// conversion to X8R8G8B8 or A8R8G8B8, made in one pass. The same promises
// as ChannelSwapRowFor.
ChannelSwapRow PngRowTo32BitsFor(uint32_t features, uint32_t bytes_per_pixel);
