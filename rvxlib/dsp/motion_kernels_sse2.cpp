// SSE2 twins of the motion kernels; results equal the portable routines for
// every input, the extreme working values included.

#include "rvxlib/dsp/motion_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace _rvxlib_ {
namespace {

// |cur - ref| of two 16-bit values is at most 65535, which fits an unsigned
// 16-bit lane when the sign is taken from a compare rather than from the
// wrapped difference; its square is rebuilt exactly from the low and high
// product halves.
inline __m128i SquaredDistance(__m128i cur, __m128i ref, __m128i& high) {
    const __m128i negative = _mm_cmplt_epi16(cur, ref);
    const __m128i d = _mm_sub_epi16(_mm_xor_si128(_mm_sub_epi16(cur, ref), negative), negative);
    high = _mm_mulhi_epu16(d, d);
    return _mm_mullo_epi16(d, d);
}

inline __m128i AddSquares(__m128i acc, __m128i cur, __m128i ref) {
    __m128i high;
    const __m128i low = SquaredDistance(cur, ref, high);
    acc = _mm_add_epi32(acc, _mm_unpacklo_epi16(low, high));
    return _mm_add_epi32(acc, _mm_unpackhi_epi16(low, high));
}

void ssd16x16_sse2(const int16_t* cur, const uint8_t* ref, ptrdiff_t pitch, uint32_t out[4]) {
    const __m128i zero = _mm_setzero_si128();
    __m128i acc = zero;
    for (int r = 0; r < 16; ++r) {
        const int16_t* c = cur + 64 * r;
        const uint8_t* p = ref + pitch * r;
        for (int i = 0; i < 4; ++i) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            const __m128i c0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 16 * i));
            const __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 16 * i + 8));
            acc = AddSquares(acc, c0, _mm_unpacklo_epi8(bytes, zero));
            acc = AddSquares(acc, c1, _mm_unpackhi_epi8(bytes, zero));
        }
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), acc);
}

// See the AVX2 twin: madd squares the 16-bit differences in pairs.
void ssd16xn_narrow_sse2(const int16_t* cur, const uint8_t* ref, ptrdiff_t pitch, int rows,
                         uint32_t out[4]) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i even = _mm_set1_epi32(0xFFFF);
    __m128i pairs = zero, evens = zero;
    for (int r = 0; r < rows; ++r) {
        const int16_t* c = cur + 64 * r;
        const uint8_t* p = ref + pitch * r;
        for (int i = 0; i < 4; ++i) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            const __m128i d0 = _mm_sub_epi16(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 16 * i)), _mm_unpacklo_epi8(bytes, zero));
            const __m128i d1 = _mm_sub_epi16(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 16 * i + 8)), _mm_unpackhi_epi8(bytes, zero));
            pairs = _mm_add_epi32(pairs, _mm_add_epi32(_mm_madd_epi16(d0, d0), _mm_madd_epi16(d1, d1)));
            evens = _mm_add_epi32(evens, _mm_add_epi32(_mm_madd_epi16(d0, _mm_and_si128(d0, even)),
                                                       _mm_madd_epi16(d1, _mm_and_si128(d1, even))));
        }
    }
    pairs = _mm_add_epi32(pairs, _mm_srli_si128(pairs, 8));
    evens = _mm_add_epi32(evens, _mm_srli_si128(evens, 8));
    const __m128i odd = _mm_sub_epi32(pairs, evens);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi32(evens, odd));
}

// Sign-extends the four channels of pixel 0 (low) or 1 (high) to 32 bits.
inline __m128i WidenLow(__m128i v) { return _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16); }
inline __m128i WidenHigh(__m128i v) { return _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16); }

void activity16x16_sse2(const int16_t* cur, uint32_t out[4]) {
    __m128i total = _mm_setzero_si128();
    for (int i = 0; i < 1024; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + i));
        total = _mm_add_epi32(total, _mm_add_epi32(WidenLow(v), WidenHigh(v)));
    }
    alignas(16) int32_t sums[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(sums), total);
    // The rounded mean of 16-bit samples is itself a 16-bit value.
    alignas(16) int16_t mean[8];
    for (int k = 0; k < 4; ++k) mean[k] = mean[k + 4] = int16_t((sums[k] + 128) >> 8);
    const __m128i means = _mm_load_si128(reinterpret_cast<const __m128i*>(mean));
    __m128i acc = _mm_setzero_si128();
    for (int i = 0; i < 1024; i += 8)
        acc = AddSquares(acc, _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + i)), means);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), acc);
}

void halfpel_sse2(uint8_t* dst, ptrdiff_t dst_pitch, const uint8_t* ref, ptrdiff_t pitch,
                  int hx_odd, int hy_odd) {
    const int rows = hy_odd ? 17 : 16;
    for (int r = 0; r < rows; ++r) {
        const uint8_t* s = ref + pitch * r;
        uint8_t* d = dst + dst_pitch * r;
        for (int i = 0; i < 64; i += 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            if (hx_odd)
                v = _mm_avg_epu8(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 4)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), v);
        }
    }
    if (hy_odd) {
        for (int r = 0; r < 16; ++r) {
            uint8_t* d = dst + dst_pitch * r;
            for (int i = 0; i < 64; i += 16) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + dst_pitch + i));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_avg_epu8(a, b));
            }
        }
    }
}

}  // namespace

bool motion_kernels_sse2(MotionKernels& kernels) {
    kernels.ssd16x16 = ssd16x16_sse2;
    kernels.ssd16xn_narrow = ssd16xn_narrow_sse2;
    kernels.ssd16x16_narrow_bounded = ssd16x16_narrow_bounded_by_parts<ssd16xn_narrow_sse2>;
    kernels.ssd16x16_bytes_bounded = ssd16x16_narrow_bounded_by_parts<ssd16xn_narrow_sse2>;
    kernels.halfpel_bytes_bounded =
        halfpel_bytes_bounded_by_prediction<halfpel_sse2, ssd16x16_narrow_bounded_by_parts<ssd16xn_narrow_sse2>>;
    kernels.activity16x16 = activity16x16_sse2;
    kernels.activity16x16_bytes = activity16x16_sse2;
    kernels.halfpel = halfpel_sse2;
    return true;
}

}  // namespace _rvxlib_

#else

namespace _rvxlib_ {
bool motion_kernels_sse2(MotionKernels&) { return false; }
}  // namespace _rvxlib_

#endif
