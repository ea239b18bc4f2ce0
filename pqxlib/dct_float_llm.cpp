#include "pqxlib/dct_float_llm.h"

#include "pqxlib/quant_tables.h"

namespace _pqxlib_ {

CDCT2DFltLLM::CDCT2DFltLLM() : routines_(float_llm_kernels_portable()) {}

CDCT2DFltLLM::~CDCT2DFltLLM() = default;

int32_t CDCT2DFltLLM::Init(uint32_t features) {
    if (work_.data() == nullptr) {
        work_.Resize(kBlockValues);
        constants_.Resize(kFloatLLMConstantCount * kBlockChannels);
        steps_.Resize(kBlockValues);
        // Until tables arrive every step is 1 (near lossless), never 0.
        for (int i = 0; i < kBlockValues; ++i) steps_[i] = 1.0f;
    }
    routines_ = float_llm_kernels_for(features);
    for (int c = 0; c < kFloatLLMConstantCount; ++c) constants_[c] = kFloatLLMConstants[c];
    scale_ = 1.0f;
    reciprocals_stale_ = true;
    return 1;
}

int32_t CDCT2DFltLLM::Release() {
    work_ = AlignedBuffer<float>();
    constants_ = AlignedBuffer<float>();
    steps_ = AlignedBuffer<float>();
    return 1;
}

int32_t CDCT2DFltLLM::SetQuantTables(const uint8_t* const tables[4]) {
    if (!QuantTablesUsable(tables) || steps_.data() == nullptr) return 0;
    for (int i = 0; i < 64; ++i) {
        for (int k = 0; k < 4; ++k) steps_[4 * i + k] = static_cast<float>(tables[k][i]);
    }
    reciprocals_stale_ = true;
    return 1;
}

int32_t CDCT2DFltLLM::SetQuantScale(uint16_t scale) {
    if (scale == 0) return 0;
    scale_ = static_cast<float>(scale);
    reciprocals_stale_ = true;
    return 1;
}

int32_t CDCT2DFltLLM::SetChannels(int32_t count) {
    if (count < 1 || count > kBlockChannels) return 0;
    lanes_ = count;
    return 1;
}

int32_t CDCT2DFltLLM::Forward(int16_t* block) {
    if (block == nullptr || work_.data() == nullptr) return 0;
    float* work = work_.data();
    routines_.load(block, work, lanes_, nullptr);
    routines_.row_forward(work, constants_.data());
    routines_.column_forward(work, constants_.data());
    if (keep_unrounded_) {
        // By reciprocals, which may differ from the store's quotient in the
        // last place: these values only guide a choice of levels.
        float* reciprocals = reciprocals_.data();
        if (reciprocals_stale_) {
            const float* steps = steps_.data();
            for (int i = 0; i < kBlockValues; ++i) reciprocals[i] = 2.0f / (scale_ * steps[i]);
            reciprocals_stale_ = false;
        }
        float* unrounded = unrounded_.data();
        for (int i = 0; i < kBlockValues; ++i) unrounded[i] = work[i] * reciprocals[i];
    }
    routines_.store_forward(work, block, lanes_, steps_.data(), scale_);
    return 1;
}

void CDCT2DFltLLM::KeepUnrounded(bool keep) {
    keep_unrounded_ = keep;
    if (keep && unrounded_.data() == nullptr) {
        unrounded_.Resize(kBlockValues);
        reciprocals_.Resize(kBlockValues);
    }
    reciprocals_stale_ = true;
}

int32_t CDCT2DFltLLM::Inverse(int16_t* block) {
    if (block == nullptr || work_.data() == nullptr) return 0;
    float* work = work_.data();
    routines_.load(block, work, lanes_, steps_.data());
    routines_.column_inverse(work, constants_.data());
    routines_.row_inverse(work, constants_.data());
    routines_.store_inverse(work, block, lanes_, scale_);
    return 1;
}

}  // namespace _pqxlib_
