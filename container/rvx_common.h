#pragma once
// What the writer and a player of RVX movies share: the 288-byte header image
// and the codec objects that a format word calls for.

#include <array>
#include <cstdint>

#include "container/codec_plan.h"
#include "container/rvx_layout.h"

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
    uint32_t HeaderWord(uint32_t offset) const { return rvx_layout::LoadLE32(header_.data() + offset); }
    const CodecPlan& Plan() const { return plan_; }
    bool HasCodec() const { return hasCodec_; }
    uint32_t ProcessorFeatureWord() const { return features_; }

protected:
    void SetHeaderWord(uint32_t offset, uint32_t value) {
        rvx_layout::StoreLE32(header_.data() + offset, value);
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
    bool hasCodec_ = false;
};
