#pragma once
// The format word: what a movie's pictures are and how they are coded. Bits
// 0..19 are stored in the file; bits 20..31 only steer the codec (which DCT
// implementation, the layout of the source pictures).

#include <cstdint>

namespace _rvxlib_ {
inline namespace format_word {

inline constexpr uint32_t kFormatChromaMask = 0x0000000F;    // 1 = 4:4:4, 2 = 4:2:2, 3 = 4:1:1
inline constexpr uint32_t kFormatRGB = 0x00000010;           // B, G, R channels, no conversion
inline constexpr uint32_t kFormatColourMask = 0x00000030;    // bits 4..5: non-zero for RGB
inline constexpr uint32_t kFormatLayoutMask = 0x0000003F;    // bits 0..5: block layout
inline constexpr uint32_t kFormatAlpha = 0x00000040;
inline constexpr uint32_t kFormatAlphaMask = 0x000000C0;     // bits 6..7
inline constexpr uint32_t kFormatPictureMask = 0x000000FF;
inline constexpr uint32_t kFormatTransformMask = 0x0000F000;
inline constexpr uint32_t kFormatTransformShift = 12;
inline constexpr uint32_t kFormatNoDeblock = 0x00010000;
inline constexpr uint32_t kFormatStoredMask = 0x000FFFFF;
inline constexpr uint32_t kFormatIntDctEncode = 0x00100000;
inline constexpr uint32_t kFormatFloatDctDecode = 0x00200000;
inline constexpr uint32_t kFormatSourceShift = 28;
// Bit 7 and bits 8..11, 17..19 and 22..27 have no meaning.
inline constexpr uint32_t kFormatUndefinedBits = 0x0FCE0F80;

// Bits 12..15.
inline constexpr uint32_t kTransformDiff2D = 1;
inline constexpr uint32_t kTransformDct = 2;

// Bits 28..31: how the source pictures handed to the encoder are laid out.
inline constexpr uint32_t kSourceBGR24 = 1;      // 24-bit B, G, R
inline constexpr uint32_t kSourceBGRX32 = 2;     // 32-bit, fourth byte ignored
inline constexpr uint32_t kSourceBGRA32 = 3;     // 32-bit with alpha

// Picture formats offered by the settings (bits 0..7).
inline constexpr uint32_t kPictureYUV411 = 0x03;
inline constexpr uint32_t kPictureYUV422 = 0x02;
inline constexpr uint32_t kPictureYUV444 = 0x01;
inline constexpr uint32_t kPictureRGB888 = 0x10;
inline constexpr uint32_t kPictureARGB8888 = 0x50;
inline constexpr uint32_t kPictureAYUV4444 = 0x41;
inline constexpr uint32_t kPictureAYUV4422 = 0x42;
inline constexpr uint32_t kPictureAYUV4411 = 0x43;
// Transforms offered by the settings (bits 12..16).
inline constexpr uint32_t kTransformWordDct = 0x02000;
inline constexpr uint32_t kTransformWordDiff2D = 0x01000;
inline constexpr uint32_t kTransformWordDctNoDeblock = 0x12000;

// The picture formats and transforms the settings offer, in the order they
// offer them: the text each is shown and chosen by, and its format word bits.
// The option lists, rvxdec's summary and the reader all go by these.
struct RVXNamedValue {
    const char* text;
    uint32_t value;
};
inline constexpr RVXNamedValue kPictureFormatNames[] = {
    {"YUV411", kPictureYUV411},     {"YUV422", kPictureYUV422},     {"YUV444", kPictureYUV444},
    {"RGB888", kPictureRGB888},     {"ARGB8888", kPictureARGB8888}, {"AYUV4444", kPictureAYUV4444},
    {"AYUV4422", kPictureAYUV4422}, {"AYUV4411", kPictureAYUV4411},
};
inline constexpr RVXNamedValue kTransformNames[] = {
    {"DCT", kTransformWordDct},
    {"Diff2D", kTransformWordDiff2D},
    {"DCT(NoDEF)", kTransformWordDctNoDeblock},
};

// Pictures larger than this on either side are refused, by the writer and by
// every reader: the padded picture (padded width x padded height x 4 bytes)
// then stays within 1 GiB, far inside 32 bits.
inline constexpr uint32_t kMaxPictureDimension = 16384;

inline uint32_t FormatTransform(uint32_t format) {
    return (format & kFormatTransformMask) >> kFormatTransformShift;
}
inline uint32_t FormatSource(uint32_t format) { return format >> kFormatSourceShift; }
inline bool FormatHasAlpha(uint32_t format) { return (format & kFormatAlpha) != 0; }

template <typename Names>
constexpr const char* NameOf(const Names& names, uint32_t value) {
    for (const auto& entry : names)
        if (entry.value == value) return entry.text;
    return nullptr;
}
// The text of a format word's picture format; null when it is none offered.
constexpr const char* PictureFormatText(uint32_t format) {
    return NameOf(kPictureFormatNames, format & kFormatPictureMask);
}
// The text of a format word's transform; null when it is none offered. The
// no-deblocking bit tells only where a transform is offered with and without.
constexpr const char* TransformText(uint32_t format) {
    const char* text = NameOf(kTransformNames, format & (kFormatTransformMask | kFormatNoDeblock));
    return text ? text : NameOf(kTransformNames, format & kFormatTransformMask);
}

}  // namespace format_word
}  // namespace _rvxlib_
