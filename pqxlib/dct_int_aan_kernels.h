#pragma once
// Inner routines of the fixed-point DCT, shared by its two engines. The
// portable routines define the results; any faster twin must match them.

#include <cstdint>

namespace _pqxlib_ {

// Column constants (tan(k*pi/16) and cos(pi/4) in fixed point) and the row
// matrices T_j[k] = cos((j+1)*pi/16) * cos(k*pi/16) * 32768, k = 1..7 (entry 0
// unused). Row r of a block uses T_{kIntAANRowTable[r]}: the row matrix also
// undoes the scale that the column pass leaves on vertical frequency r.
struct IntAANConstants {
    int16_t tan1, tan2, tan3, cos4;
    int16_t rows[4][8];
};
extern const int kIntAANRowTable[8];

// Rounds the cosine products half up, from double precision.
IntAANConstants BuildIntAANConstants();

struct IntAANForwardKernels {
    // In place on the interleaved block, channels 0..channels-1.
    void (*column_pass)(int16_t* block, int channels, const IntAANConstants& k);
    // Interleaved block to the planar work buffer.
    void (*interleave)(const int16_t* block, int32_t* planar, int channels);
    void (*row_pass)(int32_t* planar, int channels, const IntAANConstants& k);
    // Planar work buffer back into the block, quantised.
    void (*quantise)(const int32_t* planar, int16_t* block, int channels,
                     const int32_t* reciprocals, int16_t scale_factor);
};

struct IntAANInverseKernels {
    // Block into the planar work buffer, dequantised.
    void (*dequantise)(const int16_t* block, int16_t* planar, int channels,
                       const int16_t* steps, int16_t scale_factor);
    void (*row_pass)(int16_t* planar, int channels, const IntAANConstants& k);
    // Planar work buffer back into the interleaved block.
    void (*interleave)(const int16_t* planar, int16_t* block, int channels);
    void (*column_pass)(int16_t* block, int channels, const IntAANConstants& k);
};

IntAANForwardKernels int_aan_forward_kernels_portable();
IntAANInverseKernels int_aan_inverse_kernels_portable();
// The fastest routines the processor feature word allows (the forward
// routines have no twins yet).
IntAANForwardKernels int_aan_forward_kernels_for(uint32_t features);
IntAANInverseKernels int_aan_inverse_kernels_for(uint32_t features);
// Fills kernels with the SSE2 twins; false where they are not built.
bool int_aan_inverse_kernels_sse2(IntAANInverseKernels& kernels);

// Forward quantiser: the reciprocal of a step and the factor of a scale.
int32_t IntAANReciprocal(uint8_t step);
int16_t IntAANForwardScaleFactor(uint16_t scale);

}  // namespace _pqxlib_
