#pragma once
// Which codec objects a format word asks for. Working this out apart from
// creating the objects lets the writer and the player agree on it, and lets
// a caller learn why a format word is refused before anything is built.

#include <cstdint>

enum class TransformKind { kDiff2D, kDctFloat, kDctIntAAN, kDctIntAANInverse };
enum class ColourKind { kRGB24ToYUV32, kRGB32ToYUV32, kBGR24To32, kBGR32To32 };
enum class BlockKind { k444, k422, k411 };
enum class DeblockKind { kEdgeUnsigned, kNull };

// Pictures larger than this on either side are refused: the padded picture
// size (padded width x padded height x 4 bytes) must stay far inside 32 bits.
inline constexpr uint32_t kMaxPictureDimension = 16384;

struct CodecPlan {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t paddedWidth = 0;      // rounded up to whole macroblocks
    uint32_t paddedHeight = 0;
    uint32_t format = 0;           // the adjusted format word, all 32 bits
    TransformKind transform = TransformKind::kDctFloat;
    ColourKind colour = ColourKind::kRGB24ToYUV32;
    uint32_t alphaMask = 0;        // ORed into every converted pixel
    BlockKind block = BlockKind::k411;
    bool alpha = false;            // an alpha channel is coded (bit 6)
    DeblockKind deblock = DeblockKind::kEdgeUnsigned;
};

// Fills plan and returns true when the format word describes a codec we can
// build: a non-zero size up to kMaxPictureDimension, a known picture layout,
// transform and source layout, and no undefined bit. Bits 0..7 of 0 mean "YUV411", bits 12..15 of 0
// mean DCT. Without an alpha source the alpha bits are cleared.
bool PlanCodec(bool decoding, uint32_t width, uint32_t height, uint32_t format, CodecPlan* plan);
