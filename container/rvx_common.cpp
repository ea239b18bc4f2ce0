#include "container/rvx_common.h"

#include <cstring>

#include "container/quant_matrices.h"
#include "support/cpu_features.h"

using namespace rvx_layout;

CRVXCommon::CRVXCommon() {
    std::memcpy(header_.data() + kOffsetMagic, kMagic, sizeof kMagic);
    LoadQuantMatrices(kMatrixSelectorMpeg, header_.data() + kOffsetIntraMatrix,
                      header_.data() + kOffsetInterMatrix);
    features_ = ProcessorFeatures();
}

CRVXCommon::~CRVXCommon() { DestroyCodec(); }

void CRVXCommon::DestroyCodec() { hasCodec_ = false; }

void CRVXCommon::StorePicture(uint32_t width, uint32_t height, uint32_t format) {
    pictureWidth_ = width;
    pictureHeight_ = height;
    pictureFormat_ = format;
    SetHeaderWord(kOffsetWidth, width);
    SetHeaderWord(kOffsetWidthCopy, width);
    SetHeaderWord(kOffsetHeight, height);
    SetHeaderWord(kOffsetHeightCopy, height);
    SetHeaderWord(kOffsetFormatFlags, format);
}

bool CRVXCommon::SetupCodec(bool decoding, uint32_t width, uint32_t height, uint32_t format) {
    DestroyCodec();
    if (width == 0 && height == 0 && format == 0) {
        width = pictureWidth_;
        height = pictureHeight_;
        format = pictureFormat_;
    }
    if (HeaderWord(kOffsetRateDenominator) == 0 && !decoding) return false;
    CodecPlan plan;
    if (!PlanCodec(decoding, width, height, format, &plan)) return false;

    plan_ = plan;
    hasCodec_ = true;
    SetHeaderWord(kOffsetWidth, width);
    SetHeaderWord(kOffsetWidthCopy, width);
    SetHeaderWord(kOffsetHeight, height);
    SetHeaderWord(kOffsetHeightCopy, height);
    SetHeaderWord(kOffsetFormatFlags, plan.format & kFormatStoredMask);
    return true;
}
