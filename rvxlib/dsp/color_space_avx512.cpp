// AVX-512 twins of the colour rows between B, G, R(, A) and V, U, Y, A:
// sixteen pixels per step with the portable routine's integer sums, so the
// bytes are identical.
// Built for AVX-512 (F, BW, VL, VBMI, VNNI) function by function, so the rest
// of the program keeps running on processors without it.

#include "rvxlib/dsp/color_space_kernels.h"
#include "support/avx512_target.h"

#if defined(__x86_64__) && defined(__GNUC__)

#include <array>

namespace _rvxlib_ {
namespace {

constexpr uint32_t kStep = 16;  // pixels per 512-bit register
// The bytes of one step of packed 24-bit pixels.
constexpr __mmask64 kSixteenPixels = (__mmask64{1} << (3 * kStep)) - 1;

// 16-bit pairs (low, high) of every 32-bit lane, for vpmaddwd / vpdpwssd.
RVX_TARGET_AVX512 inline __m512i Pairs(int16_t low, int16_t high) {
    return _mm512_set1_epi32(static_cast<int32_t>(
        (static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16) | static_cast<uint16_t>(low)));
}

// Four 32-bit lanes per 128-bit lane, each clamped to 0..255 (they must lie
// within -32768..32767), as the bytes of four pixels: lane i of each
// argument becomes byte k of pixel i, where k is the argument's place.
RVX_TARGET_AVX512 inline __m512i PackPixels(__m512i c0, __m512i c1, __m512i c2, __m512i c3) {
    // The unsigned saturating packs clamp; per 128-bit lane the bytes come
    // out as four of c0, four of c1, four of c2, four of c3.
    const __m512i packed = _mm512_packus_epi16(_mm512_packus_epi32(c0, c1), _mm512_packus_epi32(c2, c3));
    const __m512i by_pixel = _mm512_broadcast_i32x4(
        _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
    return _mm512_shuffle_epi8(packed, by_pixel);
}

// Sixteen B, G, R, A pixels to V, U, Y, A, then OR mask.
RVX_TARGET_AVX512 inline __m512i BgraToVuya16(__m512i p, __m512i mask) {
    const __m512i byte_mask = _mm512_set1_epi32(0x00FF00FF);
    const __m512i b_r = _mm512_and_si512(p, byte_mask);                        // B | R << 16
    const __m512i g_a = _mm512_and_si512(_mm512_srli_epi32(p, 8), byte_mask);  // G | A << 16
    const __m512i y = _mm512_srai_epi32(
        _mm512_dpwssd_epi32(_mm512_madd_epi16(b_r, Pairs(466, 1224)), g_a, Pairs(2404, 0)), 12);
    // y is 0..254, so one 16-bit subtraction gives B - Y and R - Y side by
    // side, each within -254..255.
    const __m512i differences = _mm512_sub_epi16(b_r, _mm512_or_si512(y, _mm512_slli_epi32(y, 16)));
    // Adding 128 after the shift equals adding 128 << 12 before it, since
    // 128 << 12 is a whole multiple of the divisor.
    const __m512i round = _mm512_set1_epi32(2048 + (128 << 12));
    const __m512i u = _mm512_srai_epi32(_mm512_dpwssd_epi32(round, differences, Pairs(2310, 0)), 12);
    const __m512i v = _mm512_srai_epi32(_mm512_dpwssd_epi32(round, differences, Pairs(0, 2920)), 12);
    // U and V stay within -15..271.
    return _mm512_or_si512(PackPixels(v, u, y, _mm512_srli_epi32(p, 24)), mask);
}

// Sixteen V, U, Y, A pixels to B, G, R, A, then OR mask.
RVX_TARGET_AVX512 inline __m512i VuyaToBgra16(__m512i p, __m512i mask) {
    // Pairs (V - 128, Y) and (U - 128, Y) of 16-bit words in every lane.
    const __m512i centre = _mm512_set1_epi32(128);
    const __m512i v_y = _mm512_sub_epi16(_mm512_and_si512(p, _mm512_set1_epi32(0x00FF00FF)), centre);
    const __m512i u_bytes = _mm512_broadcast_i32x4(
        _mm_setr_epi8(1, -1, 2, -1, 5, -1, 6, -1, 9, -1, 10, -1, 13, -1, 14, -1));
    const __m512i u_y = _mm512_sub_epi16(_mm512_shuffle_epi8(p, u_bytes), centre);
    const __m512i round = _mm512_set1_epi32(2048);
    const __m512i r = _mm512_srai_epi32(_mm512_dpwssd_epi32(round, v_y, Pairs(5745, 4096)), 12);
    const __m512i g = _mm512_srai_epi32(
        _mm512_dpwssd_epi32(_mm512_dpwssd_epi32(round, u_y, Pairs(-1410, 4096)), v_y, Pairs(-2913, 0)), 12);
    const __m512i b = _mm512_srai_epi32(_mm512_dpwssd_epi32(round, u_y, Pairs(7098, 4096)), 12);
    // B, G and R stay within -181..434.
    return _mm512_or_si512(PackPixels(b, g, r, _mm512_srli_epi32(p, 24)), mask);
}

RVX_TARGET_AVX512 void BgraToVuyaAvx512(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t alpha_mask) {
    const __m512i mask = _mm512_set1_epi32(static_cast<int32_t>(alpha_mask));
    uint32_t i = 0;
    for (; i + kStep <= count; i += kStep) {
        const __m512i p = _mm512_loadu_si512(src + 4 * i);
        _mm512_storeu_si512(dst + 4 * i, BgraToVuya16(p, mask));
    }
    if (i < count)
        color_kernels_portable()[ColorConversion::kBgraToVuya].forward(dst + 4 * i, src + 4 * i, count - i,
                                                                       alpha_mask);
}

// Byte k of pixel i in a register of 32-bit pixels comes from byte 3 i + k
// of sixteen packed 24-bit pixels; the fourth byte is overwritten by alpha.
constexpr std::array<uint8_t, 64> MakeSpreadOrder() {
    std::array<uint8_t, 64> order{};
    for (int i = 0; i < 16; ++i)
        for (int k = 0; k < 4; ++k) order[4 * i + k] = static_cast<uint8_t>(3 * i + (k < 3 ? k : 0));
    return order;
}
alignas(64) constexpr std::array<uint8_t, 64> kSpreadOrder = MakeSpreadOrder();

// 24-bit rows are spread to 32-bit pixels in the register (alpha 255, as
// the portable routine writes), never through memory. The load is masked to
// the 48 bytes of sixteen pixels so it never reads past the row.
RVX_TARGET_AVX512 void Bgr24ToVuyaAvx512(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t) {
    const __m512i order = _mm512_load_si512(kSpreadOrder.data());
    const __m512i opaque = _mm512_set1_epi32(static_cast<int32_t>(0xFF000000u));
    const __m512i no_mask = _mm512_setzero_si512();
    uint32_t i = 0;
    for (; i + kStep <= count; i += kStep) {
        const __m512i packed = _mm512_maskz_loadu_epi8(kSixteenPixels, src + 3 * i);
        const __m512i p = _mm512_or_si512(_mm512_permutexvar_epi8(order, packed), opaque);
        _mm512_storeu_si512(dst + 4 * i, BgraToVuya16(p, no_mask));
    }
    if (i < count)
        color_kernels_portable()[ColorConversion::kBgr24ToVuya].forward(dst + 4 * i, src + 3 * i, count - i, 0);
}

RVX_TARGET_AVX512 void VuyaToBgraAvx512(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t alpha_mask) {
    const __m512i mask = _mm512_set1_epi32(static_cast<int32_t>(alpha_mask));
    uint32_t i = 0;
    for (; i + kStep <= count; i += kStep) {
        const __m512i p = _mm512_loadu_si512(src + 4 * i);
        _mm512_storeu_si512(dst + 4 * i, VuyaToBgra16(p, mask));
    }
    if (i < count)
        color_kernels_portable()[ColorConversion::kBgraToVuya].back(dst + 4 * i, src + 4 * i, count - i,
                                                                    alpha_mask);
}

// Byte 3 i + k of sixteen packed 24-bit pixels comes from byte 4 i + k of
// the 32-bit pixels; the last 16 bytes are not stored.
constexpr std::array<uint8_t, 64> MakeGatherOrder() {
    std::array<uint8_t, 64> order{};
    for (int j = 0; j < 48; ++j) order[j] = static_cast<uint8_t>(4 * (j / 3) + j % 3);
    return order;
}
alignas(64) constexpr std::array<uint8_t, 64> kGatherOrder = MakeGatherOrder();

// The store is masked to the 48 bytes of sixteen pixels so it never writes
// past the row.
RVX_TARGET_AVX512 void VuyaToBgr24Avx512(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t) {
    const __m512i order = _mm512_load_si512(kGatherOrder.data());
    const __m512i no_mask = _mm512_setzero_si512();
    uint32_t i = 0;
    for (; i + kStep <= count; i += kStep) {
        const __m512i p = VuyaToBgra16(_mm512_loadu_si512(src + 4 * i), no_mask);
        _mm512_mask_storeu_epi8(dst + 3 * i, kSixteenPixels, _mm512_permutexvar_epi8(order, p));
    }
    if (i < count)
        color_kernels_portable()[ColorConversion::kBgr24ToVuya].back(dst + 3 * i, src + 4 * i, count - i, 0);
}

}  // namespace

bool color_kernels_avx512(ColorKernels& kernels) {
    kernels.rows[int(ColorConversion::kBgraToVuya)] = {BgraToVuyaAvx512, VuyaToBgraAvx512};
    kernels.rows[int(ColorConversion::kBgr24ToVuya)] = {Bgr24ToVuyaAvx512, VuyaToBgr24Avx512};
    return true;
}

}  // namespace _rvxlib_

#else

namespace _rvxlib_ {
bool color_kernels_avx512(ColorKernels&) { return false; }
}  // namespace _rvxlib_

#endif
