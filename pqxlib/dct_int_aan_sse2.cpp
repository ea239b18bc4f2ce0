// SSE2 twin of the integer inverse DCT. Every step reproduces the portable
// routine's 16-bit and 32-bit wrap-around arithmetic exactly:
//  - (c * x) >> 16 is the high half of a signed 16 x 16 product (pmulhw);
//  - (c * x) >> 15 cut to 16 bits is that high half shifted up by one with
//    bit 15 of the low half below it;
//  - the row sums are 32-bit pair products (pmaddwd) added with wrap-around,
//    so only bits 15..30 survive the shift, as in the portable routine.

#include "pqxlib/dct_int_aan_kernels.h"

#if defined(__SSE2__)

#include <emmintrin.h>

namespace _pqxlib_ {
namespace {

inline __m128i Splat(int16_t v) { return _mm_set1_epi16(v); }

inline __m128i MulShift16(__m128i x, __m128i c) { return _mm_mulhi_epi16(x, c); }

inline __m128i MulShift15(__m128i x, __m128i c) {
    const __m128i hi = _mm_mulhi_epi16(x, c), lo = _mm_mullo_epi16(x, c);
    return _mm_or_si128(_mm_slli_epi16(hi, 1), _mm_srli_epi16(lo, 15));
}

// Lanes of channels below the count take the new value, the others keep the old.
inline __m128i ChannelMask(int channels) {
    const int16_t on = -1;
    return _mm_setr_epi16(on, channels > 1 ? on : 0, channels > 2 ? on : 0, channels > 3 ? on : 0,
                          on, channels > 1 ? on : 0, channels > 2 ? on : 0, channels > 3 ? on : 0);
}

inline __m128i Blend(__m128i fresh, __m128i old, __m128i mask) {
    return _mm_or_si128(_mm_and_si128(mask, fresh), _mm_andnot_si128(mask, old));
}

// Unaligned forms: a caller's block that misses the 16-byte alignment costs a
// little time instead of a fault.
inline __m128i Load(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(int16_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// One block row (8 columns x 4 channels in four vectors) to four rows of
// eight columns, one per channel, and back.
inline void Deinterleave(const __m128i v[4], __m128i rows[4]) {
    const __m128i t0 = _mm_unpacklo_epi16(v[0], v[1]), t1 = _mm_unpackhi_epi16(v[0], v[1]);
    const __m128i t2 = _mm_unpacklo_epi16(v[2], v[3]), t3 = _mm_unpackhi_epi16(v[2], v[3]);
    const __m128i u0 = _mm_unpacklo_epi16(t0, t1), u1 = _mm_unpackhi_epi16(t0, t1);
    const __m128i u2 = _mm_unpacklo_epi16(t2, t3), u3 = _mm_unpackhi_epi16(t2, t3);
    rows[0] = _mm_unpacklo_epi64(u0, u2);
    rows[1] = _mm_unpackhi_epi64(u0, u2);
    rows[2] = _mm_unpacklo_epi64(u1, u3);
    rows[3] = _mm_unpackhi_epi64(u1, u3);
}

inline void Interleave(const __m128i rows[4], __m128i v[4]) {
    const __m128i a = _mm_unpacklo_epi16(rows[0], rows[1]), b = _mm_unpacklo_epi16(rows[2], rows[3]);
    const __m128i c = _mm_unpackhi_epi16(rows[0], rows[1]), d = _mm_unpackhi_epi16(rows[2], rows[3]);
    v[0] = _mm_unpacklo_epi32(a, b);
    v[1] = _mm_unpackhi_epi32(a, b);
    v[2] = _mm_unpacklo_epi32(c, d);
    v[3] = _mm_unpackhi_epi32(c, d);
}

inline void Transpose8x8(__m128i r[8]) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Pair coefficients of the row pass, lanes = block rows (each row has its own
// matrix). kPairs[p] gives the two matrix entries (sign, index) multiplying
// the input pair of product p; half 0 covers rows 0..3, half 1 rows 4..7.
enum RowProduct { kEvenSum, kEvenDiff, kA0Odd, kA1Odd, kA2Odd, kA3Odd, kB0Lo, kB0Hi,
                  kB1Lo, kB1Hi, kB2Lo, kB2Hi, kB3Lo, kB3Hi, kRowProducts };
struct Pair { int sign0, index0, sign1, index1; };
constexpr Pair kPairs[kRowProducts] = {
    {1, 4, 1, 4},    // (x0, x4) in a0, a3
    {1, 4, -1, 4},   // (x0, x4) in a1, a2
    {1, 2, 1, 6},    // (x2, x6) in a0
    {1, 6, -1, 2},   // a1
    {-1, 6, 1, 2},   // a2
    {-1, 2, -1, 6},  // a3
    {1, 1, 1, 3}, {1, 5, 1, 7},     // b0: (x1, x3), (x5, x7)
    {1, 3, -1, 7}, {-1, 1, -1, 5},  // b1
    {1, 5, -1, 1}, {1, 7, 1, 3},    // b2
    {1, 7, -1, 5}, {1, 3, -1, 1},   // b3
};

struct RowCoefficients {
    __m128i pair[kRowProducts][2];
};

const RowCoefficients& RowTables() {
    static const RowCoefficients tables = [] {
        const IntAANConstants k = BuildIntAANConstants();
        RowCoefficients t;
        for (int p = 0; p < kRowProducts; ++p) {
            for (int half = 0; half < 2; ++half) {
                alignas(16) int16_t lanes[8];
                for (int i = 0; i < 4; ++i) {
                    const int16_t* row = k.rows[kIntAANRowTable[4 * half + i]];
                    lanes[2 * i] = static_cast<int16_t>(kPairs[p].sign0 * row[kPairs[p].index0]);
                    lanes[2 * i + 1] = static_cast<int16_t>(kPairs[p].sign1 * row[kPairs[p].index1]);
                }
                t.pair[p][half] = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes));
            }
        }
        return t;
    }();
    return tables;
}

void DequantiseSse2(const int16_t* block, int16_t* planar, int channels, const int16_t* steps,
                    int16_t scale_factor) {
    const __m128i a = Splat(scale_factor);
    for (int r = 0; r < 8; ++r) {
        __m128i v[4], rows[4];
        for (int j = 0; j < 4; ++j) {
            const int at = 32 * r + 8 * j;
            v[j] = _mm_mullo_epi16(_mm_mullo_epi16(a, Load(steps + at)), Load(block + at));
        }
        Deinterleave(v, rows);
        for (int ch = 0; ch < channels; ++ch) Store(planar + 64 * ch + 8 * r, rows[ch]);
    }
}

// One pair product for both halves of the rows, as 32-bit sums.
inline void Madd(const __m128i lo_pairs, const __m128i hi_pairs, const __m128i coeff[2],
                 __m128i out[2]) {
    out[0] = _mm_madd_epi16(lo_pairs, coeff[0]);
    out[1] = _mm_madd_epi16(hi_pairs, coeff[1]);
}

inline __m128i Narrow(__m128i lo, __m128i hi) {
    lo = _mm_srai_epi32(_mm_slli_epi32(_mm_srai_epi32(lo, 15), 16), 16);
    hi = _mm_srai_epi32(_mm_slli_epi32(_mm_srai_epi32(hi, 15), 16), 16);
    return _mm_packs_epi32(lo, hi);
}

void RowPassSse2(int16_t* planar, int channels, const IntAANConstants&) {
    const RowCoefficients& t = RowTables();
    for (int ch = 0; ch < channels; ++ch) {
        int16_t* p = planar + 64 * ch;
        __m128i x[8];
        for (int r = 0; r < 8; ++r) x[r] = Load(p + 8 * r);
        Transpose8x8(x);  // x[j] now holds input j of every row
        const __m128i p04[2] = {_mm_unpacklo_epi16(x[0], x[4]), _mm_unpackhi_epi16(x[0], x[4])};
        const __m128i p26[2] = {_mm_unpacklo_epi16(x[2], x[6]), _mm_unpackhi_epi16(x[2], x[6])};
        const __m128i p13[2] = {_mm_unpacklo_epi16(x[1], x[3]), _mm_unpackhi_epi16(x[1], x[3])};
        const __m128i p57[2] = {_mm_unpacklo_epi16(x[5], x[7]), _mm_unpackhi_epi16(x[5], x[7])};

        __m128i even_sum[2], even_diff[2];
        Madd(p04[0], p04[1], t.pair[kEvenSum], even_sum);
        Madd(p04[0], p04[1], t.pair[kEvenDiff], even_diff);
        const __m128i* even_of[4] = {even_sum, even_diff, even_diff, even_sum};
        __m128i y[8];
        for (int n = 0; n < 4; ++n) {
            __m128i odd_even[2], b_lo[2], b_hi[2];
            Madd(p26[0], p26[1], t.pair[kA0Odd + n], odd_even);
            Madd(p13[0], p13[1], t.pair[kB0Lo + 2 * n], b_lo);
            Madd(p57[0], p57[1], t.pair[kB0Hi + 2 * n], b_hi);
            __m128i a[2], b[2], plus[2], minus[2];
            for (int h = 0; h < 2; ++h) {
                a[h] = _mm_add_epi32(even_of[n][h], odd_even[h]);
                b[h] = _mm_add_epi32(b_lo[h], b_hi[h]);
                plus[h] = _mm_add_epi32(a[h], b[h]);
                minus[h] = _mm_sub_epi32(a[h], b[h]);
            }
            y[n] = Narrow(plus[0], plus[1]);
            y[7 - n] = Narrow(minus[0], minus[1]);
        }
        Transpose8x8(y);  // back to one vector per row
        for (int r = 0; r < 8; ++r) Store(p + 8 * r, y[r]);
    }
}

void InterleaveSse2(const int16_t* planar, int16_t* block, int channels) {
    const __m128i mask = ChannelMask(channels);
    for (int r = 0; r < 8; ++r) {
        __m128i rows[4], v[4];
        for (int ch = 0; ch < 4; ++ch) {
            rows[ch] = ch < channels ? Load(planar + 64 * ch + 8 * r) : _mm_setzero_si128();
        }
        Interleave(rows, v);
        for (int j = 0; j < 4; ++j) {
            int16_t* at = block + 32 * r + 8 * j;
            Store(at, Blend(v[j], Load(at), mask));
        }
    }
}

void ColumnPassSse2(int16_t* block, int channels, const IntAANConstants& k) {
    const __m128i tan1 = Splat(k.tan1), tan2 = Splat(k.tan2), tan3 = Splat(k.tan3);
    const __m128i cos4 = Splat(k.cos4);
    const __m128i mask = ChannelMask(channels);
    for (int j = 0; j < 4; ++j) {
        int16_t* p = block + 8 * j;
        const __m128i x0 = Load(p), x1 = Load(p + 32), x2 = Load(p + 64), x3 = Load(p + 96);
        const __m128i x4 = Load(p + 128), x5 = Load(p + 160), x6 = Load(p + 192), x7 = Load(p + 224);

        const __m128i t = _mm_add_epi16(x2, MulShift16(x6, tan2));
        const __m128i u = _mm_add_epi16(x0, x4);
        const __m128i v = _mm_add_epi16(x3, MulShift15(x5, tan3));
        const __m128i w = _mm_add_epi16(x1, MulShift16(x7, tan1));
        const __m128i ut_sum = _mm_add_epi16(u, t), vw_sum = _mm_add_epi16(v, w);
        __m128i y[8];
        y[0] = _mm_srai_epi16(_mm_add_epi16(ut_sum, vw_sum), 6);
        y[7] = _mm_srai_epi16(_mm_sub_epi16(ut_sum, vw_sum), 6);

        const __m128i cc = _mm_sub_epi16(MulShift16(x2, tan2), x6);
        const __m128i d = _mm_sub_epi16(MulShift15(x3, tan3), x5);
        const __m128i e = _mm_sub_epi16(MulShift16(x1, tan1), x7);
        const __m128i f = _mm_add_epi16(d, e);
        const __m128i wv = _mm_sub_epi16(w, v);
        const __m128i g = MulShift15(_mm_add_epi16(f, wv), cos4);
        const __m128i x04 = _mm_sub_epi16(x0, x4);
        const __m128i h = _mm_add_epi16(x04, cc);
        const __m128i i = MulShift15(_mm_sub_epi16(wv, f), cos4);
        const __m128i kk = _mm_sub_epi16(x04, cc);
        y[1] = _mm_srai_epi16(_mm_add_epi16(h, g), 6);
        y[6] = _mm_srai_epi16(_mm_sub_epi16(h, g), 6);
        y[2] = _mm_srai_epi16(_mm_add_epi16(kk, i), 6);
        y[5] = _mm_srai_epi16(_mm_sub_epi16(kk, i), 6);
        const __m128i ut = _mm_sub_epi16(u, t), ed = _mm_sub_epi16(e, d);
        y[3] = _mm_srai_epi16(_mm_add_epi16(ut, ed), 6);
        y[4] = _mm_srai_epi16(_mm_sub_epi16(ut, ed), 6);

        const __m128i old[8] = {x0, x1, x2, x3, x4, x5, x6, x7};
        for (int r = 0; r < 8; ++r) Store(p + 32 * r, Blend(y[r], old[r], mask));
    }
}

}  // namespace

bool int_aan_inverse_kernels_sse2(IntAANInverseKernels& kernels) {
    kernels = {DequantiseSse2, RowPassSse2, InterleaveSse2, ColumnPassSse2};
    return true;
}

}  // namespace _pqxlib_

#else

namespace _pqxlib_ {
bool int_aan_inverse_kernels_sse2(IntAANInverseKernels&) { return false; }
}  // namespace _pqxlib_

#endif
