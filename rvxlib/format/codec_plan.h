#pragma once
// Which codec objects a format word asks for. Working the plan out apart
// from creating the objects (dsp/codec_objects.h) lets the writer and every
// reader agree on it, and lets a caller learn why a format word is refused
// before anything is built.

#include <cstdint>

#include "rvxlib/format/format_word.h"

namespace _rvxlib_ {

enum class TransformKind { kDiff2D, kDctFloat, kDctIntAAN, kDctIntAANInverse };
enum class ColourKind { kRGB24ToYUV32, kRGB32ToYUV32, kBGR24To32, kBGR32To32 };
enum class BlockKind { k444, k422, k411 };
enum class DeblockKind { kEdgeUnsigned, kNull };
enum class CodecUse { kEncode, kDecode };

struct CodecPlan {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t padded_width = 0;     // rounded up to whole macroblocks
    uint32_t padded_height = 0;
    uint32_t format = 0;           // the adjusted format word, all 32 bits
    CodecUse use = CodecUse::kEncode;
    TransformKind transform = TransformKind::kDctFloat;
    ColourKind colour = ColourKind::kRGB24ToYUV32;
    uint32_t alpha_mask = 0;       // ORed into every converted pixel
    BlockKind block = BlockKind::k411;
    bool alpha = false;            // an alpha channel is coded (bit 6)
    DeblockKind deblock = DeblockKind::kEdgeUnsigned;
};

// Fills plan and returns true when the format word describes a codec we can
// build: a non-zero size up to kMaxPictureDimension, a known picture layout,
// transform and source layout, and no undefined bit. Bits 0..7 of 0 mean
// "YUV411", bits 12..15 of 0 mean DCT. Without an alpha source the alpha
// bits are cleared.
bool PlanCodec(CodecUse use, uint32_t width, uint32_t height, uint32_t format, CodecPlan* plan);

// The plan of a decoder for a format word as a file stores it (bits 0..19;
// any other bit set refuses it), showing pictures as 32-bit B, G, R, A.
bool PlanStoredFormat(uint32_t width, uint32_t height, uint32_t stored_format, bool float_inverse_dct,
                      CodecPlan* plan);

}  // namespace _rvxlib_
