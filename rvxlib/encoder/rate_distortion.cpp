#include "rvxlib/encoder/rate_distortion.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "pqxlib/huffman.h"

namespace _rvxlib_ {
namespace {

using _pqxlib_::kMaxCoefficientMagnitude;
constexpr uint32_t kMaxMagnitude = kMaxCoefficientMagnitude;
// A value this large costs far less than the error of dropping it; a short
// reach takes one level less.
constexpr uint32_t kAnchorLevel = 3;
constexpr int kLongReach = 8;
// Without the trellis an AC level reaches the next integer from this much
// below it: a dead zone that drops the many values that would cost more
// bits than the error they remove.
constexpr float kAcRounding = 0.3f;

// Lambda over the squared step: where one more bit stops paying for the
// error it removes. Measured on camera footage against luma PSNR: half the
// textbook value for uniform quantisers, since a trial's rounded levels
// overstate the bits the trellis will spend.
constexpr float kLambdaPerSquaredStep = 0.07f;

// A symbol the frame's blocks never use gets no code; priced this far above
// the frame's longest code, choosing it stays possible but unattractive.
constexpr int kUnusedAboveLongest = 2;
constexpr int kMostUnusedBits = _pqxlib_::kHuffmanMaxCodeLength + 2;

}  // namespace

RVXSymbolCosts::RVXSymbolCosts() {
    using namespace _pqxlib_;
    // Symbols 1..14 are never coded.
    for (float& bits : bits_) bits = 16.0f;
    for (uint32_t run = 0; run <= kLongestValueRun; ++run)
        for (int size = 0; size < kSizeClassCount; ++size)
            bits_[ValueSymbol(run, size)] = std::min(15.0f, 2.0f + 1.3f * float(run) + 1.0f * float(size));
    bits_[kEndOfBlockSymbol] = 2.0f;
    bits_[kZeroRunSymbol] = 10.0f;
    Tabulate();
}

void RVXSymbolCosts::Tabulate() {
    using namespace _pqxlib_;
    for (uint32_t run = 0; run < kCoefficientsPerBlock; ++run) {
        float zeros = 0;
        const uint32_t zero_runs = ZeroRunSymbols(run);
        for (uint32_t k = 0; k < zero_runs; ++k) zeros += bits_[kZeroRunSymbol];
        const uint32_t rest = run - kZeroRunLength * zero_runs;
        for (int size = 0; size < kSizeClassCount; ++size)
            value_bits_[run][size] = zeros + bits_[ValueSymbol(rest, size)] + float(ValueBitCount(size));
    }
}

void RVXSymbolCosts::LearnFrom(const int16_t* blocks, std::size_t count) {
    using namespace _pqxlib_;
    uint64_t counts[kHuffmanSymbolCount] = {};
    for (std::size_t b = 0; b < count; ++b) {
        // A value beyond the coder's range is counted as its largest: the
        // coder refuses such a block, the estimate keeps going.
        const bool ends = WalkBlock(blocks + b * kCoefficientsPerBlock, [&](uint32_t run, int value) {
            counts[kZeroRunSymbol] += ZeroRunSymbols(run);
            const uint32_t magnitude = std::min(uint32_t(std::abs(value)), kMaxMagnitude);
            ++counts[ValueSymbol(run - kZeroRunLength * ZeroRunSymbols(run), SizeClass(magnitude))];
        });
        if (ends) ++counts[kEndOfBlockSymbol];
    }
    uint8_t lengths[kHuffmanSymbolCount];
    BuildCodeLengths(counts, lengths);
    const uint8_t longest = *std::max_element(lengths, lengths + kHuffmanSymbolCount);
    const float unused = float(std::min<int>(longest + kUnusedAboveLongest, kMostUnusedBits));
    for (int symbol = 0; symbol < kHuffmanSymbolCount; ++symbol)
        bits_[symbol] = lengths[symbol] ? float(lengths[symbol]) : unused;
    Tabulate();
}

float RVXSymbolCosts::BlockBits(const int16_t* block) const {
    float bits = 0;
    const bool ends = _pqxlib_::WalkBlock(block, [&](uint32_t run, int value) {
        bits += ValueBits(run, std::min(uint32_t(std::abs(value)), kMaxMagnitude));
    });
    return ends ? bits + EndOfBlockBits() : bits;
}

float MeanAcStep(const uint8_t matrix[64]) {
    float sum = 0;
    for (int k = 1; k < 64; ++k) sum += matrix[k];
    return sum / 63;
}

float LambdaForQuantiser(uint16_t q, const uint8_t matrix[64]) {
    const float step = float(q) * MeanAcStep(matrix) / 16.0f;
    return kLambdaPerSquaredStep * step * step;
}

uint64_t SearchCostOfBits(float lambda, float bits) { return uint64_t(lambda * bits / 256.0f); }

namespace {

// The bits of levels 1..63 after a DC that is not 0.
float AcBits(const int16_t* levels, const RVXSymbolCosts& costs) {
    float bits = 0;
    const bool ends = _pqxlib_::WalkBlock(
        levels, [&](uint32_t run, int value) { bits += costs.ValueBits(run, uint32_t(std::abs(value))); }, 0);
    return ends ? bits + costs.EndOfBlockBits() : bits;
}

// The sum of weight[i] * value[i]^2 over a block (value[0] included, so a
// caller clears it to leave the DC out), added up in eight fixed lanes: the
// same result on every machine, and a loop the compiler puts on vector
// registers.
float WeightedSquares(const float* weight, const float* value) {
    float lanes[8] = {};
    for (int i = 0; i < 64; i += 8)
        for (int k = 0; k < 8; ++k) lanes[k] += weight[i + k] * value[i + k] * value[i + k];
    return ((lanes[0] + lanes[4]) + (lanes[1] + lanes[5])) + ((lanes[2] + lanes[6]) + (lanes[3] + lanes[7]));
}

}  // namespace

RVXLevelChoice ChooseLevels(const float* unrounded, const float* weight, int16_t* levels, float lambda,
                            const RVXSymbolCosts& costs, int reach) {
    RVXLevelChoice choice;
    const float dc_magnitude = std::min(std::floor(std::fabs(unrounded[0]) + 0.5f), float(kMaxMagnitude));
    levels[0] = int16_t(unrounded[0] < 0 ? -dc_magnitude : dc_magnitude);
    const float dc_error = std::fabs(unrounded[0]) - dc_magnitude;
    // Every loop over the 64 values below is branch-free, so it runs on
    // vector registers.
    float magnitude_of[64];
    for (int i = 0; i < 64; ++i) magnitude_of[i] = std::fabs(unrounded[i]);
    magnitude_of[0] = 0;
    // Most blocks round to nothing: their error is their energy.
    const float smallest_kept = reach <= 0 ? 1.0f - kAcRounding : 0.5f;
    int kept = 0;
    for (int i = 0; i < 64; ++i) kept += magnitude_of[i] >= smallest_kept;
    if (kept == 0) {
        std::fill(levels + 1, levels + 64, int16_t(0));
        choice.distortion = weight[0] * dc_error * dc_error + WeightedSquares(weight, magnitude_of);
        choice.ac_bits = costs.EndOfBlockBits();
        return choice;
    }
    if (reach <= 0) {
        float error[64];
        for (int i = 0; i < 64; ++i) {
            const int32_t magnitude = std::min(int32_t(magnitude_of[i] + kAcRounding), int32_t(kMaxMagnitude));
            error[i] = magnitude_of[i] - float(magnitude);
            const int16_t level = int16_t(magnitude);
            levels[i] = unrounded[i] < 0 ? int16_t(-level) : level;
        }
        levels[0] = int16_t(unrounded[0] < 0 ? -dc_magnitude : dc_magnitude);
        choice.distortion = weight[0] * dc_error * dc_error + WeightedSquares(weight, error);
        choice.ac_bits = AcBits(levels, costs);
        return choice;
    }

    // zero_error[i]: the error of coding AC positions 1..i as zeros.
    // Summed by rows of eight, then the rows' totals: eight short chains of
    // additions instead of one long one.
    float zero_error[64];
    for (int i = 0; i < 64; ++i) zero_error[i] = weight[i] * magnitude_of[i] * magnitude_of[i];
    for (int k = 1; k < 8; ++k)
        for (int row = 0; row < 64; row += 8) zero_error[row + k] += zero_error[row + k - 1];
    for (int row = 8; row < 64; row += 8) {
        const float before = zero_error[row - 1];
        for (int k = 0; k < 8; ++k) zero_error[row + k] += before;
    }

    // Chains of non-zero levels: best[k] is the cheapest way to code the
    // positions up to candidate k with a non-zero level at k, from[k] the
    // candidate before it (-1: the first after the DC).
    int position[63];
    float best[63];
    int from[63];
    uint16_t magnitude[63];
    int count = 0;
    int anchor = -1;  // the last candidate no chain may skip
    for (int i = 1; i < 64; ++i) {
        const float a = magnitude_of[i];
        const uint32_t rounded = std::min(uint32_t(a + 0.5f), kMaxMagnitude);
        if (rounded == 0) continue;
        const int k = count++;
        position[k] = i;
        best[k] = std::numeric_limits<float>::max();
        const int from_candidate = std::max(anchor, k - reach);
        for (uint32_t level = rounded; level >= std::max<uint32_t>(rounded - 1, 1); --level) {
            const float error = weight[i] * (a - float(level)) * (a - float(level));
            // Chains from the DC, or from one of the last few non-zero
            // candidates: zeroing a longer stretch of them hardly ever pays.
            for (int m = from_candidate < 0 ? -1 : from_candidate; m < k; m = m < 0 ? std::max(0, k - reach) : m + 1) {
                const int j = m < 0 ? 0 : position[m];
                const float before = m < 0 ? 0 : best[m];
                const float cost = before + (zero_error[i - 1] - zero_error[j]) +
                                   lambda * costs.ValueBits(uint32_t(i - j - 1), level) + error;
                if (cost < best[k]) {
                    best[k] = cost;
                    from[k] = m;
                    magnitude[k] = uint16_t(level);
                }
            }
            if (level == 1) break;
        }
        // A value this large costs far less than the error of dropping it.
        if (rounded >= (reach >= kLongReach ? kAnchorLevel : kAnchorLevel - 1)) anchor = k;
    }
    float end_cost = anchor >= 0 ? std::numeric_limits<float>::max() : zero_error[63] + lambda * costs.EndOfBlockBits();
    int last = -1;
    for (int k = std::max(anchor, 0); k < count; ++k) {
        const int j = position[k];
        const float cost = best[k] + (zero_error[63] - zero_error[j]) + (j < 63 ? lambda * costs.EndOfBlockBits() : 0);
        if (cost < end_cost) {
            end_cost = cost;
            last = k;
        }
    }
    std::fill(levels + 1, levels + 64, int16_t(0));
    for (int k = last; k >= 0; k = from[k]) {
        const int i = position[k];
        levels[i] = int16_t(unrounded[i] < 0 ? -magnitude[k] : magnitude[k]);
    }
    float error[64];
    for (int i = 0; i < 64; ++i) error[i] = unrounded[i] - float(levels[i]);
    error[0] = 0;
    choice.distortion = weight[0] * dc_error * dc_error + WeightedSquares(weight, error);
    choice.ac_bits = AcBits(levels, costs);
    return choice;
}

}  // namespace _rvxlib_
