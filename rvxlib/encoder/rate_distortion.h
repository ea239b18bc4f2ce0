#pragma once
// The arithmetic of choosing by cost: J = D + lambda * R, with D the squared
// error of the pictures (in 8-bit sample units, summed over the samples a
// choice affects) and R the bits the choice writes.
//
// A frame's block code is built from the frame's own symbols, so while a
// frame is being decided its code does not exist yet. RVXSymbolCosts stands
// in for it: a generic estimate to start from, then the code lengths an
// earlier frame of the same kind ended up with.

#include <cstddef>
#include <cstdint>

#include "pqxlib/huffman.h"
#include "rvxlib/dsp/block_convert.h"
#include "rvxlib/format/frame_bitstream.h"

namespace _rvxlib_ {

class RVXSymbolCosts {
public:
    // The generic estimate: short codes for short runs and small values.
    RVXSymbolCosts();

    // The lengths the frame coder would derive from these blocks (zigzag
    // order, DC already predicted); symbols the blocks never use are
    // priced a little above the longest code, so choosing them stays
    // possible but unattractive.
    void LearnFrom(const int16_t* blocks, std::size_t count);

    // Bits of a value of magnitude `magnitude` (1..2047) after `run` (0..63)
    // zeros, 15-zero symbols, value bits and all.
    float ValueBits(uint32_t run, uint32_t magnitude) const {
        return value_bits_[run][_pqxlib_::SizeClass(magnitude)];
    }
    float EndOfBlockBits() const { return bits_[_pqxlib_::kEndOfBlockSymbol]; }
    // Bits of a whole block as the frame coder would write it.
    float BlockBits(const int16_t* block) const;

private:
    void Tabulate();

    float bits_[_pqxlib_::kHuffmanSymbolCount];  // per symbol, code only
    // Per run and size class, everything.
    float value_bits_[_pqxlib_::kCoefficientsPerBlock][_pqxlib_::kSizeClassCount];
};

// Lambda for a macroblock quantised with scale q under `matrix`: tied to
// the square of its mean AC step in sample units, as the established
// encoders tie it. The one place lambda is derived from a quantiser.
float LambdaForQuantiser(uint16_t q, const uint8_t matrix[64]);

// Mean of the 63 AC steps of a matrix.
float MeanAcStep(const uint8_t matrix[64]);

// What a prediction's fields cost, priced two ways. kPredictionExtraBits
// (17) is what a predicted macroblock writes beyond an unpredicted one of the
// same frame, its direction and vector: the fast preset's fixed decisions
// charge a vector this. kPredictedFieldsBits (18) is all a predicted
// macroblock writes after its quantiser, the use flag included: the price of
// a vector wherever the levels are chosen by cost (the deciding presets, and
// the fixed decisions steered past quality 32), and what the deciding
// presets add to a match when they judge whether coding without prediction
// is worth a trial.
inline constexpr float kPredictionExtraBits = float(kPredictionFieldBits);
inline constexpr float kPredictedFieldsBits = float(kUseFlagBits + kPredictionFieldBits);

// Bits weighed by lambda in the motion search's units (squared errors over
// 256): what a prediction must save to be worth its fields.
uint64_t SearchCostOfBits(float lambda, float bits);

// Chooses the levels of one block (zigzag order) from its unrounded values
// (in units of each coefficient's step). weight[i] is the squared size in
// sample units of one step of coefficient i. The DC is rounded to the
// nearest level; the AC levels are rounded with a dead zone (reach 0), or
// chosen by a trellis among the nearest, the one below and zero so that
// distortion plus lambda times bits is smallest over the block's runs and
// end of block. Levels stay within +-2047.
// `reach` is how many non-zero values back a run may start (more finds
// cheaper blocks and takes longer; 8 is near the full search).
// A block converter is handed this as its level rule's chooser.
RVXLevelChoice ChooseLevels(const float* unrounded, const float* weight, int16_t* levels, float lambda,
                            const RVXSymbolCosts& costs, int reach);

}  // namespace _rvxlib_
