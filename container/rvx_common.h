#pragma once
// What the writer and a player of RVX movies share: the 288-byte header image
// and the codec objects that a format word calls for.

#include <array>
#include <cstdint>
#include <memory>

#include "container/rvx_layout.h"
#include "rvxlib/codec_plan.h"

class CRVXCommon {
public:
    CRVXCommon();
    virtual ~CRVXCommon();

    CRVXCommon(const CRVXCommon&) = delete;
    CRVXCommon& operator=(const CRVXCommon&) = delete;

    // Builds the codec objects for a picture. Width, height and format word of
    // 0 stand for the picture last given to SetPicture (the full format word,
    // so that the codec can be built again after the header kept only bits
    // 0..19). On success the header holds the size and bits 0..19 of the
    // adjusted format word. On failure no codec object is left.
    bool SetupCodec(bool decoding, uint32_t width, uint32_t height, uint32_t format);

    const uint8_t* Header() const { return header_.data(); }
    uint32_t HeaderWord(uint32_t offset) const { return LoadLE32(header_.data() + offset); }
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
    void SetHeaderWord(uint32_t offset, uint32_t value) {
        StoreLE32(header_.data() + offset, value);
    }
    void DestroyCodec() { codec_.Reset(); }
    // The picture as the job described it; header 124..143 as well.
    void StorePicture(uint32_t width, uint32_t height, uint32_t format);

    std::array<uint8_t, rvx_layout::kHeaderSize> header_{};
    uint32_t features_ = 0;
    uint32_t picture_width_ = 0;
    uint32_t picture_height_ = 0;
    uint32_t picture_format_ = 0;
    _rvxlib_::CodecPlan plan_;
    _rvxlib_::RVXCodecObjects codec_;
};
