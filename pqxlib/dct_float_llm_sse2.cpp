// SSE2 twins of the float DCT's passes, load and store: the four lanes (one
// block column, the block's channels) of every value in one register, and
// the conversions between 16-bit values and floats. Each lane goes
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

namespace {

// The 1-D passes with the four lanes in one register: every lane goes through
// the portable pass's operations in the portable order, so the bits agree.
template <int kStride>
inline void Forward1DSse2(float* p, const float* kc) {
    const __m128 k0 = _mm_set1_ps(kc[kK0]), k1 = _mm_set1_ps(kc[kK1]), k2 = _mm_set1_ps(kc[kK2]);
    const __m128 k3 = _mm_set1_ps(kc[kK3]), k5 = _mm_set1_ps(kc[kK5]), k6 = _mm_set1_ps(kc[kK6]);
    const __m128 k7 = _mm_set1_ps(kc[kK7]);
    __m128 x[8];
    for (int i = 0; i < 8; ++i) x[i] = _mm_loadu_ps(p + i * kStride);

    const __m128 s07 = _mm_add_ps(x[0], x[7]), s16 = _mm_add_ps(x[1], x[6]);
    const __m128 s25 = _mm_add_ps(x[2], x[5]), s34 = _mm_add_ps(x[3], x[4]);
    const __m128 d07 = _mm_sub_ps(x[0], x[7]), d16 = _mm_sub_ps(x[1], x[6]);
    const __m128 d25 = _mm_sub_ps(x[2], x[5]), d34 = _mm_sub_ps(x[3], x[4]);

    const __m128 a = _mm_add_ps(s07, s34), b = _mm_add_ps(s16, s25);
    const __m128 e = _mm_sub_ps(s07, s34), f = _mm_sub_ps(s16, s25);
    _mm_storeu_ps(p + 0 * kStride, _mm_add_ps(a, b));
    _mm_storeu_ps(p + 4 * kStride, _mm_sub_ps(a, b));
    _mm_storeu_ps(p + 2 * kStride, _mm_add_ps(_mm_mul_ps(k2, e), _mm_mul_ps(k6, f)));
    _mm_storeu_ps(p + 6 * kStride, _mm_sub_ps(_mm_mul_ps(k6, e), _mm_mul_ps(k2, f)));

    const __m128 r4 = _mm_add_ps(_mm_mul_ps(k3, d34), _mm_mul_ps(k5, d07));
    const __m128 r7 = _mm_sub_ps(_mm_mul_ps(k3, d07), _mm_mul_ps(k5, d34));
    const __m128 r5 = _mm_add_ps(_mm_mul_ps(k1, d25), _mm_mul_ps(k7, d16));
    const __m128 r6 = _mm_sub_ps(_mm_mul_ps(k1, d16), _mm_mul_ps(k7, d25));
    const __m128 lo = _mm_add_ps(r4, r6), hi = _mm_add_ps(r7, r5);
    _mm_storeu_ps(p + 3 * kStride, _mm_sub_ps(r7, r5));
    _mm_storeu_ps(p + 5 * kStride, _mm_sub_ps(r4, r6));
    _mm_storeu_ps(p + 1 * kStride, _mm_mul_ps(_mm_add_ps(hi, lo), k0));
    _mm_storeu_ps(p + 7 * kStride, _mm_mul_ps(_mm_sub_ps(hi, lo), k0));
}

template <int kStride>
inline void Inverse1DSse2(float* p, const float* kc) {
    const __m128 c6 = _mm_set1_ps(kc[kK6]), c3 = _mm_set1_ps(kc[kK3]);
    const __m128 p26 = _mm_set1_ps(kc[kK2MinusK6]), s26 = _mm_set1_ps(kc[kK2PlusK6]);
    const __m128 m0 = _mm_set1_ps(kc[kK5K3MinusK1K7]), m1 = _mm_set1_ps(kc[kK7K3K1MinusK5]);
    const __m128 m2 = _mm_set1_ps(kc[kK5K3K1MinusK7]), m3 = _mm_set1_ps(kc[kK3K1MinusK5K7]);
    const __m128 n1 = _mm_set1_ps(kc[kK7MinusK3]), n2 = _mm_set1_ps(kc[kMinusK3MinusK1]);
    const __m128 n3 = _mm_set1_ps(kc[kMinusK3MinusK5]), n4 = _mm_set1_ps(kc[kK5MinusK3]);
    __m128 y[8];
    for (int i = 0; i < 8; ++i) y[i] = _mm_loadu_ps(p + i * kStride);

    const __m128 z = _mm_mul_ps(_mm_add_ps(y[2], y[6]), c6);
    const __m128 even2 = _mm_sub_ps(z, _mm_mul_ps(y[6], s26));
    const __m128 even3 = _mm_add_ps(z, _mm_mul_ps(y[2], p26));
    const __m128 even0 = _mm_add_ps(y[0], y[4]), even1 = _mm_sub_ps(y[0], y[4]);
    const __m128 e10 = _mm_add_ps(even0, even3), e13 = _mm_sub_ps(even0, even3);
    const __m128 e11 = _mm_add_ps(even1, even2), e12 = _mm_sub_ps(even1, even2);

    __m128 z1 = _mm_add_ps(y[7], y[1]), z2 = _mm_add_ps(y[5], y[3]);
    __m128 z3 = _mm_add_ps(y[7], y[3]), z4 = _mm_add_ps(y[5], y[1]);
    const __m128 z5 = _mm_mul_ps(_mm_add_ps(z3, z4), c3);
    __m128 o0 = _mm_mul_ps(y[7], m0);
    __m128 o1 = _mm_mul_ps(y[5], m1);
    __m128 o2 = _mm_mul_ps(y[3], m2);
    __m128 o3 = _mm_mul_ps(y[1], m3);
    z1 = _mm_mul_ps(z1, n1);
    z2 = _mm_mul_ps(z2, n2);
    z3 = _mm_add_ps(_mm_mul_ps(z3, n3), z5);
    z4 = _mm_add_ps(_mm_mul_ps(z4, n4), z5);
    o0 = _mm_add_ps(o0, _mm_add_ps(z1, z3));
    o1 = _mm_add_ps(o1, _mm_add_ps(z2, z4));
    o2 = _mm_add_ps(o2, _mm_add_ps(z2, z3));
    o3 = _mm_add_ps(o3, _mm_add_ps(z1, z4));

    _mm_storeu_ps(p + 0 * kStride, _mm_add_ps(e10, o3));
    _mm_storeu_ps(p + 7 * kStride, _mm_sub_ps(e10, o3));
    _mm_storeu_ps(p + 1 * kStride, _mm_add_ps(e11, o2));
    _mm_storeu_ps(p + 6 * kStride, _mm_sub_ps(e11, o2));
    _mm_storeu_ps(p + 2 * kStride, _mm_add_ps(e12, o1));
    _mm_storeu_ps(p + 5 * kStride, _mm_sub_ps(e12, o1));
    _mm_storeu_ps(p + 3 * kStride, _mm_add_ps(e13, o0));
    _mm_storeu_ps(p + 4 * kStride, _mm_sub_ps(e13, o0));
}

void RowForwardSse2(float* work, const float* kc) {
    for (int r = 0; r < 8; ++r) Forward1DSse2<4>(work + 32 * r, kc);
}
void ColumnForwardSse2(float* work, const float* kc) {
    for (int c = 0; c < 8; ++c) Forward1DSse2<32>(work + 4 * c, kc);
}
void RowInverseSse2(float* work, const float* kc) {
    for (int r = 0; r < 8; ++r) Inverse1DSse2<4>(work + 32 * r, kc);
}
void ColumnInverseSse2(float* work, const float* kc) {
    for (int c = 0; c < 8; ++c) Inverse1DSse2<32>(work + 4 * c, kc);
}

}  // namespace

bool float_llm_kernels_sse2(FloatLLMKernels& kernels) {
    kernels.row_forward = RowForwardSse2;
    kernels.column_forward = ColumnForwardSse2;
    kernels.row_inverse = RowInverseSse2;
    kernels.column_inverse = ColumnInverseSse2;
    kernels.load = LoadSse2;
    kernels.store_forward = StoreForwardSse2;
    kernels.store_inverse = StoreInverseSse2;
    return true;
}

}  // namespace _pqxlib_

#else

namespace _pqxlib_ {
bool float_llm_kernels_sse2(FloatLLMKernels&) { return false; }
}  // namespace _pqxlib_

#endif
