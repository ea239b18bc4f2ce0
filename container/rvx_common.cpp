#include "container/rvx_common.h"

#include <cstring>

#include "container/quant_matrices.h"
#include "pqxlib/dct_float_llm.h"
#include "pqxlib/dct_int_aan.h"
#include "pqxlib/diff2d.h"
#include "rvxlib/block_convert.h"
#include "rvxlib/color_space.h"
#include "rvxlib/deblock.h"
#include "rvxlib/group_coder.h"
#include "rvxlib/motion_search.h"
#include "rvxlib/pixel_block.h"
#include "support/cpu_features.h"

using namespace rvx_layout;
using namespace _rvxlib_;

namespace {

std::unique_ptr<_pqxlib_::IPQXConvInterface> MakeTransform(TransformKind kind) {
    switch (kind) {
    case TransformKind::kDiff2D: return std::make_unique<_pqxlib_::CDiff2D>();
    case TransformKind::kDctFloat: return std::make_unique<_pqxlib_::CDCT2DFltLLM>();
    case TransformKind::kDctIntAAN: return std::make_unique<_pqxlib_::CDCT2DIntAAN>();
    case TransformKind::kDctIntAANInverse: return std::make_unique<_pqxlib_::CDCT2DIntAANInv>();
    }
    return nullptr;
}

std::unique_ptr<IRVXColorSpace> MakeColourConverter(const CodecPlan& plan) {
    switch (plan.colour) {
    case ColourKind::kRGB24ToYUV32:
        return std::make_unique<CRVXColorSpaceRGB24bitToYUV32bit>(plan.width, plan.height, plan.alphaMask);
    case ColourKind::kRGB32ToYUV32:
        return std::make_unique<CRVXColorSpaceRGB32bitToYUV32bit>(plan.width, plan.height, plan.alphaMask);
    case ColourKind::kBGR24To32:
        return std::make_unique<CRVXColorSpace24bitTo32bit>(plan.width, plan.height, plan.alphaMask);
    case ColourKind::kBGR32To32:
        return std::make_unique<CRVXColorSpace32bitTo32bit>(plan.width, plan.height, plan.alphaMask);
    }
    return nullptr;
}

std::unique_ptr<IRVXConvBlock> MakeBlockConverter(const CodecPlan& plan, _pqxlib_::IPQXConvInterface* transform) {
    switch (plan.block) {
    case BlockKind::k444: return std::make_unique<CRVXConvBlock>(transform, plan.alpha);
    case BlockKind::k422: return std::make_unique<CRVXConvBlockYUV422>(transform, plan.alpha);
    case BlockKind::k411: return std::make_unique<CRVXConvBlockYUV411>(transform, plan.alpha);
    }
    return nullptr;
}

}  // namespace

CRVXCommon::CRVXCommon() {
    std::memcpy(header_.data() + kOffsetMagic, kMagic, sizeof kMagic);
    LoadQuantMatrices(kMatrixSelectorMpeg, header_.data() + kOffsetIntraMatrix,
                      header_.data() + kOffsetInterMatrix);
    features_ = ProcessorFeatures();
}

CRVXCommon::~CRVXCommon() { DestroyCodec(); }

void CRVXCommon::DestroyCodec() {
    deblock_.reset();
    moving_.reset();
    block_.reset();
    pixel_.reset();
    colour_.reset();
    transform_.reset();
}

bool CRVXCommon::MakeCodingLane(RVXCodingLane& lane) const {
    if (!HasCodec()) return false;
    lane.transform = MakeTransform(plan_.transform);
    lane.pixel = std::make_unique<CRVXPixelBlockUnSigned>(plan_.paddedWidth, plan_.paddedHeight);
    lane.block = MakeBlockConverter(plan_, lane.transform.get());
    lane.moving = std::make_unique<CRVXMovingBlockUnSigned>(plan_.paddedWidth, plan_.paddedHeight, true);
    return lane.transform && lane.block && lane.transform->Init(features_) == 1 &&
           lane.pixel->Init(features_) == 1 && lane.block->Init(features_) == 1 &&
           lane.moving->Init(features_) == 1;
}

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

    auto transform = MakeTransform(plan.transform);
    auto colour = MakeColourConverter(plan);
    auto pixel = std::make_unique<CRVXPixelBlockUnSigned>(plan.paddedWidth, plan.paddedHeight);
    auto block = MakeBlockConverter(plan, transform.get());
    auto moving = std::make_unique<CRVXMovingBlockUnSigned>(plan.paddedWidth, plan.paddedHeight, !decoding);
    std::unique_ptr<IRVXDeblockEdgeFilter> deblock;
    if (plan.deblock == DeblockKind::kEdgeUnsigned) {
        deblock = std::make_unique<CRVXDeblockEdgeFilterUnSigned>(plan.paddedWidth, plan.paddedHeight);
    } else {
        deblock = std::make_unique<CRVXDeblockNullFilter>(plan.paddedWidth, plan.paddedHeight);
    }
    if (transform->Init(features_) != 1 || colour->Init(features_) != 1 || pixel->Init(features_) != 1 ||
        block->Init(features_) != 1 || moving->Init(features_) != 1 || deblock->Init(features_) != 1) {
        return false;
    }

    plan_ = plan;
    transform_ = std::move(transform);
    colour_ = std::move(colour);
    pixel_ = std::move(pixel);
    block_ = std::move(block);
    moving_ = std::move(moving);
    deblock_ = std::move(deblock);
    SetHeaderWord(kOffsetWidth, width);
    SetHeaderWord(kOffsetWidthCopy, width);
    SetHeaderWord(kOffsetHeight, height);
    SetHeaderWord(kOffsetHeightCopy, height);
    SetHeaderWord(kOffsetFormatFlags, plan.format & kFormatStoredMask);
    return true;
}
