#pragma once
// Moving samples between the pixel block's macroblock (16 x 16 pixels, four
// interleaved channels: pixel (r, c) channel k at 64r + 4c + k) and the
// transform's work block (8 x 8 positions, four slots: 32r + 4c + k), and
// between the work block and the coded blocks in zigzag order. The portable
// routines define every result; the twins block_convert_kernels_for picks
// must match them for every 16-bit input, differences included.

#include <cstdint>

namespace _rvxlib_ {

struct BlockConvertKernels {
    // One full-resolution channel: quadrant q (0 top-left, 1 top-right,
    // 2 bottom-left, 3 bottom-right) in slot q, and back. The scatter leaves
    // the other channels alone.
    void (*gather_plane)(int16_t* work, const int16_t* macroblock, int channel);
    void (*scatter_plane)(int16_t* macroblock, const int16_t* work, int channel);
    // 4:2:2 chroma: slot 0 U top, 1 U bottom, 2 V top, 3 V bottom, each the
    // mean of two horizontal neighbours rounded down in even and up in odd
    // columns; the scatter repeats each sample into both pixels.
    void (*gather_422_chroma)(int16_t* work, const int16_t* macroblock);
    void (*scatter_422_chroma)(int16_t* macroblock, const int16_t* work);
    // 4:1:1 chroma: slot 0 U, slot 1 V, each the mean of a 2 x 2 area with the
    // rounding alternating by column as in 4:2:2; slots 2 and 3 become 0. The
    // scatter repeats each sample into its 2 x 2 area.
    void (*gather_411_chroma)(int16_t* work, const int16_t* macroblock);
    void (*scatter_411_chroma)(int16_t* macroblock, const int16_t* work);
    // Channel 3 of every pixel becomes 255.
    void (*set_opaque)(int16_t* macroblock);
    void (*clear_slot)(int16_t* work, int slot);
    // Slots first .. first + count - 1 as consecutive 64-value blocks in
    // zigzag order, DC included as it stands (prediction is the caller's).
    void (*emit_slots)(int16_t* blocks, const int16_t* work, int first, int count);
    // The reverse: each block's 64 values back into its slot.
    void (*fill_slots)(int16_t* work, const int16_t* blocks, int first, int count);
};

BlockConvertKernels block_convert_kernels_portable();
// The fastest routines the processor feature word allows.
BlockConvertKernels block_convert_kernels_for(uint32_t features);
// Replaces routines by their SSE2 twins; false when this build has none.
bool block_convert_kernels_sse2(BlockConvertKernels& kernels);

}  // namespace _rvxlib_
