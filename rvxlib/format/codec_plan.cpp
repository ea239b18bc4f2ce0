#include "rvxlib/format/codec_plan.h"

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

}  // namespace _rvxlib_
