#include "rvxlib/dsp/codec_objects.h"

#include "pqxlib/dct_float_llm.h"
#include "pqxlib/dct_int_aan.h"
#include "pqxlib/diff2d.h"
#include "rvxlib/dsp/block_convert.h"
#include "rvxlib/dsp/color_space.h"
#include "rvxlib/dsp/deblock.h"
#include "rvxlib/dsp/pixel_block.h"

namespace _rvxlib_ {

std::unique_ptr<_pqxlib_::IPQXConvInterface> MakeTransform(const CodecPlan& plan) {
    switch (plan.transform) {
    case TransformKind::kDiff2D: return std::make_unique<_pqxlib_::CDiff2D>();
    case TransformKind::kDctFloat: return std::make_unique<_pqxlib_::CDCT2DFltLLM>();
    case TransformKind::kDctIntAAN: return std::make_unique<_pqxlib_::CDCT2DIntAAN>();
    case TransformKind::kDctIntAANInverse: return std::make_unique<_pqxlib_::CDCT2DIntAANInv>();
    }
    return nullptr;
}

std::unique_ptr<IRVXPixelBlock> MakePixelBlock(const CodecPlan& plan) {
    return std::make_unique<CRVXPixelBlockUnSigned>(plan.padded_width, plan.padded_height);
}

std::unique_ptr<IRVXConvBlock> MakeBlockConverter(const CodecPlan& plan, _pqxlib_::IPQXConvInterface* transform) {
    switch (plan.block) {
    case BlockKind::k444: return std::make_unique<CRVXConvBlock>(transform, plan.alpha);
    case BlockKind::k422: return std::make_unique<CRVXConvBlockYUV422>(transform, plan.alpha);
    case BlockKind::k411: return std::make_unique<CRVXConvBlockYUV411>(transform, plan.alpha);
    }
    return nullptr;
}

std::unique_ptr<IRVXColorSpace> MakeColourConverter(const CodecPlan& plan) {
    switch (plan.colour) {
    case ColourKind::kRGB24ToYUV32:
        return std::make_unique<CRVXColorSpaceRGB24bitToYUV32bit>(plan.width, plan.height, plan.alpha_mask);
    case ColourKind::kRGB32ToYUV32:
        return std::make_unique<CRVXColorSpaceRGB32bitToYUV32bit>(plan.width, plan.height, plan.alpha_mask);
    case ColourKind::kBGR24To32:
        return std::make_unique<CRVXColorSpace24bitTo32bit>(plan.width, plan.height, plan.alpha_mask);
    case ColourKind::kBGR32To32:
        return std::make_unique<CRVXColorSpace32bitTo32bit>(plan.width, plan.height, plan.alpha_mask);
    }
    return nullptr;
}

RVXPictureObjects::RVXPictureObjects() = default;
RVXPictureObjects::~RVXPictureObjects() { Reset(); }
RVXPictureObjects::RVXPictureObjects(RVXPictureObjects&&) noexcept = default;
RVXPictureObjects& RVXPictureObjects::operator=(RVXPictureObjects&&) noexcept = default;

void RVXPictureObjects::Reset() {
    deblock.reset();
    block.reset();
    pixel.reset();
    colour.reset();
    transform.reset();
}

bool MakePictureObjects(const CodecPlan& plan, uint32_t features, RVXPictureObjects* objects) {
    objects->Reset();
    RVXPictureObjects made;
    made.transform = MakeTransform(plan);
    made.colour = MakeColourConverter(plan);
    made.pixel = MakePixelBlock(plan);
    made.block = MakeBlockConverter(plan, made.transform.get());
    if (plan.deblock == DeblockKind::kEdgeUnsigned) {
        made.deblock = std::make_unique<CRVXDeblockEdgeFilterUnSigned>(plan.padded_width, plan.padded_height);
    } else {
        made.deblock = std::make_unique<CRVXDeblockNullFilter>(plan.padded_width, plan.padded_height);
    }
    if (!made.transform || !made.colour || !made.block) return false;
    if (made.transform->Init(features) != 1 || made.colour->Init(features) != 1 ||
        made.pixel->Init(features) != 1 || made.block->Init(features) != 1 || made.deblock->Init(features) != 1) {
        return false;
    }
    *objects = std::move(made);
    return true;
}

}  // namespace _rvxlib_
