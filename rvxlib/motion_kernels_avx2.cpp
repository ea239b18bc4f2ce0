// AVX2 twin of the sum of squared differences, the search's hot loop. Built
// for the AVX2 target function by function, so the rest of the program keeps
// running on processors without it; results equal the portable routine for
// every input.

#include "rvxlib/motion_kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

namespace _rvxlib_ {
namespace {

// See the SSE2 twin: the sign comes from a compare so that |cur - ref| fits
// an unsigned 16-bit lane exactly, and its square is rebuilt from the two
// product halves. Within each 128-bit half the 32-bit lanes stay in channel
// order.
__attribute__((target("avx2"))) inline __m256i AddSquares(__m256i acc, __m256i cur, __m256i ref) {
    const __m256i negative = _mm256_cmpgt_epi16(ref, cur);
    const __m256i d =
        _mm256_sub_epi16(_mm256_xor_si256(_mm256_sub_epi16(cur, ref), negative), negative);
    const __m256i high = _mm256_mulhi_epu16(d, d);
    const __m256i low = _mm256_mullo_epi16(d, d);
    acc = _mm256_add_epi32(acc, _mm256_unpacklo_epi16(low, high));
    return _mm256_add_epi32(acc, _mm256_unpackhi_epi16(low, high));
}

__attribute__((target("avx2"))) void ssd16x16_avx2(const int16_t* cur, const uint8_t* ref,
                                                   ptrdiff_t pitch, uint32_t out[4]) {
    __m256i acc = _mm256_setzero_si256();
    for (int r = 0; r < 16; ++r) {
        const int16_t* c = cur + 64 * r;
        const uint8_t* p = ref + pitch * r;
        for (int i = 0; i < 64; i += 16) {
            const __m256i samples = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + i));
            const __m256i bytes = _mm256_cvtepu8_epi16(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
            acc = AddSquares(acc, samples, bytes);
        }
    }
    const __m128i sum = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), sum);
}

}  // namespace

bool motion_kernels_avx2(MotionKernels& kernels) {
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2")) return false;
    kernels.ssd16x16 = ssd16x16_avx2;
    return true;
}

}  // namespace _rvxlib_

#else

namespace _rvxlib_ {
bool motion_kernels_avx2(MotionKernels&) { return false; }
}  // namespace _rvxlib_

#endif
