#pragma once
// What the writer and a player of RVX movies share: the 288-byte header image
// and the codec objects that a format word calls for.

#include <array>
#include <cstdint>
#include <memory>

#include "container/codec_plan.h"
#include "container/rvx_layout.h"

namespace _pqxlib_ {
class IPQXConvInterface;
}
namespace _rvxlib_ {
class IRVXColorSpace;
class IRVXPixelBlock;
class IRVXConvBlock;
class IRVXMovingBlock;
class IRVXDeblockEdgeFilter;
}

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
    const CodecPlan& Plan() const { return plan_; }
    bool HasCodec() const { return transform_ != nullptr; }
    _pqxlib_::IPQXConvInterface* Transform() const { return transform_.get(); }
    _rvxlib_::IRVXColorSpace* ColourConverter() const { return colour_.get(); }
    _rvxlib_::IRVXPixelBlock* PixelBlock() const { return pixel_.get(); }
    _rvxlib_::IRVXConvBlock* BlockConverter() const { return block_.get(); }
    _rvxlib_::IRVXMovingBlock* MovingBlock() const { return moving_.get(); }
    _rvxlib_::IRVXDeblockEdgeFilter* DeblockFilter() const { return deblock_.get(); }
    uint32_t ProcessorFeatureWord() const { return features_; }

protected:
    void SetHeaderWord(uint32_t offset, uint32_t value) {
        StoreLE32(header_.data() + offset, value);
    }
    void DestroyCodec();
    // The picture as the job described it; header 124..143 as well.
    void StorePicture(uint32_t width, uint32_t height, uint32_t format);

    std::array<uint8_t, rvx_layout::kHeaderSize> header_{};
    uint32_t features_ = 0;
    uint32_t pictureWidth_ = 0;
    uint32_t pictureHeight_ = 0;
    uint32_t pictureFormat_ = 0;
    CodecPlan plan_;
    // Declared in the reverse of the order they are destroyed in.
    std::unique_ptr<_pqxlib_::IPQXConvInterface> transform_;
    std::unique_ptr<_rvxlib_::IRVXColorSpace> colour_;
    std::unique_ptr<_rvxlib_::IRVXPixelBlock> pixel_;
    std::unique_ptr<_rvxlib_::IRVXConvBlock> block_;
    std::unique_ptr<_rvxlib_::IRVXMovingBlock> moving_;
    std::unique_ptr<_rvxlib_::IRVXDeblockEdgeFilter> deblock_;
};
