// AVX-512 twins of the forward colour rows to V, U, Y, A: sixteen pixels per
// step with the portable routine's integer sums, so the bytes are identical.
// Built for AVX-512 (F, BW, VL, VBMI, VNNI) function by function, so the rest
// of the program keeps running on processors without it.

#include "rvxlib/color_space_kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)
// Some compilers' AVX-512 headers fill the unused inputs of masked builtins
// with self-initialised "undefined" vectors and then warn about them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include <array>

#define RVX_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vnni")))

namespace _rvxlib_ {
namespace {

constexpr uint32_t kStep = 16;  // pixels per 512-bit register

// 16-bit pairs (low, high) of every 32-bit lane, for vpmaddwd / vpdpwssd.
RVX_TARGET_AVX512 inline __m512i Pairs(int16_t low, int16_t high) {
    return _mm512_set1_epi32(static_cast<int32_t>(
        (static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16) | static_cast<uint16_t>(low)));
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
    const __m512i a = _mm512_srli_epi32(p, 24);
    // U and V stay within -15..271, so the unsigned saturating packs clamp
    // them to 0..255 exactly. Per 128-bit lane the bytes come out as four V,
    // four U, four Y, four A; the shuffle puts each pixel's four together.
    const __m512i packed =
        _mm512_packus_epi16(_mm512_packus_epi32(v, u), _mm512_packus_epi32(y, a));
    const __m512i by_pixel = _mm512_broadcast_i32x4(
        _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
    return _mm512_or_si512(_mm512_shuffle_epi8(packed, by_pixel), mask);
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
    constexpr __mmask64 kSixteenPixels = (__mmask64{1} << (3 * kStep)) - 1;
    uint32_t i = 0;
    for (; i + kStep <= count; i += kStep) {
        const __m512i packed = _mm512_maskz_loadu_epi8(kSixteenPixels, src + 3 * i);
        const __m512i p = _mm512_or_si512(_mm512_permutexvar_epi8(order, packed), opaque);
        _mm512_storeu_si512(dst + 4 * i, BgraToVuya16(p, no_mask));
    }
    if (i < count)
        color_kernels_portable()[ColorConversion::kBgr24ToVuya].forward(dst + 4 * i, src + 3 * i, count - i, 0);
}

}  // namespace

bool color_kernels_avx512(ColorKernels& kernels) {
    kernels.rows[int(ColorConversion::kBgraToVuya)].forward = BgraToVuyaAvx512;
    kernels.rows[int(ColorConversion::kBgr24ToVuya)].forward = Bgr24ToVuyaAvx512;
    return true;
}

}  // namespace _rvxlib_

#else

namespace _rvxlib_ {
bool color_kernels_avx512(ColorKernels&) { return false; }
}  // namespace _rvxlib_

#endif
