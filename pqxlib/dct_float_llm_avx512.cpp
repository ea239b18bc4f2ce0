// AVX-512 twins of the float DCT's column passes, load and store: sixteen
// lanes per register (four block columns) where the AVX2 routines take eight. Every lane goes through the same IEEE operations
// in the same order as the portable routine. The AVX-512 target brings fused
// multiply-add with it, which would round a product and a sum once instead of
// twice, so this file is compiled with contraction off (pqxlib/CMakeLists.txt).

#include "pqxlib/dct_float_llm_kernels.h"
#include "support/avx512_target.h"

#if defined(__x86_64__) && defined(__GNUC__)

namespace _pqxlib_ {
namespace {

// One bit per 16-bit value, set for lanes below the count, for 32 values
// (eight block positions of four lanes).
inline __mmask32 LaneMask32(int lanes) {
    const uint32_t position = (1u << lanes) - 1u;
    uint32_t mask = 0;
    for (int i = 0; i < 8; ++i) mask |= position << (4 * i);
    return mask;
}

RVX_TARGET_AVX512 inline __m512 LaneMaskFloat16(int lanes) {
    const float b = lanes > 1 ? 1.0f : 0.0f, c = lanes > 2 ? 1.0f : 0.0f, d = lanes > 3 ? 1.0f : 0.0f;
    return _mm512_setr_ps(1.0f, b, c, d, 1.0f, b, c, d, 1.0f, b, c, d, 1.0f, b, c, d);
}

RVX_TARGET_AVX512 void LoadAvx512(const int16_t* block, float* work, int lanes, const float* steps) {
    const __m512 mask = LaneMaskFloat16(lanes);
    for (int i = 0; i < 256; i += 16) {
        const __m512i v = _mm512_cvtepi16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + i)));
        __m512 a = _mm512_mul_ps(_mm512_cvtepi32_ps(v), mask);
        if (steps != nullptr) a = _mm512_mul_ps(a, _mm512_loadu_ps(steps + i));
        _mm512_storeu_ps(work + i, a);
    }
}

// Adds a quarter with the sign of v, clamps to the 16-bit range, truncates.
// The sign is taken bitwise ((v & -0) | 0.25 in one ternary logic op: the
// float and/or need AVX-512 DQ); max and min take the same operand order
// as the other twins.
RVX_TARGET_AVX512 inline __m512i RoundQuarter16(__m512 v) {
    const __m512i signed_quarter = _mm512_ternarylogic_epi32(
        _mm512_castps_si512(v), _mm512_castps_si512(_mm512_set1_ps(-0.0f)),
        _mm512_castps_si512(_mm512_set1_ps(0.25f)), 0xEA);  // (a & b) | c
    __m512 t = _mm512_add_ps(v, _mm512_castsi512_ps(signed_quarter));
    t = _mm512_min_ps(_mm512_max_ps(t, _mm512_set1_ps(-32768.0f)), _mm512_set1_ps(32767.0f));
    return _mm512_cvttps_epi32(t);
}

// The values already lie within 16 bits, so the saturating pack only
// narrows; it works within 128-bit quarters, and the permute puts the eight
// groups of four back in order. Lanes at or above the count keep what the
// block held (a masked store).
RVX_TARGET_AVX512 inline void Store32(int16_t* at, __mmask32 mask, __m512i lo, __m512i hi) {
    const __m512i order = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
    const __m512i packed = _mm512_permutexvar_epi64(order, _mm512_packs_epi32(lo, hi));
    _mm512_mask_storeu_epi16(at, mask, packed);
}

RVX_TARGET_AVX512 inline __m512i QuantiseForward16(const float* work, const float* steps, __m512 s) {
    const __m512 v = _mm512_mul_ps(_mm512_set1_ps(2.0f), _mm512_loadu_ps(work));
    return RoundQuarter16(_mm512_div_ps(v, _mm512_mul_ps(s, _mm512_loadu_ps(steps))));
}

RVX_TARGET_AVX512 void StoreForwardAvx512(const float* work, int16_t* block, int lanes, const float* steps,
                                          float scale) {
    const __mmask32 mask = LaneMask32(lanes);
    const __m512 s = _mm512_set1_ps(scale);
    for (int i = 0; i < 256; i += 32)
        Store32(block + i, mask, QuantiseForward16(work + i, steps + i, s),
                QuantiseForward16(work + i + 16, steps + i + 16, s));
}

RVX_TARGET_AVX512 inline __m512i ScaleInverse16(const float* work, __m512 s) {
    return RoundQuarter16(_mm512_div_ps(_mm512_mul_ps(_mm512_loadu_ps(work), s), _mm512_set1_ps(128.0f)));
}

RVX_TARGET_AVX512 void StoreInverseAvx512(const float* work, int16_t* block, int lanes, float scale) {
    const __mmask32 mask = LaneMask32(lanes);
    const __m512 s = _mm512_set1_ps(scale);
    for (int i = 0; i < 256; i += 32)
        Store32(block + i, mask, ScaleInverse16(work + i, s), ScaleInverse16(work + i + 16, s));
}

// Eight vectors of sixteen lanes, x[i] being the i-th value of the 1-D
// transform in every lane: one row of four adjacent block columns. The row
// passes stay with the AVX2 twins: gathering the same column of four rows
// into one register costs as many loads and stores (or more shuffles) as the
// arithmetic saves, and the harness timed them no faster.
struct Vectors16 {
    __m512 x[8];
};

RVX_TARGET_AVX512 inline Vectors16 LoadColumns(const float* p) {
    Vectors16 v;
    for (int i = 0; i < 8; ++i) v.x[i] = _mm512_loadu_ps(p + i * 32);
    return v;
}

RVX_TARGET_AVX512 inline void StoreColumns(float* p, const Vectors16& v) {
    for (int i = 0; i < 8; ++i) _mm512_storeu_ps(p + i * 32, v.x[i]);
}

RVX_TARGET_AVX512 inline void ForwardColumnsAvx512(float* p, const float* kc) {
    const __m512 k0 = _mm512_set1_ps(kc[kK0]), k1 = _mm512_set1_ps(kc[kK1]), k2 = _mm512_set1_ps(kc[kK2]);
    const __m512 k3 = _mm512_set1_ps(kc[kK3]), k5 = _mm512_set1_ps(kc[kK5]), k6 = _mm512_set1_ps(kc[kK6]);
    const __m512 k7 = _mm512_set1_ps(kc[kK7]);
    const Vectors16 in = LoadColumns(p);
    const __m512* x = in.x;
    Vectors16 out;

    const __m512 s07 = _mm512_add_ps(x[0], x[7]), s16 = _mm512_add_ps(x[1], x[6]);
    const __m512 s25 = _mm512_add_ps(x[2], x[5]), s34 = _mm512_add_ps(x[3], x[4]);
    const __m512 d07 = _mm512_sub_ps(x[0], x[7]), d16 = _mm512_sub_ps(x[1], x[6]);
    const __m512 d25 = _mm512_sub_ps(x[2], x[5]), d34 = _mm512_sub_ps(x[3], x[4]);

    const __m512 a = _mm512_add_ps(s07, s34), b = _mm512_add_ps(s16, s25);
    const __m512 e = _mm512_sub_ps(s07, s34), f = _mm512_sub_ps(s16, s25);
    out.x[0] = _mm512_add_ps(a, b);
    out.x[4] = _mm512_sub_ps(a, b);
    out.x[2] = _mm512_add_ps(_mm512_mul_ps(k2, e), _mm512_mul_ps(k6, f));
    out.x[6] = _mm512_sub_ps(_mm512_mul_ps(k6, e), _mm512_mul_ps(k2, f));

    const __m512 r4 = _mm512_add_ps(_mm512_mul_ps(k3, d34), _mm512_mul_ps(k5, d07));
    const __m512 r7 = _mm512_sub_ps(_mm512_mul_ps(k3, d07), _mm512_mul_ps(k5, d34));
    const __m512 r5 = _mm512_add_ps(_mm512_mul_ps(k1, d25), _mm512_mul_ps(k7, d16));
    const __m512 r6 = _mm512_sub_ps(_mm512_mul_ps(k1, d16), _mm512_mul_ps(k7, d25));
    const __m512 lo = _mm512_add_ps(r4, r6), hi = _mm512_add_ps(r7, r5);
    out.x[3] = _mm512_sub_ps(r7, r5);
    out.x[5] = _mm512_sub_ps(r4, r6);
    out.x[1] = _mm512_mul_ps(_mm512_add_ps(hi, lo), k0);
    out.x[7] = _mm512_mul_ps(_mm512_sub_ps(hi, lo), k0);
    StoreColumns(p, out);
}

RVX_TARGET_AVX512 inline void InverseColumnsAvx512(float* p, const float* kc) {
    const __m512 c6 = _mm512_set1_ps(kc[kK6]), c3 = _mm512_set1_ps(kc[kK3]);
    const __m512 p26 = _mm512_set1_ps(kc[kK2MinusK6]), s26 = _mm512_set1_ps(kc[kK2PlusK6]);
    const __m512 m0 = _mm512_set1_ps(kc[kK5K3MinusK1K7]), m1 = _mm512_set1_ps(kc[kK7K3K1MinusK5]);
    const __m512 m2 = _mm512_set1_ps(kc[kK5K3K1MinusK7]), m3 = _mm512_set1_ps(kc[kK3K1MinusK5K7]);
    const __m512 n1 = _mm512_set1_ps(kc[kK7MinusK3]), n2 = _mm512_set1_ps(kc[kMinusK3MinusK1]);
    const __m512 n3 = _mm512_set1_ps(kc[kMinusK3MinusK5]), n4 = _mm512_set1_ps(kc[kK5MinusK3]);
    const Vectors16 in = LoadColumns(p);
    const __m512* y = in.x;
    Vectors16 out;

    const __m512 z = _mm512_mul_ps(_mm512_add_ps(y[2], y[6]), c6);
    const __m512 even2 = _mm512_sub_ps(z, _mm512_mul_ps(y[6], s26));
    const __m512 even3 = _mm512_add_ps(z, _mm512_mul_ps(y[2], p26));
    const __m512 even0 = _mm512_add_ps(y[0], y[4]), even1 = _mm512_sub_ps(y[0], y[4]);
    const __m512 e10 = _mm512_add_ps(even0, even3), e13 = _mm512_sub_ps(even0, even3);
    const __m512 e11 = _mm512_add_ps(even1, even2), e12 = _mm512_sub_ps(even1, even2);

    __m512 z1 = _mm512_add_ps(y[7], y[1]), z2 = _mm512_add_ps(y[5], y[3]);
    __m512 z3 = _mm512_add_ps(y[7], y[3]), z4 = _mm512_add_ps(y[5], y[1]);
    const __m512 z5 = _mm512_mul_ps(_mm512_add_ps(z3, z4), c3);
    __m512 o0 = _mm512_mul_ps(y[7], m0);
    __m512 o1 = _mm512_mul_ps(y[5], m1);
    __m512 o2 = _mm512_mul_ps(y[3], m2);
    __m512 o3 = _mm512_mul_ps(y[1], m3);
    z1 = _mm512_mul_ps(z1, n1);
    z2 = _mm512_mul_ps(z2, n2);
    z3 = _mm512_add_ps(_mm512_mul_ps(z3, n3), z5);
    z4 = _mm512_add_ps(_mm512_mul_ps(z4, n4), z5);
    o0 = _mm512_add_ps(o0, _mm512_add_ps(z1, z3));
    o1 = _mm512_add_ps(o1, _mm512_add_ps(z2, z4));
    o2 = _mm512_add_ps(o2, _mm512_add_ps(z2, z3));
    o3 = _mm512_add_ps(o3, _mm512_add_ps(z1, z4));

    out.x[0] = _mm512_add_ps(e10, o3);
    out.x[7] = _mm512_sub_ps(e10, o3);
    out.x[1] = _mm512_add_ps(e11, o2);
    out.x[6] = _mm512_sub_ps(e11, o2);
    out.x[2] = _mm512_add_ps(e12, o1);
    out.x[5] = _mm512_sub_ps(e12, o1);
    out.x[3] = _mm512_add_ps(e13, o0);
    out.x[4] = _mm512_sub_ps(e13, o0);
    StoreColumns(p, out);
}

RVX_TARGET_AVX512 void ColumnForwardAvx512(float* work, const float* kc) {
    for (int c = 0; c < 8; c += 4) ForwardColumnsAvx512(work + 4 * c, kc);
}
RVX_TARGET_AVX512 void ColumnInverseAvx512(float* work, const float* kc) {
    for (int c = 0; c < 8; c += 4) InverseColumnsAvx512(work + 4 * c, kc);
}

}  // namespace

bool float_llm_kernels_avx512(FloatLLMKernels& kernels) {
    kernels.column_forward = ColumnForwardAvx512;
    kernels.column_inverse = ColumnInverseAvx512;
    kernels.load = LoadAvx512;
    kernels.store_forward = StoreForwardAvx512;
    kernels.store_inverse = StoreInverseAvx512;
    return true;
}

}  // namespace _pqxlib_

#else

namespace _pqxlib_ {
bool float_llm_kernels_avx512(FloatLLMKernels&) { return false; }
}  // namespace _pqxlib_

#endif
