// AVX2 twins of the float DCT's passes, load and store: eight lanes per
// register (two block columns, or the same column of two rows) where the SSE2
// routines take four. Every lane goes through the same IEEE operations in the
// same order as the portable routine (no fused multiply-add: the target
// leaves it out), so the results are the same bits.

#include "pqxlib/dct_float_llm_kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)

#include <immintrin.h>

namespace _pqxlib_ {
namespace {

__attribute__((target("avx2"))) inline __m256 LaneMaskFloat8(int lanes) {
    const float b = lanes > 1 ? 1.0f : 0.0f, c = lanes > 2 ? 1.0f : 0.0f, d = lanes > 3 ? 1.0f : 0.0f;
    return _mm256_setr_ps(1.0f, b, c, d, 1.0f, b, c, d);
}

__attribute__((target("avx2"))) inline __m256i LaneMask16x16(int lanes) {
    const int16_t on = -1, b = lanes > 1 ? on : 0, c = lanes > 2 ? on : 0, d = lanes > 3 ? on : 0;
    return _mm256_setr_epi16(on, b, c, d, on, b, c, d, on, b, c, d, on, b, c, d);
}

__attribute__((target("avx2"))) void LoadAvx2(const int16_t* block, float* work, int lanes,
                                              const float* steps) {
    const __m256 mask = LaneMaskFloat8(lanes);
    for (int i = 0; i < 256; i += 8) {
        const __m256i v = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i)));
        __m256 a = _mm256_mul_ps(_mm256_cvtepi32_ps(v), mask);
        if (steps != nullptr) a = _mm256_mul_ps(a, _mm256_loadu_ps(steps + i));
        _mm256_storeu_ps(work + i, a);
    }
}

// Adds a quarter with the sign of v, clamps to the 16-bit range, truncates.
__attribute__((target("avx2"))) inline __m256i RoundQuarter8(__m256 v) {
    const __m256 sign = _mm256_and_ps(v, _mm256_set1_ps(-0.0f));
    __m256 t = _mm256_add_ps(v, _mm256_or_ps(_mm256_set1_ps(0.25f), sign));
    t = _mm256_min_ps(_mm256_max_ps(t, _mm256_set1_ps(-32768.0f)), _mm256_set1_ps(32767.0f));
    return _mm256_cvttps_epi32(t);
}

// The values already lie within 16 bits, so the saturating pack only
// narrows; the pack works within halves, and the permute puts the four
// groups of four back in order.
template <typename F>
__attribute__((target("avx2"))) inline void StoreLanes8(int16_t* block, int lanes, F value) {
    const __m256i mask = LaneMask16x16(lanes);
    for (int i = 0; i < 256; i += 16) {
        __m256i* at = reinterpret_cast<__m256i*>(block + i);
        const __m256i fresh = _mm256_permute4x64_epi64(_mm256_packs_epi32(value(i), value(i + 8)), 0xD8);
        const __m256i old = _mm256_loadu_si256(at);
        _mm256_storeu_si256(at, _mm256_or_si256(_mm256_and_si256(mask, fresh), _mm256_andnot_si256(mask, old)));
    }
}

__attribute__((target("avx2"))) void StoreForwardAvx2(const float* work, int16_t* block, int lanes,
                                                      const float* steps, float scale) {
    const __m256 two = _mm256_set1_ps(2.0f), s = _mm256_set1_ps(scale);
    StoreLanes8(block, lanes, [&](int i) __attribute__((target("avx2"))) {
        const __m256 v = _mm256_mul_ps(two, _mm256_loadu_ps(work + i));
        return RoundQuarter8(_mm256_div_ps(v, _mm256_mul_ps(s, _mm256_loadu_ps(steps + i))));
    });
}

__attribute__((target("avx2"))) void StoreInverseAvx2(const float* work, int16_t* block, int lanes,
                                                      float scale) {
    const __m256 s = _mm256_set1_ps(scale), d = _mm256_set1_ps(128.0f);
    StoreLanes8(block, lanes, [&](int i) __attribute__((target("avx2"))) {
        return RoundQuarter8(_mm256_div_ps(_mm256_mul_ps(_mm256_loadu_ps(work + i), s), d));
    });
}

// A column pass reads two adjacent block columns as one register; a row
// pass (values four floats apart) reads the same value of two rows, 32 floats
// apart, into the two halves.
template <int kStride>
__attribute__((target("avx2"))) inline __m256 Load8(const float* p) {
    if (kStride == 32) return _mm256_loadu_ps(p);
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(p)), _mm_loadu_ps(p + 32), 1);
}

template <int kStride>
__attribute__((target("avx2"))) inline void Store8(float* p, __m256 v) {
    if (kStride == 32) {
        _mm256_storeu_ps(p, v);
    } else {
        _mm_storeu_ps(p, _mm256_castps256_ps128(v));
        _mm_storeu_ps(p + 32, _mm256_extractf128_ps(v, 1));
    }
}

template <int kStride>
__attribute__((target("avx2"))) inline void Forward1DAvx2(float* p, const float* kc) {
    const __m256 k0 = _mm256_set1_ps(kc[kK0]), k1 = _mm256_set1_ps(kc[kK1]), k2 = _mm256_set1_ps(kc[kK2]);
    const __m256 k3 = _mm256_set1_ps(kc[kK3]), k5 = _mm256_set1_ps(kc[kK5]), k6 = _mm256_set1_ps(kc[kK6]);
    const __m256 k7 = _mm256_set1_ps(kc[kK7]);
    __m256 x[8];
    for (int i = 0; i < 8; ++i) x[i] = Load8<kStride>(p + i * kStride);

    const __m256 s07 = _mm256_add_ps(x[0], x[7]), s16 = _mm256_add_ps(x[1], x[6]);
    const __m256 s25 = _mm256_add_ps(x[2], x[5]), s34 = _mm256_add_ps(x[3], x[4]);
    const __m256 d07 = _mm256_sub_ps(x[0], x[7]), d16 = _mm256_sub_ps(x[1], x[6]);
    const __m256 d25 = _mm256_sub_ps(x[2], x[5]), d34 = _mm256_sub_ps(x[3], x[4]);

    const __m256 a = _mm256_add_ps(s07, s34), b = _mm256_add_ps(s16, s25);
    const __m256 e = _mm256_sub_ps(s07, s34), f = _mm256_sub_ps(s16, s25);
    Store8<kStride>(p + 0 * kStride, _mm256_add_ps(a, b));
    Store8<kStride>(p + 4 * kStride, _mm256_sub_ps(a, b));
    Store8<kStride>(p + 2 * kStride, _mm256_add_ps(_mm256_mul_ps(k2, e), _mm256_mul_ps(k6, f)));
    Store8<kStride>(p + 6 * kStride, _mm256_sub_ps(_mm256_mul_ps(k6, e), _mm256_mul_ps(k2, f)));

    const __m256 r4 = _mm256_add_ps(_mm256_mul_ps(k3, d34), _mm256_mul_ps(k5, d07));
    const __m256 r7 = _mm256_sub_ps(_mm256_mul_ps(k3, d07), _mm256_mul_ps(k5, d34));
    const __m256 r5 = _mm256_add_ps(_mm256_mul_ps(k1, d25), _mm256_mul_ps(k7, d16));
    const __m256 r6 = _mm256_sub_ps(_mm256_mul_ps(k1, d16), _mm256_mul_ps(k7, d25));
    const __m256 lo = _mm256_add_ps(r4, r6), hi = _mm256_add_ps(r7, r5);
    Store8<kStride>(p + 3 * kStride, _mm256_sub_ps(r7, r5));
    Store8<kStride>(p + 5 * kStride, _mm256_sub_ps(r4, r6));
    Store8<kStride>(p + 1 * kStride, _mm256_mul_ps(_mm256_add_ps(hi, lo), k0));
    Store8<kStride>(p + 7 * kStride, _mm256_mul_ps(_mm256_sub_ps(hi, lo), k0));
}

template <int kStride>
__attribute__((target("avx2"))) inline void Inverse1DAvx2(float* p, const float* kc) {
    const __m256 c6 = _mm256_set1_ps(kc[kK6]), c3 = _mm256_set1_ps(kc[kK3]);
    const __m256 p26 = _mm256_set1_ps(kc[kK2MinusK6]), s26 = _mm256_set1_ps(kc[kK2PlusK6]);
    const __m256 m0 = _mm256_set1_ps(kc[kK5K3MinusK1K7]), m1 = _mm256_set1_ps(kc[kK7K3K1MinusK5]);
    const __m256 m2 = _mm256_set1_ps(kc[kK5K3K1MinusK7]), m3 = _mm256_set1_ps(kc[kK3K1MinusK5K7]);
    const __m256 n1 = _mm256_set1_ps(kc[kK7MinusK3]), n2 = _mm256_set1_ps(kc[kMinusK3MinusK1]);
    const __m256 n3 = _mm256_set1_ps(kc[kMinusK3MinusK5]), n4 = _mm256_set1_ps(kc[kK5MinusK3]);
    __m256 y[8];
    for (int i = 0; i < 8; ++i) y[i] = Load8<kStride>(p + i * kStride);

    const __m256 z = _mm256_mul_ps(_mm256_add_ps(y[2], y[6]), c6);
    const __m256 even2 = _mm256_sub_ps(z, _mm256_mul_ps(y[6], s26));
    const __m256 even3 = _mm256_add_ps(z, _mm256_mul_ps(y[2], p26));
    const __m256 even0 = _mm256_add_ps(y[0], y[4]), even1 = _mm256_sub_ps(y[0], y[4]);
    const __m256 e10 = _mm256_add_ps(even0, even3), e13 = _mm256_sub_ps(even0, even3);
    const __m256 e11 = _mm256_add_ps(even1, even2), e12 = _mm256_sub_ps(even1, even2);

    __m256 z1 = _mm256_add_ps(y[7], y[1]), z2 = _mm256_add_ps(y[5], y[3]);
    __m256 z3 = _mm256_add_ps(y[7], y[3]), z4 = _mm256_add_ps(y[5], y[1]);
    const __m256 z5 = _mm256_mul_ps(_mm256_add_ps(z3, z4), c3);
    __m256 o0 = _mm256_mul_ps(y[7], m0);
    __m256 o1 = _mm256_mul_ps(y[5], m1);
    __m256 o2 = _mm256_mul_ps(y[3], m2);
    __m256 o3 = _mm256_mul_ps(y[1], m3);
    z1 = _mm256_mul_ps(z1, n1);
    z2 = _mm256_mul_ps(z2, n2);
    z3 = _mm256_add_ps(_mm256_mul_ps(z3, n3), z5);
    z4 = _mm256_add_ps(_mm256_mul_ps(z4, n4), z5);
    o0 = _mm256_add_ps(o0, _mm256_add_ps(z1, z3));
    o1 = _mm256_add_ps(o1, _mm256_add_ps(z2, z4));
    o2 = _mm256_add_ps(o2, _mm256_add_ps(z2, z3));
    o3 = _mm256_add_ps(o3, _mm256_add_ps(z1, z4));

    Store8<kStride>(p + 0 * kStride, _mm256_add_ps(e10, o3));
    Store8<kStride>(p + 7 * kStride, _mm256_sub_ps(e10, o3));
    Store8<kStride>(p + 1 * kStride, _mm256_add_ps(e11, o2));
    Store8<kStride>(p + 6 * kStride, _mm256_sub_ps(e11, o2));
    Store8<kStride>(p + 2 * kStride, _mm256_add_ps(e12, o1));
    Store8<kStride>(p + 5 * kStride, _mm256_sub_ps(e12, o1));
    Store8<kStride>(p + 3 * kStride, _mm256_add_ps(e13, o0));
    Store8<kStride>(p + 4 * kStride, _mm256_sub_ps(e13, o0));
}

__attribute__((target("avx2"))) void RowForwardAvx2(float* work, const float* kc) {
    for (int r = 0; r < 8; r += 2) Forward1DAvx2<4>(work + 32 * r, kc);
}
__attribute__((target("avx2"))) void RowInverseAvx2(float* work, const float* kc) {
    for (int r = 0; r < 8; r += 2) Inverse1DAvx2<4>(work + 32 * r, kc);
}
__attribute__((target("avx2"))) void ColumnForwardAvx2(float* work, const float* kc) {
    for (int c = 0; c < 8; c += 2) Forward1DAvx2<32>(work + 4 * c, kc);
}
__attribute__((target("avx2"))) void ColumnInverseAvx2(float* work, const float* kc) {
    for (int c = 0; c < 8; c += 2) Inverse1DAvx2<32>(work + 4 * c, kc);
}

}  // namespace

bool float_llm_kernels_avx2(FloatLLMKernels& kernels) {
    kernels.row_forward = RowForwardAvx2;
    kernels.row_inverse = RowInverseAvx2;
    kernels.column_forward = ColumnForwardAvx2;
    kernels.column_inverse = ColumnInverseAvx2;
    kernels.load = LoadAvx2;
    kernels.store_forward = StoreForwardAvx2;
    kernels.store_inverse = StoreInverseAvx2;
    return true;
}

}  // namespace _pqxlib_

#else

namespace _pqxlib_ {
bool float_llm_kernels_avx2(FloatLLMKernels&) { return false; }
}  // namespace _pqxlib_

#endif
