// SSE2 twins of the colour row routines: four pixels per step with the same
// integer arithmetic as the portable code, so the bytes are identical.

#include "rvxlib/dsp/color_space_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace _rvxlib_ {
namespace {

// 16-bit pairs (low, high) of every 32-bit lane, for pmaddwd.
inline __m128i Pairs(int16_t low, int16_t high) {
    return _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16) |
                                               static_cast<uint16_t>(low)));
}

// Clamps four int32 lanes to 0..255 (they hold -32768..32767 at most).
inline __m128i ClampLanesToByte(__m128i v) {
    const __m128i packed = _mm_packs_epi32(v, v);
    const __m128i clamped = _mm_min_epi16(_mm_max_epi16(packed, _mm_setzero_si128()), _mm_set1_epi16(255));
    return _mm_unpacklo_epi16(clamped, _mm_setzero_si128());
}

// Four B, G, R, A pixels to V, U, Y, A, then OR mask.
inline __m128i BgraToVuya4(__m128i p, __m128i mask) {
    const __m128i byte_mask = _mm_set1_epi32(0x00FF00FF);
    const __m128i b_r = _mm_and_si128(p, byte_mask);                     // B | R << 16
    const __m128i g_a = _mm_and_si128(_mm_srli_epi32(p, 8), byte_mask);  // G | A << 16
    const __m128i y = _mm_srai_epi32(
        _mm_add_epi32(_mm_madd_epi16(b_r, Pairs(466, 1224)), _mm_madd_epi16(g_a, Pairs(2404, 0))), 12);
    const __m128i b = _mm_and_si128(p, _mm_set1_epi32(0xFF));
    const __m128i r = _mm_and_si128(_mm_srli_epi32(p, 16), _mm_set1_epi32(0xFF));
    const __m128i one_high = _mm_set1_epi32(0x10000);
    // (difference, 1) . (weight, 2048) = difference * weight + 2048
    const __m128i du = _mm_or_si128(_mm_and_si128(_mm_sub_epi32(b, y), _mm_set1_epi32(0xFFFF)), one_high);
    const __m128i dv = _mm_or_si128(_mm_and_si128(_mm_sub_epi32(r, y), _mm_set1_epi32(0xFFFF)), one_high);
    const __m128i offset = _mm_set1_epi32(128);
    const __m128i u = ClampLanesToByte(_mm_add_epi32(_mm_srai_epi32(_mm_madd_epi16(du, Pairs(2310, 2048)), 12), offset));
    const __m128i v = ClampLanesToByte(_mm_add_epi32(_mm_srai_epi32(_mm_madd_epi16(dv, Pairs(2920, 2048)), 12), offset));
    __m128i out = _mm_and_si128(p, _mm_set1_epi32(static_cast<int32_t>(0xFF000000u)));
    out = _mm_or_si128(out, v);
    out = _mm_or_si128(out, _mm_slli_epi32(u, 8));
    out = _mm_or_si128(out, _mm_slli_epi32(y, 16));
    return _mm_or_si128(out, mask);
}

// Four V, U, Y, A pixels to B, G, R, A, then OR mask.
inline __m128i VuyaToBgra4(__m128i p, __m128i mask) {
    const __m128i byte = _mm_set1_epi32(0xFF);
    const __m128i c128 = _mm_set1_epi32(128);
    const __m128i v = _mm_sub_epi32(_mm_and_si128(p, byte), c128);
    const __m128i u = _mm_sub_epi32(_mm_and_si128(_mm_srli_epi32(p, 8), byte), c128);
    const __m128i y = _mm_and_si128(_mm_srli_epi32(p, 16), byte);
    const __m128i round = _mm_set1_epi32(2048);
    const __m128i y_v = _mm_or_si128(y, _mm_slli_epi32(v, 16));
    const __m128i y_u = _mm_or_si128(y, _mm_slli_epi32(u, 16));
    const __m128i v_1 = _mm_or_si128(_mm_and_si128(v, _mm_set1_epi32(0xFFFF)), _mm_set1_epi32(0x10000));
    const __m128i r = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(y_v, Pairs(4096, 5745)), round), 12);
    const __m128i g = _mm_srai_epi32(
        _mm_add_epi32(_mm_madd_epi16(y_u, Pairs(4096, -1410)), _mm_madd_epi16(v_1, Pairs(-2913, 2048))), 12);
    const __m128i b = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(y_u, Pairs(4096, 7098)), round), 12);
    __m128i out = _mm_and_si128(p, _mm_set1_epi32(static_cast<int32_t>(0xFF000000u)));
    out = _mm_or_si128(out, ClampLanesToByte(b));
    out = _mm_or_si128(out, _mm_slli_epi32(ClampLanesToByte(g), 8));
    out = _mm_or_si128(out, _mm_slli_epi32(ClampLanesToByte(r), 16));
    return _mm_or_si128(out, mask);
}

template <__m128i (*Kernel)(__m128i, __m128i)>
void Run32(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t alpha_mask, ColorRowRoutine tail) {
    const __m128i mask = _mm_set1_epi32(static_cast<int32_t>(alpha_mask));
    uint32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i), Kernel(p, mask));
    }
    if (i < count) tail(dst + 4 * i, src + 4 * i, count - i, alpha_mask);
}

void BgraToVuyaSse2(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t alpha_mask) {
    Run32<BgraToVuya4>(dst, src, count, alpha_mask, color_kernels_portable()[ColorConversion::kBgraToVuya].forward);
}

void VuyaToBgraSse2(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t alpha_mask) {
    Run32<VuyaToBgra4>(dst, src, count, alpha_mask, color_kernels_portable()[ColorConversion::kBgraToVuya].back);
}

// 24-bit rows go through a small 32-bit staging buffer: the expansion and
// packing are plain copies, the arithmetic is the 32-bit kernel's.
void Bgr24ToVuyaSse2(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t) {
    constexpr uint32_t kChunk = 256;
    alignas(16) uint8_t staging[4 * kChunk];
    const ColorRowRoutine expand = color_kernels_portable()[ColorConversion::kBgr24ToBgra].forward;
    for (uint32_t done = 0; done < count; done += kChunk) {
        const uint32_t n = count - done < kChunk ? count - done : kChunk;
        expand(staging, src + 3 * done, n, 0);  // alpha becomes 255
        BgraToVuyaSse2(dst + 4 * done, staging, n, 0);
    }
}

void VuyaToBgr24Sse2(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t) {
    constexpr uint32_t kChunk = 256;
    alignas(16) uint8_t staging[4 * kChunk];
    const ColorRowRoutine pack = color_kernels_portable()[ColorConversion::kBgr24ToBgra].back;
    for (uint32_t done = 0; done < count; done += kChunk) {
        const uint32_t n = count - done < kChunk ? count - done : kChunk;
        VuyaToBgraSse2(staging, src + 4 * done, n, 0);
        pack(dst + 3 * done, staging, n, 0);
    }
}

}  // namespace

bool color_kernels_sse2(ColorKernels& kernels) {
    kernels.rows[int(ColorConversion::kBgr24ToVuya)] = {Bgr24ToVuyaSse2, VuyaToBgr24Sse2};
    kernels.rows[int(ColorConversion::kBgraToVuya)] = {BgraToVuyaSse2, VuyaToBgraSse2};
    return true;
}

}  // namespace _rvxlib_

#else

namespace _rvxlib_ {
bool color_kernels_sse2(ColorKernels&) { return false; }
}  // namespace _rvxlib_

#endif
