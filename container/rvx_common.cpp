#include "container/rvx_common.h"

#include "support/cpu_features.h"

using namespace _rvxlib_;

CRVXCommon::CRVXCommon() : features_(ProcessorFeatures()) {}

CRVXCommon::~CRVXCommon() { DestroyCodec(); }

bool CRVXCommon::MakeCodingLane(RVXCodingLane& lane) const {
    return HasCodec() && _rvxlib_::MakeCodingLane(plan_, features_, &lane);
}

void CRVXCommon::StorePicture(uint32_t width, uint32_t height, uint32_t format) {
    picture_width_ = width;
    picture_height_ = height;
    picture_format_ = format;
}

bool CRVXCommon::SetupCodec() {
    DestroyCodec();
    CodecPlan plan;
    if (!PlanCodec(CodecUse::kEncode, picture_width_, picture_height_, picture_format_, &plan)) return false;
    if (!MakeCodecObjects(plan, features_, &codec_)) return false;
    plan_ = plan;
    return true;
}
