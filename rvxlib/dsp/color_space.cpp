#include "rvxlib/dsp/color_space.h"

#include "rvxlib/dsp/color_space_kernels.h"
#include "support/cpu_features.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace _rvxlib_ {
namespace {

static_assert(std::endian::native == std::endian::little, "pixels are handled as little-endian words");

inline uint8_t ClampToByte(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

// Pixels are little-endian 32-bit words in memory, so mask byte k lands on
// byte k of the pixel.
inline uint8_t MaskByte(uint32_t mask, int k) { return static_cast<uint8_t>(mask >> (8 * k)); }

// The weights add up to 4094 rather than 4096, so white maps to Y = 254; the
// chroma terms round and are re-centred on 128.
inline void RgbToVuy(int32_t b, int32_t g, int32_t r, uint8_t* out) {
    const int32_t y = (2404 * g + 1224 * r + 466 * b) >> 12;
    const int32_t u = (((b - y) * 2310 + 2048) >> 12) + 128;
    const int32_t v = (((r - y) * 2920 + 2048) >> 12) + 128;
    out[0] = ClampToByte(v);
    out[1] = ClampToByte(u);
    out[2] = static_cast<uint8_t>(y);
}

inline void VuyToRgb(const uint8_t* in, uint8_t* bgr) {
    const int32_t v = in[0] - 128;
    const int32_t u = in[1] - 128;
    const int32_t y = 4096 * in[2];
    bgr[0] = ClampToByte((y + 7098 * u + 2048) >> 12);
    bgr[1] = ClampToByte((y - 1410 * u - 2913 * v + 2048) >> 12);
    bgr[2] = ClampToByte((y + 5745 * v + 2048) >> 12);
}

// Whole 32-bit moves: the fourth byte read is the next pixel's blue (forced
// to 255 or overwritten by the next store), so only the last pixel of a row
// goes byte by byte to stay inside the row.
void Bgr24ToBgra(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t) {
    uint32_t i = 0;
    for (; i + 1 < count; ++i, src += 3, dst += 4) {
        uint32_t pixel;
        std::memcpy(&pixel, src, 4);
        pixel |= 0xFF000000u;
        std::memcpy(dst, &pixel, 4);
    }
    if (i < count) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
        dst[3] = 255;
    }
}

void BgraToBgr24(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t) {
    uint32_t i = 0;
    for (; i + 1 < count; ++i, src += 4, dst += 3) std::memcpy(dst, src, 4);
    if (i < count) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
    }
}

void Bgra32OrMask(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t mask) {
    for (uint32_t i = 0; i < count; ++i, src += 4, dst += 4) {
        uint32_t pixel;
        std::memcpy(&pixel, src, 4);
        pixel |= mask;  // the picture buffer is little-endian B, G, R, A
        std::memcpy(dst, &pixel, 4);
    }
}

void Bgr24ToVuya(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t) {
    for (uint32_t i = 0; i < count; ++i, src += 3, dst += 4) {
        RgbToVuy(src[0], src[1], src[2], dst);
        dst[3] = 255;
    }
}

void VuyaToBgr24(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t) {
    for (uint32_t i = 0; i < count; ++i, src += 4, dst += 3) VuyToRgb(src, dst);
}

void Bgra32ToVuya(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t mask) {
    const uint8_t m0 = MaskByte(mask, 0), m1 = MaskByte(mask, 1);
    const uint8_t m2 = MaskByte(mask, 2), m3 = MaskByte(mask, 3);
    for (uint32_t i = 0; i < count; ++i, src += 4, dst += 4) {
        const uint8_t alpha = src[3];
        RgbToVuy(src[0], src[1], src[2], dst);
        dst[0] |= m0;
        dst[1] |= m1;
        dst[2] |= m2;
        dst[3] = alpha | m3;
    }
}

void VuyaToBgra32(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t mask) {
    const uint8_t m0 = MaskByte(mask, 0), m1 = MaskByte(mask, 1);
    const uint8_t m2 = MaskByte(mask, 2), m3 = MaskByte(mask, 3);
    for (uint32_t i = 0; i < count; ++i, src += 4, dst += 4) {
        const uint8_t alpha = src[3];
        VuyToRgb(src, dst);
        dst[0] |= m0;
        dst[1] |= m1;
        dst[2] |= m2;
        dst[3] = alpha | m3;
    }
}

}  // namespace

ColorKernels color_kernels_portable() {
    ColorKernels k;
    k.rows[int(ColorConversion::kBgr24ToBgra)] = {Bgr24ToBgra, BgraToBgr24};
    k.rows[int(ColorConversion::kBgraToBgra)] = {Bgra32OrMask, Bgra32OrMask};
    k.rows[int(ColorConversion::kBgr24ToVuya)] = {Bgr24ToVuya, VuyaToBgr24};
    k.rows[int(ColorConversion::kBgraToVuya)] = {Bgra32ToVuya, VuyaToBgra32};
    return k;
}

ColorKernels color_kernels_for(uint32_t features) {
    ColorKernels kernels = color_kernels_portable();
#if defined(__x86_64__) && defined(__GNUC__)
    if (FeatureLevel(features) >= CpuLevel::kSse2) color_kernels_sse2(kernels);
    if (FeatureLevel(features) >= CpuLevel::kAvx2) color_kernels_avx2(kernels);
    if (FeatureLevel(features) >= CpuLevel::kAvx512) color_kernels_avx512(kernels);
#else
    (void)features;
#endif
    return kernels;
}

IRVXColorSpace::IRVXColorSpace(uint32_t width, uint32_t height, uint32_t bytes_per_source_pixel,
                               uint32_t alpha_mask)
    : width_(width),
      height_(height),
      source_bytes_(bytes_per_source_pixel),
      // 24-bit rows are padded to whole 32-bit words.
      source_pitch_(bytes_per_source_pixel == 3 ? ((std::size_t{3} * width + 3) & ~std::size_t{3})
                                                : std::size_t{4} * width),
      padded_width_(PaddedSize(width)),
      padded_height_(PaddedSize(height)),
      destination_pitch_(std::size_t{4} * PaddedSize(width)),
      alpha_mask_(alpha_mask) {}

int32_t IRVXColorSpace::Init(uint32_t features) {
    const ColorRowRoutines routines = color_kernels_for(features)[conversion_];
    forward_ = routines.forward;
    back_ = routines.back;
    return 1;
}

void IRVXColorSpace::UsePortable() {
    const ColorRowRoutines routines = color_kernels_portable()[conversion_];
    forward_ = routines.forward;
    back_ = routines.back;
}

int32_t IRVXColorSpace::ConvertRow(uint8_t* dst, const uint8_t* src, uint32_t count) {
    if (dst == nullptr || src == nullptr) return 0;
    forward_(dst, src, count, alpha_mask_);
    return 1;
}

int32_t IRVXColorSpace::ConvertRowBack(uint8_t* dst, const uint8_t* src, uint32_t count) {
    if (dst == nullptr || src == nullptr) return 0;
    back_(dst, src, count, alpha_mask_);
    return 1;
}

bool IRVXColorSpace::Usable() const {
    // A size within 15 of 2^32 has no padded size (it wraps to 0).
    return width_ != 0 && height_ != 0 && padded_width_ >= width_ && padded_height_ >= height_;
}

int32_t IRVXColorSpace::ConvertPicture(const uint8_t* src, uint8_t* dst) {
    if (src == nullptr || dst == nullptr || !Usable()) return 0;
    source_ = src;
    destination_ = dst;
    for (uint32_t y = 0; y < height_; ++y) {
        uint8_t* row = dst + y * destination_pitch_;
        ConvertRow(row, src + y * source_pitch_, width_);
        const uint8_t* last = row + std::size_t{4} * (width_ - 1);
        for (uint32_t x = width_; x < padded_width_; ++x) std::memcpy(row + std::size_t{4} * x, last, 4);
    }
    const uint8_t* last_row = dst + (height_ - 1) * destination_pitch_;
    for (uint32_t y = height_; y < padded_height_; ++y)
        std::memcpy(dst + y * destination_pitch_, last_row, destination_pitch_);
    return EndConvert();
}

int32_t IRVXColorSpace::ConvertPictureBack(const uint8_t* picture, uint8_t* dst) {
    if (picture == nullptr || dst == nullptr || !Usable()) return 0;
    for (uint32_t y = 0; y < height_; ++y)
        ConvertRowBack(dst + y * source_pitch_, picture + y * destination_pitch_, width_);
    return 1;
}

CRVXColorSpace24bitTo32bit::CRVXColorSpace24bitTo32bit(uint32_t width, uint32_t height, uint32_t alpha_mask)
    : IRVXColorSpace(width, height, 3, alpha_mask) {
    conversion_ = ColorConversion::kBgr24ToBgra;
    UsePortable();
}

CRVXColorSpace32bitTo32bit::CRVXColorSpace32bitTo32bit(uint32_t width, uint32_t height, uint32_t alpha_mask)
    : IRVXColorSpace(width, height, 4, alpha_mask) {
    conversion_ = ColorConversion::kBgraToBgra;
    UsePortable();
}

CRVXColorSpaceRGB24bitToYUV32bit::CRVXColorSpaceRGB24bitToYUV32bit(uint32_t width, uint32_t height,
                                                                   uint32_t alpha_mask)
    : IRVXColorSpace(width, height, 3, alpha_mask) {
    conversion_ = ColorConversion::kBgr24ToVuya;
    UsePortable();
}

CRVXColorSpaceRGB32bitToYUV32bit::CRVXColorSpaceRGB32bitToYUV32bit(uint32_t width, uint32_t height,
                                                                   uint32_t alpha_mask)
    : IRVXColorSpace(width, height, 4, alpha_mask) {
    conversion_ = ColorConversion::kBgraToVuya;
    UsePortable();
}

}  // namespace _rvxlib_
