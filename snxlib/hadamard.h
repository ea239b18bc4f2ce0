#pragma once
// Walsh-Hadamard transform of one block with its outputs in sequency order
// (coefficient s has s sign changes), no overlap between blocks.

#include "snxlib/conv_interface.h"

#include <vector>

namespace _snxlib_ {

class CHadamard final : public ISNXConvInterface {
public:
    ~CHadamard() override { Release(); }

    int32_t Init(uint32_t features, int32_t log2_length, int32_t channels) override;
    int32_t Release() override;
    int32_t Reset() override;
    // y_s = E[P[s]] / N truncated toward zero, E the natural-order transform.
    int32_t Forward(int16_t* block, int32_t channel) override;
    // Back to natural order, the same butterflies, clamped to 16 bits.
    int32_t Inverse(int16_t* block, int32_t channel) override;

    // Natural index of sequency s, and its inverse.
    const std::vector<uint32_t>& ForwardOrder() const { return to_natural_; }
    const std::vector<uint32_t>& InverseOrder() const { return to_sequency_; }

private:
    void Butterflies();

    int32_t log2n_ = 0;
    int32_t n_ = 0;
    int32_t channels_ = 0;
    // 64-bit so that no block length can overflow the sums (N x 32768).
    std::vector<int64_t> work_;
    std::vector<uint32_t> to_natural_;   // P: sequency -> natural
    std::vector<uint32_t> to_sequency_;  // Q: natural -> sequency
};

}  // namespace _snxlib_
