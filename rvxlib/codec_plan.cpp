#include "rvxlib/codec_plan.h"

#include "pqxlib/dct_float_llm.h"
#include "pqxlib/dct_int_aan.h"
#include "pqxlib/diff2d.h"
#include "rvxlib/block_convert.h"
#include "rvxlib/color_space.h"
#include "rvxlib/deblock.h"
#include "rvxlib/motion_search.h"
#include "rvxlib/pixel_block.h"

namespace _rvxlib_ {

bool PlanCodec(CodecUse use, uint32_t width, uint32_t height, uint32_t format, CodecPlan* plan) {
    if (width == 0 || height == 0) return false;
    if (width > kMaxPictureDimension || height > kMaxPictureDimension) return false;

    // Bits without a meaning would be stored in the file, where no player
    // could tell what they ask for.
    if (format & kFormatUndefinedBits) return false;
    if ((format & kFormatPictureMask) == 0) format |= kPictureYUV411;
    if ((format & kFormatTransformMask) == 0) format |= kTransformDct << kFormatTransformShift;

    CodecPlan p;
    p.width = width;
    p.height = height;
    p.padded_width = (width + 15) & ~15u;
    p.padded_height = (height + 15) & ~15u;

    const uint32_t transform = FormatTransform(format);
    const bool decoding = use == CodecUse::kDecode;
    p.use = use;
    if (transform == kTransformDiff2D) {
        p.transform = TransformKind::kDiff2D;
    } else if (transform == kTransformDct) {
        if (decoding) {
            p.transform = (format & kFormatFloatDctDecode) ? TransformKind::kDctFloat
                                                           : TransformKind::kDctIntAANInverse;
        } else {
            p.transform = (format & kFormatIntDctEncode) ? TransformKind::kDctIntAAN
                                                         : TransformKind::kDctFloat;
        }
    } else {
        return false;
    }

    const bool rgb = (format & kFormatColourMask) != 0;
    if (!rgb && (format & kFormatChromaMask) == 0) return false;
    switch (FormatSource(format)) {
    case kSourceBGR24:
        p.colour = rgb ? ColourKind::kBGR24To32 : ColourKind::kRGB24ToYUV32;
        p.alpha_mask = 0;   // the 24-bit converters always produce alpha 255
        format &= ~kFormatAlphaMask;
        break;
    case kSourceBGRX32:
        p.colour = rgb ? ColourKind::kBGR32To32 : ColourKind::kRGB32ToYUV32;
        p.alpha_mask = 0xFF000000u;
        format &= ~kFormatAlphaMask;
        break;
    case kSourceBGRA32:
        p.colour = rgb ? ColourKind::kBGR32To32 : ColourKind::kRGB32ToYUV32;
        p.alpha_mask = (format & kFormatAlphaMask) ? 0 : 0xFF000000u;
        break;
    default:
        return false;
    }

    switch (format & kFormatLayoutMask) {
    case 0x01:
    case kFormatRGB: p.block = BlockKind::k444; break;
    case 0x02: p.block = BlockKind::k422; break;
    case 0x03: p.block = BlockKind::k411; break;
    default: return false;
    }
    p.alpha = (format & kFormatAlpha) != 0;

    // Lossless differences must come back unchanged, so they are never filtered.
    if (format & kFormatNoDeblock) {
        p.deblock = DeblockKind::kNull;
    } else {
        p.deblock = transform == kTransformDct ? DeblockKind::kEdgeUnsigned : DeblockKind::kNull;
    }

    p.format = format;
    *plan = p;
    return true;
}

bool PlanStoredFormat(uint32_t width, uint32_t height, uint32_t stored_format, bool float_inverse_dct,
                      CodecPlan* plan) {
    if (stored_format & ~kFormatStoredMask) return false;
    const uint32_t format = stored_format | (kSourceBGRA32 << kFormatSourceShift) |
                            (float_inverse_dct ? kFormatFloatDctDecode : 0);
    return PlanCodec(CodecUse::kDecode, width, height, format, plan);
}

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

std::unique_ptr<IRVXConvBlock> MakeBlockConverter(const CodecPlan& plan, _pqxlib_::IPQXConvInterface* transform) {
    switch (plan.block) {
    case BlockKind::k444: return std::make_unique<CRVXConvBlock>(transform, plan.alpha);
    case BlockKind::k422: return std::make_unique<CRVXConvBlockYUV422>(transform, plan.alpha);
    case BlockKind::k411: return std::make_unique<CRVXConvBlockYUV411>(transform, plan.alpha);
    }
    return nullptr;
}

}  // namespace

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

RVXCodecObjects::RVXCodecObjects() = default;
RVXCodecObjects::~RVXCodecObjects() { Reset(); }
RVXCodecObjects::RVXCodecObjects(RVXCodecObjects&&) noexcept = default;
RVXCodecObjects& RVXCodecObjects::operator=(RVXCodecObjects&&) noexcept = default;

void RVXCodecObjects::Reset() {
    deblock.reset();
    moving.reset();
    block.reset();
    pixel.reset();
    colour.reset();
    transform.reset();
}

RVXCodecSet RVXCodecObjects::Set() const {
    return {transform.get(), colour.get(), pixel.get(), block.get(), moving.get(), deblock.get()};
}

bool MakeCodecObjects(const CodecPlan& plan, uint32_t features, RVXCodecObjects* objects) {
    objects->Reset();
    const bool encoding = plan.use == CodecUse::kEncode;
    RVXCodecObjects made;
    made.transform = MakeTransform(plan.transform);
    made.colour = MakeColourConverter(plan);
    made.pixel = std::make_unique<CRVXPixelBlockUnSigned>(plan.padded_width, plan.padded_height);
    made.block = MakeBlockConverter(plan, made.transform.get());
    made.moving = std::make_unique<CRVXMovingBlockUnSigned>(plan.padded_width, plan.padded_height, encoding);
    if (plan.deblock == DeblockKind::kEdgeUnsigned) {
        made.deblock = std::make_unique<CRVXDeblockEdgeFilterUnSigned>(plan.padded_width, plan.padded_height);
    } else {
        made.deblock = std::make_unique<CRVXDeblockNullFilter>(plan.padded_width, plan.padded_height);
    }
    if (!made.transform || !made.colour || !made.block) return false;
    if (made.transform->Init(features) != 1 || made.colour->Init(features) != 1 ||
        made.pixel->Init(features) != 1 || made.block->Init(features) != 1 ||
        made.moving->Init(features) != 1 || made.deblock->Init(features) != 1) {
        return false;
    }
    *objects = std::move(made);
    return true;
}

bool MakeCodingLane(const CodecPlan& plan, uint32_t features, RVXCodingLane* lane) {
    lane->transform = MakeTransform(plan.transform);
    lane->pixel = std::make_unique<CRVXPixelBlockUnSigned>(plan.padded_width, plan.padded_height);
    lane->block = MakeBlockConverter(plan, lane->transform.get());
    lane->moving = std::make_unique<CRVXMovingBlockUnSigned>(plan.padded_width, plan.padded_height, true);
    return lane->transform && lane->block && lane->transform->Init(features) == 1 &&
           lane->pixel->Init(features) == 1 && lane->block->Init(features) == 1 &&
           lane->moving->Init(features) == 1;
}

}  // namespace _rvxlib_
