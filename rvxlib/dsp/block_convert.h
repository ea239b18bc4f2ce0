#pragma once
// Block converters: one macroblock of the pixel block (16 x 16 x 4 samples)
// to the macroblock's coded 8 x 8 blocks and back. Chroma is subsampled for
// the picture layout, 8 x 8 planes are gathered into the transform's
// coefficient block, and each block is written in zigzag order with its DC
// predicted from the previous macroblock's.

#include "rvxlib/dsp/block_convert_kernels.h"
#include "rvxlib/dsp/rvx_interface.h"
#include "support/aligned_alloc.h"

#include <cstddef>
#include <cstdint>

namespace _pqxlib_ {
class IPQXConvInterface;
class CHuffmanCoder;
}  // namespace _pqxlib_

namespace _rvxlib_ {

class RVXSymbolCosts;

constexpr uint32_t kValuesPerBlock = 64;

// What one block's quantisation settles: the distortion of its samples.
struct RVXLevelChoice {
    float distortion = 0;
    float ac_bits = 0;  // the AC values and end of block, as if the DC were not 0
};

// Chooses the levels of one block (zigzag order) from its unrounded values;
// the encoder's rate-distortion model supplies it (ChooseLevels).
using RVXLevelChooser = RVXLevelChoice (*)(const float* unrounded, const float* weight, int16_t* levels,
                                           float lambda, const RVXSymbolCosts& costs, int reach);

// How an encoder that decides by cost wants the levels of its blocks chosen.
// steps are the matrix's steps in zigzag order; the quantiser in force
// scales them. A rule without a chooser is refused.
struct RVXLevelRule {
    float steps[kValuesPerBlock] = {};
    float lambda = 0;
    const RVXSymbolCosts* costs = nullptr;
    int trellis_reach = 0;  // choose levels by cost; 0 rounds
    RVXLevelChooser choose = nullptr;
};
constexpr uint32_t kMaxBlocksPerMacroblock = 16;

class IRVXConvBlock : public IRVXInterface {
public:
    // The transform is not owned and must outlive the converter.
    IRVXConvBlock(_pqxlib_::IPQXConvInterface* transform, uint32_t blocks_per_macroblock);

    // 0 without a transform.
    int32_t Init(uint32_t features) override;

    // Codes the macroblock in the input buffer into the blocks at the output
    // position. Calling it again before ReconstructMacroblock codes the same
    // macroblock afresh into the same blocks, from the same predictors.
    // 0 without input, or when the coefficient buffer is full.
    virtual int32_t CodeMacroblock();
    // Rebuilds the input buffer from the blocks CodeMacroblock just wrote,
    // then moves the output position past them. 0 if nothing was coded.
    virtual int32_t ReconstructMacroblock();
    // Reads the macroblock's blocks through the decoder set by SetDecoder and
    // rebuilds the input buffer exactly as ReconstructMacroblock would have.
    // 0 on a corrupt or truncated stream (the frame must then be abandoned).
    virtual int32_t DecodeMacroblock();

    // All eight DC predictors and the quantiser in force become 0; called at
    // the start of every macroblock row.
    void ResetPredictors();
    // Makes q the quantiser in force, rescaling the predictors from the old
    // one, and hands it to the transform. Refuses 0 (returns 0, nothing
    // changes), which no coded frame carries.
    int32_t SetQuantiser(uint16_t q);
    // Allocates the frame's coefficient buffer (columns x rows macroblocks,
    // owned by the converter until the next call) and moves the output
    // position to its start. Returns it and the block count; null and 0 for an
    // empty or absurd size.
    int16_t* AllocCoefficients(uint32_t columns, uint32_t rows, uint32_t* count);
    // Codes into a caller's buffer of capacity_blocks blocks instead.
    void SetOutput(int16_t* blocks, std::size_t capacity_blocks);

    // The pixel block's working buffer (16 x 16 pixels x 4 channels).
    void SetInput(int16_t* samples) { input_ = samples; }
    // The coder whose reader DecodeMacroblock uses; its table is read already.
    void SetDecoder(_pqxlib_::CHuffmanCoder* decoder) { decoder_ = decoder; }

    uint32_t BlocksPerMacroblock() const { return blocks_per_macroblock_; }
    // The blocks of the macroblock last coded (valid until ReconstructMacroblock).
    const int16_t* CurrentBlocks() const { return output_; }
    // Blocks written and reconstructed so far in the coefficient buffer.
    std::size_t BlocksWritten() const;
    uint16_t Quantiser() const { return quantiser_; }
    // With a rule, CodeMacroblock chooses every block's levels by it from the
    // transform's unrounded values and measures the squared error of the
    // coded samples (Distortion); without one (the default) the transform's
    // own rounding stands. The rule is borrowed and may change between
    // macroblocks. Returns false, leaving no rule, when the transform cannot
    // give its unrounded values.
    bool SetLevelRule(const RVXLevelRule* rule);
    // Lets a trellis rule round instead, for quick trials of a macroblock
    // whose final coding will use the trellis.
    void SuspendTrellis(bool suspend) { trellis_suspended_ = suspend; }
    // Per block of the macroblock last coded: the channel whose DC chain it
    // continues (its DC was predicted from the previous macroblock's), or
    // -1 when its DC was predicted from a block of the same macroblock.
    int8_t ChainChannel(uint32_t block) const { return chain_channel_[block]; }
    // Squared sample error of the macroblock last coded under a rule.
    float Distortion() const { return distortion_; }
    // Bits of its blocks' AC values and ends of block, by the rule's costs.
    float AcBits() const { return ac_bits_; }

    // The predictors and quantiser between two macroblocks. An encoder that
    // tries a macroblock under several quantisers goes back to the state
    // before it exactly; changing the quantiser there and back again would
    // not (the predictors' rescaling truncates), and the decoder only ever
    // sees the final change.
    struct State {
        int16_t predictors[8];
        uint16_t quantiser;
    };
    // Call only between macroblocks (no CodeMacroblock pending).
    State SaveState() const;
    // Back to a saved state; a macroblock coded since is forgotten, so the
    // next CodeMacroblock codes into the same blocks afresh.
    void RestoreState(const State& state);

    // Coding predictors 0..3, then reconstruction predictors 0..3.
    int16_t Predictor(int index) const { return predictors_[index]; }
    void SetPredictor(int index, int16_t value) { predictors_[index] = value; }
    const uint8_t* ScanTable(int slot) const { return scan_[slot]; }

protected:
    // Per layout: gather, transform and emit the blocks of one macroblock.
    virtual void CodeBlocks() = 0;
    // Per layout: fill the slots from the blocks at fill_, inverse transform,
    // scatter into the input buffer.
    virtual void ReconstructBlocks() = 0;

    // Writes slot `slot` of the work block in zigzag order as the next block,
    // its DC predicted from channel `channel`'s coding predictor.
    void EmitSlot(int slot, int channel, bool first_of_channel);
    // Puts the next block back into slot `slot`, adding the channel's
    // reconstruction predictor to its DC.
    void FillSlot(int slot, int channel, bool first_of_channel);
    // Slots 0 .. count - 1 as the next count blocks in one pass, DCs not yet
    // predicted; returns the first. PredictCodedDc then predicts one of them:
    // call it in block order, as the predictors carry from one to the next.
    int16_t* EmitSlots(int count);
    // Applies the level rule to count blocks just emitted from slots
    // first_slot, first_slot + 1, ...
    void ChooseEmittedLevels(int16_t* blocks, int first_slot, int count);
    void PredictCodedDc(int16_t* block, int channel, bool first_of_channel);
    // The next count blocks back into slots 0 .. count - 1; returns the first.
    // PredictFilledDc then puts block's predicted DC into its slot, in order.
    const int16_t* FillSlots(int count);
    void PredictFilledDc(int slot, const int16_t* block, int channel, bool first_of_channel);
    void ClearSlot(int slot);
    // The full-resolution planes of the subsampled layouts.
    void CodeFullPlanes(bool alpha);
    void ReconstructFullPlanes(bool alpha);

    _pqxlib_::IPQXConvInterface* transform_;
    _pqxlib_::CHuffmanCoder* decoder_ = nullptr;
    uint8_t scan_[4][kValuesPerBlock];
    int16_t* input_ = nullptr;
    int16_t* work_;
    int16_t* emit_ = nullptr;        // next block EmitSlot writes
    const int16_t* fill_ = nullptr;  // next block FillSlot reads
    uint32_t blocks_per_macroblock_;
    BlockConvertKernels kernels_;

private:
    AlignedBuffer<int16_t> work_buffer_;
    AlignedBuffer<int16_t> coefficients_;
    AlignedBuffer<int16_t> decoded_;
    int16_t* output_ = nullptr;
    int16_t* output_end_ = nullptr;
    int16_t* output_start_ = nullptr;
    int16_t predictors_[8] = {};
    int16_t saved_coding_predictors_[4] = {};
    bool coded_pending_ = false;
    uint16_t quantiser_ = 0;
    const RVXLevelRule* level_rule_ = nullptr;
    float weights_[kValuesPerBlock] = {};  // the rule's steps at the quantiser in force, squared
    float distortion_ = 0;
    float ac_bits_ = 0;
    bool trellis_suspended_ = false;
    int8_t chain_channel_[kMaxBlocksPerMacroblock] = {};
};

// 4:4:4 pictures, YUV or RGB: per quadrant, [alpha], channel 2, 1, 0.
class CRVXConvBlock : public IRVXConvBlock {
public:
    CRVXConvBlock(_pqxlib_::IPQXConvInterface* transform, bool alpha);

protected:
    void CodeBlocks() override;
    void ReconstructBlocks() override;

private:
    int channels_;
};

// 4:2:2: [A0..A3], Y0..Y3, U top, U bottom, V top, V bottom.
class CRVXConvBlockYUV422 : public IRVXConvBlock {
public:
    CRVXConvBlockYUV422(_pqxlib_::IPQXConvInterface* transform, bool alpha);

protected:
    void CodeBlocks() override;
    void ReconstructBlocks() override;

private:
    bool alpha_;
};

// 4:1:1 (chroma halved both ways): [A0..A3], Y0..Y3, U, V.
class CRVXConvBlockYUV411 : public IRVXConvBlock {
public:
    CRVXConvBlockYUV411(_pqxlib_::IPQXConvInterface* transform, bool alpha);

protected:
    void CodeBlocks() override;
    void ReconstructBlocks() override;

private:
    bool alpha_;
};

}  // namespace _rvxlib_
