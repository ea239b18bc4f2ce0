// AVX2 twins of the sums of squared differences, the search's hot loop, of
// the block activity and of the half-pel prediction. Built for the AVX2 target function by function, so
// the rest of the program keeps running on processors without it; results
// equal the portable routines for every input.

#include "rvxlib/dsp/motion_kernels.h"

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

// Channel sums by madd against ones: all four channels in pairs (0+1, 2+3)
// and the even ones alone, the odd ones their difference; 16-bit samples
// summed in pairs cannot overflow 32 bits, nor can 256 of them per channel.
__attribute__((target("avx2"))) void activity16x16_avx2(const int16_t* cur, uint32_t out[4]) {
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i even_ones = _mm256_set1_epi32(1);
    __m256i pairs = _mm256_setzero_si256(), evens = _mm256_setzero_si256();
    for (int i = 0; i < 1024; i += 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cur + i));
        pairs = _mm256_add_epi32(pairs, _mm256_madd_epi16(v, ones));
        evens = _mm256_add_epi32(evens, _mm256_madd_epi16(v, even_ones));
    }
    __m128i p4 = _mm_add_epi32(_mm256_castsi256_si128(pairs), _mm256_extracti128_si256(pairs, 1));
    __m128i e4 = _mm_add_epi32(_mm256_castsi256_si128(evens), _mm256_extracti128_si256(evens, 1));
    p4 = _mm_add_epi32(p4, _mm_srli_si128(p4, 8));
    e4 = _mm_add_epi32(e4, _mm_srli_si128(e4, 8));
    alignas(16) int32_t sums[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(sums),
                    _mm_unpacklo_epi32(e4, _mm_sub_epi32(p4, e4)));
    // The rounded mean of 16-bit samples is itself a 16-bit value.
    const __m256i means = _mm256_setr_epi16(
        int16_t((sums[0] + 128) >> 8), int16_t((sums[1] + 128) >> 8), int16_t((sums[2] + 128) >> 8),
        int16_t((sums[3] + 128) >> 8), int16_t((sums[0] + 128) >> 8), int16_t((sums[1] + 128) >> 8),
        int16_t((sums[2] + 128) >> 8), int16_t((sums[3] + 128) >> 8), int16_t((sums[0] + 128) >> 8),
        int16_t((sums[1] + 128) >> 8), int16_t((sums[2] + 128) >> 8), int16_t((sums[3] + 128) >> 8),
        int16_t((sums[0] + 128) >> 8), int16_t((sums[1] + 128) >> 8), int16_t((sums[2] + 128) >> 8),
        int16_t((sums[3] + 128) >> 8));
    __m256i acc = _mm256_setzero_si256();
    for (int i = 0; i < 1024; i += 16)
        acc = AddSquares(acc, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cur + i)), means);
    const __m128i sum = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), sum);
}

// Adds the squared differences of 16 samples (four pixels) to acc. The
// differences are reordered so that each 32-bit lane pairs one channel of
// two pixels, and one madd squares and sums them: acc's lanes 0..3 of each
// half hold channels 0..3. A pair of squares reaches 2^31 only as a bit
// pattern, so every sum is exact modulo 2^32 like the portable one.
__attribute__((target("avx2"))) inline __m256i NarrowStep(__m256i acc, const int16_t* c,
                                                          const uint8_t* p, __m256i order) {
    const __m256i d = _mm256_sub_epi16(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c)),
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
    const __m256i paired = _mm256_shuffle_epi8(d, order);
    return _mm256_add_epi32(acc, _mm256_madd_epi16(paired, paired));
}

__attribute__((target("avx2"))) inline __m256i ChannelPairOrder() {
    return _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15,
                            0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
}

__attribute__((target("avx2"))) inline __m128i ChannelSums(__m256i acc) {
    return _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
}

// The weighted partial cost of the channel sums (wrapping modulo 2^32, as
// the portable routine's) has reached the bound.
__attribute__((target("avx2"))) inline bool PartialCostReaches(__m256i acc, __m128i weights, uint64_t bound) {
    __m128i weighted = _mm_mullo_epi32(ChannelSums(acc), weights);
    weighted = _mm_add_epi32(weighted, _mm_srli_si128(weighted, 8));
    weighted = _mm_add_epi32(weighted, _mm_srli_si128(weighted, 4));
    return uint32_t(_mm_cvtsi128_si32(weighted)) >= bound;
}

__attribute__((target("avx2"))) void ssd16xn_narrow_avx2(const int16_t* cur, const uint8_t* ref,
                                                         ptrdiff_t pitch, int rows, uint32_t out[4]) {
    const __m256i order = ChannelPairOrder();
    __m256i acc = _mm256_setzero_si256();
    for (int r = 0; r < rows; ++r) {
        const int16_t* c = cur + 64 * r;
        const uint8_t* p = ref + pitch * r;
        for (int i = 0; i < 64; i += 16) acc = NarrowStep(acc, c + i, p + i, order);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), ChannelSums(acc));
}

// The narrow cost with its sums kept in registers across the looks at the
// partial cost; they wrap modulo 2^32 as the parts' do, so the looks see the
// very values the portable routine weighs.
__attribute__((target("avx2"))) bool ssd16x16_narrow_bounded_avx2(const int16_t* cur,
                                                                  const uint8_t* ref, ptrdiff_t pitch,
                                                                  const uint32_t weights[4],
                                                                  uint64_t bound, uint32_t out[4]) {
    const __m256i order = ChannelPairOrder();
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights));
    __m256i acc = _mm256_setzero_si256();
    for (int r = 0; r < 16; ++r) {
        const int16_t* c = cur + 64 * r;
        const uint8_t* p = ref + pitch * r;
        for (int i = 0; i < 64; i += 16) acc = NarrowStep(acc, c + i, p + i, order);
        if (r % kSearchCostRows == kSearchCostRows - 1 && r != 15 && PartialCostReaches(acc, w, bound))
            return false;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), ChannelSums(acc));
    return true;
}

// The byte block arranged as NarrowStep's shuffle leaves it: each group of
// four pixels (one register) with its two 128-bit halves' samples paired by
// channel, so the cost needs no shuffle of its own for the current block.
__attribute__((target("avx2"))) void arrange_bytes_avx2(const int16_t* cur, int16_t* arranged) {
    const __m256i order = ChannelPairOrder();
    for (int i = 0; i < 1024; i += 16)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(arranged + i),
                            _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(cur + i)),
                                                order));
}

// The reference's four pixels, one 16-byte load copied to both halves, are
// widened and put in the arranged order by a single shuffle: the first half
// takes pixels 0 and 1, the second pixels 2 and 3, as a widening would place
// them before NarrowStep's shuffle. The differences are then the shuffled
// ones NarrowStep squares, so every sum and every look is the same.
__attribute__((target("avx2"))) inline __m256i ByteReferenceOrder() {
    const char z = char(0x80);
    return _mm256_setr_epi8(0, z, 4, z, 1, z, 5, z, 2, z, 6, z, 3, z, 7, z,
                            8, z, 12, z, 9, z, 13, z, 10, z, 14, z, 11, z, 15, z);
}

__attribute__((target("avx2"))) bool ssd16x16_bytes_bounded_avx2(const int16_t* arranged,
                                                                 const uint8_t* ref, ptrdiff_t pitch,
                                                                 const uint32_t weights[4],
                                                                 uint64_t bound, uint32_t out[4]) {
    const __m256i order = ByteReferenceOrder();
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights));
    __m256i acc0 = _mm256_setzero_si256(), acc1 = _mm256_setzero_si256();
    for (int r = 0; r < 16; ++r) {
        const int16_t* c = arranged + 64 * r;
        const uint8_t* p = ref + pitch * r;
        for (int i = 0; i < 64; i += 32) {
            const __m256i r0 = _mm256_shuffle_epi8(
                _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i))), order);
            const __m256i r1 = _mm256_shuffle_epi8(
                _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16))),
                order);
            const __m256i d0 = _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + i)), r0);
            const __m256i d1 =
                _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + i + 16)), r1);
            acc0 = _mm256_add_epi32(acc0, _mm256_madd_epi16(d0, d0));
            acc1 = _mm256_add_epi32(acc1, _mm256_madd_epi16(d1, d1));
        }
        if (r % kSearchCostRows == kSearchCostRows - 1 && r != 15 &&
            PartialCostReaches(_mm256_add_epi32(acc0, acc1), w, bound))
            return false;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), ChannelSums(_mm256_add_epi32(acc0, acc1)));
    return true;
}

// Four prediction pixels, copied to both halves of the register as the
// bytes cost loads the reference: the means of copies are copies of the
// means, rounded up, horizontal first, as halfpel takes them.
template <bool kHx>
__attribute__((target("avx2"))) inline __m256i HalfpelRow(const uint8_t* s) {
    const __m256i v = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
    if (!kHx) return v;
    return _mm256_avg_epu8(
        v, _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4))));
}

template <bool kHx, bool kHy>
__attribute__((target("avx2"))) bool halfpel_bytes_bounded_avx2_t(const int16_t* arranged,
                                                                  const uint8_t* ref, ptrdiff_t pitch,
                                                                  const uint32_t weights[4],
                                                                  uint64_t bound, uint32_t out[4]) {
    const __m256i order = ByteReferenceOrder();
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights));
    __m256i acc0 = _mm256_setzero_si256(), acc1 = _mm256_setzero_si256();
    // The row below, interpolated across, is the next row's own.
    __m256i below[4];
    if (kHy)
        for (int g = 0; g < 4; ++g) below[g] = HalfpelRow<kHx>(ref + 16 * g);
    for (int r = 0; r < 16; ++r) {
        const int16_t* c = arranged + 64 * r;
        const uint8_t* p = ref + pitch * r;
        __m256i d[4];
        for (int g = 0; g < 4; ++g) {
            __m256i v;
            if (kHy) {
                const __m256i next = HalfpelRow<kHx>(p + pitch + 16 * g);
                v = _mm256_avg_epu8(below[g], next);
                below[g] = next;
            } else {
                v = HalfpelRow<kHx>(p + 16 * g);
            }
            d[g] = _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + 16 * g)),
                                    _mm256_shuffle_epi8(v, order));
        }
        acc0 = _mm256_add_epi32(acc0, _mm256_madd_epi16(d[0], d[0]));
        acc1 = _mm256_add_epi32(acc1, _mm256_madd_epi16(d[1], d[1]));
        acc0 = _mm256_add_epi32(acc0, _mm256_madd_epi16(d[2], d[2]));
        acc1 = _mm256_add_epi32(acc1, _mm256_madd_epi16(d[3], d[3]));
        if (r % kSearchCostRows == kSearchCostRows - 1 && r != 15 &&
            PartialCostReaches(_mm256_add_epi32(acc0, acc1), w, bound))
            return false;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), ChannelSums(_mm256_add_epi32(acc0, acc1)));
    return true;
}

bool halfpel_bytes_bounded_avx2(const int16_t* arranged, const uint8_t* ref, ptrdiff_t pitch,
                                int hx_odd, int hy_odd, const uint32_t weights[4], uint64_t bound,
                                uint32_t out[4]) {
    if (hx_odd && hy_odd)
        return halfpel_bytes_bounded_avx2_t<true, true>(arranged, ref, pitch, weights, bound, out);
    if (hx_odd) return halfpel_bytes_bounded_avx2_t<true, false>(arranged, ref, pitch, weights, bound, out);
    if (hy_odd) return halfpel_bytes_bounded_avx2_t<false, true>(arranged, ref, pitch, weights, bound, out);
    return halfpel_bytes_bounded_avx2_t<false, false>(arranged, ref, pitch, weights, bound, out);
}

// For samples 0..255 the rounded means are too, every difference fits a
// 16-bit lane and the squares go through the narrow cost's paired madd;
// no sum can wrap (256 squares of at most 255^2 per channel).
__attribute__((target("avx2"))) void activity16x16_bytes_avx2(const int16_t* cur, uint32_t out[4]) {
    const __m256i ones = _mm256_set1_epi16(1);
    __m256i sums = _mm256_setzero_si256();
    for (int i = 0; i < 1024; i += 16) {
        // Both samples of a pair are one pixel's channels k and k + 1;
        // shuffled first, each pair holds one channel of two pixels.
        const __m256i v = _mm256_shuffle_epi8(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cur + i)), ChannelPairOrder());
        sums = _mm256_add_epi32(sums, _mm256_madd_epi16(v, ones));
    }
    alignas(16) int32_t total[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(total), ChannelSums(sums));
    const __m256i means = _mm256_setr_epi16(
        int16_t((total[0] + 128) >> 8), int16_t((total[1] + 128) >> 8), int16_t((total[2] + 128) >> 8),
        int16_t((total[3] + 128) >> 8), int16_t((total[0] + 128) >> 8), int16_t((total[1] + 128) >> 8),
        int16_t((total[2] + 128) >> 8), int16_t((total[3] + 128) >> 8), int16_t((total[0] + 128) >> 8),
        int16_t((total[1] + 128) >> 8), int16_t((total[2] + 128) >> 8), int16_t((total[3] + 128) >> 8),
        int16_t((total[0] + 128) >> 8), int16_t((total[1] + 128) >> 8), int16_t((total[2] + 128) >> 8),
        int16_t((total[3] + 128) >> 8));
    const __m256i order = ChannelPairOrder();
    __m256i acc = _mm256_setzero_si256();
    for (int i = 0; i < 1024; i += 16) {
        const __m256i d = _mm256_shuffle_epi8(
            _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(cur + i)), means), order);
        acc = _mm256_add_epi32(acc, _mm256_madd_epi16(d, d));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), ChannelSums(acc));
}

// A prediction row is 64 bytes: two registers. Byte averages round up as
// the portable mean does.
__attribute__((target("avx2"))) void halfpel_avx2(uint8_t* dst, ptrdiff_t dst_pitch,
                                                  const uint8_t* ref, ptrdiff_t pitch, int hx_odd,
                                                  int hy_odd) {
    const int rows = hy_odd ? 17 : 16;
    for (int r = 0; r < rows; ++r) {
        const uint8_t* s = ref + pitch * r;
        uint8_t* d = dst + dst_pitch * r;
        for (int i = 0; i < 64; i += 32) {
            __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
            if (hx_odd)
                v = _mm256_avg_epu8(v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + 4)));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), v);
        }
    }
    if (hy_odd) {
        for (int r = 0; r < 16; ++r) {
            uint8_t* d = dst + dst_pitch * r;
            for (int i = 0; i < 64; i += 32) {
                const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
                const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + dst_pitch + i));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), _mm256_avg_epu8(a, b));
            }
        }
    }
}

}  // namespace

bool motion_kernels_avx2(MotionKernels& kernels) {
    kernels.ssd16x16 = ssd16x16_avx2;
    kernels.ssd16xn_narrow = ssd16xn_narrow_avx2;
    kernels.ssd16x16_narrow_bounded = ssd16x16_narrow_bounded_avx2;
    kernels.arrange_bytes = arrange_bytes_avx2;
    kernels.ssd16x16_bytes_bounded = ssd16x16_bytes_bounded_avx2;
    kernels.halfpel_bytes_bounded = halfpel_bytes_bounded_avx2;
    kernels.activity16x16 = activity16x16_avx2;
    kernels.activity16x16_bytes = activity16x16_bytes_avx2;
    kernels.halfpel = halfpel_avx2;
    return true;
}

}  // namespace _rvxlib_

#else

namespace _rvxlib_ {
bool motion_kernels_avx2(MotionKernels&) { return false; }
}  // namespace _rvxlib_

#endif
