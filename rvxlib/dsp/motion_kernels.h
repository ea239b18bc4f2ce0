#pragma once
// Inner loops of the moving block. The portable routines define every result;
// any faster twin picked by motion_kernels_for must match them bit for bit.
//
// The current block is the pixel block's working buffer: 16 rows x 16 pixels x
// 4 channels of 16-bit values, pixel (r, c) channel k at 64 r + 4 c + k.
// Reference areas and predictions are 4-byte pixels addressed with a pitch in
// bytes.

#include <cstddef>
#include <cstdint>

namespace _rvxlib_ {

// Smallest current sample for which every difference to a reference byte
// fits a signed 16-bit value.
constexpr int16_t kNarrowSampleMin = -32768 + 255;

// What one look over a current block found: every sample 0..255, every
// sample at least kNarrowSampleMin, or neither.
enum class BlockSamples { kWide, kNarrow, kBytes };

struct MotionKernels {
    // Per channel, sum over the macroblock of (cur - ref)^2.
    void (*ssd16x16)(const int16_t* cur, const uint8_t* ref, ptrdiff_t pitch, uint32_t out[4]);
    // The same sums over the first `rows` rows (1..16) for a current block
    // whose samples are all at least kNarrowSampleMin (every block loaded
    // from a picture is); faster where the differences can stay in 16 bits.
    void (*ssd16xn_narrow)(const int16_t* cur, const uint8_t* ref, ptrdiff_t pitch, int rows,
                           uint32_t out[4]);
    // The narrow sums over all 16 rows, given up early: after every
    // kSearchCostRows rows the sums so far are weighted (sum of weight x
    // sum, wrapping in 32 bits) and, once that reaches bound, false is
    // returned with out holding no meaningful sums. For blocks of samples in
    // 0..255 whose largest weighted cost stays below 2^32 the partial cost
    // then bounds the whole from below. True with the full sums otherwise.
    bool (*ssd16x16_narrow_bounded)(const int16_t* cur, const uint8_t* ref, ptrdiff_t pitch,
                                    const uint32_t weights[4], uint64_t bound, uint32_t out[4]);
    // For a current block whose samples are all 0..255: arrange_bytes copies
    // it into 1024 samples laid out as this level's bytes_bounded wants
    // (the portable layout is the block's own), and bytes_bounded takes the
    // bounded cost of ssd16x16_narrow_bounded from that copy, with the same
    // result and the same looks at the partial cost.
    void (*arrange_bytes)(const int16_t* cur, int16_t* arranged);
    bool (*ssd16x16_bytes_bounded)(const int16_t* arranged, const uint8_t* ref, ptrdiff_t pitch,
                                   const uint32_t weights[4], uint64_t bound, uint32_t out[4]);
    // bytes_bounded against the half-pel prediction halfpel would build from
    // ref; with no prediction written, the rows past a look that gives up
    // are never interpolated.
    bool (*halfpel_bytes_bounded)(const int16_t* arranged, const uint8_t* ref, ptrdiff_t pitch,
                                  int hx_odd, int hy_odd, const uint32_t weights[4], uint64_t bound,
                                  uint32_t out[4]);
    // Per channel, sum of (sample - rounded mean)^2.
    void (*activity16x16)(const int16_t* cur, uint32_t out[4]);
    // The same for a block whose samples are all 0..255 (a block loaded
    // from a picture); faster where the differences can stay in 16 bits.
    void (*activity16x16_bytes)(const int16_t* cur, uint32_t out[4]);
    // Builds the 16x16 prediction at a half-pel offset into dst (pitch
    // dst_pitch), reading 16 or 17 rows and columns of ref.
    void (*halfpel)(uint8_t* dst, ptrdiff_t dst_pitch, const uint8_t* ref, ptrdiff_t pitch,
                    int hx_odd, int hy_odd);
    void (*add_prediction)(int16_t* cur, const uint8_t* pred, ptrdiff_t pitch);
    void (*subtract_prediction)(int16_t* cur, const uint8_t* pred, ptrdiff_t pitch);
    // PrepareBlock in one pass over the block, for levels that have it;
    // null elsewhere.
    BlockSamples (*prepare_block)(const int16_t* cur, int16_t* arranged, uint32_t activity[4]);
};

// Classifies the current block and, for a block of bytes, also arranges it
// (arrange_bytes) and measures it (activity16x16_bytes); arranged and
// activity are left undefined otherwise. Every search starts with it, so a
// level may do it all in one pass (prepare_block).
BlockSamples PrepareBlock(const MotionKernels& kernels, const int16_t* cur, int16_t* arranged,
                          uint32_t activity[4]);

// Rows costed between looks at a candidate's partial cost.
constexpr int kSearchCostRows = 4;

inline uint32_t WeightedCost(const uint32_t value[4], const uint32_t weights[4]) {
    uint32_t sum = 0;
    for (int k = 0; k < 4; ++k) sum += weights[k] * value[k];
    return sum;
}

// The bounded cost built from a level's narrow sums, kSearchCostRows rows at
// a time; the levels without a fused twin use it.
template <void (*Narrow)(const int16_t*, const uint8_t*, ptrdiff_t, int, uint32_t*)>
bool ssd16x16_narrow_bounded_by_parts(const int16_t* cur, const uint8_t* ref, ptrdiff_t pitch,
                                      const uint32_t weights[4], uint64_t bound, uint32_t out[4]) {
    Narrow(cur, ref, pitch, kSearchCostRows, out);
    for (int r = kSearchCostRows; r < 16; r += kSearchCostRows) {
        if (WeightedCost(out, weights) >= bound) return false;
        uint32_t more[4];
        Narrow(cur + r * 64, ref + r * pitch, pitch, kSearchCostRows, more);
        for (int k = 0; k < 4; ++k) out[k] += more[k];
    }
    return true;
}

// The half-pel bounded cost by way of a prediction buffer, for the levels
// without a fused twin.
template <void (*Halfpel)(uint8_t*, ptrdiff_t, const uint8_t*, ptrdiff_t, int, int),
          bool (*Bounded)(const int16_t*, const uint8_t*, ptrdiff_t, const uint32_t*, uint64_t,
                          uint32_t*)>
bool halfpel_bytes_bounded_by_prediction(const int16_t* arranged, const uint8_t* ref,
                                         ptrdiff_t pitch, int hx_odd, int hy_odd,
                                         const uint32_t weights[4], uint64_t bound,
                                         uint32_t out[4]) {
    alignas(32) uint8_t prediction[17 * 64];
    Halfpel(prediction, 64, ref, pitch, hx_odd, hy_odd);
    return Bounded(arranged, prediction, 64, weights, bound, out);
}

MotionKernels motion_kernels_portable();
// True when every sample of the current block is at least kNarrowSampleMin.
bool motion_block_is_narrow(const int16_t* cur);
MotionKernels motion_kernels_for(uint32_t features);

// Replaces the routines that have an SSE2 twin; false when this build has
// none (the kernels are then unchanged).
bool motion_kernels_sse2(MotionKernels& kernels);
// The same for the AVX2 twins; the caller makes sure the processor has AVX2.
bool motion_kernels_avx2(MotionKernels& kernels);
// The same for the AVX-512 twins, on top of the AVX2 ones; the caller makes
// sure the processor has AVX-512 F, BW, VL, VBMI and VNNI.
bool motion_kernels_avx512(MotionKernels& kernels);

}  // namespace _rvxlib_
