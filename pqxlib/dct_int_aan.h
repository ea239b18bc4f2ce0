#pragma once
// Fixed-point DCT: an AAN-style column pass and a matrix row pass, with the
// quantiser folded into the last step of each direction.
//
// Quantised coefficients mean about 16 * X / (step * scale) for an
// orthonormal DCT coefficient X, the same as CDCT2DFltLLM's, so either
// inverse decodes either forward. The forward direction expects samples in
// -128..255; the inverse returns unclamped samples.

#include <cstdint>

#include "pqxlib/conv_interface.h"
#include "pqxlib/dct_int_aan_kernels.h"
#include "support/aligned_alloc.h"

namespace _pqxlib_ {

// Forward engine: samples to quantised coefficients.
class CDCT2DIntAANForward {
public:
    CDCT2DIntAANForward();
    virtual ~CDCT2DIntAANForward();

protected:
    void EngineInit(uint32_t features);
    void EngineRelease();
    void EngineSetTables(const uint8_t* const tables[4]);
    void EngineSetScale(uint16_t scale);
    void EngineSetChannels(int32_t count) { channels_ = count; }
    bool EngineReady() const { return work_.data() != nullptr; }
    void EngineForward(int16_t* block);
    void EngineFlush() { clean_ = 1; }

private:
    IntAANForwardKernels routines_;
    int32_t channels_ = kBlockChannels;
    IntAANConstants constants_{};
    int16_t scale_factor_;
    AlignedBuffer<int32_t> reciprocals_;  // coefficient-block layout
    AlignedBuffer<int32_t> work_;         // planar: 64 * channel + 8 * row + column
    uint8_t clean_ = 1;  // no run of transforms open since the last Flush
};

// Inverse engine: quantised coefficients to samples.
class CDCT2DIntAANInverse {
public:
    CDCT2DIntAANInverse();
    virtual ~CDCT2DIntAANInverse();

protected:
    void EngineInit(uint32_t features);
    void EngineRelease();
    void EngineSetTables(const uint8_t* const tables[4]);
    void EngineSetScale(uint16_t scale) { scale_factor_ = static_cast<int16_t>(scale); }
    void EngineSetChannels(int32_t count) { channels_ = count; }
    bool EngineReady() const { return work_.data() != nullptr; }
    void EngineInverse(int16_t* block);
    void EngineFlush() { clean_ = 1; }

private:
    IntAANInverseKernels routines_;
    int32_t channels_ = kBlockChannels;
    IntAANConstants constants_{};
    int16_t scale_factor_ = 1;
    AlignedBuffer<int16_t> steps_;  // coefficient-block layout
    AlignedBuffer<int16_t> work_;   // planar: 64 * channel + 8 * row + column
    uint8_t clean_ = 1;  // no run of transforms open since the last Flush
};

// Both directions: the encoder's integer DCT.
class CDCT2DIntAAN : public CDCT2DIntAANForward,
                     public CDCT2DIntAANInverse,
                     public IPQXConvInterface {
public:
    CDCT2DIntAAN() = default;
    ~CDCT2DIntAAN() override;
    int32_t Init(uint32_t features) override;
    int32_t Flush() override;
    int32_t Release() override;
    int32_t SetQuantTables(const uint8_t* const tables[4]) override;
    int32_t SetQuantScale(uint16_t scale) override;
    int32_t SetChannels(int32_t count) override;
    int32_t Forward(int16_t* block) override;
    int32_t Inverse(int16_t* block) override;
};

// The inverse alone, for decoding; Forward is not supported.
class CDCT2DIntAANInv : public CDCT2DIntAANInverse, public IPQXConvInterface {
public:
    CDCT2DIntAANInv() = default;
    ~CDCT2DIntAANInv() override;
    int32_t Init(uint32_t features) override;
    int32_t Flush() override;
    int32_t Release() override;
    int32_t SetQuantTables(const uint8_t* const tables[4]) override;
    int32_t SetQuantScale(uint16_t scale) override;
    int32_t SetChannels(int32_t count) override;
    int32_t Forward(int16_t* block) override;
    int32_t Inverse(int16_t* block) override;
};

}  // namespace _pqxlib_
