#include "rvxlib/dsp/block_convert.h"

#include "pqxlib/conv_interface.h"
#include "pqxlib/huffman.h"
#include "pqxlib/scan_tables.h"
#include "rvxlib/dsp/block_convert_kernels.h"
#include "rvxlib/dsp/pixel_block.h"

#include <algorithm>
#include <cstring>

namespace _rvxlib_ {
namespace {

using _pqxlib_::IPQXConvInterface;

// Pixel block: pixel (r, c) channel k at 64r + 4c + k.
inline int PixelIndex(int r, int c, int k) { return 64 * r + 4 * c + k; }

// Decoded blocks arrive in scan order; the converter places them itself.
struct IdentityScan {
    uint8_t table[kValuesPerBlock];
    IdentityScan() {
        for (uint32_t i = 0; i < kValuesPerBlock; ++i) table[i] = static_cast<uint8_t>(i);
    }
};
const IdentityScan kIdentityScan;

// Quadrant q (0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right), all
// four channels, in and out of the work block.
void GatherQuadrant(int16_t* work, const int16_t* in, int q) {
    const int16_t* from = in + PixelIndex(8 * (q >> 1), 8 * (q & 1), 0);
    for (int r = 0; r < 8; ++r) std::memcpy(work + 32 * r, from + 64 * r, 32 * sizeof(int16_t));
}

void ScatterQuadrant(int16_t* in, const int16_t* work, int q) {
    int16_t* to = in + PixelIndex(8 * (q >> 1), 8 * (q & 1), 0);
    for (int r = 0; r < 8; ++r) std::memcpy(to + 64 * r, work + 32 * r, 32 * sizeof(int16_t));
}

}  // namespace

// ---------------------------------------------------------------------------
// Common part

IRVXConvBlock::IRVXConvBlock(IPQXConvInterface* transform, uint32_t blocks_per_macroblock)
    : transform_(transform),
      blocks_per_macroblock_(blocks_per_macroblock),
      kernels_(block_convert_kernels_portable()),
      work_buffer_(_pqxlib_::kBlockValues),
      decoded_(kMaxBlocksPerMacroblock * kValuesPerBlock) {
    work_ = work_buffer_.data();
    _pqxlib_::BuildInterleavedScanTables(scan_);
}

int32_t IRVXConvBlock::Init(uint32_t features) {
    kernels_ = block_convert_kernels_for(features);
    return transform_ != nullptr ? 1 : 0;
}

void IRVXConvBlock::ResetPredictors() {
    for (int16_t& p : predictors_) p = 0;
    quantiser_ = 0;
}

int32_t IRVXConvBlock::SetQuantiser(uint16_t q) {
    if (q == 0) return 0;
    if (q == quantiser_) return 1;
    if (quantiser_ != 0) {
        // Predictors are DC values at the old scale; C++ division truncates
        // toward zero, which is the rule both coder and decoder follow.
        const int32_t c = quantiser_;
        for (int16_t& p : predictors_) p = static_cast<int16_t>(c * p / q);
        for (int16_t& p : saved_coding_predictors_) p = static_cast<int16_t>(c * p / q);
    }
    quantiser_ = q;
    if (transform_ != nullptr) transform_->SetQuantScale(q);
    return 1;
}

int16_t* IRVXConvBlock::AllocCoefficients(uint32_t columns, uint32_t rows, uint32_t* count) {
    const uint64_t blocks = uint64_t{columns} * rows * blocks_per_macroblock_;
    if (count != nullptr) *count = 0;
    if (blocks == 0 || blocks > UINT32_MAX / kValuesPerBlock) {
        SetOutput(nullptr, 0);
        return nullptr;
    }
    const std::size_t values = static_cast<std::size_t>(blocks) * kValuesPerBlock;
    // Every frame of a run has the same size, so the last frame's buffer is
    // cleared and used again: a fresh one per frame would cost the system a
    // page fault and a page of zeros for every 4 KiB of it.
    if (coefficients_.size() == values && coefficients_.data() != nullptr) {
        std::fill_n(coefficients_.data(), values, int16_t{0});
    } else {
        coefficients_.Resize(values);
    }
    SetOutput(coefficients_.data(), static_cast<std::size_t>(blocks));
    if (count != nullptr) *count = static_cast<uint32_t>(blocks);
    return coefficients_.data();
}

void IRVXConvBlock::SetOutput(int16_t* blocks, std::size_t capacity_blocks) {
    output_start_ = output_ = blocks;
    output_end_ = blocks != nullptr ? blocks + capacity_blocks * kValuesPerBlock : nullptr;
    coded_pending_ = false;
}

std::size_t IRVXConvBlock::BlocksWritten() const {
    return output_ == nullptr ? 0 : static_cast<std::size_t>(output_ - output_start_) / kValuesPerBlock;
}

void IRVXConvBlock::EmitSlot(int slot, int channel, bool first_of_channel) {
    int16_t* out = emit_;
    emit_ += kValuesPerBlock;
    kernels_.emit_slots(out, work_, slot, 1);
    if (level_rule_) ChooseEmittedLevels(out, slot, 1);
    PredictCodedDc(out, channel, first_of_channel);
}

int16_t* IRVXConvBlock::EmitSlots(int count) {
    int16_t* out = emit_;
    emit_ += count * kValuesPerBlock;
    kernels_.emit_slots(out, work_, 0, count);
    if (level_rule_) ChooseEmittedLevels(out, 0, count);
    return out;
}

IRVXConvBlock::State IRVXConvBlock::SaveState() const {
    State state;
    std::memcpy(state.predictors, predictors_, sizeof(predictors_));
    state.quantiser = quantiser_;
    return state;
}

void IRVXConvBlock::RestoreState(const State& state) {
    std::memcpy(predictors_, state.predictors, sizeof(predictors_));
    if (state.quantiser != quantiser_ && state.quantiser != 0 && transform_ != nullptr)
        transform_->SetQuantScale(state.quantiser);
    quantiser_ = state.quantiser;
    coded_pending_ = false;
}

bool IRVXConvBlock::SetLevelRule(const RVXLevelRule* rule) {
    level_rule_ = nullptr;
    if (transform_ == nullptr) return rule == nullptr;
    // Rounding alone needs no unrounded values: the transform stops keeping them.
    if (rule == nullptr) {
        transform_->KeepUnrounded(false);
        return true;
    }
    if (rule->choose == nullptr) return false;
    transform_->KeepUnrounded(true);
    if (transform_->Unrounded() == nullptr) return false;
    level_rule_ = rule;
    return true;
}

void IRVXConvBlock::ChooseEmittedLevels(int16_t* blocks, int first_slot, int count) {
    const float* unrounded = transform_->Unrounded();
    for (int b = 0; b < count; ++b) {
        const uint8_t* scan = scan_[first_slot + b];
        float values[kValuesPerBlock];
        for (uint32_t i = 0; i < kValuesPerBlock; ++i) values[i] = unrounded[scan[i]];
        const RVXLevelChoice choice =
            level_rule_->choose(values, weights_, blocks + b * kValuesPerBlock, level_rule_->lambda,
                                *level_rule_->costs, trellis_suspended_ ? 0 : level_rule_->trellis_reach);
        distortion_ += choice.distortion;
        ac_bits_ += choice.ac_bits;
    }
}

void IRVXConvBlock::PredictCodedDc(int16_t* block, int channel, bool first_of_channel) {
    chain_channel_[(block - output_) / kValuesPerBlock] = int8_t(first_of_channel ? channel : -1);
    const int16_t dc = block[0];
    block[0] = static_cast<int16_t>(dc - predictors_[channel]);
    if (first_of_channel) predictors_[channel] = dc;
}

void IRVXConvBlock::FillSlot(int slot, int channel, bool first_of_channel) {
    const int16_t* in = fill_;
    fill_ += kValuesPerBlock;
    kernels_.fill_slots(work_, in, slot, 1);
    PredictFilledDc(slot, in, channel, first_of_channel);
}

const int16_t* IRVXConvBlock::FillSlots(int count) {
    const int16_t* in = fill_;
    fill_ += count * kValuesPerBlock;
    kernels_.fill_slots(work_, in, 0, count);
    return in;
}

void IRVXConvBlock::PredictFilledDc(int slot, const int16_t* block, int channel, bool first_of_channel) {
    const int16_t dc = static_cast<int16_t>(block[0] + predictors_[4 + channel]);
    work_[slot] = dc;
    if (first_of_channel) predictors_[4 + channel] = dc;
}

void IRVXConvBlock::ClearSlot(int slot) { kernels_.clear_slot(work_, slot); }

int32_t IRVXConvBlock::CodeMacroblock() {
    if (input_ == nullptr || transform_ == nullptr || output_ == nullptr) return 0;
    if (coded_pending_) {
        // Coding the same macroblock again (say after changing its prediction):
        // start from the predictors the first attempt started from.
        std::memcpy(predictors_, saved_coding_predictors_, sizeof(saved_coding_predictors_));
    } else {
        if (static_cast<std::size_t>(output_end_ - output_) < blocks_per_macroblock_ * kValuesPerBlock) return 0;
        std::memcpy(saved_coding_predictors_, predictors_, sizeof(saved_coding_predictors_));
    }
    emit_ = output_;
    distortion_ = 0;
    ac_bits_ = 0;
    if (level_rule_) {
        for (uint32_t i = 0; i < kValuesPerBlock; ++i) {
            const float step = level_rule_->steps[i] * float(quantiser_) / 16.0f;
            weights_[i] = step * step;
        }
    }
    CodeBlocks();
    transform_->Flush();
    coded_pending_ = true;
    return 1;
}

int32_t IRVXConvBlock::ReconstructMacroblock() {
    if (!coded_pending_ || input_ == nullptr) return 0;
    fill_ = output_;
    ReconstructBlocks();
    transform_->Flush();
    output_ += blocks_per_macroblock_ * kValuesPerBlock;
    coded_pending_ = false;
    return 1;
}

int32_t IRVXConvBlock::DecodeMacroblock() {
    if (decoder_ == nullptr || input_ == nullptr || transform_ == nullptr) return 0;
    int16_t* blocks = decoded_.data();
    for (uint32_t i = 0; i < blocks_per_macroblock_; ++i)
        if (!decoder_->DecodeBlock(blocks + i * kValuesPerBlock, kIdentityScan.table)) return 0;
    fill_ = blocks;
    ReconstructBlocks();
    transform_->Flush();
    return 1;
}

// ---------------------------------------------------------------------------
// 4:4:4

CRVXConvBlock::CRVXConvBlock(IPQXConvInterface* transform, bool alpha)
    : IRVXConvBlock(transform, alpha ? 16 : 12), channels_(alpha ? 4 : 3) {}

void CRVXConvBlock::CodeBlocks() {
    for (int q = 0; q < 4; ++q) {
        GatherQuadrant(work_, input_, q);
        transform_->SetChannels(4);
        transform_->Forward(work_);
        for (int k = channels_ - 1; k >= 0; --k) EmitSlot(k, k, q == 0);
    }
}

void CRVXConvBlock::ReconstructBlocks() {
    for (int q = 0; q < 4; ++q) {
        for (int k = channels_ - 1; k >= 0; --k) FillSlot(k, k, q == 0);
        if (channels_ == 3) ClearSlot(3);
        transform_->SetChannels(4);
        transform_->Inverse(work_);
        ScatterQuadrant(input_, work_, q);
    }
    if (channels_ == 3) kernels_.set_opaque(input_);
}

// ---------------------------------------------------------------------------
// Full-resolution planes of 4:2:2 and 4:1:1: alpha (if coded), then Y, each
// spread over the four slots so one transform call covers the whole plane.

void IRVXConvBlock::CodeFullPlanes(bool alpha) {
    for (int channel : {3, 2}) {
        if (channel == 3 && !alpha) continue;
        kernels_.gather_plane(work_, input_, channel);
        transform_->SetChannels(4);
        transform_->Forward(work_);
        int16_t* blocks = EmitSlots(4);
        for (int slot = 0; slot < 4; ++slot) PredictCodedDc(blocks + slot * kValuesPerBlock, channel, slot == 0);
    }
}

void IRVXConvBlock::ReconstructFullPlanes(bool alpha) {
    for (int channel : {3, 2}) {
        if (channel == 3 && !alpha) continue;
        const int16_t* blocks = FillSlots(4);
        for (int slot = 0; slot < 4; ++slot)
            PredictFilledDc(slot, blocks + slot * kValuesPerBlock, channel, slot == 0);
        transform_->SetChannels(4);
        transform_->Inverse(work_);
        kernels_.scatter_plane(input_, work_, channel);
    }
    if (!alpha) kernels_.set_opaque(input_);
}

// ---------------------------------------------------------------------------
// 4:2:2

CRVXConvBlockYUV422::CRVXConvBlockYUV422(IPQXConvInterface* transform, bool alpha)
    : IRVXConvBlock(transform, alpha ? 12 : 8), alpha_(alpha) {}

void CRVXConvBlockYUV422::CodeBlocks() {
    CodeFullPlanes(alpha_);
    kernels_.gather_422_chroma(work_, input_);
    transform_->SetChannels(4);
    transform_->Forward(work_);
    int16_t* blocks = EmitSlots(4);
    PredictCodedDc(blocks, 1, true);
    PredictCodedDc(blocks + kValuesPerBlock, 1, false);
    PredictCodedDc(blocks + 2 * kValuesPerBlock, 0, true);
    PredictCodedDc(blocks + 3 * kValuesPerBlock, 0, false);
}

void CRVXConvBlockYUV422::ReconstructBlocks() {
    ReconstructFullPlanes(alpha_);
    const int16_t* blocks = FillSlots(4);
    PredictFilledDc(0, blocks, 1, true);
    PredictFilledDc(1, blocks + kValuesPerBlock, 1, false);
    PredictFilledDc(2, blocks + 2 * kValuesPerBlock, 0, true);
    PredictFilledDc(3, blocks + 3 * kValuesPerBlock, 0, false);
    transform_->SetChannels(4);
    transform_->Inverse(work_);
    kernels_.scatter_422_chroma(input_, work_);
}

// ---------------------------------------------------------------------------
// 4:1:1

CRVXConvBlockYUV411::CRVXConvBlockYUV411(IPQXConvInterface* transform, bool alpha)
    : IRVXConvBlock(transform, alpha ? 10 : 6), alpha_(alpha) {}

void CRVXConvBlockYUV411::CodeBlocks() {
    CodeFullPlanes(alpha_);
    kernels_.gather_411_chroma(work_, input_);
    transform_->SetChannels(2);
    transform_->Forward(work_);
    int16_t* blocks = EmitSlots(2);
    PredictCodedDc(blocks, 1, true);
    PredictCodedDc(blocks + kValuesPerBlock, 0, true);
}

void CRVXConvBlockYUV411::ReconstructBlocks() {
    ReconstructFullPlanes(alpha_);
    const int16_t* blocks = FillSlots(2);
    PredictFilledDc(0, blocks, 1, true);
    PredictFilledDc(1, blocks + kValuesPerBlock, 0, true);
    // Slots 2 and 3 carry nothing; zeros keep every transform's unused lanes
    // defined whether or not it honours the channel count.
    ClearSlot(2);
    ClearSlot(3);
    transform_->SetChannels(2);
    transform_->Inverse(work_);
    kernels_.scatter_411_chroma(input_, work_);
}

}  // namespace _rvxlib_
