// SSE2 twins of the float DCT's load and store: the conversions between 16-bit
// values and floats, four lanes (one block column) at a time. Each lane goes
// through the same IEEE operations as the portable routine (multiply, divide,
// add a signed quarter, clamp, truncate), so the results are the same bits.

#include "pqxlib/dct_float_llm_kernels.h"

#if defined(__SSE2__)

#include <emmintrin.h>

namespace _pqxlib_ {
namespace {

inline __m128 LaneMaskFloat(int lanes) {
    return _mm_setr_ps(1.0f, lanes > 1 ? 1.0f : 0.0f, lanes > 2 ? 1.0f : 0.0f, lanes > 3 ? 1.0f : 0.0f);
}

// Lanes below the count (for two block columns, as eight 16-bit lanes).
inline __m128i LaneMask16(int lanes) {
    const int16_t on = -1;
    return _mm_setr_epi16(on, lanes > 1 ? on : 0, lanes > 2 ? on : 0, lanes > 3 ? on : 0,
                          on, lanes > 1 ? on : 0, lanes > 2 ? on : 0, lanes > 3 ? on : 0);
}

void LoadSse2(const int16_t* block, float* work, int lanes, const float* steps) {
    const __m128 mask = LaneMaskFloat(lanes);
    for (int i = 0; i < 256; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
        const __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
        const __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16);
        __m128 a = _mm_mul_ps(_mm_cvtepi32_ps(lo), mask);
        __m128 b = _mm_mul_ps(_mm_cvtepi32_ps(hi), mask);
        if (steps != nullptr) {
            a = _mm_mul_ps(a, _mm_load_ps(steps + i));
            b = _mm_mul_ps(b, _mm_load_ps(steps + i + 4));
        }
        _mm_store_ps(work + i, a);
        _mm_store_ps(work + i + 4, b);
    }
}

// Adds a quarter with the sign of v, clamps to the 16-bit range, truncates.
inline __m128i RoundQuarter(__m128 v) {
    const __m128 sign = _mm_and_ps(v, _mm_set1_ps(-0.0f));
    __m128 t = _mm_add_ps(v, _mm_or_ps(_mm_set1_ps(0.25f), sign));
    t = _mm_min_ps(_mm_max_ps(t, _mm_set1_ps(-32768.0f)), _mm_set1_ps(32767.0f));
    return _mm_cvttps_epi32(t);
}

// The values already lie within 16 bits, so the saturating pack only narrows.
template <typename F>
inline void StoreLanes(int16_t* block, int lanes, F value) {
    const __m128i mask = LaneMask16(lanes);
    for (int i = 0; i < 256; i += 8) {
        __m128i* at = reinterpret_cast<__m128i*>(block + i);
        const __m128i fresh = _mm_packs_epi32(value(i), value(i + 4));
        const __m128i old = _mm_loadu_si128(at);
        _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(mask, fresh), _mm_andnot_si128(mask, old)));
    }
}

void StoreForwardSse2(const float* work, int16_t* block, int lanes, const float* steps, float scale) {
    const __m128 two = _mm_set1_ps(2.0f), s = _mm_set1_ps(scale);
    StoreLanes(block, lanes, [&](int i) {
        const __m128 v = _mm_mul_ps(two, _mm_load_ps(work + i));
        return RoundQuarter(_mm_div_ps(v, _mm_mul_ps(s, _mm_load_ps(steps + i))));
    });
}

void StoreInverseSse2(const float* work, int16_t* block, int lanes, float scale) {
    const __m128 s = _mm_set1_ps(scale), d = _mm_set1_ps(128.0f);
    StoreLanes(block, lanes, [&](int i) {
        return RoundQuarter(_mm_div_ps(_mm_mul_ps(_mm_load_ps(work + i), s), d));
    });
}

}  // namespace

bool FloatLLMSse2LoadStore(FloatLLMRoutines* routines) {
    routines->load = LoadSse2;
    routines->store_forward = StoreForwardSse2;
    routines->store_inverse = StoreInverseSse2;
    return true;
}

}  // namespace _pqxlib_

#else

namespace _pqxlib_ {
bool FloatLLMSse2LoadStore(FloatLLMRoutines*) { return false; }
}  // namespace _pqxlib_

#endif
