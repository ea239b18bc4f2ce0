#pragma once
// Single-precision DCT on the Loeffler-Ligtenberg-Moschytz flow graph.
//
// The video decoder must rebuild exactly what the encoder kept as its
// reference, so Inverse gives the same bits wherever it runs: a fixed order
// of float operations, no fused multiply-add, no reassociation.
// Quantised coefficients mean about 16 * X / (step * scale) for an
// orthonormal DCT coefficient X, the same as CDCT2DIntAAN's.

#include <cstdint>

#include "pqxlib/conv_interface.h"
#include "pqxlib/dct_float_llm_kernels.h"
#include "support/aligned_alloc.h"

namespace _pqxlib_ {

class CDCT2DFltLLM : public IPQXConvInterface {
public:
    CDCT2DFltLLM();
    ~CDCT2DFltLLM() override;
    int32_t Init(uint32_t features) override;
    int32_t Flush() override { return 1; }
    int32_t Release() override;
    int32_t SetQuantTables(const uint8_t* const tables[4]) override;
    int32_t SetQuantScale(uint16_t scale) override;
    int32_t SetChannels(int32_t count) override;
    int32_t Forward(int16_t* block) override;
    int32_t Inverse(int16_t* block) override;
    void KeepUnrounded(bool keep) override;
    const float* Unrounded() const override { return keep_unrounded_ ? unrounded_.data() : nullptr; }

private:
    int32_t lanes_ = kBlockChannels;
    FloatLLMKernels routines_;
    AlignedBuffer<float> work_;       // 256 floats, coefficient-block layout
    AlignedBuffer<float> constants_;  // kFloatLLMConstantCount x 4 lanes
    AlignedBuffer<float> steps_;      // 256 floats, coefficient-block layout
    float scale_ = 1.0f;
    bool keep_unrounded_ = false;
    AlignedBuffer<float> unrounded_;    // 256 floats, coefficient-block layout
    AlignedBuffer<float> reciprocals_;  // of the steps times the scale, halved
    bool reciprocals_stale_ = true;
};

}  // namespace _pqxlib_
