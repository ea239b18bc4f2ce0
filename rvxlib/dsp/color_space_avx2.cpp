// AVX2 twin of the forward colour row from 32-bit pixels: eight pixels per
// step with the SSE2 twin's integer arithmetic, every operation within its
// 128-bit half, so the bytes are identical. Built for the AVX2 target
// function by function.

#include "rvxlib/dsp/color_space_kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

namespace _rvxlib_ {
namespace {

// 16-bit pairs (low, high) of every 32-bit lane, for pmaddwd.
__attribute__((target("avx2"))) inline __m256i Pairs(int16_t low, int16_t high) {
    return _mm256_set1_epi32(static_cast<int32_t>(
        (static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16) | static_cast<uint16_t>(low)));
}

// The lanes hold -32768..32767 at most, so a 32-bit clamp equals the SSE2
// twin's clamp of the packed 16-bit values.
__attribute__((target("avx2"))) inline __m256i ClampLanesToByte(__m256i v) {
    return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), _mm256_set1_epi32(255));
}

// Eight B, G, R, A pixels to V, U, Y, A, then OR mask.
__attribute__((target("avx2"))) inline __m256i BgraToVuya8(__m256i p, __m256i mask) {
    const __m256i byte_mask = _mm256_set1_epi32(0x00FF00FF);
    const __m256i b_r = _mm256_and_si256(p, byte_mask);
    const __m256i g_a = _mm256_and_si256(_mm256_srli_epi32(p, 8), byte_mask);
    const __m256i y = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(b_r, Pairs(466, 1224)),
                                                         _mm256_madd_epi16(g_a, Pairs(2404, 0))),
                                        12);
    const __m256i low_byte = _mm256_set1_epi32(0xFF);
    const __m256i b = _mm256_and_si256(p, low_byte);
    const __m256i r = _mm256_and_si256(_mm256_srli_epi32(p, 16), low_byte);
    const __m256i one_high = _mm256_set1_epi32(0x10000);
    const __m256i low_half = _mm256_set1_epi32(0xFFFF);
    // (difference, 1) . (weight, 2048) = difference * weight + 2048
    const __m256i du = _mm256_or_si256(_mm256_and_si256(_mm256_sub_epi32(b, y), low_half), one_high);
    const __m256i dv = _mm256_or_si256(_mm256_and_si256(_mm256_sub_epi32(r, y), low_half), one_high);
    const __m256i offset = _mm256_set1_epi32(128);
    const __m256i u = ClampLanesToByte(
        _mm256_add_epi32(_mm256_srai_epi32(_mm256_madd_epi16(du, Pairs(2310, 2048)), 12), offset));
    const __m256i v = ClampLanesToByte(
        _mm256_add_epi32(_mm256_srai_epi32(_mm256_madd_epi16(dv, Pairs(2920, 2048)), 12), offset));
    __m256i out = _mm256_and_si256(p, _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u)));
    out = _mm256_or_si256(out, v);
    out = _mm256_or_si256(out, _mm256_slli_epi32(u, 8));
    out = _mm256_or_si256(out, _mm256_slli_epi32(y, 16));
    return _mm256_or_si256(out, mask);
}

__attribute__((target("avx2"))) void BgraToVuyaAvx2(uint8_t* dst, const uint8_t* src, uint32_t count,
                                                    uint32_t alpha_mask) {
    const __m256i mask = _mm256_set1_epi32(static_cast<int32_t>(alpha_mask));
    uint32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * i), BgraToVuya8(p, mask));
    }
    if (i < count)
        color_kernels_portable()[ColorConversion::kBgraToVuya].forward(dst + 4 * i, src + 4 * i, count - i,
                                                                       alpha_mask);
}

// 24-bit rows go through a small 32-bit staging buffer, as in the SSE2 twin.
void Bgr24ToVuyaAvx2(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t) {
    constexpr uint32_t kChunk = 256;
    alignas(32) uint8_t staging[4 * kChunk];
    const ColorRowRoutine expand = color_kernels_portable()[ColorConversion::kBgr24ToBgra].forward;
    for (uint32_t done = 0; done < count; done += kChunk) {
        const uint32_t n = count - done < kChunk ? count - done : kChunk;
        expand(staging, src + 3 * done, n, 0);  // alpha becomes 255
        BgraToVuyaAvx2(dst + 4 * done, staging, n, 0);
    }
}

}  // namespace

bool color_kernels_avx2(ColorKernels& kernels) {
    kernels.rows[int(ColorConversion::kBgraToVuya)].forward = BgraToVuyaAvx2;
    kernels.rows[int(ColorConversion::kBgr24ToVuya)].forward = Bgr24ToVuyaAvx2;
    return true;
}

}  // namespace _rvxlib_

#else

namespace _rvxlib_ {
bool color_kernels_avx2(ColorKernels&) { return false; }
}  // namespace _rvxlib_

#endif
