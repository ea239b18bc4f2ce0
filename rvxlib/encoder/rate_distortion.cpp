#include "rvxlib/encoder/rate_distortion.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "pqxlib/huffman.h"

namespace _rvxlib_ {
namespace {

constexpr int kEndOfBlock = 0;
constexpr int kFifteenZeros = 15;
constexpr uint32_t kMaxMagnitude = 2047;
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

int SizeClass(uint32_t magnitude) { return 31 - __builtin_clz(magnitude); }

int ValueSymbol(uint32_t run, uint32_t magnitude) { return int(run) + 16 * (SizeClass(magnitude) + 1); }

}  // namespace

RVXSymbolCosts::RVXSymbolCosts() {
    for (int symbol = 0; symbol < 192; ++symbol) {
        const int run = symbol & 15, size = (symbol >> 4) - 1;
        bits_[symbol] = size < 0 ? 16.0f : std::min(15.0f, 2.0f + 1.3f * run + 1.0f * size);
    }
    bits_[kEndOfBlock] = 2.0f;
    bits_[kFifteenZeros] = 10.0f;
    Tabulate();
}

void RVXSymbolCosts::Tabulate() {
    for (uint32_t run = 0; run < 64; ++run) {
        float zeros = 0;
        uint32_t rest = run;
        for (; rest > 15; rest -= 15) zeros += bits_[kFifteenZeros];
        for (int size = 0; size < 11; ++size) value_bits_[run][size] = zeros + bits_[rest + 16 * (size + 1)] + float(size + 1);
    }
}

void RVXSymbolCosts::LearnFrom(const int16_t* blocks, std::size_t count) {
    uint64_t counts[_pqxlib_::kHuffmanSymbolCount] = {};
    for (std::size_t b = 0; b < count; ++b) {
        const int16_t* block = blocks + b * 64;
        // Most blocks of a frame are empty or nearly so: an empty one is an
        // end of block, the others are walked by their values only.
        uint64_t words[16];
        std::memcpy(words, block, sizeof(words));
        uint64_t any = 0;
        for (const uint64_t word : words) any |= word;
        if (any == 0) {
            ++counts[kEndOfBlock];
            continue;
        }
        uint64_t nonzero = 0;
        for (int i = 0; i < 64; ++i) nonzero |= uint64_t(block[i] != 0) << i;
        int next = 0;
        while (nonzero) {
            const int i = __builtin_ctzll(nonzero);
            nonzero &= nonzero - 1;
            uint32_t run = uint32_t(i - next);
            for (; run > 15; run -= 15) ++counts[kFifteenZeros];
            const uint32_t magnitude = std::min(uint32_t(std::abs(int32_t(block[i]))), kMaxMagnitude);
            ++counts[ValueSymbol(run, magnitude)];
            next = i + 1;
        }
        if (next < 64) ++counts[kEndOfBlock];
    }
    uint8_t lengths[_pqxlib_::kHuffmanSymbolCount];
    _pqxlib_::BuildCodeLengths(counts, lengths);
    const uint8_t longest = *std::max_element(lengths, lengths + _pqxlib_::kHuffmanSymbolCount);
    const float unused = float(std::min<int>(longest + 2, 17));
    for (int symbol = 0; symbol < 192; ++symbol) bits_[symbol] = lengths[symbol] ? float(lengths[symbol]) : unused;
    Tabulate();
}

float RVXSymbolCosts::BlockBits(const int16_t* block) const {
    float bits = 0;
    uint32_t run = 0;
    for (int i = 0; i < 64; ++i) {
        const uint32_t magnitude = uint32_t(std::abs(int32_t(block[i])));
        if (magnitude == 0) {
            ++run;
            continue;
        }
        bits += ValueBits(run, std::min(magnitude, kMaxMagnitude));
        run = 0;
    }
    return run > 0 ? bits + bits_[kEndOfBlock] : bits;
}

float MeanAcStep(const uint8_t matrix[64]) {
    float sum = 0;
    for (int k = 1; k < 64; ++k) sum += matrix[k];
    return sum / 63;
}

float LambdaForQuantiser(uint16_t q, float mean_step) {
    const float step = float(q) * mean_step / 16.0f;
    return kLambdaPerSquaredStep * step * step;
}

namespace {

// The bits of levels 1..63 after a DC that is not 0.
float AcBits(const int16_t* levels, const RVXSymbolCosts& costs) {
    uint64_t nonzero = 0;
    for (int i = 1; i < 64; ++i) nonzero |= uint64_t(levels[i] != 0) << i;
    float bits = 0;
    int previous = 0;
    while (nonzero) {
        const int i = __builtin_ctzll(nonzero);
        nonzero &= nonzero - 1;
        bits += costs.ValueBits(uint32_t(i - previous - 1), uint32_t(std::abs(int32_t(levels[i]))));
        previous = i;
    }
    return previous < 63 ? bits + costs.EndOfBlockBits() : bits;
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
