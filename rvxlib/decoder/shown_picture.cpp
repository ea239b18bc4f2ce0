#include "rvxlib/decoder/shown_picture.h"

#include "rvxlib/dsp/codec_objects.h"
#include "rvxlib/dsp/color_space.h"
#include "rvxlib/format/codec_plan.h"

namespace _rvxlib_ {

CRVXShownPicture::CRVXShownPicture() = default;
CRVXShownPicture::~CRVXShownPicture() = default;

bool CRVXShownPicture::Open(uint32_t width, uint32_t height, uint32_t stored_format, uint32_t features) {
    colour_.reset();
    bgra_.clear();
    pitch_ = 0;
    // The plan of a decoder that shows 32-bit B, G, R, A pictures picks the
    // converter the encoder would use for such a source.
    CodecPlan plan;
    if (!PlanStoredFormat(width, height, stored_format, false, &plan)) return false;
    std::unique_ptr<IRVXColorSpace> colour = MakeColourConverter(plan);
    if (!colour || colour->Init(features) != 1) return false;
    pitch_ = colour->SourcePitch();
    height_ = height;
    colour_ = std::move(colour);
    return true;
}

uint8_t* CRVXShownPicture::Convert(const uint8_t* picture) {
    if (!colour_) return nullptr;
    // Made on first use: a caller of ConvertInto never needs it.
    if (bgra_.empty()) bgra_.assign(pitch_ * height_, 0);
    colour_->ConvertPictureBack(picture, bgra_.data());
    return bgra_.data();
}

bool CRVXShownPicture::ConvertInto(const uint8_t* picture, uint8_t* out) {
    if (!colour_) return false;
    colour_->ConvertPictureBack(picture, out);
    return true;
}

}  // namespace _rvxlib_
