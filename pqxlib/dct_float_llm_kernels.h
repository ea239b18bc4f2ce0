#pragma once
// Inner routines of the float DCT. The portable routines define the results
// bit for bit; any faster twin must match them exactly.

#include <cstdint>

namespace _pqxlib_ {

// K_0 = cos(pi/4), K_k = sqrt(2) * cos(k*pi/16), then the sums the flow
// graph multiplies by, each rounded once from the exact value.
enum FloatLLMConstant {
    kK0, kK1, kK2, kK3, kK4, kK5, kK6, kK7,
    kK2MinusK6,           // P
    kK2PlusK6,            // S
    kK7MinusK3,
    kMinusK3MinusK1,
    kMinusK3MinusK5,
    kK5MinusK3,
    kK5K3MinusK1K7,       // K5 + K3 - K1 - K7
    kK7K3K1MinusK5,       // K7 + K3 + K1 - K5
    kK5K3K1MinusK7,       // K5 + K3 + K1 - K7
    kK3K1MinusK5K7,       // K3 + K1 - K5 - K7
    kFloatLLMConstantCount
};
extern const float kFloatLLMConstants[kFloatLLMConstantCount];

// work is 256 floats in coefficient-block layout; the passes always run on
// all four lanes, load and store touch lanes 0..lanes-1 only (the others are
// zero in work and left alone in the block).
struct FloatLLMKernels {
    void (*row_forward)(float* work, const float* constants);
    void (*column_forward)(float* work, const float* constants);
    void (*row_inverse)(float* work, const float* constants);
    void (*column_inverse)(float* work, const float* constants);
    // Samples in; or coefficients times their steps in (steps non-null).
    void (*load)(const int16_t* block, float* work, int lanes, const float* steps);
    // Quantised coefficients out (forward), or samples out (inverse); see the
    // rounding in dct_float_llm_kernels.cpp.
    void (*store_forward)(const float* work, int16_t* block, int lanes, const float* steps,
                          float scale);
    void (*store_inverse)(const float* work, int16_t* block, int lanes, float scale);
};

FloatLLMKernels float_llm_kernels_portable();
// The fastest routines the processor feature word allows.
FloatLLMKernels float_llm_kernels_for(uint32_t features);
// Replaces every routine by its SSE2 twin; false where they are not built.
bool float_llm_kernels_sse2(FloatLLMKernels& kernels);
// Replaces every routine by its AVX2 twin; the caller makes sure the
// processor has AVX2.
bool float_llm_kernels_avx2(FloatLLMKernels& kernels);
// Replaces the routines whose AVX-512 twins are faster than the AVX2 ones
// (all but the row passes); the caller makes sure the processor reaches the
// AVX-512 level.
bool float_llm_kernels_avx512(FloatLLMKernels& kernels);

}  // namespace _pqxlib_
