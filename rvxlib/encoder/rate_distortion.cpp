#include "rvxlib/encoder/rate_distortion.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "pqxlib/huffman.h"
#include "rvxlib/encoder/trellis.h"

namespace _rvxlib_ {
namespace {

using _pqxlib_::kMaxCoefficientMagnitude;
constexpr uint32_t kMaxMagnitude = kMaxCoefficientMagnitude;
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

// The levels of AC values rounded with the dead zone; returns their
// weighted squared error.
float RoundWithDeadZone(const float* unrounded, const float* magnitude_of, const float* weight, int16_t* levels) {
    float error[64];
    for (int i = 0; i < 64; ++i) {
        const int32_t magnitude = std::min(int32_t(magnitude_of[i] + kAcRounding), int32_t(kMaxMagnitude));
        error[i] = magnitude_of[i] - float(magnitude);
        const int16_t level = int16_t(magnitude);
        levels[i] = unrounded[i] < 0 ? int16_t(-level) : level;
    }
    return WeightedSquares(weight, error);
}

// The AC levels the trellis chooses, signed as their values; returns their
// weighted squared error.
float ChooseByTrellis(const float* unrounded, const float* magnitude_of, const float* weight, int16_t* levels,
                      float lambda, const RVXSymbolCosts& costs, int reach) {
    TrellisMagnitudes(magnitude_of, weight, lambda, costs, reach, levels);
    for (int i = 1; i < 64; ++i)
        if (unrounded[i] < 0) levels[i] = int16_t(-levels[i]);
    float error[64];
    for (int i = 0; i < 64; ++i) error[i] = unrounded[i] - float(levels[i]);
    error[0] = 0;
    return WeightedSquares(weight, error);
}

}  // namespace

RVXLevelChoice ChooseLevels(const float* unrounded, const float* weight, int16_t* levels, float lambda,
                            const RVXSymbolCosts& costs, int reach) {
    RVXLevelChoice choice;
    const float dc_magnitude = std::min(std::floor(std::fabs(unrounded[0]) + 0.5f), float(kMaxMagnitude));
    const int16_t dc_level = int16_t(unrounded[0] < 0 ? -dc_magnitude : dc_magnitude);
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
    float ac_error;
    if (kept == 0) {
        std::fill(levels + 1, levels + 64, int16_t(0));
        ac_error = WeightedSquares(weight, magnitude_of);
    } else if (reach <= 0) {
        ac_error = RoundWithDeadZone(unrounded, magnitude_of, weight, levels);
    } else {
        ac_error = ChooseByTrellis(unrounded, magnitude_of, weight, levels, lambda, costs, reach);
    }
    levels[0] = dc_level;
    choice.distortion = weight[0] * dc_error * dc_error + ac_error;
    choice.ac_bits = kept == 0 ? costs.EndOfBlockBits() : AcBits(levels, costs);
    return choice;
}

}  // namespace _rvxlib_
