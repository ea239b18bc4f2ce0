// SSE2 twins of the macroblock's chroma gathers and scatters, the opaque
// alpha, the cleared slot and the zigzag moves. Channels are separated and
// merged with 16-bit unpacks; means come from exact 32-bit pair sums (pmaddwd
// by ones), so every 16-bit input, differences included, gives the portable
// result. The full-resolution plane moves stay portable: the compiler's
// own vectorisation of them was as fast as hand-written unpacks, and the
// scatter's blends slower.

#include "rvxlib/dsp/block_convert_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace _rvxlib_ {
namespace {

inline __m128i Load(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(int16_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Channels 0 and 1 only, for the chroma gathers.
inline void SplitChromaChannels(const int16_t* pixels, __m128i* v, __m128i* u) {
    const __m128i a = _mm_unpacklo_epi16(Load(pixels), Load(pixels + 8));
    const __m128i b = _mm_unpackhi_epi16(Load(pixels), Load(pixels + 8));
    const __m128i c = _mm_unpacklo_epi16(Load(pixels + 16), Load(pixels + 24));
    const __m128i d = _mm_unpackhi_epi16(Load(pixels + 16), Load(pixels + 24));
    const __m128i e = _mm_unpacklo_epi16(a, b);
    const __m128i g = _mm_unpacklo_epi16(c, d);
    *v = _mm_unpacklo_epi64(e, g);
    *u = _mm_unpackhi_epi64(e, g);
}

// Four registers of eight values to eight interleaved four-value groups.
inline void MergeChannels(__m128i c0, __m128i c1, __m128i c2, __m128i c3, int16_t* out) {
    const __m128i e = _mm_unpacklo_epi16(c0, c1);
    const __m128i f = _mm_unpackhi_epi16(c0, c1);
    const __m128i g = _mm_unpacklo_epi16(c2, c3);
    const __m128i h = _mm_unpackhi_epi16(c2, c3);
    Store(out, _mm_unpacklo_epi32(e, g));
    Store(out + 8, _mm_unpackhi_epi32(e, g));
    Store(out + 16, _mm_unpacklo_epi32(f, h));
    Store(out + 24, _mm_unpackhi_epi32(f, h));
}

inline __m128i ChannelMask(int channel) {
    alignas(16) int16_t lanes[8] = {};
    lanes[channel] = lanes[channel + 4] = -1;
    return Load(lanes);
}

// Lanes under mask from v, the rest from old.
inline __m128i Blend(__m128i old, __m128i v, __m128i mask) {
    return _mm_or_si128(_mm_andnot_si128(mask, old), _mm_and_si128(v, mask));
}

void SetOpaque(int16_t* in) {
    const __m128i mask = ChannelMask(3);
    const __m128i opaque = _mm_and_si128(_mm_set1_epi16(255), mask);
    for (int i = 0; i < 1024; i += 8) Store(in + i, _mm_or_si128(_mm_andnot_si128(mask, Load(in + i)), opaque));
}

void ClearSlot(int16_t* work, int slot) {
    const __m128i mask = ChannelMask(slot);
    for (int i = 0; i < 256; i += 8) Store(work + i, _mm_andnot_si128(mask, Load(work + i)));
}

// Sums of horizontal neighbour pairs of 16 values (two registers), exact in
// 32 bits: pairs 0-3 from lo, 4-7 from hi.
inline void PairSums(__m128i lo, __m128i hi, __m128i* sums_lo, __m128i* sums_hi) {
    const __m128i ones = _mm_set1_epi16(1);
    *sums_lo = _mm_madd_epi16(lo, ones);
    *sums_hi = _mm_madd_epi16(hi, ones);
}

// The 4:2:2 or 4:1:1 mean of one chroma row from its pair sums: add the
// column's rounding, shift, and pack (the means fit 16 bits).
inline __m128i Means(__m128i sums_lo, __m128i sums_hi, __m128i rounding, int shift) {
    const __m128i count = _mm_cvtsi32_si128(shift);
    return _mm_packs_epi32(_mm_sra_epi32(_mm_add_epi32(sums_lo, rounding), count),
                           _mm_sra_epi32(_mm_add_epi32(sums_hi, rounding), count));
}

void Gather422Chroma(int16_t* work, const int16_t* in) {
    const __m128i rounding = _mm_set_epi32(1, 0, 1, 0);
    for (int r = 0; r < 8; ++r, work += 32) {
        __m128i u[2], v[2];
        for (int half = 0; half < 2; ++half) {
            const int16_t* row = in + 64 * (r + 8 * half);
            __m128i v_lo, u_lo, v_hi, u_hi, s_lo, s_hi;
            SplitChromaChannels(row, &v_lo, &u_lo);
            SplitChromaChannels(row + 32, &v_hi, &u_hi);
            PairSums(u_lo, u_hi, &s_lo, &s_hi);
            u[half] = Means(s_lo, s_hi, rounding, 1);
            PairSums(v_lo, v_hi, &s_lo, &s_hi);
            v[half] = Means(s_lo, s_hi, rounding, 1);
        }
        MergeChannels(u[0], u[1], v[0], v[1], work);
    }
}

void Gather411Chroma(int16_t* work, const int16_t* in) {
    const __m128i rounding = _mm_set_epi32(2, 1, 2, 1);
    const __m128i zero = _mm_setzero_si128();
    for (int r = 0; r < 8; ++r, work += 32) {
        const int16_t* top = in + 128 * r;
        const int16_t* bottom = top + 64;
        __m128i v[4], u[4];
        SplitChromaChannels(top, &v[0], &u[0]);
        SplitChromaChannels(top + 32, &v[1], &u[1]);
        SplitChromaChannels(bottom, &v[2], &u[2]);
        SplitChromaChannels(bottom + 32, &v[3], &u[3]);
        __m128i t_lo, t_hi, b_lo, b_hi;
        PairSums(u[0], u[1], &t_lo, &t_hi);
        PairSums(u[2], u[3], &b_lo, &b_hi);
        const __m128i u_mean = Means(_mm_add_epi32(t_lo, b_lo), _mm_add_epi32(t_hi, b_hi), rounding, 2);
        PairSums(v[0], v[1], &t_lo, &t_hi);
        PairSums(v[2], v[3], &b_lo, &b_hi);
        const __m128i v_mean = Means(_mm_add_epi32(t_lo, b_lo), _mm_add_epi32(t_hi, b_hi), rounding, 2);
        MergeChannels(u_mean, v_mean, zero, zero, work);
    }
}

// One work register (two columns, four slots) to the two chroma channels of
// the four pixels under it: the shuffle puts V (channel 0) and U (channel 1)
// in pixel order, kShuffle naming the slots as _MM_SHUFFLE(U, V, U, V).
template <int kShuffle>
inline void SpreadChroma(int16_t* pixels, __m128i w, __m128i mask) {
    const __m128i t = _mm_shufflehi_epi16(_mm_shufflelo_epi16(w, kShuffle), kShuffle);
    Store(pixels, Blend(Load(pixels), _mm_unpacklo_epi64(t, t), mask));
    Store(pixels + 8, Blend(Load(pixels + 8), _mm_unpackhi_epi64(t, t), mask));
}

void Scatter422Chroma(int16_t* in, const int16_t* work) {
    const __m128i mask = _mm_or_si128(ChannelMask(0), ChannelMask(1));
    for (int r = 0; r < 8; ++r, work += 32) {
        int16_t* top = in + 64 * r;
        int16_t* bottom = top + 64 * 8;
        for (int j = 0; j < 4; ++j) {
            const __m128i w = Load(work + 8 * j);
            SpreadChroma<_MM_SHUFFLE(0, 2, 0, 2)>(top + 16 * j, w, mask);
            SpreadChroma<_MM_SHUFFLE(1, 3, 1, 3)>(bottom + 16 * j, w, mask);
        }
    }
}

void Scatter411Chroma(int16_t* in, const int16_t* work) {
    const __m128i mask = _mm_or_si128(ChannelMask(0), ChannelMask(1));
    for (int r = 0; r < 8; ++r, work += 32) {
        int16_t* top = in + 128 * r;
        for (int j = 0; j < 4; ++j) {
            const __m128i w = Load(work + 8 * j);
            SpreadChroma<_MM_SHUFFLE(0, 1, 0, 1)>(top + 16 * j, w, mask);
            SpreadChroma<_MM_SHUFFLE(0, 1, 0, 1)>(top + 64 + 16 * j, w, mask);
        }
    }
}

// The zigzag order as constants, so each move below is a load and a store at
// fixed offsets instead of a table look-up; the harness checks it against
// the shared scan tables.
constexpr uint8_t kZigZagOrder[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

template <int kSlot>
inline void EmitSlot(int16_t* out, const int16_t* work) {
#pragma GCC unroll 64
    for (int i = 0; i < 64; ++i) out[i] = work[4 * kZigZagOrder[i] + kSlot];
}

template <int kSlot>
inline void FillSlot(int16_t* work, const int16_t* in) {
#pragma GCC unroll 64
    for (int i = 0; i < 64; ++i) work[4 * kZigZagOrder[i] + kSlot] = in[i];
}

void EmitSlots(int16_t* out, const int16_t* work, int first, int count) {
    for (int slot = first; slot < first + count; ++slot, out += 64) {
        switch (slot) {
            case 0: EmitSlot<0>(out, work); break;
            case 1: EmitSlot<1>(out, work); break;
            case 2: EmitSlot<2>(out, work); break;
            default: EmitSlot<3>(out, work); break;
        }
    }
}

void FillSlots(int16_t* work, const int16_t* in, int first, int count) {
    for (int slot = first; slot < first + count; ++slot, in += 64) {
        switch (slot) {
            case 0: FillSlot<0>(work, in); break;
            case 1: FillSlot<1>(work, in); break;
            case 2: FillSlot<2>(work, in); break;
            default: FillSlot<3>(work, in); break;
        }
    }
}

}  // namespace

bool block_convert_kernels_sse2(BlockConvertKernels& kernels) {
    kernels.gather_422_chroma = Gather422Chroma;
    kernels.scatter_422_chroma = Scatter422Chroma;
    kernels.gather_411_chroma = Gather411Chroma;
    kernels.scatter_411_chroma = Scatter411Chroma;
    kernels.set_opaque = SetOpaque;
    kernels.clear_slot = ClearSlot;
    kernels.emit_slots = EmitSlots;
    kernels.fill_slots = FillSlots;
    return true;
}

}  // namespace _rvxlib_

#else

namespace _rvxlib_ {
bool block_convert_kernels_sse2(BlockConvertKernels&) { return false; }
}  // namespace _rvxlib_

#endif
