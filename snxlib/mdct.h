#pragma once
// Windowed modified DCT with 50 % overlap. Each channel keeps its previous
// input block (forward) and the second half of its previous inverse output
// (inverse), so a stream decodes with a delay of exactly one block.

#include "snxlib/conv_interface.h"
#include "support/aligned_alloc.h"

#include <vector>

namespace _snxlib_ {

class CMDCT final : public ISNXConvInterface {
public:
    CMDCT() = default;
    ~CMDCT() override { Release(); }
    CMDCT(const CMDCT&) = delete;
    CMDCT& operator=(const CMDCT&) = delete;

    int32_t Init(uint32_t features, int32_t log2_length, int32_t channels) override;
    int32_t Release() override;
    int32_t Reset() override;
    // X_k = (2/N) sum_n w[n] x[n] cos(pi/N (n + 1/2 - N/2)(k + 1/2)) over the
    // previous and the new block, truncated toward zero and saturated to 16 bits.
    int32_t Forward(int16_t* block, int32_t channel) override;
    // Overlap-adds the windowed inverse with the previous block's tail; rounds
    // to nearest and clamps to 16 bits.
    int32_t Inverse(int16_t* block, int32_t channel) override;

    // Unrounded forms for callers that keep the float values (tests, analysis).
    int32_t ForwardFloat(const int16_t* block, int32_t channel, float* coefficients);
    int32_t InverseFloat(const float* coefficients, int32_t channel, float* samples);

private:
    void DctIV(const float* in, float* out);
    void Fft(float* re, float* im);

    int32_t log2n_ = 0;
    int32_t n_ = 0;
    int32_t channels_ = 0;
    AlignedBuffer<float> window_;                      // 2N
    AlignedBuffer<float> pre_cos_, pre_sin_;           // N/2: exp(-i pi (4n+1) / 4N)
    AlignedBuffer<float> post_cos_, post_sin_;         // N/2: exp(-i pi k / N)
    AlignedBuffer<float> fft_cos_, fft_sin_;           // N/4: exp(-2 pi i j / (N/2))
    std::vector<uint32_t> bit_reverse_;                // N/2
    AlignedBuffer<float> history_;                     // channels x N previous inputs
    AlignedBuffer<float> overlap_;                     // channels x N saved tails
    AlignedBuffer<float> fold_, spectrum_, re_, im_;   // scratch
};

}  // namespace _snxlib_
