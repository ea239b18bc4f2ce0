#pragma once
// Moving one macroblock between a picture and the 16-bit working buffer.
// The portable routines define every result; the twins pixel_block_kernels_for
// picks must match them.

#include <cstddef>
#include <cstdint>

namespace _rvxlib_ {

struct PixelBlockKernels {
    // 16 rows of 64 bytes (pitch apart) widened into the working buffer.
    void (*load)(int16_t* block, const uint8_t* picture, std::size_t pitch);
    // The working buffer back into 16 rows, saturated to 0..255.
    void (*store)(uint8_t* picture, std::size_t pitch, const int16_t* block);
};

PixelBlockKernels pixel_block_kernels_portable();
PixelBlockKernels pixel_block_kernels_for(uint32_t features);
// Replaces both routines by their SSE2 twins; false when this build has none.
bool pixel_block_kernels_sse2(PixelBlockKernels& kernels);

}  // namespace _rvxlib_
