#include "container/rvx_common.h"

#include <cstring>

#include "container/quant_matrices.h"
#include "rvxlib/group_coder.h"
#include "support/cpu_features.h"

using namespace rvx_layout;
using namespace _rvxlib_;

CRVXCommon::CRVXCommon() {
    std::memcpy(header_.data() + kOffsetMagic, kMagic, sizeof kMagic);
    LoadQuantMatrices(kMatrixSelectorMpeg, header_.data() + kOffsetIntraMatrix,
                      header_.data() + kOffsetInterMatrix);
    features_ = ProcessorFeatures();
}

CRVXCommon::~CRVXCommon() { DestroyCodec(); }

bool CRVXCommon::MakeCodingLane(RVXCodingLane& lane) const {
    return HasCodec() && _rvxlib_::MakeCodingLane(plan_, features_, &lane);
}

void CRVXCommon::StorePicture(uint32_t width, uint32_t height, uint32_t format) {
    picture_width_ = width;
    picture_height_ = height;
    picture_format_ = format;
    SetHeaderWord(kOffsetWidth, width);
    SetHeaderWord(kOffsetWidthCopy, width);
    SetHeaderWord(kOffsetHeight, height);
    SetHeaderWord(kOffsetHeightCopy, height);
    SetHeaderWord(kOffsetFormatFlags, format);
}

bool CRVXCommon::SetupCodec(bool decoding, uint32_t width, uint32_t height, uint32_t format) {
    DestroyCodec();
    if (width == 0 && height == 0 && format == 0) {
        width = picture_width_;
        height = picture_height_;
        format = picture_format_;
    }
    if (HeaderWord(kOffsetRateDenominator) == 0 && !decoding) return false;
    CodecPlan plan;
    const CodecUse use = decoding ? CodecUse::kDecode : CodecUse::kEncode;
    if (!PlanCodec(use, width, height, format, &plan)) return false;
    if (!MakeCodecObjects(plan, features_, &codec_)) return false;
    plan_ = plan;
    SetHeaderWord(kOffsetWidth, width);
    SetHeaderWord(kOffsetWidthCopy, width);
    SetHeaderWord(kOffsetHeight, height);
    SetHeaderWord(kOffsetHeightCopy, height);
    SetHeaderWord(kOffsetFormatFlags, plan.format & kFormatStoredMask);
    return true;
}
