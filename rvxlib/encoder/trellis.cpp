#include "rvxlib/encoder/trellis.h"

#include <algorithm>
#include <limits>

#include "pqxlib/huffman.h"

namespace _rvxlib_ {
namespace {

constexpr uint32_t kMaxMagnitude = _pqxlib_::kMaxCoefficientMagnitude;
// A value this large costs far less than the error of dropping it; a short
// reach takes one level less.
constexpr uint32_t kAnchorLevel = 3;
constexpr int kLongReach = 8;

// Chains of non-zero levels: best[k] is the cheapest way to code the
// positions up to candidate k with a non-zero level at k, from[k] the
// candidate before it (-1: the first after the DC).
struct Chains {
    int position[63];
    float best[63];
    int from[63];
    uint16_t magnitude[63];
    int count = 0;
    int anchor = -1;  // the last candidate no chain may skip
};

// zero_error[i]: the error of coding AC positions 1..i as zeros. Summed by
// rows of eight, then the rows' totals: eight short chains of additions
// instead of one long one.
void ZeroErrors(const float* magnitude_of, const float* weight, float zero_error[64]) {
    for (int i = 0; i < 64; ++i) zero_error[i] = weight[i] * magnitude_of[i] * magnitude_of[i];
    for (int k = 1; k < 8; ++k)
        for (int row = 0; row < 64; row += 8) zero_error[row + k] += zero_error[row + k - 1];
    for (int row = 8; row < 64; row += 8) {
        const float before = zero_error[row - 1];
        for (int k = 0; k < 8; ++k) zero_error[row + k] += before;
    }
}

// Adds position i, whose value rounds to `rounded` (not 0), as the next
// candidate, at the cheaper of its two levels and from the cheaper chain.
void AddCandidate(Chains& chains, int i, uint32_t rounded, float a, const float* weight,
                  const float* zero_error, float lambda, const RVXSymbolCosts& costs, int reach) {
    const int k = chains.count++;
    chains.position[k] = i;
    chains.best[k] = std::numeric_limits<float>::max();
    const int from_candidate = std::max(chains.anchor, k - reach);
    for (uint32_t level = rounded; level >= std::max<uint32_t>(rounded - 1, 1); --level) {
        const float error = weight[i] * (a - float(level)) * (a - float(level));
        // Chains from the DC, or from one of the last few non-zero
        // candidates: zeroing a longer stretch of them hardly ever pays.
        for (int m = from_candidate < 0 ? -1 : from_candidate; m < k; m = m < 0 ? std::max(0, k - reach) : m + 1) {
            const int j = m < 0 ? 0 : chains.position[m];
            const float before = m < 0 ? 0 : chains.best[m];
            const float cost = before + (zero_error[i - 1] - zero_error[j]) +
                               lambda * costs.ValueBits(uint32_t(i - j - 1), level) + error;
            if (cost < chains.best[k]) {
                chains.best[k] = cost;
                chains.from[k] = m;
                chains.magnitude[k] = uint16_t(level);
            }
        }
        if (level == 1) break;
    }
    if (rounded >= (reach >= kLongReach ? kAnchorLevel : kAnchorLevel - 1)) chains.anchor = k;
}

// The candidate whose chain, with the zeros and end of block after it, is
// cheapest; -1 when ending right after the DC is.
int CheapestEnd(const Chains& chains, const float* zero_error, float lambda, const RVXSymbolCosts& costs) {
    float end_cost = chains.anchor >= 0 ? std::numeric_limits<float>::max()
                                        : zero_error[63] + lambda * costs.EndOfBlockBits();
    int last = -1;
    for (int k = std::max(chains.anchor, 0); k < chains.count; ++k) {
        const int j = chains.position[k];
        const float cost = chains.best[k] + (zero_error[63] - zero_error[j]) +
                           (j < 63 ? lambda * costs.EndOfBlockBits() : 0);
        if (cost < end_cost) {
            end_cost = cost;
            last = k;
        }
    }
    return last;
}

}  // namespace

void TrellisMagnitudes(const float magnitude[64], const float weight[64], float lambda,
                       const RVXSymbolCosts& costs, int reach, int16_t levels[64]) {
    float zero_error[64];
    ZeroErrors(magnitude, weight, zero_error);
    Chains chains;
    for (int i = 1; i < 64; ++i) {
        const uint32_t rounded = std::min(uint32_t(magnitude[i] + 0.5f), kMaxMagnitude);
        if (rounded != 0) AddCandidate(chains, i, rounded, magnitude[i], weight, zero_error, lambda, costs, reach);
    }
    std::fill(levels + 1, levels + 64, int16_t(0));
    for (int k = CheapestEnd(chains, zero_error, lambda, costs); k >= 0; k = chains.from[k])
        levels[chains.position[k]] = int16_t(chains.magnitude[k]);
}

}  // namespace _rvxlib_
