#pragma once
// The writer's codec: the codec objects that the picture's format word calls
// for, and more of the per-thread ones for its coding lanes. A player builds
// no writer: it decodes with rvxlib's frame decoder and shows the pictures
// with rvxlib's picture conversion.

#include <cstdint>
#include <memory>

#include "rvxlib/encoder/coding_objects.h"
#include "rvxlib/format/codec_plan.h"

class CRVXCommon {
public:
    CRVXCommon();
    virtual ~CRVXCommon();

    CRVXCommon(const CRVXCommon&) = delete;
    CRVXCommon& operator=(const CRVXCommon&) = delete;

    // Builds the encoding codec objects for the picture last given to
    // StorePicture (the full format word, so that the codec can be built
    // again after the file's format field kept only bits 0..19). On failure
    // no codec object is left.
    bool SetupCodec();

    const _rvxlib_::CodecPlan& Plan() const { return plan_; }
    bool HasCodec() const { return codec_.transform != nullptr; }
    _rvxlib_::RVXCodecSet Codec() const { return codec_.Set(); }
    _pqxlib_::IPQXConvInterface* Transform() const { return codec_.transform.get(); }
    _rvxlib_::IRVXColorSpace* ColourConverter() const { return codec_.colour.get(); }
    _rvxlib_::IRVXPixelBlock* PixelBlock() const { return codec_.pixel.get(); }
    _rvxlib_::IRVXConvBlock* BlockConverter() const { return codec_.block.get(); }
    _rvxlib_::IRVXMovingBlock* MovingBlock() const { return codec_.moving.get(); }
    _rvxlib_::IRVXDeblockEdgeFilter* DeblockFilter() const { return codec_.deblock.get(); }
    uint32_t ProcessorFeatureWord() const { return features_; }
    // Replaces the feature word the next SetupCodec hands the codec objects
    // (0: the portable routines), so both paths can be compared.
    void SetProcessorFeatureWord(uint32_t features) { features_ = features; }
    // Another set of the per-thread coding objects (transform, pixel block,
    // block converter, moving block for encoding) like the codec's own.
    // False without a codec.
    bool MakeCodingLane(_rvxlib_::RVXCodingLane& lane) const;

protected:
    void DestroyCodec() { codec_.Reset(); }
    // The picture as the job described it: size and full format word.
    void StorePicture(uint32_t width, uint32_t height, uint32_t format);

    uint32_t features_ = 0;
    uint32_t picture_width_ = 0;
    uint32_t picture_height_ = 0;
    uint32_t picture_format_ = 0;
    _rvxlib_::CodecPlan plan_;
    _rvxlib_::RVXCodecObjects codec_;
};
