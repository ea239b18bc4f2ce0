#include "snxlib/hadamard.h"

#include <algorithm>

namespace _snxlib_ {

int32_t CHadamard::Init(uint32_t /*features*/, int32_t log2_length, int32_t channels) {
    Release();
    if (log2_length < 1 || log2_length > 24 || channels <= 0) return 0;
    const int32_t n = 1 << log2_length;
    // Built by doubling: every step mirrors the table and flips the next
    // lower bit, which is bit-reversal of the Gray code of the index.
    to_natural_.reserve(n);
    to_natural_.push_back(0);
    for (uint32_t m = static_cast<uint32_t>(n) / 2; m >= 1; m >>= 1) {
        const std::size_t count = to_natural_.size();
        for (std::size_t i = 0; i < count; ++i) to_natural_.push_back(m ^ to_natural_[count - 1 - i]);
    }
    to_sequency_.reserve(n);
    to_sequency_.push_back(0);
    for (uint32_t m = static_cast<uint32_t>(n) - 1; m >= 1; m >>= 1) {
        const std::size_t count = to_sequency_.size();
        for (std::size_t i = 0; i < count; ++i) to_sequency_.push_back(m ^ to_sequency_[i]);
    }
    work_.assign(n, 0);
    log2n_ = log2_length;
    n_ = n;
    channels_ = channels;
    return Reset();
}

int32_t CHadamard::Release() {
    work_.clear();
    to_natural_.clear();
    to_sequency_.clear();
    log2n_ = n_ = channels_ = 0;
    return 1;
}

int32_t CHadamard::Reset() {
    std::fill(work_.begin(), work_.end(), 0);
    return 1;
}

void CHadamard::Butterflies() {
    int64_t* x = work_.data();
    for (int32_t d = 1; d < n_; d *= 2) {
        for (int32_t start = 0; start < n_; start += 2 * d) {
            for (int32_t i = start; i < start + d; ++i) {
                const int64_t a = x[i], b = x[i + d];
                x[i] = a + b;
                x[i + d] = a - b;
            }
        }
    }
}

int32_t CHadamard::Forward(int16_t* block, int32_t channel) {
    if (n_ == 0 || channel < 0 || channel >= channels_) return 0;
    for (int32_t i = 0; i < n_; ++i) work_[i] = block[i];
    Butterflies();
    for (int32_t s = 0; s < n_; ++s) {
        const int64_t y = work_[to_natural_[s]];
        // |E| <= N * 32768, so the quotient always fits in 16 bits.
        block[s] = static_cast<int16_t>(y >= 0 ? y >> log2n_ : -((-y) >> log2n_));
    }
    return 1;
}

int32_t CHadamard::Inverse(int16_t* block, int32_t channel) {
    if (n_ == 0 || channel < 0 || channel >= channels_) return 0;
    for (int32_t k = 0; k < n_; ++k) work_[k] = block[to_sequency_[k]];
    Butterflies();
    for (int32_t i = 0; i < n_; ++i) {
        block[i] = static_cast<int16_t>(std::clamp<int64_t>(work_[i], -32768, 32767));
    }
    return 1;
}

}  // namespace _snxlib_
